#include "traffic/ip_address_text.h"

#include <gtest/gtest.h>

TEST(IpAddressText, ThreeNumbersEachFollowedByADot) {
  const std::pair<const wchar_t*, bool> cases[] = {
      {L"10.0.0.1", true}, {L"1.2.3.", true},       {L"1.2.3.x", true},      {L"255.255.255.255:21", true},
      {L"1.2.3", false},   {L"1..2.3.", false},     {L".1.2.3.", false},     {L"a.1.2.3.", false},
      {L"", false},        {L"example.com", false}, {L"1.2.3,4.", false},    {L"-", false},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(looksLikeIPAddress(text), expected) << text;
}
