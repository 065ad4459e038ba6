// `statistics --mailbox-usage` and `--disk-usage` end to end: the provider named by the
// management service measures the mailboxes, disk usage then counts the new sizes.
#include <gtest/gtest.h>

#include "platform/registry/registry.h"
#include "testing/end_to_end.h"
#include "traffic/mail_test_util.h"

using namespace testing_support;
using namespace mail_testing;

namespace {

class MailBoxUsageRun : public EndToEndTest {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    if (IsSkipped()) return;
    e2e_->addClient(1);
    e2e_->addHostedDomain(9, L"nine.com", 1, L"10.0.0.9");
    e2e_->addHostedDomain(10, L"ten.com", 1, L"10.0.0.10");
    sql(L"INSERT INTO mail (mail_name, dom_id, disk_usage) VALUES ('info', 9, 7)");
    sql(L"INSERT INTO mail (mail_name, dom_id, disk_usage) VALUES ('sales', 9, 7)");
    sql(L"INSERT INTO mail (mail_name, dom_id, disk_usage) VALUES ('info', 10, 7)");
    registry::write(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"Debug", 1u);
  }
  void sql(const std::wstring& statement) { e2e_->db().execute(statement); }
  std::wstring rows(const std::wstring& statement) { return e2e_->values(statement); }
  ProcessResult run(const std::string& option, MailProviderScript& script) {
    return e2e_->run({option}, {{"CADRO_TEST_MAIL_PROVIDER_SCRIPT", script.dir().file("script")}});
  }
  size_t occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }
};

}  // namespace

TEST_P(MailBoxUsageRun, SizesAreStoredAndDiskUsageCountsThem) {
  MailProviderScript script("feature 4\nmailbox info@nine.com 1000\nmailbox sales@nine.com throw\n"
                            "mailbox info@ten.com 20\n");
  auto r = run("--mailbox-usage", script);
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(rows(L"SELECT dom_id, mail_name, disk_usage FROM mail ORDER BY dom_id, mail_name"),
            L"9 info 1000 9 sales 7 10 info 20");
  EXPECT_EQ(rows(L"SELECT COUNT(*) FROM disk_usage"), L"0");

  script.write("feature 4\nmailbox info@nine.com 3000\nmailbox sales@nine.com 5\nmailbox info@ten.com 40\n");
  r = run("--disk-usage", script);
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(rows(L"SELECT dom_id, mailboxes FROM disk_usage ORDER BY dom_id"), L"9 3005 10 40");
  const std::string log = e2e_->eventLog();
  EXPECT_LT(log.find("\tMailbox usage for domain nine.com\t"), log.find("\tDisk space for domain nine.com\t")) << log;
}

TEST_P(MailBoxUsageRun, NotCountedMailboxesAreNoticedOncePerRun) {
  sql(L"INSERT INTO misc (param, val) VALUES ('not_count_mail_disk_usage', 'true')");
  MailProviderScript script("feature 4\nmailbox info@nine.com 1000\n");
  auto r = run("--mailbox-usage", script);
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(rows(L"SELECT disk_usage FROM mail ORDER BY id"), L"7 7 7");
  EXPECT_EQ(occurrences(e2e_->eventLog(), "\tWARNING\tstatistics\t1\t0\tCalculating mail disk usage is been skipping"), 1u);
  EXPECT_TRUE(script.takeCalls().empty());

  // Without the setting, a server that cannot measure mailboxes is noticed once as well.
  sql(L"DELETE FROM misc");
  writeFile(e2e_->file("eventlog/Cadro.log"), "");
  script.write("mailbox info@nine.com 1000\n");
  r = run("--mailbox-usage", script);
  EXPECT_EQ(rows(L"SELECT disk_usage FROM mail ORDER BY id"), L"7 7 7");
  EXPECT_EQ(occurrences(e2e_->eventLog(), "\tWARNING\tstatistics\t1\t0\tMail server does not support calculating"), 1u);
}

CADRO_END_TO_END_ENGINES(MailBoxUsageRun);
