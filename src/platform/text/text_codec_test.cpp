#include "platform/text/text_codec.h"

#include <gtest/gtest.h>

using namespace text;

TEST(Utf8, RoundTripsEveryPlane) {
  std::wstring s = L"a\u00e9\u4e2d\U0001F600z";
  EXPECT_EQ(toUtf8(s), "a\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80z");
  EXPECT_EQ(fromUtf8(toUtf8(s)), s);
}

TEST(Utf8, InvalidInputDecodesToReplacementPerMaximalSubpart) {
  // Lone continuation, overlong encoding, truncated sequence, surrogate, byte above F4.
  EXPECT_EQ(fromUtf8("\x80"), L"\uFFFD");
  EXPECT_EQ(fromUtf8("\xc0\xaf"), L"\uFFFD\uFFFD");
  EXPECT_EQ(fromUtf8("a\xe4\xb8"), L"a\uFFFD");
  EXPECT_EQ(fromUtf8("\xed\xa0\x80"), L"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(fromUtf8("\xf5z"), L"\uFFFDz");
  EXPECT_EQ(fromUtf8(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
}

TEST(Utf8, UnencodableWideValuesBecomeReplacement) {
  std::wstring s;
  s.push_back(static_cast<wchar_t>(0xD800));
  s.push_back(static_cast<wchar_t>(0x110000));
  EXPECT_EQ(toUtf8(s), "\xef\xbf\xbd\xef\xbf\xbd");
}

TEST(NarrowCodec, Latin1BothWaysAndQuestionMarkForMissingCharacters) {
  NarrowCodec latin1("ISO-8859-1");
  EXPECT_EQ(latin1.decode("caf\xe9"), L"caf\u00e9");
  EXPECT_EQ(latin1.encode(L"caf\u00e9 \u4e2d"), "caf\xe9 ?");
}

TEST(NarrowCodec, IconvSetsNeverFail) {
  NarrowCodec cp1251("CP1251");
  EXPECT_EQ(cp1251.decode("\xcf\xf0\xe8"), L"\u041f\u0440\u0438");
  EXPECT_EQ(cp1251.encode(L"\u041f\u4e2d"), "\xcf?");
  NarrowCodec sjis("SHIFT_JIS");
  // A truncated double-byte character decodes to a replacement, not a failure.
  EXPECT_EQ(sjis.decode("a\x82"), L"a\uFFFD");
}

TEST(NarrowCodec, PosixLocaleCountsAsUtf8) {
  EXPECT_TRUE(NarrowCodec::system().isUtf8());
  EXPECT_EQ(fromAnsi("\xc3\xa9"), L"\u00e9");
  EXPECT_EQ(toAnsi(L"\u00e9"), "\xc3\xa9");
}

TEST(Utf16le, BomSurrogatesAndDamage) {
  std::string bytes("\xff\xfe" "A\0" "\x3d\xd8\x00\xde" "\x00\xd8" "B\0" "C", 13);
  EXPECT_EQ(fromUtf16le(bytes), L"A\U0001F600\uFFFDB\uFFFD");
  EXPECT_EQ(fromUtf16le(toUtf16le(L"x\U0001F600y")), L"x\U0001F600y");
  EXPECT_EQ(toUtf16le(L"A"), std::string("A\0", 2));
}

TEST(Case, FoldsAsciiAndLatinLetters) {
  EXPECT_EQ(toLower(L"SOFTWARE\\Cadro"), L"software\\cadro");
  EXPECT_EQ(toUpper(L"php3"), L"PHP3");
  EXPECT_TRUE(equalsNoCase(L"SOFTWARE\\CADRO", L"software\\Cadro"));
  EXPECT_FALSE(equalsNoCase(L"abc", L"abd"));
  EXPECT_FALSE(equalsNoCase(L"abc", L"ab"));
}
