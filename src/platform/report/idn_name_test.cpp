// Domain names in their Unicode form for messages.
#include "platform/report/idn_name.h"

#include <gtest/gtest.h>

#include <string>

TEST(IdnName, DecodesEncodedLabelsAndKeepsTheOthers) {
  EXPECT_EQ(idn::toUnicode(L"xn--mnchen-3ya.de"), L"münchen.de");
  EXPECT_EQ(idn::toUnicode(L"shop.xn--mnchen-3ya.xn--p1ai"), L"shop.münchen.рф");
  EXPECT_EQ(idn::toUnicode(L"example.com"), L"example.com");
  EXPECT_EQ(idn::toUnicode(L"münchen.de"), L"münchen.de");
  EXPECT_EQ(idn::toUnicode(L""), L"");
}

TEST(IdnName, NamesThatDoNotDecodeStayAsStored) {
  // Broken punycode, a bare prefix, empty labels, SQL and shell characters: a message about
  // such a name must still name it.
  for (const std::wstring name : {L"xn--zz.com", L"xn--", L"a..b", L".com", L"o'brien\\x.com", L"a b\tc"})
    EXPECT_EQ(idn::toUnicode(name), name);
  const std::wstring withNul(L"xn--mnchen-3ya\0.de", 18);
  EXPECT_EQ(idn::toUnicode(withNul), withNul);
}
