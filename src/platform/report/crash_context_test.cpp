#include "platform/report/crash_context.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "testing/allocation_counter.h"

namespace {

std::string written(size_t capacity = 1 << 16) {
  std::string out(capacity, '\0');
  out.resize(CrashContextScope::write(out.data(), out.size()));
  return out;
}

}  // namespace

TEST(CrashContext, OpenScopesInnermostFirstAsTheEventLogWritesADetailedText) {
  const ContextRecord outer{L"execute statistics \"--password=*\" ", "vconsoleapp::run", 61};
  const ContextRecord inner{L"Calculate\tdomain\\traffic\n\u044f\U0001F600", "statistics::start", 7};
  EXPECT_EQ(written(), "");
  {
    const unsigned long before = testing_support::allocationsOnThisThread();
    CrashContextScope a(outer);
    CrashContextScope b(inner);
    EXPECT_EQ(testing_support::allocationsOnThisThread(), before);
    EXPECT_EQ(written(),
              "\\n   at Calculate\\tdomain\\\\traffic\\n\xd1\x8f\xf0\x9f\x98\x80(statistics::start line 7)"
              "\\n   at execute statistics \"--password=*\" (vconsoleapp::run line 61)");
    // A short buffer takes the innermost records that fit whole: never half an escape.
    const std::string all = written();
    const size_t innerEnd = all.find("\\n   at execute");
    EXPECT_EQ(written(innerEnd + 5), all.substr(0, innerEnd));
    EXPECT_EQ(written(5), "");
  }
  EXPECT_EQ(written(), "");
}

TEST(CrashContext, RecordsBeyondTheRoomAreCutOrLeftOutAndTheRestStays) {
  const ContextRecord first{L"first", "op", 1};
  const ContextRecord huge{std::wstring(20000, L'\u044f'), "op", 2};
  CrashContextScope a(first);
  {
    CrashContextScope b(huge);
    const std::string text = written();
    EXPECT_LE(text.size(), 16384u);
    const std::string last = "\\n   at first(op line 1)";
    ASSERT_GT(text.size(), last.size());
    EXPECT_EQ(text.substr(text.size() - last.size()), last);
    EXPECT_EQ(text.compare(0, 8, "\\n   at "), 0);
    EXPECT_EQ((text.size() - 8 - last.size()) % 2, 0u);  // whole two-byte characters only
  }
  {
    std::vector<std::unique_ptr<CrashContextScope>> deep;
    for (int i = 0; i < 40; ++i)
      deep.push_back(std::make_unique<CrashContextScope>(ContextRecord{L"level", "op", i}));
    EXPECT_EQ(written().substr(0, 25), "\\n   at level(op line 30)");
    while (!deep.empty()) deep.pop_back();
  }
  EXPECT_EQ(written(), "\\n   at first(op line 1)");
}
