// Mailbox usage over every engine: sizes stored per mailbox, failing mailboxes keeping
// their value, the run's one notice, the per-domain lock and the transaction of the store.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "db/transaction.h"
#include "platform/registry/registry.h"
#include "testing/controlpanel_test_database.h"
#include "testing/log_recorder.h"
#include "traffic/mail_test_util.h"
#include "usage/mailbox_usage.h"
#include "usage/mailbox_usage_task.h"

using namespace testing_support;
using namespace mail_testing;

namespace {

const std::wstring kSkipping = L"Calculating mail disk usage is been skipping due to mail disk usage has not been counted.";
const std::wstring kNotSupported = L"Mail server does not support calculating mail disk usage.";

template <class Engine>
class MailBoxUsageTest : public ControlPanelTestDatabase<Engine> {
 protected:
  using Base = ControlPanelTestDatabase<Engine>;
  using Base::run;

  void seed() override {
    // The registry lives as long as the test process: no run holds a domain.
    for (const wchar_t* id : {L"1", L"2"})
      registry::write(HKEY_LOCAL_MACHINE, registry::domainKey(id), L"MailBoxUsageStatus", 0u);
    run(L"INSERT INTO clients (id, login) VALUES (1, 'client')");
    run(L"INSERT INTO domains (id, name, cl_id) VALUES (1, 'a.com', 1)");
    run(L"INSERT INTO domains (id, name, cl_id) VALUES (2, 'b.com', 1)");
    this->explicitIds(L"mail");
    for (const wchar_t* row : {L"1, 'info', 1", L"2, 'sales', 1", L"3, 'ghost', 1", L"4, 'nobody', 1", L"5, 'info', 2"})
      run(std::wstring(L"INSERT INTO mail (id, mail_name, dom_id, disk_usage) VALUES (") + row + L", 7)");
    domains_[L"1"] = std::make_unique<DomainInfo>(L"1", L"a.com", 0, 3, false);
    domains_[L"2"] = std::make_unique<DomainInfo>(L"2", L"b.com", 0, 3, false);
  }

  // "id:size" of every mailbox in id order.
  std::string sizes() {
    std::string out;
    VRecordSet rows = this->db().query(L"SELECT id, disk_usage FROM mail ORDER BY id");
    while (rows.next()) out += (out.empty() ? "" : " ") + text::toUtf8(rows.get(0)) + ":" + text::toUtf8(rows.get(1));
    return out;
  }

  int count(std::vector<LoggedMessage> messages, int level, const std::wstring& text) {
    int n = 0;
    for (const LoggedMessage& m : messages) n += m.level == level && m.text == text;
    return n;
  }

  DomainMap domains_;
};

}  // namespace

TYPED_TEST_SUITE(MailBoxUsageTest, ProviderTestEngines, ProviderTestEngineNames);

TYPED_TEST(MailBoxUsageTest, EachMailboxIsStoredAndAFailingOneKeepsItsValue) {
  MailProviderScript script(
      "feature 4\nmailbox info@a.com 100\nmailbox sales@a.com throw\nmailbox ghost@a.com -5\n"
      "mailbox info@b.com 9223372036854775807\n");
  LogRecorder log;
  calculateDomainsMailBoxUsage(this->db(), this->domains_, MailProviderScript::source());
  EXPECT_EQ(this->sizes(), "1:100 2:7 3:7 4:7 5:9223372036854775807");

  std::vector<LoggedMessage> messages = log.take();
  EXPECT_EQ(this->count(messages, 0, L"Mailbox usage for domain a.com"), 1);
  EXPECT_EQ(this->count(messages, 0, L"Calculate mailbox usage for b.com..."), 1);
  std::vector<std::wstring> failed;
  for (const LoggedMessage& m : messages)
    if (m.level == 0 && !m.contexts.empty() && m.contexts.back().starts_with(L"calculate mailbox usage for "))
      failed.push_back(m.contexts.back());
  std::sort(failed.begin(), failed.end());
  EXPECT_EQ(failed, (std::vector<std::wstring>{L"calculate mailbox usage for ghost@a.com",
                                               L"calculate mailbox usage for nobody@a.com",
                                               L"calculate mailbox usage for sales@a.com"}));
  // One provider per domain, each given back.
  std::vector<std::string> calls = script.takeCalls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "instance"), 2);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "release"), 2);
}

TYPED_TEST(MailBoxUsageTest, TheRunReportsOneNoticeOnly) {
  struct Case {
    const wchar_t* notCounted;
    std::string script;
    std::wstring notice;  // empty: measured
    int providers;
  };
  const Case cases[] = {
      {L"true", "feature 4\nmailbox info@a.com 100\n", kSkipping, 0},
      {L"", "mailbox info@a.com 100\n", kNotSupported, 2},
      {L"TRUE", "feature 4\nmailbox info@a.com 100\n", L"", 2},
  };
  for (const Case& c : cases) {
    this->run(L"DELETE FROM misc");
    this->run(std::wstring(L"INSERT INTO misc (param, val) VALUES ('not_count_mail_disk_usage', '") + c.notCounted +
              L"')");
    this->run(L"UPDATE mail SET disk_usage = 7");
    MailProviderScript script(c.script);
    LogRecorder log;
    calculateDomainsMailBoxUsage(this->db(), this->domains_, MailProviderScript::source());
    std::vector<LoggedMessage> messages = log.take();
    EXPECT_EQ(this->count(messages, 1, kSkipping), c.notice == kSkipping ? 1 : 0);
    EXPECT_EQ(this->count(messages, 1, kNotSupported), c.notice == kNotSupported ? 1 : 0);
    EXPECT_EQ(this->sizes(), c.notice.empty() ? "1:100 2:7 3:7 4:7 5:7" : "1:7 2:7 3:7 4:7 5:7");
    std::vector<std::string> calls = script.takeCalls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "instance"), c.providers);
  }

  // The two notices share the flag: after the skipping notice, a provider without the
  // feature says nothing more.
  MailProviderScript script("");
  MailBoxUsageCalculator calculator(this->db(), MailProviderScript::source());
  LogRecorder log;
  MailBoxSizes sizes;
  this->run(L"UPDATE misc SET val = 'true'");
  calculator.calculateMailBoxUsage(L"a.com", L"1", sizes);
  this->run(L"UPDATE misc SET val = ''");
  calculator.calculateMailBoxUsage(L"b.com", L"2", sizes);
  std::vector<LoggedMessage> messages = log.take();
  EXPECT_EQ(this->count(messages, 1, kSkipping), 1);
  EXPECT_EQ(this->count(messages, 1, kNotSupported), 0);
}

TYPED_TEST(MailBoxUsageTest, AHeldDomainAndAFailedStoreChangeNothing) {
  MailProviderScript script("feature 4\nmailbox info@a.com 100\nmailbox info@b.com 200\n");
  registry::write(HKEY_LOCAL_MACHINE, registry::domainKey(L"1"), L"MailBoxUsageStatus",
                  static_cast<uint32_t>(getppid()));
  LogRecorder log;
  calculateDomainsMailBoxUsage(this->db(), this->domains_, MailProviderScript::source());
  EXPECT_EQ(this->sizes(), "1:7 2:7 3:7 4:7 5:200");
  bool reported = false;
  for (const LoggedMessage& m : log.take())
    reported = reported || (m.level == 3 && m.text == L"Object has been already locked" &&
                            m.contexts.back() == L"Calculate domain a.com mailbox usage");
  EXPECT_TRUE(reported);
  uint32_t state = 1;
  registry::lookup(HKEY_LOCAL_MACHINE, registry::domainKey(L"2"), L"MailBoxUsageStatus", state, 0);
  EXPECT_EQ(state, 0u);

  // An identifier that is no number never reaches SQL; the store's transaction is rolled back.
  const MailBoxSizes hostile{{L"1", 5}, {L"1 OR 1=1", 9}};
  EXPECT_THROW(db::inTransaction(this->db().provider(), [&] { saveMailBoxUsage(this->db(), hostile); }), vexception);
  EXPECT_EQ(this->sizes(), "1:7 2:7 3:7 4:7 5:200");
  MailBoxSizes sizes;
  EXPECT_THROW(MailBoxUsageCalculator(this->db(), MailProviderScript::source())
                   .calculateMailBoxUsage(L"a.com", L"1 OR 1=1", sizes),
               vexception);
}
