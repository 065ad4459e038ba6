// The statements the program writes for a Jet database, run as written through the Jet
// provider on a SQLite file with the control-panel schema, with rows on both sides of
// each boundary.
#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "db/cdr_database.h"
#include "db/sql_dialect.h"
#include "platform/text/text_codec.h"
#include "platform/report/vexception.h"
#include "platform/text/vformat.h"
#include "testing/fake_service_settings.h"
#include "testing/jet_test_database.h"
#include "testing/scoped_environment.h"
#include "testing/temp_dir.h"

using namespace testing_support;

namespace {

// A local calendar day, computed independently of the engine's date functions.
struct Day {
  int year, month, day;
  bool operator==(const Day&) const = default;
};

Day normalized(int year, int month, int day) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = 12;
  std::mktime(&t);
  return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday};
}

Day today() {
  std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday};
}

Day plusDays(Day d, int days) { return normalized(d.year, d.month, d.day + days); }

// `months` months away, the day clamped to the end of a shorter month.
Day plusMonths(Day d, int months) {
  Day first = normalized(d.year, d.month + months, 1);
  int last = plusDays(normalized(first.year, first.month + 1, 1), -1).day;
  return {first.year, first.month, d.day < last ? d.day : last};
}

std::wstring iso(Day d) { return vformat(L"%04d-%02d-%02d", d.year, d.month, d.day); }

class JetStatements : public ::testing::Test {
 protected:
  void SetUp() override {
    start_ = today();
    service_.values[L"CADRO_DATABASE_PROVIDER_NAME"] = L"Jet";
    db_ = std::make_unique<CDRDatabase>(file_.connect(), service_, false);
  }
  void TearDown() override {
    if (today() != start_) GTEST_SKIP() << "the day changed during the test";
  }

  CDRDatabase& db() { return *db_; }
  std::wstring single(const std::wstring& sql) {
    VRecordSet rs = db().query(sql);
    EXPECT_TRUE(rs.next()) << text::toUtf8(sql);
    return rs.get(0, L"NULL");
  }
  std::vector<std::wstring> column(const std::wstring& sql) {
    std::vector<std::wstring> values;
    VRecordSet rs = db().query(sql);
    while (rs.next()) values.push_back(rs.get(0, L"NULL"));
    return values;
  }
  void traffic(int domain, Day day, int64_t httpIn = 1) {
    db().executeFormat(L"insert into DomainsTraffic (dom_id,`date`, %s, %s)values(%s, '%04d-%02d-%02d', '%I64d', '%I64d' ) ",
                       std::wstring(L"http_in"), std::wstring(L"http_out"), std::to_wstring(domain), day.year, day.month,
                       day.day, httpIn, int64_t{0});
  }
  std::vector<std::wstring> trafficDays(int domain) {
    return column(L"SELECT `date` FROM DomainsTraffic WHERE dom_id = " + std::to_wstring(domain) + L" ORDER BY `date`");
  }

  ScopedSystemRoot root_;
  ScopedEnvironment env_;
  JetTestDatabase file_{true};
  FakeServiceSettings service_;
  std::unique_ptr<CDRDatabase> db_;
  Day start_{};
};

TEST_F(JetStatements, DailyTrafficIsFoundByItsDateLiteralAndAdded) {
  const Day day{2024, 2, 29};
  traffic(7, day, 100);
  const std::wstring literal = formatDate(iso(day), L"Jet");
  VRecordSet rs = db().queryFormat(L"select %s, %s from DomainsTraffic    where `date`=%s and dom_id=%s",
                                   std::wstring(L"http_in"), std::wstring(L"http_out"), literal, std::wstring(L"7"));
  ASSERT_TRUE(rs.next());
  EXPECT_EQ(rs.get(0), L"100");
  db().executeFormat(L"update DomainsTraffic    set %s=%I64d, %s=%I64d    where `date`=%s and dom_id=%s",
                     std::wstring(L"http_in"), int64_t{150}, std::wstring(L"http_out"), int64_t{5}, literal,
                     std::wstring(L"7"));
  EXPECT_EQ(single(L"SELECT http_in + http_out FROM DomainsTraffic WHERE dom_id = 7"), L"155");
  EXPECT_EQ(single(L"SELECT COUNT(*) FROM DomainsTraffic WHERE `date` = " + formatDate(L"2024-02-28", L"Jet")), L"0");

  // The per-day counters.
  db().executeFormat(L"INSERT INTO `%s` (`date`, `%s`) VALUES('%s', %I64d)", std::wstring(L"SitePagesStat"),
                     std::wstring(L"hits"), iso(day), int64_t{3});
  VRecordSet hits = db().queryFormat(L"SELECT `%s` from `%s` WHERE `date` = %s", std::wstring(L"hits"),
                                     std::wstring(L"SitePagesStat"), literal);
  ASSERT_TRUE(hits.next());
  EXPECT_EQ(hits.get(0), L"3");
  db().executeFormat(L"UPDATE `%s` SET `%s` = %I64d WHERE `date` = %s", std::wstring(L"SitePagesStat"),
                     std::wstring(L"hits"), int64_t{8}, literal);
  EXPECT_EQ(single(L"SELECT hits FROM SitePagesStat"), L"8");
}

TEST_F(JetStatements, ThisMonthConditionTakesTheWholeCurrentMonthOnly) {
  const Day now = today();
  const Day firstOfMonth{now.year, now.month, 1};
  const Day lastOfMonth = plusDays(normalized(now.year, now.month + 1, 1), -1);
  traffic(1, firstOfMonth);
  traffic(1, lastOfMonth);
  traffic(1, plusDays(firstOfMonth, -1));
  traffic(1, normalized(now.year, now.month + 1, 1));
  traffic(1, {now.year - 1, now.month, 1});
  EXPECT_EQ(column(L"SELECT tr.date FROM DomainsTraffic tr WHERE " + getThisYaerAndThisMonthCondition(L"Jet") +
                   L" ORDER BY tr.date"),
            (std::vector<std::wstring>{iso(firstOfMonth), iso(lastOfMonth)}));
}

TEST_F(JetStatements, OldDomainTrafficGoesByMonthsAndDomain) {
  const Day now = today();
  const Day boundary = plusMonths(now, -3);
  traffic(1, boundary);
  traffic(1, plusDays(boundary, -1));
  traffic(1, now);
  traffic(2, plusDays(boundary, -30));
  deleteOldDomainTraffic(db(), L"1", 3);
  EXPECT_EQ(trafficDays(1), (std::vector<std::wstring>{iso(boundary), iso(now)}));
  EXPECT_EQ(trafficDays(2).size(), 1u);
  deleteOldDomainTraffic(db(), L"1", 0);  // unlimited
  EXPECT_EQ(trafficDays(1).size(), 2u);
}

TEST_F(JetStatements, BeforePreviousMonthKeepsThePreviousMonthWhole) {
  const Day now = today();
  const Day firstOfPrevious = normalized(now.year, now.month - 1, 1);
  for (Day day : {firstOfPrevious, plusDays(firstOfPrevious, -1), now}) {
    db().executeFormat(L"INSERT INTO `%s` (`date`, `%s`) VALUES('%s', %I64d)", std::wstring(L"SitePagesStat"),
                       std::wstring(L"hits"), iso(day), int64_t{1});
  }
  deleteBeforePreviousMonth(db(), L"SitePagesStat");
  EXPECT_EQ(column(L"SELECT `date` FROM SitePagesStat ORDER BY `date`"),
            (std::vector<std::wstring>{iso(firstOfPrevious), iso(now)}));
}

class JetActionLog : public JetStatements {
 protected:
  // An action with one component row.
  void action(int id, const std::wstring& date) {
    db().execute(vformat(L"INSERT INTO log_actions (id, ip_address, `user`, `date`, action_name) VALUES (%d, "
                         L"'10.0.0.1', 'admin', '%s', 'login')",
                         id, date));
    db().execute(vformat(L"INSERT INTO log_components (action_id, component) VALUES (%d, 'c')", id));
  }
  // The retention statements for the other providers, with `condition`.
  void rotate(const std::wstring& condition) {
    db().executeFormat(L"delete from log_components WHERE exists( SELECT log_actions.id FROM log_actions WHERE "
                       L"log_components.action_id = log_actions.id AND (%s) )",
                       condition);
    db().execute(L"DELETE FROM log_actions WHERE " + condition);
  }
  std::vector<std::wstring> actions() { return column(L"SELECT id FROM log_actions ORDER BY id"); }
  std::vector<std::wstring> components() { return column(L"SELECT action_id FROM log_components ORDER BY action_id"); }
};

TEST_F(JetActionLog, ByPeriodDeletesActionsBeforeTheCutOff) {
  const Day now = today();
  action(1, iso(plusDays(now, -2)));                   // the cut-off day itself stays
  action(2, iso(plusDays(now, -3)) + L" 23:59:59");   // the last second before it goes
  action(3, iso(now) + L" 08:00:00");
  rotate(periodCondition(L"day", 2, L"Jet"));
  EXPECT_EQ(actions(), (std::vector<std::wstring>{L"1", L"3"}));
  EXPECT_EQ(components(), (std::vector<std::wstring>{L"1", L"3"}));

  action(4, iso(plusDays(now, -14)));
  action(5, iso(plusDays(now, -15)));
  rotate(periodCondition(L"week", 2, L"Jet"));
  EXPECT_EQ(actions(), (std::vector<std::wstring>{L"1", L"3", L"4"}));

  action(6, iso(plusMonths(now, -1)));
  action(7, iso(plusDays(plusMonths(now, -1), -1)) + L" 12:00:00");
  rotate(periodCondition(L"month", 1, L"Jet"));
  EXPECT_EQ(actions(), (std::vector<std::wstring>{L"1", L"3", L"4", L"6"}));
  EXPECT_EQ(components(), (std::vector<std::wstring>{L"1", L"3", L"4", L"6"}));
}

TEST_F(JetActionLog, ByNumberCutsAtTheRecordAfterTheKeptOnes) {
  for (int i = 1; i <= 12; ++i) action(i, vformat(L"2024-01-%02d 10:00:00", i));
  const uint64_t keep = 10;
  EXPECT_EQ(single(L"SELECT count(*) FROM log_actions"), L"12");
  VRecordSet rs = db().query(L"SELECT `date` FROM log_actions ORDER BY `date` DESC ");
  for (uint64_t i = 0; i < keep; ++i) ASSERT_TRUE(rs.next());
  ASSERT_TRUE(rs.next());
  const std::wstring condition = L"`date` < " + formatDate(rs.get(L"date", L"", true), L"Jet");
  EXPECT_EQ(condition, L"`date` < CDate('2024-01-02 10:00:00')");
  rotate(condition);
  EXPECT_EQ(actions().size(), 11u);
  EXPECT_EQ(actions().front(), L"2");
  EXPECT_EQ(components().size(), 11u);
}

TEST_F(JetStatements, LogRotationPolicyJoinsTheTextParameterWithCstr) {
  db().execute(L"INSERT INTO log_rotation (id, period_type, period, max_number_of_logfiles, compress_enable, email, "
               L"turned_on) VALUES (12, 'by_time', 'daily', 5, 'true', '', 'TRUE')");
  db().execute(L"INSERT INTO log_rotation (id, period_type, period, max_number_of_logfiles, compress_enable, email, "
               L"turned_on) VALUES (2, 'by_size', '1000', 1, 'false', '', 'true')");
  db().execute(L"INSERT INTO dom_param (dom_id, param, val) VALUES (3, 'logrotation_id', '12')");
  db().execute(L"INSERT INTO dom_param (dom_id, param, val) VALUES (4, 'other', '2')");
  const std::wstring query =
      L"SELECT l.max_number_of_logfiles, l.compress_enable, l.email, l.turned_on, l.period_type, l.period FROM "
      L"`log_rotation` l, `dom_param` dp WHERE dp.param='logrotation_id' AND dp.val=cstr(l.id) AND dp.dom_id=";
  VRecordSet rs = db().query(query + db().escape(L"3"));
  ASSERT_TRUE(rs.next());
  EXPECT_EQ(rs.get(0), L"5");
  EXPECT_EQ(rs.get(3), L"TRUE");
  EXPECT_EQ(rs.get(5), L"daily");
  EXPECT_FALSE(rs.next());
  EXPECT_FALSE(db().query(query + L"4").next());
}

TEST_F(JetStatements, DnsHostIsMatchedByTheConcatenatedName) {
  db().execute(L"INSERT INTO domains (id, name, cl_id, dns_zone_id) VALUES (1, 'example.com', 1, 10)");
  db().execute(L"INSERT INTO domains (id, name, cl_id, dns_zone_id) VALUES (2, 'other.net', 1, 20)");
  db().execute(L"INSERT INTO dns_recs (dns_zone_id, type, host, val) VALUES (10, 'CNAME', 'WWW.Example.COM.', 'x')");
  db().execute(L"INSERT INTO dns_recs (dns_zone_id, type, host, val) VALUES (20, 'MX', 'www.other.net.', 'x')");
  db().execute(L"INSERT INTO subdomains (dom_id, name) VALUES (1, 'shop')");
  auto count = [&](int id, const std::wstring& label) {
    return single(L"SELECT COUNT(*) FROM domains d, dns_recs dns WHERE d.dns_zone_id = dns.dns_zone_id AND (d.id = " +
                  std::to_wstring(id) + L") AND ((dns.type = 'A') OR (dns.type = 'CNAME')) AND (dns.host = ('" + label +
                  L".' + d.name + '.'))");
  };
  EXPECT_EQ(count(1, L"www"), L"1");
  EXPECT_EQ(count(1, L"mail"), L"0");
  EXPECT_EQ(count(2, L"www"), L"0");  // only A and CNAME records count
  EXPECT_EQ(single(L"SELECT COUNT(*) FROM subdomains s, domains d WHERE s.dom_id = d.id AND (d.id = 1) AND (s.name = '" +
                   db().escape(L"SHOP") + L"')"),
            L"1");
}

class JetLimits : public JetStatements {
 protected:
  void SetUp() override {
    JetStatements::SetUp();
    const Day now = today();
    // Client 1 with a traffic limit of 100; client 2 unlimited.
    db().execute(L"INSERT INTO clients (id, login, limits_id) VALUES (1, 'c1', 100)");
    db().execute(L"INSERT INTO clients (id, login, limits_id) VALUES (2, 'c2', 200)");
    limit(100, L"max_traffic", 100);
    limit(200, L"disk_space", -1);
    // Domain 1: disk limit 1000, traffic limit 0; domain 2: no disk_usage row; domain 3:
    // all limits unlimited; domain 4 of client 2: a MySQL limit.
    domain(1, 1, 11, 2000);
    limit(11, L"disk_space", 1000);
    limit(11, L"max_traffic", 0);
    domain(2, 1, 12, 0);
    limit(12, L"disk_space", 5);
    domain(3, 1, 13, 0);
    limit(13, L"disk_space", -1);
    domain(4, 2, 14, 10);
    limit(14, L"mysql_dbase_space", 50);
    db().execute(L"INSERT INTO disk_usage (dom_id, mysql_dbases) VALUES (1, 7)");
    db().execute(L"INSERT INTO disk_usage (dom_id, mysql_dbases, mssql_dbases) VALUES (3, 1, 1)");
    db().execute(L"INSERT INTO disk_usage (dom_id, mysql_dbases) VALUES (4, 60)");
    // This month's traffic of domain 1 and an older month that must not count.
    trafficRow(1, {now.year, now.month, 1}, 10, 3);
    trafficRow(1, plusDays({now.year, now.month, 1}, -1), 1000, 1000);
  }
  void limit(int id, const std::wstring& name, int64_t value) {
    db().execute(vformat(L"INSERT INTO Limits (id, limit_name, value) VALUES (%d, '%s', %I64d)", id, name, value));
  }
  void domain(int id, int client, int limits, int64_t realSize) {
    db().execute(vformat(L"INSERT INTO domains (id, name, cl_id, limits_id, real_size) VALUES (%d, 'd%d.com', %d, %d, %I64d)",
                         id, id, client, limits, realSize));
  }
  void trafficRow(int domain, Day day, int64_t in, int64_t out) {
    db().execute(vformat(L"INSERT INTO DomainsTraffic (dom_id, `date`, http_in, smtp_out) VALUES (%d, '%s', %I64d, %I64d)",
                         domain, iso(day), in, out));
  }
  std::wstring domainQuery(const wchar_t* in, const wchar_t* joiner, const wchar_t* out) {
    return vformat(
               L"SELECT  d.id, MAX(d.cl_id), MAX(lim_disk_space.value), MAX(lim_max_traffic.value), "
               L"MAX(lim_mysql_dbase_space.value), MAX(lim_mssql_dbase_space.value), MAX(d.real_size), %s%s%s, "
               L"MAX(dd.mysql_dbases), MAX(dd.mssql_dbases) FROM ((((((domains d  INNER JOIN disk_usage dd on "
               L"dd.dom_id = d.id)  LEFT JOIN DomainsTraffic tr ON ( tr.dom_id = d.id AND ",
               std::wstring(in), std::wstring(joiner), std::wstring(out)) +
           getThisYaerAndThisMonthCondition(L"Jet") +
           L") ) LEFT JOIN clients cl ON d.cl_id = cl.id) LEFT JOIN Limits lim_disk_space ON (d.limits_id = "
           L"lim_disk_space.id AND lim_disk_space.limit_name = 'disk_space' ) ) LEFT JOIN Limits lim_max_traffic ON "
           L"(d.limits_id = lim_max_traffic.id AND lim_max_traffic.limit_name = 'max_traffic' ) ) LEFT JOIN Limits "
           L"lim_mysql_dbase_space ON ( d.limits_id = lim_mysql_dbase_space.id AND lim_mysql_dbase_space.limit_name "
           L"= 'mysql_dbase_space' ) ) LEFT JOIN Limits lim_mssql_dbase_space ON ( d.limits_id = "
           L"lim_mssql_dbase_space.id AND lim_mssql_dbase_space.limit_name = 'mssql_dbase_space' )  WHERE  "
           L"(((lim_disk_space.value + 0) >= 0) OR ((lim_max_traffic.value + 0) >= 0) OR "
           L"((lim_mysql_dbase_space.value + 0) >= 0) OR ((lim_mssql_dbase_space.value + 0) >= 0))  GROUP BY d.id " +
           L" ORDER BY MAX(d.cl_id)";
  }
  // Every row, columns joined by "|".
  std::vector<std::wstring> rows(const std::wstring& sql) {
    std::vector<std::wstring> out;
    VRecordSet rs = db().query(sql);
    while (rs.next()) {
      std::wstring row;
      for (int32_t i = 0; i < rs.fieldCount(); ++i) row += (i ? L"|" : L"") + rs.get(i, L"-");
      out.push_back(row);
    }
    return out;
  }
};

constexpr const wchar_t* kIncoming = L"SUM(tr.http_in) + SUM(tr.ftp_in) + SUM(tr.smtp_in) + SUM(tr.pop3_imap_in)";
constexpr const wchar_t* kOutgoing = L"SUM(tr.http_out) + SUM(tr.ftp_out) + SUM(tr.smtp_out) + SUM(tr.pop3_imap_out)";

TEST_F(JetLimits, DomainQueryRunsAsWrittenWithItsNestedJoins) {
  EXPECT_EQ(rows(domainQuery(kIncoming, L" + ", kOutgoing)),
            (std::vector<std::wstring>{L"1|1|1000|0|-|-|2000|13|7|0", L"4|2|-|-|50|-|10|-|60|0"}));
  EXPECT_EQ(rows(domainQuery(kIncoming, L"", L"")).front(), L"1|1|1000|0|-|-|2000|10|7|0");
  EXPECT_EQ(rows(domainQuery(L"", L"", kOutgoing)).front(), L"1|1|1000|0|-|-|2000|3|7|0");
  // "traffic_accounting" 4 leaves the traffic column empty: the statement fails.
  EXPECT_THROW(db().query(domainQuery(L"", L"", L"")), vexception);
}

TEST_F(JetLimits, ClientQueryReturnsClientsWithALimit) {
  EXPECT_EQ(rows(L"SELECT DISTINCT cl.id, lim_disk_space.value, lim_max_traffic.value, lim_mysql_dbase_space.value, "
                 L"lim_mssql_dbase_space.value FROM (((`clients` cl LEFT JOIN Limits lim_disk_space ON "
                 L"(lim_disk_space.limit_name = 'disk_space' AND cl.limits_id = lim_disk_space.id ) ) LEFT JOIN Limits "
                 L"lim_max_traffic ON (lim_max_traffic.limit_name = 'max_traffic' AND cl.limits_id = lim_max_traffic.id ) "
                 L") LEFT JOIN Limits lim_mysql_dbase_space ON ( lim_mysql_dbase_space.limit_name = 'mysql_dbase_space' "
                 L"AND cl.limits_id = lim_mysql_dbase_space.id ) )  LEFT JOIN Limits lim_mssql_dbase_space ON ( "
                 L"lim_mssql_dbase_space.limit_name = 'mssql_dbase_space' AND cl.limits_id = lim_mssql_dbase_space.id )  "
                 L"WHERE  (((lim_disk_space.value + 0) >= 0) OR ((lim_max_traffic.value + 0) >= 0) OR "
                 L"((lim_mysql_dbase_space.value + 0) >= 0) OR ((lim_mssql_dbase_space.value + 0) >= 0))"),
            (std::vector<std::wstring>{L"1|-|100|-|-"}));
}

TEST_F(JetStatements, AntivirusCountsAreRecountedFromTheLastDayAndExpire) {
  const std::wstring insert =
      L"insert into avstatistics(`type`, `date`, `name`, `val`) values( '%s', %s, '%s', %I64d )";
  const Day now = today();
  const Day old = plusDays(now, -31);
  for (Day day : {old, plusDays(now, -30), now}) {
    db().executeFormat(insert, std::wstring(L"summary"), formatDate(iso(day), L"Jet"), db().escape(L"clean"), int64_t{4});
    db().executeFormat(insert, std::wstring(L"spam_summary"), formatDate(iso(day), L"Jet"), db().escape(L"it's"),
                       int64_t{1});
  }
  // Recount from the last day: that day's antivirus rows go, the spam rows stay.
  db().executeFormat(L"delete from avstatistics where `date` >= %s and ( `type` = '%ssummary' OR `type` = '%sviruses' "
                     L"OR `type` = '%srecipients' )",
                     formatDate(iso(now), L"Jet"), std::wstring(), std::wstring(), std::wstring());
  EXPECT_EQ(single(L"SELECT COUNT(*) FROM avstatistics WHERE `type` = 'summary'"), L"2");
  EXPECT_EQ(single(L"SELECT name FROM avstatistics WHERE `type` = 'spam_summary' AND `date` = " +
                   formatDate(iso(now), L"Jet")),
            L"it's");
  // Retention of 30 days.
  db().executeFormat(L"delete from avstatistics where `date` < %s ", formatDate(iso(plusDays(now, -30)), L"Jet"));
  EXPECT_EQ(single(L"SELECT COUNT(*) FROM avstatistics WHERE `date` = " + formatDate(iso(old), L"Jet")), L"0");
  EXPECT_EQ(single(L"SELECT COUNT(*) FROM avstatistics"), L"3");
}

TEST_F(JetStatements, SettingsAndLookupsOfTheControlPanel) {
  for (const wchar_t* value : {L"first", L"sec'ond \"quoted\""}) {
    db().provider().replace(L"DELETE FROM misc WHERE param = 'admin_email'",
                            vformat(L"INSERT INTO misc (param, val) VALUES ('%s', '%s')", db().escape(L"admin_email"),
                                    db().escape(value)));
  }
  EXPECT_EQ(single(L"SELECT val FROM misc WHERE (param = 'ADMIN_EMAIL')"), L"sec'ond \"quoted\"");
  EXPECT_EQ(single(L"SELECT COUNT(*) FROM misc"), L"1");

  // Both spellings of the address table name one table.
  db().execute(L"INSERT INTO IP_Addresses (id, ip_address) VALUES (5, '10.0.0.7')");
  db().execute(L"INSERT INTO domains (id, name, cl_id, htype) VALUES (9, 'anon.org', 1, 'vrt_hst')");
  db().execute(L"INSERT INTO hosting (dom_id, ip_address_id) VALUES (9, 5)");
  db().execute(L"INSERT INTO anon_ftp (dom_id, status) VALUES (9, 'true')");
  VRecordSet rs = db().query(
      L"SELECT d.id, d.name FROM domains d, hosting h, ip_addresses ip, anon_ftp af WHERE (ip_address = '10.0.0.7') AND "
      L"h.ip_address_id = ip.id AND (d.htype = 'vrt_hst') AND (af.status = 'true') AND af.dom_id = d.id AND h.dom_id = "
      L"d.id");
  ASSERT_TRUE(rs.next());
  EXPECT_EQ(rs.get(1), L"anon.org");

  db().execute(L"INSERT INTO accounts (id, password) VALUES (3, 'pw')");
  db().execute(L"INSERT INTO sys_users (id, login, account_id) VALUES (4, 'web', 3)");
  db().execute(L"INSERT INTO subdomains (id, dom_id, name, sys_user_id) VALUES (6, 9, 'blog', 4)");
  VRecordSet subs = db().query(
      L"SELECT s.id, s.dom_id, s.sys_user_type, s.name, s.displayName, s.server_id, u.login, a.password, s.coldfusion, "
      L"s.ssi, s.ssi_html, s.php, s.php_handler_type, s.php_version, s.cgi, s.perl, s.python, s.asp, s.asp_dot_net, "
      L"s.managed_runtime_version, s.miva, s.fp, s.fp_enable, s.fp_no_index, s.htype, s.www_root, s.webstat FROM ( "
      L"subdomains s INNER JOIN sys_users u ON u.id = s.sys_user_id ) LEFT OUTER JOIN accounts a ON a.id = "
      L"u.account_id WHERE (s.dom_id = 9)");
  ASSERT_TRUE(subs.next());
  EXPECT_EQ(subs.get(L"password"), L"pw");
  EXPECT_EQ(subs.get(L"sys_user_type"), L"native");
}

}  // namespace
