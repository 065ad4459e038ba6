// The configuration texts: which lines set a key, the host aliases AWStats would misread,
// and names that would break the subdomain index.
#include <gtest/gtest.h>

#include "platform/text/text_codec.h"
#include "webstat/awstats_configuration.h"

namespace {

TEST(AWStatsConfiguration, KeysAreSetInPlaceOrAppended) {
  struct Case {
    const char* what;
    awstats::ConfigLines lines;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"lower case with blanks", {"  logtype =  F\n"}, "LogType=W\r\nDirData=\"/d\"\r\n"},
      {"tab after the key", {"DirData\t\"/old\"\n"}, "DirData=\"/d\"\r\nLogType=W\r\n"},
      {"comment kept", {"#LogType=W\n", " # DirData=x\n"}, "#LogType=W\n # DirData=x\nLogType=W\r\nDirData=\"/d\"\r\n"},
      {"longer key kept", {"LogTypeX=1\n", "LogType\n"}, "LogTypeX=1\nLogType\nLogType=W\r\nDirData=\"/d\"\r\n"},
      {"last line without line end", {"Lang=\"en\""}, "Lang=\"en\"\r\nLogType=W\r\nDirData=\"/d\"\r\n"},
      {"every line of the key", {"LogType=F\n", "x\n", "logtype=S\n"}, "LogType=W\r\nx\nLogType=W\r\nDirData=\"/d\"\r\n"},
  };
  for (Case c : cases) {
    awstats::setKeys(c.lines, {{"LogType", "W"}, {"DirData", awstats::quoted("/d")}});
    EXPECT_EQ(awstats::joinConfigLines(c.lines), c.expected) << c.what;
  }
}

TEST(AWStatsConfiguration, AliasesAWStatsWouldReadOtherwiseAreLeftOut) {
  std::vector<std::wstring> refused;
  EXPECT_EQ(awstats::hostAliasesText(L"Ex.Test", {L"a.test", L"@/etc/passwd", L"REGEX[.*]", L"b c", L"B.TEST"}, true,
                                     &refused),
            L"www.ex.test ex.test www.a.test a.test www.b.test b.test");
  EXPECT_EQ(refused, (std::vector<std::wstring>{L"@/etc/passwd", L"REGEX[.*]", L"b c"}));
  EXPECT_EQ(awstats::hostAliasesText(L"ex.test", {}, false), L"ex.test");
}

TEST(AWStatsConfiguration, SubdomainIndexLinksEachPageWithNamesEscaped) {
  EXPECT_EQ(awstats::subdomainFragment(L"ex.test", {}), L"");
  const std::wstring fragment = awstats::subdomainFragment(L"ex.test", {L"a\"><script>", L"blog"});
  EXPECT_NE(fragment.find(L"<a href=\"a&quot;&gt;&lt;script&gt;.ex.test.html\">"), std::wstring::npos);
  EXPECT_EQ(fragment.find(L"<script>"), std::wstring::npos);
  EXPECT_NE(fragment.find(L"<a href=\"blog.ex.test.html\">blog.ex.test</a>"), std::wstring::npos);
  EXPECT_NE(fragment.find(L"cellspacing=\"0\"width=\"100%\""), std::wstring::npos);
}

}  // namespace
