#include "db/text_number.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

TEST(TextNumber, ReadsTheLeadingDecimalNumber) {
  EXPECT_EQ(wcrt::wtol(L"8306"), 8306);
  EXPECT_EQ(wcrt::wtol(L"  -42xyz"), -42);
  EXPECT_EQ(wcrt::wtol(L"+7"), 7);
  EXPECT_EQ(wcrt::wtol(L""), 0);
  EXPECT_EQ(wcrt::wtol(L"abc"), 0);
  EXPECT_EQ(wcrt::wtol(L"- 5"), 0);
  EXPECT_EQ(wcrt::wtoi(L"12.9"), 12);
  EXPECT_EQ(wcrt::wtoi64(L"1099511627776"), int64_t{1} << 40);
}

TEST(TextNumber, OutOfRangeValuesStopAtTheLimits) {
  EXPECT_EQ(wcrt::wtol(L"2147483647"), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(wcrt::wtol(L"2147483648"), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(wcrt::wtol(L"-2147483648"), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(wcrt::wtol(L"-99999999999999"), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(wcrt::wtoi64(L"9223372036854775807"), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(wcrt::wtoi64(L"9223372036854775808"), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(wcrt::wtoi64(L"-9223372036854775808"), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(wcrt::wtoi64(L"-99999999999999999999"), std::numeric_limits<int64_t>::min());
}

}  // namespace
