// Mail traffic over every engine: the domains asked about, the provider's answer added to
// the right log types and days or refused whole, the period and its end, and the step's
// rule for storing the end.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "platform/registry/registry.h"
#include "testing/controlpanel_test_database.h"
#include "testing/log_recorder.h"
#include "traffic/mail_test_util.h"
#include "traffic/mail_traffic.h"
#include "traffic/mail_traffic_task.h"

using namespace testing_support;
using namespace mail_testing;

namespace {

// One log type's table as "YYYY-MM-DD out/in" items.
std::string table(const DayTraffic& days) {
  std::string out;
  for (const auto& [day, counts] : days)
    out += (out.empty() ? "" : " ") + text::toUtf8(day.toSqlDateText()) + " " + std::to_string(counts[0]) + "/" +
           std::to_string(counts[1]);
  return out;
}

std::string registryValue(const wchar_t* name) {
  std::wstring value;
  registry::lookup(HKEY_LOCAL_MACHINE, registry::kConfigKey, name, value, REG_SZ, 0);
  return text::toUtf8(value);
}

void setRegistryValue(const wchar_t* name, const std::wstring& value) {
  registry::write(HKEY_LOCAL_MACHINE, registry::kConfigKey, name, value);
}

// The level-3 report of a failed calculation: its message and context texts.
std::string calculationFailure(LogRecorder& log) {
  for (const LoggedMessage& m : log.take()) {
    if (m.level != 3 || m.contexts.empty() || m.contexts.back() != L"Calculate mail traffic") continue;
    std::string text = text::toUtf8(m.text);
    for (const std::wstring& c : m.contexts) text += " | " + text::toUtf8(c);
    return text;
  }
  return "";
}

template <class Engine>
class MailTrafficTest : public ControlPanelTestDatabase<Engine> {
 protected:
  using Base = ControlPanelTestDatabase<Engine>;
  using Base::db;
  using Base::run;

  void seed() override {
    // The registry lives as long as the test process: no end stored, no run holding the task.
    setRegistryValue(L"LastMailTrafficCalculation", L"");
    setRegistryValue(L"LastStatisticsRun", L"");
    registry::write(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"MailTrafficLockStatus", 0u);
    run(L"INSERT INTO clients (id, login) VALUES (1, 'client')");
    const std::vector<std::wstring> rows = {L"1, 'a.com', 0", L"2, 'b.com', 0", L"3, 'off.com', 0",
                                            L"4, 'suspended.com', 4"};
    for (const std::wstring& row : rows) run(L"INSERT INTO domains (id, name, status, cl_id) VALUES (" + row + L", 1)");
    // a.com's mail service is on, off.com's is switched off; b.com has no service row (on).
    run(L"INSERT INTO DomainServices (dom_id, type, status) VALUES (1, 'mail', 0)");
    run(L"INSERT INTO DomainServices (dom_id, type, status) VALUES (3, 'mail', 16)");
  }

  MailTraffic calculate(const std::wstring& forcedStart = L"2024/03/01 00:00:00") {
    sent_.clear();
    return processMailTraffic(db(), 3, forcedStart, sent_, MailProviderScript::source());
  }

  DayCounts sent_;
};

}  // namespace

TYPED_TEST_SUITE(MailTrafficTest, ProviderTestEngines, ProviderTestEngineNames);

TYPED_TEST(MailTrafficTest, TheAnswerIsAddedToTheAskedDomainsOnly) {
  MailProviderScript script;
  const std::string log = script.dir().file("maillog.1");
  writeFile(log, "");
  std::filesystem::create_symlink(log, script.dir().file("link.log"));
  const std::string longName(300, 'x');
  script.write(
      "traffic a.com 2024-03-01 1 2 3 4 5 6\n"
      "traffic a.com 2024-03-02 9223372036854775807 0 0 0 0 9223372036854775807\n"
      "traffic b.com 2024-03-01 10 20 30 40 50 60\n"
      // Entries the program did not ask for: mail off, another spelling, unknown names.
      "traffic off.com 2024-03-01 7 7 7 7 7 7\n"
      "traffic A.com 2024-03-01 7 7 7 7 7 7\n"
      "traffic suspended.com 2024-03-01 7 7 7 7 7 7\n"
      "traffic o'brien\"x\\.com 2024-03-01 7 7 7 7 7 7\n"
      "traffic " + longName + ".com 2024-03-01 7 7 7 7 7 7\n"
      "sent 2024-03-01 5\nsent 2024-03-02 6\n"
      "file " + log + "\nfile " + script.dir().file("link.log") + "\nfile maillog.2\nfile " +
      script.dir().path() + "/../maillog.1\nfile " + script.dir().file("missing.log") + "\n");

  MailTraffic traffic = this->calculate();
  ASSERT_TRUE(traffic.calculated);
  const DomainInfo& a = *traffic.domains.at(L"1");
  EXPECT_EQ(table(a.traffic(logtype::kSmtpOut)), "2024-03-01 1/2 2024-03-02 9223372036854775807/0");
  EXPECT_EQ(table(a.traffic(logtype::kSmtpIn)), "2024-03-01 3/4 2024-03-02 0/0");
  EXPECT_EQ(table(a.traffic(logtype::kPop)), "2024-03-01 5/6 2024-03-02 0/9223372036854775807");
  const DomainInfo& b = *traffic.domains.at(L"2");
  EXPECT_EQ(table(b.traffic(logtype::kSmtpOut)), "2024-03-01 10/20");
  EXPECT_EQ(table(b.traffic(logtype::kSmtpIn)), "2024-03-01 30/40");
  EXPECT_EQ(table(b.traffic(logtype::kPop)), "2024-03-01 50/60");
  for (int type : {logtype::kHttp, logtype::kAnonymousFtp, logtype::kFtp})
    EXPECT_TRUE(a.traffic(type).empty() && b.traffic(type).empty());
  for (int type : {logtype::kSmtpIn, logtype::kSmtpOut, logtype::kPop})
    EXPECT_TRUE(traffic.domains.at(L"3")->traffic(type).empty());
  EXPECT_EQ(traffic.domains.count(L"4"), 0u);

  EXPECT_EQ(this->sent_, (DayCounts{{VDateTime(2024, 3, 1), 5}, {VDateTime(2024, 3, 2), 6}}));
  EXPECT_EQ(traffic.finishedFiles, std::vector<std::wstring>{text::fromUtf8(log)});

  // Asked: the domains with mail on, from the forced start to now; released afterwards.
  std::vector<std::string> calls = script.takeCalls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0], "instance");
  EXPECT_EQ(calls[1], "traffic 2024/03/01 00:00:00 " + text::toUtf8(traffic.periodEnd.toRegistryText()) + " a.com,b.com");
  EXPECT_EQ(calls[2], "release");
  EXPECT_EQ(traffic.periodEnd.milliseconds, 0);
}

TYPED_TEST(MailTrafficTest, ABadAnswerIsRefusedWholeAndTheProviderReleased) {
  VDateTime tomorrow = VDateTime::nowUtc().date() + 86400;
  struct Case {
    std::string script;
    std::wstring forcedStart;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"traffic a.com 2024-03-01 1 -2 0 0 0 0", L"2024/03/01 00:00:00",
       "The mail provider reported the negative amount -2 for a.com on 2024-03-01"},
      {"traffic a.com 2024-02-30 1 1 1 1 1 1", L"2024/02/01 00:00:00",
       "The mail provider reported the impossible day 2024-02-30 for a.com"},
      {"traffic a.com 0-13-45 1 1 1 1 1 1", L"", "The mail provider reported the impossible day 0000-13-45 for a.com"},
      {"traffic a.com 2024-02-29 1 1 1 1 1 1", L"2024/03/01 10:00:00",
       "The mail provider reported the day 2024-02-29 for a.com, outside the period from 2024-03-01 to "},
      {"traffic a.com 1969-12-31 1 1 1 1 1 1", L"",
       "The mail provider reported the day 1969-12-31 for a.com, outside the period from 1970-01-01 to "},
      {"traffic b.com " + text::toUtf8(tomorrow.toSqlDateText()) + " 1 1 1 1 1 1", L"2024/03/01 00:00:00",
       "The mail provider reported the day " + text::toUtf8(tomorrow.toSqlDateText()) + " for b.com, outside"},
      {"traffic a.com 30000-01-01 1 1 1 1 1 1", L"2024/03/01 00:00:00",
       "The mail provider reported the day 30000-01-01 for a.com, outside"},
      {"sent 2024-03-01 -1", L"2024/03/01 00:00:00",
       "The mail provider reported the negative amount -1 for the sent messages on 2024-03-01"},
      {"traffic a.com 2024-03-01 1 1 1 1 1 1\nsent 2024-03-01 4\nthrow traffic", L"2024/03/01 00:00:00",
       "the test provider failed to read the mail logs"},
      {"instance null", L"2024/03/01 00:00:00", "is corrupt | getMailMngProviderInstance returned no provider |  | Load mail provider"},
  };
  for (const Case& c : cases) {
    MailProviderScript script("traffic b.com 2024-03-01 9 9 9 9 9 9\n" + c.script);
    LogRecorder log;
    MailTraffic traffic = this->calculate(c.forcedStart);
    EXPECT_FALSE(traffic.calculated) << c.script;
    EXPECT_TRUE(traffic.domains.empty() && traffic.finishedFiles.empty() && this->sent_.empty()) << c.script;
    EXPECT_NE(calculationFailure(log).find(c.message), std::string::npos) << c.script << "\n" << calculationFailure(log);
    std::vector<std::string> calls = script.takeCalls();
    if (c.script != "instance null") {
      EXPECT_EQ(calls.back(), "release") << c.script;
    }
  }
}

TYPED_TEST(MailTrafficTest, ThePeriodStartsAtTheForcedOrTheStoredEnd) {
  struct Case {
    std::wstring forced, lastMail, lastRun;
    std::string start;
  };
  const Case cases[] = {
      {L"", L"", L"", "0000/00/00 00:00:00"},
      {L"", L"", L"2023/05/06 07:08:09", "2023/05/06 07:08:09"},
      {L"", L"2024/01/02 03:04:05", L"2023/05/06 07:08:09", "2024/01/02 03:04:05"},
      // An incomplete start is passed as it is: it still orders field by field.
      {L"2024", L"", L"", "2024/00/00 00:00:00"},
      {L"2022-12-31 23:59:58", L"2024/01/02 03:04:05", L"", "2022/12/31 23:59:58"},
  };
  MailProviderScript script;
  for (const Case& c : cases) {
    setRegistryValue(L"LastMailTrafficCalculation", c.lastMail);
    setRegistryValue(L"LastStatisticsRun", c.lastRun);
    EXPECT_TRUE(this->calculate(c.forced).calculated);
    std::vector<std::string> calls = script.takeCalls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1].substr(0, 8 + c.start.size()), "traffic " + c.start);
  }
  // Calculating stores no end: that is the step's, once the traffic is stored.
  EXPECT_EQ(registryValue(L"LastMailTrafficCalculation"), "2024/01/02 03:04:05");
}

TYPED_TEST(MailTrafficTest, TheStepStoresTheEndOnlyWhenTheTrafficIsStored) {
  MailProviderScript script;
  const std::string log = script.dir().file("maillog.1");
  writeFile(log, "");
  struct Case {
    const char* name;
    std::string script;
    bool databaseTakesIt;
    bool endStored;
    bool messagesSaved;
  };
  const Case cases[] = {
      {"stored", "", true, true, true},
      {"provider fails", "throw traffic\n", true, false, true},
      {"database takes nothing", "", false, false, false},
  };
  for (const Case& c : cases) {
    setRegistryValue(L"LastMailTrafficCalculation", L"2024/03/01 00:00:00");
    script.write(c.script + "traffic a.com 2024-03-01 1 2 3 4 5 6\nsent 2024-03-01 5\nfile " + log + "\n");
    std::vector<std::wstring> domainsSaved;
    bool messagesSaved = false;
    MailTrafficStore store;
    store.saveTraffic = [&](DomainMap& domains) {
      for (const auto& [id, domain] : domains)
        if (!domain->traffic(logtype::kSmtpIn).empty()) domainsSaved.push_back(domain->name());
      return c.databaseTakesIt;
    };
    store.saveMessages = [&](const DayCounts& sent) { messagesSaved = !sent.empty(); };
    std::vector<std::wstring> files{L"/earlier/file"};

    calculateMailTraffic(this->db(), 3, L"", files, store, MailProviderScript::source());
    const bool calculated = c.script.empty();
    EXPECT_EQ(domainsSaved, calculated ? std::vector<std::wstring>{L"a.com"} : std::vector<std::wstring>{}) << c.name;
    EXPECT_EQ(messagesSaved, c.messagesSaved && calculated) << c.name;
    std::vector<std::string> calls = script.takeCalls();
    ASSERT_GE(calls.size(), 2u);
    const std::string end = calls[1].substr(28, 19);
    EXPECT_EQ(registryValue(L"LastMailTrafficCalculation"), c.endStored ? end : "2024/03/01 00:00:00") << c.name;
    EXPECT_EQ(files.size(), c.endStored ? 2u : 1u) << c.name;
    uint32_t lockState = 1;
    registry::lookup(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"MailTrafficLockStatus", lockState, 0);
    EXPECT_EQ(lockState, 0u) << c.name;
  }

  // Another live run holds the task: nothing is asked, nothing stored.
  registry::write(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"MailTrafficLockStatus", static_cast<uint32_t>(getppid()));
  std::vector<std::wstring> files;
  MailTrafficStore store{[](DomainMap&) { return true; }, [](const DayCounts&) {}};
  EXPECT_THROW(calculateMailTraffic(this->db(), 3, L"", files, store, MailProviderScript::source()),
               BusinessLock::LockException);
  EXPECT_TRUE(script.takeCalls().empty());
}
