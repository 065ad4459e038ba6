// The limit check over every provider engine, with the control panel's event script a real
// PHP script that records each event. The product root lies under a path with blanks,
// parentheses, "&", "$", quotes and back quotes. The seeded world (limits: D disk, T traffic,
// M MySQL, S SQL Server; traffic of this month unless said otherwise):
//   client 1 (T 1000, D 5000)
//     domain 10 (T 0): 1 byte in, 1 out                       -> domain traffic event
//     domain 11 (D 100, M 50): real 200, MySQL 60, 1500 in and 1500 out
//                                                             -> one domain size event
//     totals: traffic 3002, real 210                          -> client traffic event
//   client 2 (every limit -1): domain 20 (D 1, T -1): real 5, 10^12 in
//                                                             -> domain size event only
//   client 3 (D 0): domain 30 without limits, real 100        -> no totals, nothing
//   client 4 (S 10): domain 40 (T 10^12): SQL Server 11, 5*10^9 in this month, 10^13 last
//     month and 10^13 in this month a year ago                -> client size event
//   client 5 (D 0): domain 50 (D 0), real 100, no disk_usage row -> nothing
//   client 6 (no limits): domain 60 (T 100) 150 in, 20 out; domain 61 (T 100) 20 in, 150 out
//                                                             -> by the traffic accounting
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/text/text_codec.h"
#include "testing/controlpanel_test_database.h"
#include "testing/fake_exec_settings.h"
#include "testing/log_recorder.h"
#include "testing/temp_dir.h"
#include "usage/limit_check.h"
#include "usage/limit_events.h"
#include "usage/recording_event_script.h"

using namespace testing_support;
using namespace usage_testing;

namespace {

using Events = std::vector<std::string>;

const std::string kHostileRoot = "Program Files (x86) & $HOME 'co' `id`/panel";

std::wstring w(const std::string& s) { return text::fromUtf8(s); }

std::string event(const std::string& option, const std::string& which, int id) {
  return "self|" + option + "|--" + which + "-id|" + std::to_string(id);
}

// The events that do not depend on the traffic accounting, sorted.
const Events kFixedEvents = {
    event("--client-limit-size-reached", "client", 4),     event("--client-limit-traffic-reached", "client", 1),
    event("--domain-limit-size-reached", "domain", 11),    event("--domain-limit-size-reached", "domain", 20),
    event("--domain-limit-traffic-reached", "domain", 10),
};
const std::string kIncomingOver = event("--domain-limit-traffic-reached", "domain", 60);
const std::string kOutgoingOver = event("--domain-limit-traffic-reached", "domain", 61);

Events sorted(Events events) {
  std::sort(events.begin(), events.end());
  return events;
}

template <class Engine>
class LimitCheck : public ControlPanelTestDatabase<Engine> {
 protected:
  using Base = ControlPanelTestDatabase<Engine>;
  using Base::run;

  void seed() override {
    settings_.root = w(dir_.file(kHostileRoot));
    this->explicitIds(L"clients");
    for (int id = 1; id <= 6; ++id)
      run(L"INSERT INTO clients (id, login, limits_id) VALUES (" + std::to_wstring(id) + L", 'c" +
          std::to_wstring(id) + L"', " + std::to_wstring(100 + id) + L")");
    this->explicitIds(L"domains");
    const struct {
      int id, client, limits;
    } domains[] = {{10, 1, 210}, {11, 1, 211}, {20, 2, 220}, {30, 3, 0}, {40, 4, 240}, {50, 5, 250}, {60, 6, 260}, {61, 6, 261}};
    for (const auto& d : domains)
      run(L"INSERT INTO domains (id, name, cl_id, limits_id) VALUES (" + std::to_wstring(d.id) + L", 'd" +
          std::to_wstring(d.id) + L".com', " + std::to_wstring(d.client) + L", " +
          (d.limits ? std::to_wstring(d.limits) : L"NULL") + L")");
    this->explicitIds(L"");

    const struct {
      int id;
      const wchar_t* name;
      const wchar_t* value;
    } limits[] = {{101, L"max_traffic", L"1000"},         {101, L"disk_space", L"5000"},
                  {102, L"disk_space", L"-1"},            {102, L"max_traffic", L"-1"},
                  {102, L"mysql_dbase_space", L"-1"},     {102, L"mssql_dbase_space", L"-1"},
                  {103, L"disk_space", L"0"},             {104, L"mssql_dbase_space", L"10"},
                  {105, L"disk_space", L"0"},             {210, L"max_traffic", L"0"},
                  {211, L"disk_space", L"100"},           {211, L"mysql_dbase_space", L"50"},
                  {220, L"disk_space", L"1"},             {220, L"max_traffic", L"-1"},
                  {240, L"max_traffic", L"1000000000000"}, {250, L"disk_space", L"0"},
                  {260, L"max_traffic", L"100"},          {261, L"max_traffic", L"100"}};
    for (const auto& l : limits)
      run(L"INSERT INTO Limits (id, limit_name, value) VALUES (" + std::to_wstring(l.id) + L", '" + l.name + L"', " +
          l.value + L")");

    for (const wchar_t* row : {L"10, 0, 0", L"11, 60, 0", L"20, 0, 0", L"30, 0, 0", L"40, 0, 11", L"60, 0, 0",
                               L"61, 0, 0"})
      run(L"INSERT INTO disk_usage (dom_id, mysql_dbases, mssql_dbases) VALUES (" + std::wstring(row) + L")");
    const std::pair<int, int> realSizes[] = {{11, 200}, {20, 5}, {30, 100}, {50, 100}};
    for (const auto& [id, size] : realSizes)
      run(L"UPDATE domains SET real_size = " + std::to_wstring(size) + L" WHERE id = " + std::to_wstring(id));

    const std::wstring now = w(firstOfMonth()), lastMonth = w(firstOfMonth(1)), lastYear = w(firstOfMonth(12));
    traffic(10, now, L"1, 0, 0, 0", L"0, 0, 0, 1");
    traffic(11, now, L"1000, 500, 0, 0", L"0, 0, 1500, 0");
    traffic(20, now, L"1000000000000, 0, 0, 0", L"0, 0, 0, 0");
    traffic(40, now, L"0, 0, 5000000000, 0", L"0, 0, 0, 0");
    traffic(40, lastMonth, L"10000000000000, 0, 0, 0", L"0, 0, 0, 0");
    traffic(40, lastYear, L"0, 0, 0, 0", L"0, 10000000000000, 0, 0");
    traffic(60, now, L"100, 0, 50, 0", L"0, 20, 0, 0");
    traffic(61, now, L"0, 20, 0, 0", L"75, 0, 0, 75");
  }

  // One DomainsTraffic row: `in` and `out` are the http, ftp, smtp and pop3_imap values.
  void traffic(int domain, const std::wstring& date, const std::wstring& in, const std::wstring& out) {
    run(L"INSERT INTO DomainsTraffic (dom_id, `date`, http_in, ftp_in, smtp_in, pop3_imap_in, http_out, ftp_out, "
        L"smtp_out, pop3_imap_out) VALUES (" +
        std::to_wstring(domain) + L", '" + date + L"', " + in + L", " + out + L")");
  }

  // Runs the check with an event script that behaves as `behaviour` (PHP) says.
  Events check(const std::string& behaviour = "") {
    RecordingEventScript script(dir_.file(kHostileRoot), behaviour);
    LimitEventLauncher events(settings_);
    checkLimits(this->db(), events);
    Events seen = script.events();
    std::filesystem::remove_all(dir_.file(kHostileRoot));
    return seen;
  }

  TempDir dir_;
  FakeExecSettings settings_;
};

TYPED_TEST_SUITE(LimitCheck, ProviderTestEngines, ProviderTestEngineNames);

TYPED_TEST(LimitCheck, EachExceededLimitLaunchesItsEventAndAFailingScriptIsReportedWithItsOutput) {
  LogRecorder log;
  Events all = kFixedEvents;
  all.insert(all.end(), {kIncomingOver, kOutgoingOver});
  // Domain 11's event fails; the events after it still run.
  EXPECT_EQ(this->check("if ($args[2] === '11') { echo \"quota service down\\n\"; exit(2); }\n"), sorted(all));

  const std::wstring script = w(this->dir_.file(kHostileRoot + "/admin/plib/actionlog/actionlog.php"));
  std::vector<LoggedMessage> failures;
  for (LoggedMessage& m : log.take())
    if (m.level == 3) failures.push_back(m);
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].text, L"Unable to execute event " + script +
                                  L" --domain-limit-size-reached --domain-id 11: quota service down\n");
  EXPECT_EQ(failures[0].contexts, std::vector<std::wstring>{L"Unable to execute event"});
}

TYPED_TEST(LimitCheck, TrafficAccountingChoosesTheDirectionsThatCount) {
  const struct {
    const wchar_t* setting;
    Events traffic;
  } cases[] = {
      {L"", {kIncomingOver, kOutgoingOver}},  {L"0", {kIncomingOver, kOutgoingOver}},
      {L"1", {kIncomingOver}},                {L"2", {kOutgoingOver}},
      {L"3", {kIncomingOver, kOutgoingOver}}, {L"5", {kIncomingOver}},
      // Neither direction's bit: both count, as with 0, rather than no check at all.
      {L"4", {kIncomingOver, kOutgoingOver}}, {L"junk", {kIncomingOver, kOutgoingOver}},
  };
  for (const auto& c : cases) {
    this->db().setMiscParam(L"traffic_accounting", c.setting);
    Events expected = kFixedEvents;
    expected.insert(expected.end(), c.traffic.begin(), c.traffic.end());
    EXPECT_EQ(this->check(), sorted(expected)) << "traffic_accounting " << text::toUtf8(c.setting);
  }
}

}  // namespace
