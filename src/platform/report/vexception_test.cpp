#include "platform/report/vexception.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>

#include "platform/report/com_error.h"
#include "platform/report/guard.h"

TEST(OsError, CodeWithoutTypeCarriesUnknownErrorTextAndOperation) {
  try {
    raiseOsError(L"DoSomething", 12345, VCTX(L"", "test::op"));
    FAIL();
  } catch (const VFileNotFoundException&) {
    FAIL() << "wrong type";
  } catch (const vosexception& e) {
    EXPECT_EQ(e.code(), 12345u);
    EXPECT_EQ(e.message(), L"Unknown error (Error code 12345) at DoSomething");
  }
}

TEST(OsError, TypedCodesAreCaughtByTheirBases) {
  EXPECT_THROW(raiseOsError(L"x", 2, VCTX(L"", "t")), VFileNotFoundException);
  try {
    raiseErrno(L"open", ENOENT, VCTX(L"", "t"));
  } catch (const vexception& e) {
    EXPECT_NE(dynamic_cast<const VFileNotFoundException*>(&e), nullptr);
    EXPECT_EQ(e.message(), L"No such file or directory (Error code 2) at open");
  }
  EXPECT_THROW(raiseErrno(L"mkdir", EEXIST, VCTX(L"", "t")), VAlreadyExistsException);
  EXPECT_THROW(raiseErrno(L"create", EEXIST, VCTX(L"", "t"), ExistsMeaning::FileExists), VFileExistsException);
  EXPECT_THROW(raiseErrno(L"x", EACCES, VCTX(L"", "t")), VAccessDeniedException);
  EXPECT_THROW(raiseErrno(L"x", EBUSY, VCTX(L"", "t")), VSharingViolationException);
  EXPECT_THROW(raiseOsError(L"x", 2245, VCTX(L"", "t")), VPasswordTooShortException);
}

TEST(OsError, ErrnoMapping) {
  EXPECT_EQ(winErrorFromErrno(ENOENT), 2u);
  EXPECT_EQ(winErrorFromErrno(ENOTDIR), 3u);
  EXPECT_EQ(winErrorFromErrno(EPERM), 5u);
  EXPECT_EQ(winErrorFromErrno(ENOMEM), 14u);
  EXPECT_EQ(winErrorFromErrno(EBUSY), 32u);
  // An errno without a Windows counterpart keeps its own system text.
  uint32_t code = winErrorFromErrno(EHOSTUNREACH);
  EXPECT_EQ(systemMessage(code), L"No route to host");
}

TEST(OsError, OutOfMemoryHasNoOperationText) {
  try {
    raiseOutOfMemory();
  } catch (const vexception& e) {
    EXPECT_EQ(e.message(), L"Cannot allocate memory (Error code 14)");
    EXPECT_TRUE(e.contexts().empty());
  }
}

namespace {

[[noreturn]] void innerFailure() { throw vexception(L"disk full", VCTX(L"write block", "VFile::write")); }

}  // namespace

TEST(CatchConvention, TwoWrappersShowBothRecordsInnerFirst) {
  try {
    guard::pass(VCTX(L"Calculate domain(s) traffic", "statistics::start"), [] {
      guard::pass(VCTX(L"Save domain a.com status", "statistics::saveStatus"), [] { innerFailure(); });
    });
    FAIL();
  } catch (const vexception& e) {
    ASSERT_EQ(e.contexts().size(), 3u);
    std::wstring d = e.detailedText();
    EXPECT_EQ(d.find(L"disk full\n   at write block(VFile::write line "), 0u) << d;
    size_t inner = d.find(L"Save domain a.com status(statistics::saveStatus line ");
    size_t outer = d.find(L"Calculate domain(s) traffic(statistics::start line ");
    EXPECT_NE(inner, std::wstring::npos);
    EXPECT_NE(outer, std::wstring::npos);
    EXPECT_LT(inner, outer);
  }
}

TEST(CatchConvention, PassingKeepsTheDynamicType) {
  EXPECT_THROW(guard::pass(VCTX(L"ctx", "t"), [] { raiseOsError(L"x", 2, VCTX(L"", "t")); }),
               VFileNotFoundException);
}

TEST(CatchConvention, ForeignExceptionsBecomeVexceptions) {
  auto messageOf = [](auto thrower) {
    try {
      guard::pass(VCTX(L"ctx", "op"), thrower);
    } catch (const vexception& e) {
      return e.detailedText();
    }
    return std::wstring(L"nothing thrown");
  };
  EXPECT_EQ(messageOf([] { throw std::runtime_error("boom"); }).substr(0, 18), L"boom\n   at ctx(op ");
  EXPECT_EQ(messageOf([] { throw cwrpexception(0xC0000005u); }).substr(0, 24), L"C Exception: 3221225477\n");
  EXPECT_EQ(messageOf([] { throw 42; }).substr(0, 16), L"Unexpected error");
  std::wstring com = messageOf([] { throw _com_error(static_cast<HRESULT>(0x80004005), L"Login failed", L"Unspecified error"); });
  EXPECT_EQ(com.substr(0, com.find(L'\n')),
            L"Unspecified error (COM Error 80004005, Description: Login failed) at ctx");
  EXPECT_NE(com.find(L"\n   at (op line "), std::wstring::npos);
}

TEST(ComError, FallbackMessages) {
  EXPECT_EQ(_com_error(static_cast<HRESULT>(0x80040205)).ErrorMessage(), L"IDispatch error #5");
  EXPECT_EQ(_com_error(static_cast<HRESULT>(0x80070005)).ErrorMessage(), L"Unknown error 0x80070005");
}
