// `statistics --disk-usage` end to end: the domains' trees under the vhosts root, the
// Tomcat directory and the mail table measured and stored by the program as a process of
// its own, with one domain held by another run.
#include <gtest/gtest.h>

#include <unistd.h>

#include "platform/registry/registry.h"
#include "platform/text/text_codec.h"
#include "testing/end_to_end.h"
#include "usage/usage_test_util.h"

using namespace testing_support;
using namespace usage_testing;

namespace {

class DiskUsageRun : public EndToEndTest {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    if (IsSkipped()) return;
    e2e_->addClient(1);
    e2e_->addHostedDomain(9, L"nine.com", 1, L"10.0.0.9");
    e2e_->addHostedDomain(10, L"ten.com", 1, L"10.0.0.10");
    e2e_->addHostedDomain(100, L"hundred.com", 1, L"10.0.0.100");
  }
  void sql(const std::wstring& statement) { e2e_->db().execute(statement); }
  std::wstring row(const std::wstring& statement) { return e2e_->values(statement); }
  uint32_t lockState(const std::wstring& id) {
    uint32_t state = 0;
    registry::lookup(HKEY_LOCAL_MACHINE, registry::domainKey(id), L"DiskUsageStatus", state, 0);
    return state;
  }
};

}  // namespace

TEST_P(DiskUsageRun, EachDomainIsStoredUnderItsLockAndAHeldDomainKeepsItsRow) {
  build(e2e_->file("vhosts/nine.com"), {{"httpdocs/index.html", Kind::File, 1000},
                                        {"statistics/webstat/index.html", Kind::File, 50},
                                        {"subdomains/blog/httpdocs/post.html", Kind::File, 7},
                                        {"httpdocs/planted", Kind::Link, 0, "../../hundred.com"}});
  build(e2e_->file("vhosts/ten.com"), {{"anon_ftp/pub/file", Kind::File, 20}});
  build(e2e_->file("vhosts/hundred.com"), {{"httpdocs/big", Kind::File, 999}});
  build(e2e_->file("tomcat/cdr-wars/nine.com"), {{"app.war", Kind::File, 400}});
  sql(L"INSERT INTO DomainServices (dom_id, type) VALUES (9, 'tomcat')");
  sql(L"INSERT INTO mail (mail_name, dom_id, disk_usage) VALUES ('info', 10, 300)");
  sql(L"INSERT INTO misc (param, val) VALUES ('include_webapps', 'true')");
  sql(L"INSERT INTO disk_usage (dom_id, httpdocs) VALUES (100, 77)");
  sql(L"UPDATE domains SET real_size = 77 WHERE id = 100");
  // Another live run (this test's process) measures hundred.com.
  registry::write(HKEY_LOCAL_MACHINE, registry::domainKey(L"100"), L"DiskUsageStatus", static_cast<uint32_t>(getpid()));

  auto r = e2e_->run({"--disk-usage"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("Object has been already locked"), std::string::npos) << r.out;

  const std::wstring columns =
      L"dom_id, httpdocs, anonftp, logs, mysql_dbases, mssql_dbases, mailboxes, webapps, maillists, domaindumps, "
      L"web_users";
  EXPECT_EQ(row(L"SELECT " + columns + L" FROM disk_usage WHERE dom_id = 9"), L"9 1024 0 50 0 0 0 400 0 0 0");
  EXPECT_EQ(row(L"SELECT " + columns + L" FROM disk_usage WHERE dom_id = 10"), L"10 0 20 0 0 0 300 0 0 0 0");
  EXPECT_EQ(row(L"SELECT " + columns + L" FROM disk_usage WHERE dom_id = 100"), L"100 77 0 0 0 0 0 0 0 0 0");
  EXPECT_EQ(row(L"SELECT id, real_size FROM domains ORDER BY id"), L"9 1424 10 20 100 77");
  EXPECT_EQ(lockState(L"9"), 0u);
  EXPECT_EQ(lockState(L"100"), static_cast<uint32_t>(getpid()));
}

CADRO_END_TO_END_ENGINES(DiskUsageRun);
