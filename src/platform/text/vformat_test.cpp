#include "platform/text/vformat.h"

#include <gtest/gtest.h>

TEST(VFormat, WindowsConversions) {
  EXPECT_EQ(vformat(L"%s=%d", std::wstring(L"a"), -5), L"a=-5");
  EXPECT_EQ(vformat(L"%I64d", int64_t{-9000000000}), L"-9000000000");
  EXPECT_EQ(vformat(L"%u %ld", uint32_t{4000000000u}, 7L), L"4000000000 7");
  EXPECT_EQ(vformat(L"%02d:%04d", 5, 12), L"05:0012");
  EXPECT_EQ(vformat(L"%X %08X %x", 255u, 0xC0000005u, 255u), L"FF C0000005 ff");
  EXPECT_EQ(vformat(L"100%% %c", L'x'), L"100% x");
  EXPECT_EQ(vformat(L"[%-4s|%4s]", L"ab", L"cd"), L"[ab  |  cd]");
  EXPECT_EQ(vformat(L"%.2f", 1.005), L"1.00");
}

TEST(VFormat, IntegerSizesFollowWindows) {
  // "%d" and "%ld" take 32 bits, "%I64d" and "%lld" 64.
  EXPECT_EQ(vformat(L"%d", int64_t{0x100000001}), L"1");
  EXPECT_EQ(vformat(L"%ld", int64_t{0x100000002}), L"2");
  EXPECT_EQ(vformat(L"%lld", int64_t{0x100000002}), L"4294967298");
  EXPECT_EQ(vformat(L"%u", -1), L"4294967295");
}

TEST(VFormat, MissingArgumentsAndBadFormatsDoNotThrow) {
  EXPECT_EQ(vformat(L"%s|%d"), L"|0");
  EXPECT_EQ(vformat(L"tail %"), L"tail %");
  EXPECT_EQ(vformat(L"%q", 1), L"%q");
  EXPECT_EQ(vformat(L"%s", static_cast<const wchar_t*>(nullptr)), L"(null)");
}

TEST(VFormat, GrowsPastTheFirstBuffer) {
  for (size_t n : {99u, 100u, 101u, 250u}) {
    std::wstring s(n, L'x');
    EXPECT_EQ(vformat(L"%s", s), s) << n;
  }
}

TEST(VFormat, ResultThatDoesNotFitTheLastBufferIsReplaced) {
  std::wstring fits(vfmt::kLastBuffer - 1, L'y');
  EXPECT_EQ(vformat(L"%s", fits).size(), vfmt::kLastBuffer - 1);
  std::wstring tooLong(vfmt::kLastBuffer - 1, L'y');
  EXPECT_EQ(vformat(L"%s!", tooLong), L"Error on try call vaformat");
  EXPECT_EQ(vformat(L"%*d", static_cast<int>(vfmt::kLastBuffer), 1), L"Error on try call vaformat");
}
