// The runs over the real generators (Debian's AWStats under Perl, and Webalizer, laid out
// by scripts/analyser-layout): pages where the control panel shows them, with the hits of
// the lines that were fed.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include "platform/report/log_manager.h"
#include "platform/text/text_codec.h"
#include "testing/analyser_layout.h"
#include "testing/scoped_environment.h"
#include "testing/temp_dir.h"
#include "webstat/log_for_awstats.h"
#include "webstat/log_for_webalizer.h"
#include "webstat/webstat_test_util.h"

using namespace testing_support;
using webstat_test::historyHits;
using webstat_test::webalizerMonthHits;
namespace fs = std::filesystem;

namespace {

const VDateTime kJan5(2024, 1, 5, 10, 0, 0);
const VDateTime kJan6(2024, 1, 6, 9, 0, 0);

const char* const kReportPages[] = {"alldomains", "allhosts",     "lasthosts",       "unknownip", "alllogins",
                                    "lastlogins", "allrobots",    "lastrobots",      "urldetail", "urlentry",
                                    "urlexit",    "browserdetail", "osdetail",       "unknownbrowsers",
                                    "unknownos",  "refererse",    "refererpages",    "keyphrases", "keywords",
                                    "errors404"};

class Generators : public ::testing::Test {
 protected:
  void SetUp() override {
    previousDirectory = fs::current_path();
    const AnalyserLayout& layout = analyserLayout();  // made outside the test's temporary directory
    env.set("TMPDIR", dir.file("tmp"));
    env.set("TZ", "UTC");
    fs::create_directories(dir.file("tmp"));
    // The host configurations go into the installation: each test takes a copy of its own.
    fs::copy(layout.awstatsRoot, dir.file("aw"), fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    settings.awstats = text::fromUtf8(dir.file("aw"));
    settings.perl = text::fromUtf8(layout.perlComponent);
    settings.webalizer = text::fromUtf8(layout.webalizerProgram);
    settings.vhosts = text::fromUtf8(dir.file("vhosts"));
    settings.product = text::fromUtf8(dir.file("product"));
    fs::create_directories(dir.file("vhosts/ex.test"));
    fs::current_path(dir.path());
  }
  void TearDown() override { fs::current_path(previousDirectory); }

  template <class Writer>
  void run(const std::wstring& domain, const std::wstring& host, int logType, const VDateTime& from, int lines) {
    Writer w(domain, host, L"");
    w.setRunSettings(&settings);
    webstat_test::feed(w, logType, from, lines);
    w.run(logType);
  }
  std::string stats(const std::string& type = "webstat") const { return dir.file("vhosts/ex.test/statistics/" + type); }

  TempDir dir;
  ScopedEnvironment env;
  webstat_test::FakeRunSettings settings;
  fs::path previousDirectory;
};

TEST_F(Generators, AWStatsDomainAndSubdomainPagesCountTheirLinesAndHistoryGrows) {
  settings.subdomains[L"ex.test"] = {L"blog"};
  settings.aliases[L"ex.test"] = {L"alias.test"};
  run<statistics::LogForAWStats>(L"ex.test", L"ex.test", 0, kJan5, 4);
  run<statistics::LogForAWStats>(L"ex.test", L"blog.ex.test", 0, kJan5, 2);

  const std::string index = readFile(stats() + "/index.html");
  EXPECT_NE(index.find("<a href=\"blog.ex.test.html\">blog.ex.test</a>"), std::string::npos);
  EXPECT_NE(index.find("Statistics for"), std::string::npos);
  EXPECT_NE(readFile(stats() + "/blog.ex.test.html").find("blog.ex.test"), std::string::npos);
  for (const std::string host : {"ex.test", "blog.ex.test"})
    for (const char* page : kReportPages)
      EXPECT_GT(fs::file_size(stats() + "/awstats." + host + "." + page + ".html"), 0u) << host << " " << page;
  EXPECT_EQ(historyHits(stats() + "/awstats012024.ex.test.txt"), 4);
  EXPECT_EQ(historyHits(stats() + "/awstats012024.blog.ex.test.txt"), 2);
  const std::string config = readFile(dir.file("aw/wwwroot/cgi-bin/awstats.ex.test.conf"));
  // The model's own line, replaced where it stood.
  EXPECT_NE(config.find("\nHostAliases=\"www.ex.test ex.test www.alias.test alias.test\"\r\n"), std::string::npos);

  run<statistics::LogForAWStats>(L"ex.test", L"ex.test", 0, kJan6, 3);
  EXPECT_EQ(historyHits(stats() + "/awstats012024.ex.test.txt"), 7);
}

TEST_F(Generators, AWStatsFtpLogWritesIntoFtpstat) {
  run<statistics::LogForAWStats>(L"ex.test", L"ex.test", 2, kJan5, 3);
  EXPECT_TRUE(fileExists(stats("ftpstat") + "/index.html"));
  EXPECT_TRUE(fileExists(stats("ftpstat") + "/awstats012024.ex.test.txt"));
  EXPECT_FALSE(fileExists(stats("webstat")));
}

TEST_F(Generators, AWStatsTakesAHostileSubdomainNameWholeAndRunsNothing) {
  const std::wstring host = L"a&b|c;d$(touch pwned)e`touch pwned`f g\"h'i.ex.test";
  run<statistics::LogForAWStats>(L"ex.test", host, 0, kJan5, 2);
  EXPECT_FALSE(fileExists(dir.file("pwned")));
  EXPECT_TRUE(fileExists(stats() + "/" + text::toUtf8(host) + ".html"));
}

TEST_F(Generators, WebalizerPagesCountTheMonthsHits) {
  fs::create_directories(dir.file("vhosts/wz.test"));
  run<statistics::LogForWebalizer>(L"wz.test", L"wz.test", 0, kJan5, 5);
  const std::string t = dir.file("vhosts/wz.test/statistics/webstat");
  EXPECT_EQ(webalizerMonthHits(readFile(t + "/index.html"), "Jan 2024"), 5);
  EXPECT_TRUE(fileExists(t + "/usage_202401.html"));
  // Incremental: a later run adds its lines to the month.
  run<statistics::LogForWebalizer>(L"wz.test", L"wz.test", 0, kJan6, 2);
  EXPECT_EQ(webalizerMonthHits(readFile(t + "/index.html"), "Jan 2024"), 7);
}

TEST_F(Generators, WebalizerFtpLogWritesIntoFtpstat) {
  fs::create_directories(dir.file("vhosts/wz.test"));
  run<statistics::LogForWebalizer>(L"wz.test", L"wz.test", 2, kJan5, 3);
  const std::string t = dir.file("vhosts/wz.test/statistics/ftpstat");
  EXPECT_EQ(webalizerMonthHits(readFile(t + "/index.html"), "Jan 2024"), 3);
}

}  // namespace
