#include "platform/files/vfilename.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/text/text_codec.h"

TEST(VFileNameParts, CombineKeepsOneSeparator) {
  EXPECT_EQ(VFileName::combine(L"/var/www", L"a.log"), L"/var/www/a.log");
  EXPECT_EQ(VFileName::combine(L"/var/www/", L"a.log"), L"/var/www/a.log");
  EXPECT_EQ(VFileName::combine(L"/var/www//", L"/sub/a.log"), L"/var/www/sub/a.log");
  EXPECT_EQ(VFileName::combine(L"/", L"etc"), L"/etc");
  EXPECT_EQ(VFileName::combine(L"", L"a.log"), L"a.log");
  EXPECT_EQ(VFileName::combine(L"dir", L""), L"dir");
}

TEST(VFileNameParts, NameExtensionStemAndDirectory) {
  EXPECT_EQ(VFileName::fileName(L"/var/log/ex070406.log"), L"ex070406.log");
  EXPECT_EQ(VFileName::fileName(L"plain"), L"plain");
  EXPECT_EQ(VFileName::fileName(L"/var/log/"), L"");
  EXPECT_EQ(VFileName::extension(L"/a/access.log.ZIP"), L".ZIP");
  EXPECT_EQ(VFileName::extension(L"/a.d/README"), L"");
  EXPECT_EQ(VFileName::stem(L"/a/b.tar.gz"), L"b.tar");
  EXPECT_EQ(VFileName::stem(L"/a.d/README"), L"README");
  EXPECT_EQ(VFileName::directory(L"/vhosts/example.com/subdomains"), L"/vhosts/example.com");
  EXPECT_EQ(VFileName::directory(VFileName::directory(L"/vhosts/example.com/subdomains/")), L"/vhosts");
  EXPECT_EQ(VFileName::directory(L"/etc"), L"/");
  EXPECT_EQ(VFileName::directory(L"relative"), L"");
  EXPECT_EQ(VFileName::withoutTrailingSeparators(L"/vhosts/\\/"), L"/vhosts");
  EXPECT_EQ(VFileName::withoutTrailingSeparators(L"///"), L"/");
}

TEST(VFileNameMask, WildcardsIgnoreCaseAndDotStarMatchesBareNames) {
  EXPECT_TRUE(VFileName::matchesMask(L"README", L"*.*"));
  EXPECT_TRUE(VFileName::matchesMask(L"a.log", L"*.*"));
  EXPECT_TRUE(VFileName::matchesMask(L"README", L"README.*"));
  EXPECT_TRUE(VFileName::matchesMask(L"Ex070406.LOG", L"*.log"));
  EXPECT_FALSE(VFileName::matchesMask(L"ex070406.log.1", L"*.log"));
  EXPECT_FALSE(VFileName::matchesMask(L"README", L"*.log"));
  EXPECT_TRUE(VFileName::matchesMask(L"cadrolog_avstat20080101.log", L"cadrolog_avstat*.log"));
  EXPECT_FALSE(VFileName::matchesMask(L"cadrolog_spamstat1.log", L"cadrolog_avstat*.log"));
  EXPECT_TRUE(VFileName::matchesMask(L"awstats.example.com.conf", L"*.conf"));
  EXPECT_TRUE(VFileName::matchesMask(L"a1c", L"a?c"));
  EXPECT_FALSE(VFileName::matchesMask(L"ac", L"a?c"));
  EXPECT_TRUE(VFileName::matchesMask(L"abXbYc", L"a*b*c"));
  EXPECT_FALSE(VFileName::matchesMask(L"abXbYd", L"a*b*c"));
  EXPECT_TRUE(VFileName::matchesMask(L"", L"*"));
  EXPECT_FALSE(VFileName::matchesMask(L"x", L""));
}

TEST(VFileNameMask, ManyStarsOnALongNameStayFast) {
  std::wstring name(20000, L'a');
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(VFileName::matchesMask(name, L"*a*a*a*a*a*a*a*a*b"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(VFileNameNative, EveryByteSequenceComesBackUnchanged) {
  // The test main runs in a UTF-8 locale.
  EXPECT_EQ(VFileName::fromNative("gr\xc3\xbc\xc3\x9f"), L"gr\u00fc\u00df");
  EXPECT_EQ(VFileName::toNative(L"gr\u00fc\u00df"), "gr\xc3\xbc\xc3\x9f");
  const std::string hostile[] = {"latin1-\xe9t\xe9.log", "\xff\xfe", "overlong-\xc0\xaf",
                                 "surrogate-\xed\xa0\x80", "cut-\xe2\x82", "big-\xf4\x90\x80\x80",
                                 std::string("\xf0\x9f\x98\x80 emoji")};
  for (const std::string& bytes : hostile) {
    std::wstring wide = VFileName::fromNative(bytes);
    EXPECT_EQ(VFileName::toNative(wide), bytes);
    // Shown to people, the undecodable bytes read as replacement characters.
    EXPECT_EQ(text::toUtf8(wide).find('\xff'), std::string::npos);
  }
  EXPECT_EQ(VFileName::fromNative("\xe9"), std::wstring(1, wchar_t(0xDCE9)));
  EXPECT_EQ(text::toUtf8(VFileName::fromNative("a\xe9")), "a\xef\xbf\xbd");
}
