// Traffic storage over every database engine: sums added to DomainsTraffic per domain and
// day, the locked-only rule, retention, a domain whose store fails rolled back alone with
// its windows kept, and the per-day counter tables with their trimming.
#include "traffic/traffic_store.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include "platform/registry/registry.h"
#include "testing/controlpanel_test_database.h"
#include "testing/log_recorder.h"
#include "testing/temp_dir.h"
#include "traffic/traffic_test_util.h"

using namespace testing_support;
using traffic_test::trafficRows;

namespace {

// one.com (id 1) and two.com (2) with the lifetime 0 (kept forever), three.com (3) with 3
// months, each with an old row from 2000, and one.com with a row of 2008-02-29.
template <class Engine>
class TrafficStore : public ControlPanelTestDatabase<Engine> {
 protected:
  using Base = ControlPanelTestDatabase<Engine>;
  using Base::db;
  using Base::run;

  void seed() override {
    const wchar_t* names[] = {L"one.com", L"two.com", L"three.com"};
    for (int id = 1; id <= 3; ++id) {
      const std::wstring sid = std::to_wstring(id);
      domains_[sid] = std::make_unique<DomainInfo>(sid, names[id - 1], 0, id == 3 ? 3 : 0, false);
      run(L"INSERT INTO DomainsTraffic (dom_id, `date`, http_in) VALUES (" + sid + L", '2000-01-01', 1)");
    }
    run(L"INSERT INTO DomainsTraffic (dom_id, `date`, http_in, http_out, ftp_in) VALUES (1, '2008-02-29', 5, 7, 1)");
  }
  DomainInfo& domain(int id) { return *domains_.at(std::to_wstring(id)); }
  // Traffic of `type` on `day`: out, in.
  void add(int id, int type, VDateTime day, int64_t out, int64_t in) {
    auto& counts = domain(id).traffic(type)[day];
    counts[0] += out;
    counts[1] += in;
  }
  std::wstring storedWindow(int id, const wchar_t* value) {
    std::wstring text;
    registry::lookup(HKEY_LOCAL_MACHINE, registry::domainKey(std::to_wstring(id)), value, text, REG_SZ, 0);
    return text;
  }
  std::string rows() { return trafficRows(db().provider()); }
  std::string today() const { return text::toUtf8(VDateTime::nowUtc().date().toSqlDateText()); }

  ScopedSystemRoot root_;  // the domains' locks and windows
  DomainMap domains_;
};

TYPED_TEST_SUITE(TrafficStore, ProviderTestEngines, ProviderTestEngineNames);

TYPED_TEST(TrafficStore, AmountsAreAddedToTheDaysRowsOfTheLockedDomainsAndOldRowsTrimmed) {
  const VDateTime leapDay(2008, 2, 29);
  const VDateTime today = VDateTime::nowUtc().date();
  this->add(1, logtype::kHttp, leapDay, 100, 10);
  this->add(1, logtype::kAnonymousFtp, leapDay, 1, 2);  // both FTP kinds share the columns
  this->add(1, logtype::kFtp, leapDay, 3, 4);
  this->add(1, logtype::kHttp, VDateTime(2008, 3, 1), 0, 9);
  this->add(1, logtype::kSmtpIn, leapDay, 50, 50);  // outside the types asked for at first
  this->add(2, logtype::kHttp, leapDay, 6, 6);      // not locked by this run
  this->add(3, logtype::kFtp, today, 8, 0);
  ASSERT_TRUE(this->domain(1).tryLock(false));
  ASSERT_TRUE(this->domain(3).tryLock(false));

  auto saved = saveTrafficData2DB(this->db(), this->domains_, 0, 2, true);
  EXPECT_EQ(saved, (std::vector<const DomainInfo*>{&this->domain(1), &this->domain(3)}));
  // one.com keeps its row of 2000 (lifetime 0); three.com loses its own (3 months).
  const std::string three = "3 " + this->today() + " 0 0 0 8 0 0 0 0";
  EXPECT_EQ(this->rows(), "1 2000-01-01 1 0 0 0 0 0 0 0; 1 2008-02-29 15 107 7 4 0 0 0 0; 1 2008-03-01 9 0 0 0 0 0 0 0; "
                          "2 2000-01-01 1 0 0 0 0 0 0 0; " + three);

  // Stored again, amounts add up again; the mail types go to their own columns.
  saveTrafficData2DB(this->db(), this->domains_, 3, 5, false);
  saveTrafficData2DB(this->db(), this->domains_, 0, 0, true);
  EXPECT_EQ(this->rows(), "1 2000-01-01 1 0 0 0 0 0 0 0; 1 2008-02-29 25 207 7 4 50 50 0 0; "
                          "1 2008-03-01 18 0 0 0 0 0 0 0; 2 2000-01-01 1 0 0 0 0 0 0 0; " + three);
}

TYPED_TEST(TrafficStore, AFailedDomainIsRolledBackAndKeepsItsWindowsWhileTheOthersAreStored) {
  traffic_test::refuseTrafficOf(this->db().provider(), 2);
  const VDateTime today = VDateTime::nowUtc().date();
  for (int id = 1; id <= 3; ++id) {
    this->add(id, logtype::kHttp, today, id, id);
    this->add(id, logtype::kFtp, today, id, 0);
    ASSERT_TRUE(this->domain(id).tryLock(false));
    this->domain(id).loadLogWindows(true, true, L"");
  }
  LogRecorder log;
  auto saved = saveTrafficData2DB(this->db(), this->domains_, 0, 2, true);
  EXPECT_EQ(saved, (std::vector<const DomainInfo*>{&this->domain(1), &this->domain(3)}));
  EXPECT_EQ(this->rows(), "1 2000-01-01 1 0 0 0 0 0 0 0; 1 2008-02-29 5 7 1 0 0 0 0 0; 1 " + this->today() +
                              " 1 1 0 1 0 0 0 0; 2 2000-01-01 1 0 0 0 0 0 0 0; 3 " + this->today() +
                              " 3 3 0 3 0 0 0 0");
  const std::wstring end = this->domain(1).getEndLogTime(0).toRegistryText();
  for (int id : {1, 3}) {
    EXPECT_EQ(this->storedWindow(id, L"LastHttpStatisticsRun"), end);
    EXPECT_EQ(this->storedWindow(id, L"LastFtpStatisticsRun"), end);
  }
  EXPECT_EQ(this->storedWindow(2, L"LastHttpStatisticsRun"), L"");
  EXPECT_EQ(this->storedWindow(2, L"LastFtpStatisticsRun"), L"");
  bool reported = false;
  for (const LoggedMessage& m : log.take())
    reported |= m.level == 3 && !m.contexts.empty() && m.contexts.back() == L"Save domain two.com traffic";
  EXPECT_TRUE(reported);

  // Mail traffic stores no windows, whatever the domains hold.
  registry::deleteTree(HKEY_LOCAL_MACHINE, registry::domainKey(L"1"));
  saveTrafficData2DB(this->db(), this->domains_, 3, 5, false);
  EXPECT_EQ(this->storedWindow(1, L"LastHttpStatisticsRun"), L"");
}

TYPED_TEST(TrafficStore, DayCountersAddUpAndLoseTheRowsBeforeThePreviousMonth) {
  const VDateTime today = VDateTime::nowUtc().date();
  const VDateTime lastMonth = (today - 86400 * today.day).date();  // the previous month's last day
  const struct {
    void (*save)(CDRDatabase&, const DayCounts&);
    const wchar_t* table;
    const wchar_t* column;
  } tables[] = {{&saveSitesHitsData2DB, L"SitePagesStat", L"hits"},
                {&saveMailMessagesData2DB, L"MailMessagesStat", L"sent"}};
  for (const auto& t : tables) {
    SCOPED_TRACE(text::toUtf8(t.table));
    const std::wstring table = t.table, column = t.column;
    this->run(L"INSERT INTO " + table + L" (`date`, " + column + L") VALUES ('2000-01-01', 4)");
    this->run(L"INSERT INTO " + table + L" (`date`, " + column + L") VALUES ('" + today.toSqlDateText() + L"', 4)");
    t.save(this->db(), DayCounts{{today, 5}, {lastMonth, 2}});
    t.save(this->db(), DayCounts{{lastMonth, 1}});
    VRecordSet rows = this->db().query(L"SELECT `date`, " + column + L" FROM " + table + L" ORDER BY `date`");
    std::string out;
    while (rows.next()) out += text::toUtf8(rows.get(0)).substr(0, 10) + "=" + text::toUtf8(rows.get(1)) + " ";
    EXPECT_EQ(out, text::toUtf8(lastMonth.toSqlDateText() + L"=3 " + today.toSqlDateText() + L"=9 "));
  }
}

}  // namespace
