// Dotted IPv4 text to numbers and back, with the short and damaged texts that log lines
// and stored values hold.
#include "db/ip_address.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/text/text_codec.h"

namespace {

struct Parsed {
  uint32_t address;
  int bits;
};

Parsed parse(const std::wstring& text) {
  Parsed p{0, -1};
  p.address = parseIPAddress(text, &p.bits);
  return p;
}

}  // namespace

TEST(IPAddress, CompleteAddressesPutTheFirstOctetHighest) {
  EXPECT_EQ(parse(L"10.0.0.1").address, 0x0A000001u);
  EXPECT_EQ(parse(L"10.0.0.1").bits, 32);
  EXPECT_EQ(parse(L"255.255.255.255").address, 0xFFFFFFFFu);
  EXPECT_EQ(parse(L"192.168.001.010").address, 0xC0A8010Au);
  EXPECT_EQ(parseIPAddress(L"0.0.0.0"), 0u);
  // What follows the fourth octet is not read.
  EXPECT_EQ(parse(L"1.2.3.4.5").address, 0x01020304u);
  EXPECT_EQ(parse(L"1.2.3.4:21").bits, 32);
}

TEST(IPAddress, ShortTextsFillTheMissingOctetsWithZeros) {
  EXPECT_EQ(parse(L"10").address, 0x0A000000u);
  EXPECT_EQ(parse(L"10").bits, 8);
  EXPECT_EQ(parse(L"10.1").address, 0x0A010000u);
  EXPECT_EQ(parse(L"10.1.2").address, 0x0A010200u);
  EXPECT_EQ(parse(L"10.1.2").bits, 24);
  EXPECT_EQ(parse(L"10.1.2.").bits, 24);
  EXPECT_EQ(parse(L"").bits, 0);
  EXPECT_EQ(parse(L"").address, 0u);
}

TEST(IPAddress, ReadingStopsAtTheFirstPartThatIsNoOctet) {
  const struct {
    const wchar_t* text;
    uint32_t address;
    int bits;
  } cases[] = {
      {L"-", 0, 0},
      {L"abc", 0, 0},
      {L"10..1.2", 0x0A000000u, 8},
      {L"10.x.1.2", 0x0A000000u, 8},
      {L"10.1.256.4", 0x0A010000u, 16},          // an octet above 255
      {L"1.99999999999999999999.3.4", 0x01000000u, 8},  // digits that would wrap
      {L" 10.1.2.3", 0, 0},                       // white space is no octet
      {L"+10.1.2.3", 0, 0},
      {L"10.-1.2.3", 0x0A000000u, 8},
      {L"4294967295", 0, 0},
      {L"10.1.2.3' OR '1'='1", 0x0A010203u, 32},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(text::toUtf8(c.text));
    Parsed p = parse(c.text);
    EXPECT_EQ(p.address, c.address);
    EXPECT_EQ(p.bits, c.bits);
  }
  const std::wstring withNul(L"10.1\0.2.3", 9);
  EXPECT_EQ(parse(withNul).bits, 16);
  EXPECT_EQ(parseIPAddress(std::wstring(100000, L'1')), 0u);
}

TEST(IPAddress, FormattingWritesFourOctetsThatParseBack) {
  EXPECT_EQ(formatIPAddress(0), L"0.0.0.0");
  EXPECT_EQ(formatIPAddress(0x0A000001u), L"10.0.0.1");
  EXPECT_EQ(formatIPAddress(0xFFFFFFFFu), L"255.255.255.255");
  for (uint32_t address : {0x01020304u, 0x80000000u, 0x000000FFu, 0xC0A80164u})
    EXPECT_EQ(parseIPAddress(formatIPAddress(address)), address);
}
