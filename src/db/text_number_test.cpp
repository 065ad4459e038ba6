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

TEST(TextNumber, UnsignedReadingWrapsNegativesAndSaturatesAbove) {
  const uint64_t max = std::numeric_limits<uint64_t>::max();
  const struct {
    const wchar_t* text;
    uint64_t value;
  } cases[] = {{L" 10 records", 10},         {L"18446744073709551615", max}, {L"18446744073709551616", max},
               {L"99999999999999999999999", max}, {L"-1", max},                {L"-0", 0},
               {L"x", 0}};
  for (const auto& c : cases) EXPECT_EQ(wcrt::wcstoui64(c.text), c.value) << c.text;
}

}  // namespace
