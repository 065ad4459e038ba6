// The web statistics of a whole run: build/bin/statistics over IIS logs, with AWStats for
// a domain and its subdomain and Webalizer for another domain, on the Jet file and on
// MariaDB.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>

#include "platform/dates/vdatetime.h"
#include "platform/text/text_codec.h"
#include "testing/end_to_end.h"
#include "webstat/webstat_test_util.h"

using namespace testing_support;
using webstat_test::historyHits;
using webstat_test::webalizerMonthHits;

namespace {

const char kFields[] = "#Fields: date time s-ip c-ip cs-method cs-uri-stem cs-host sc-status sc-bytes cs-bytes\n";

// ex.test (1, AWStats) with the subdomain blog and the alias ex.example; wz.test (2,
// Webalizer). Sites: the default one (1), ex.test (2), blog.ex.test (3), wz.test (4). The
// lines are of yesterday (UTC).
class WebStatisticsRun : public EndToEndTest {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    if (IsSkipped()) return;
    e2e_->useAnalysers();
    e2e_->addClient(1);
    e2e_->addHostedDomain(1, L"ex.test", 1, L"10.0.0.1");
    e2e_->addHostedDomain(2, L"wz.test", 1, L"10.0.0.2");
    e2e_->db().execute(L"UPDATE hosting SET webstat = 'awstats' WHERE dom_id = 1");
    e2e_->db().execute(L"UPDATE hosting SET webstat = 'webalizer' WHERE dom_id = 2");
    e2e_->db().execute(L"INSERT INTO sys_users (id, login) VALUES (5, 'blog_user')");
    e2e_->db().execute(L"INSERT INTO subdomains (id, dom_id, name, sys_user_id) VALUES (1, 1, 'blog', 5)");
    e2e_->db().execute(L"INSERT INTO domain_aliases (id, dom_id, name) VALUES (1, 1, 'ex.example')");
    std::string metabase = "<W3SVC>\n";
    const char* comments[] = {"Default Web Site", "ex.test", "blog.ex.test", "wz.test"};
    for (int site = 1; site <= 4; ++site)
      metabase += "<Site Id=\"" + std::to_string(site) + "\" ServerComment=\"" + comments[site - 1] +
                  "\" LogFileDirectory=\"" + e2e_->file("logs") +
                  "\"><Root Class=\"IIsWebVirtualDir\" DefaultDoc=\"index.html\"/></Site>\n";
    e2e_->writeMetabase(metabase + "</W3SVC>\n");
    for (const char* d : {"ex.test", "wz.test"}) std::filesystem::create_directories(e2e_->file("vhosts/") + d);
    const VDateTime yesterday = VDateTime::nowUtc() - 86400;
    day_ = text::toUtf8(yesterday.date().toSqlDateText());
    char month[16];
    std::tm tm{};
    tm.tm_year = yesterday.year - 1900;
    tm.tm_mon = yesterday.month - 1;
    tm.tm_mday = 1;
    std::strftime(month, sizeof(month), "%b %Y", &tm);
    webalizerMonth_ = month;
    std::strftime(month, sizeof(month), "%m%Y", &tm);
    history_ = month;
  }
  // `count` lines of `host` yesterday, one minute apart.
  std::string lines(const std::string& host, int count) const {
    std::string out;
    for (int i = 0; i < count; ++i)
      out += day_ + " 10:0" + std::to_string(i) + ":00 10.0.0.1 192.0.2." + std::to_string(i + 1) +
             " GET /index.html " + host + " 200 5120 310\n";
    return out;
  }
  std::string stats(const std::string& domain) const { return e2e_->file("vhosts/" + domain + "/statistics/webstat"); }

  std::string day_, webalizerMonth_, history_;
};

TEST_P(WebStatisticsRun, AWStatsAndWebalizerPagesOfTheDomainsCountTheirLines) {
  writeFile(e2e_->file("logs/W3SVC2/ex.log"), kFields + lines("ex.test", 3) + lines("ex.example", 1));
  writeFile(e2e_->file("logs/W3SVC3/ex.log"), kFields + lines("blog.ex.test", 2));
  writeFile(e2e_->file("logs/W3SVC4/ex.log"), kFields + lines("wz.test", 4));
  ProcessResult r = e2e_->run({"--http-traffic"}, {{"TZ", "UTC"}});
  ASSERT_EQ(r.exitCode, 0) << r.out;

  const std::string aw = stats("ex.test");
  EXPECT_NE(readFile(aw + "/index.html").find("<a href=\"blog.ex.test.html\">blog.ex.test</a>"), std::string::npos);
  EXPECT_TRUE(fileExists(aw + "/blog.ex.test.html"));
  for (const char* page : {"alldomains", "urldetail", "errors404"}) {
    EXPECT_TRUE(fileExists(aw + "/awstats.ex.test." + page + ".html")) << page;
    EXPECT_TRUE(fileExists(aw + "/awstats.blog.ex.test." + page + ".html")) << page;
  }
  EXPECT_EQ(historyHits(aw + "/awstats" + history_ + ".ex.test.txt"), 4);  // the alias counts for the domain
  EXPECT_EQ(historyHits(aw + "/awstats" + history_ + ".blog.ex.test.txt"), 2);
  const std::string cgi = e2e_->file("analysers/awstats/wwwroot/cgi-bin/");
  EXPECT_NE(readFile(cgi + "awstats.ex.test.conf").find("\nHostAliases=\"ex.test ex.example\"\r\n"), std::string::npos);
  // A subdomain's configuration is no domain's: it goes at the end of the run.
  EXPECT_FALSE(fileExists(cgi + "awstats.blog.ex.test.conf"));

  EXPECT_EQ(webalizerMonthHits(readFile(stats("wz.test") + "/index.html"), webalizerMonth_), 4);
  EXPECT_EQ(e2e_->eventLog().find("ERROR"), std::string::npos) << e2e_->eventLog();
}

CADRO_END_TO_END_ENGINES(WebStatisticsRun);

}  // namespace
