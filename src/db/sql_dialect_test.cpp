// The engine-specific SQL: exact texts for every provider name, the failure rules, and the
// MySQL forms run against the real server.
#include "db/sql_dialect.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "db/cdr_database.h"
#include "platform/text/text_codec.h"
#include "platform/report/vexception.h"
#include "testing/controlpanel_schema.h"
#include "testing/fake_service_settings.h"
#include "testing/log_recorder.h"
#include "testing/provider_test_engines.h"
#include "testing/stub_database_provider.h"

using namespace testing_support;

namespace {

// Records the statements it is given instead of running them.
class RecordingProvider : public StubDatabaseProvider {
 public:
  explicit RecordingProvider(std::vector<std::wstring>& executed) : executed_(executed) {}
  std::wstring providerName() const override { return L"Recording"; }
  void execute(const std::wstring& sql) override { executed_.push_back(sql); }

 private:
  std::vector<std::wstring>& executed_;
};

struct Recorded {
  FakeServiceSettings service;
  std::vector<std::wstring> executed;
  CDRDatabase db{std::make_unique<RecordingProvider>(executed), service, false};

  explicit Recorded(const std::wstring& providerName) { service.values[L"CADRO_DATABASE_PROVIDER_NAME"] = providerName; }
};

std::string failureOf(const std::function<void()>& call, std::string* operation = nullptr) {
  try {
    call();
  } catch (const vexception& e) {
    if (operation) *operation = e.contexts().empty() ? "" : e.contexts().front().operation;
    return text::toUtf8(e.message());
  }
  return "(no exception)";
}

TEST(SqlDialect, DateLiteralsAndThisMonthPerEngine) {
  EXPECT_EQ(formatDate(L"2024-02-29", L"MySQL"), L"'2024-02-29'");
  EXPECT_EQ(formatDate(L"2024-02-29", L"mysql"), L"'2024-02-29'");
  EXPECT_EQ(formatDate(L"2024-02-29", L"MSSQL"), L"'2024-02-29'");
  EXPECT_EQ(formatDate(L"2024-02-29", L"jet"), L"CDate('2024-02-29')");

  EXPECT_EQ(getThisYaerAndThisMonthCondition(L"MYSQL"),
            L" YEAR(tr.date) = YEAR(NOW()) AND MONTH(tr.date) = MONTH(NOW()) ");
  EXPECT_EQ(getThisYaerAndThisMonthCondition(L"MSSQL"),
            L" YEAR(tr.date) = YEAR(GETDATE()) AND MONTH(tr.date) = MONTH(GETDATE()) ");
  EXPECT_EQ(getThisYaerAndThisMonthCondition(L"Jet"),
            L" YEAR(tr.date) = YEAR(DATE()) AND MONTH(tr.date) = MONTH(DATE()) ");
}

TEST(SqlDialect, UnusableProviderNamesFailTheLiteralHelpers) {
  std::string operation;
  EXPECT_EQ(failureOf([] { formatDate(L"2024-01-01", L""); }, &operation), "Cadro database provider is not defined");
  EXPECT_EQ(operation, "formatDate");
  EXPECT_EQ(failureOf([] { formatDate(L"2024-01-01", L"Oracle"); }, &operation),
            "Cadro database provider 'Oracle' is not supported");
  EXPECT_EQ(operation, "formatDate");
  EXPECT_EQ(failureOf([] { getThisYaerAndThisMonthCondition(L""); }, &operation),
            "Cadro database provider is not defined");
  EXPECT_EQ(operation, "getThisYaerAndThisMonthCondition");
  EXPECT_EQ(failureOf([] { getThisYaerAndThisMonthCondition(L"Oracle"); }, &operation),
            "Cadro database provider 'Oracle' is unknown");
  EXPECT_EQ(operation, "getThisYaerAndThisMonthCondition");
}

TEST(SqlDialect, PeriodConditionsMapTheUnitsAndNeverFail) {
  EXPECT_EQ(periodCondition(L"week", 2, L"MySQL"), L"`date` < DATE_SUB(CURRENT_DATE(),INTERVAL 14 DAY)");
  EXPECT_EQ(periodCondition(L"day", 3, L"MySQL"), L"`date` < DATE_SUB(CURRENT_DATE(),INTERVAL 3 DAY)");
  EXPECT_EQ(periodCondition(L"month", 1, L"MySQL"), L"`date` < DATE_SUB(CURRENT_DATE(),INTERVAL 1 MONTH)");
  EXPECT_EQ(periodCondition(L"YEAR", 1, L"MySQL"), L"`date` < DATE_SUB(CURRENT_DATE(),INTERVAL 1 YEAR)");
  EXPECT_EQ(periodCondition(L"week", 400000000, L"MySQL"),
            L"`date` < DATE_SUB(CURRENT_DATE(),INTERVAL 2800000000 DAY)");

  EXPECT_EQ(periodCondition(L"week", 2, L"MSSQL"), L" `date` < DATEADD( ww, -2, GETDATE() ) ");
  EXPECT_EQ(periodCondition(L"day", 5, L"Jet"), L" `date` < DATEADD( \"d\", -5, DATE() ) ");
  EXPECT_EQ(periodCondition(L"month", 6, L"Jet"), L" `date` < DATEADD( \"m\", -6, DATE() ) ");
  // Compared exactly: anything but "MySQL" and "Jet" gets the SQL Server form.
  EXPECT_EQ(periodCondition(L"month", 6, L"mysql"), L" `date` < DATEADD( m, -6, GETDATE() ) ");
  EXPECT_EQ(periodCondition(L"day", 1, L""), L" `date` < DATEADD( d, -1, GETDATE() ) ");
}

TEST(SqlDialect, RetentionStatementsPerEngine) {
  struct Case {
    const wchar_t* provider;
    const wchar_t* traffic;
    const wchar_t* beforePreviousMonth;
  };
  const Case cases[] = {
      {L"MySQL",
       L"delete from DomainsTraffic    where (dom_id=42) and (date_sub(CURDATE(), interval 3 month)>`date`)",
       L"DELETE FROM `SitePagesStat` WHERE "
       L"(DATE_SUB(DATE_SUB(CURDATE(), INTERVAL DAYOFMONTH(CURDATE()) DAY), INTERVAL 1 MONTH)) > `date`"},
      {L"mssql", L"delete from DomainsTraffic    where (dom_id=42) and (dateadd( m, -3, GETDATE())>`date`)",
       L"DELETE FROM `SitePagesStat` WHERE (DATEADD(m, -1, DATEADD(d, -(DAY(GETDATE()) - 1), GETDATE()))) > `date`"},
      {L"Jet", L"delete from DomainsTraffic    where (dom_id=42) and (dateadd( 'm', -3, DATE())>`date`)",
       L"DELETE FROM `SitePagesStat` WHERE (DATEADD('m', -1, DATEADD('d', -(DAY(DATE()) - 1), DATE()))) > `date`"},
  };
  for (const Case& c : cases) {
    Recorded r(c.provider);
    deleteOldDomainTraffic(r.db, L"42", 3);
    deleteBeforePreviousMonth(r.db, L"SitePagesStat");
    ASSERT_EQ(r.executed.size(), 2u) << text::toUtf8(c.provider);
    EXPECT_EQ(r.executed[0], c.traffic);
    EXPECT_EQ(r.executed[1], c.beforePreviousMonth);
  }
}

TEST(SqlDialect, RetentionStatementsSkipUnlimitedRetentionAndUnusableNames) {
  Recorded unlimited(L"MySQL");
  deleteOldDomainTraffic(unlimited.db, L"1", 0);
  deleteOldDomainTraffic(unlimited.db, L"1", -2);
  EXPECT_TRUE(unlimited.executed.empty());

  LogRecorder log;
  Recorded undefined(L"");
  deleteOldDomainTraffic(undefined.db, L"1", 3);
  deleteBeforePreviousMonth(undefined.db, L"SitePagesStat");
  Recorded unknown(L"Oracle");
  deleteOldDomainTraffic(unknown.db, L"1", 3);
  deleteBeforePreviousMonth(unknown.db, L"SitePagesStat");
  EXPECT_TRUE(undefined.executed.empty());
  EXPECT_TRUE(unknown.executed.empty());
  int notDefined = 0, notSupported = 0;
  for (const LoggedMessage& m : log.take()) {
    if (m.level != 3) continue;
    notDefined += m.text == L"Cadro database provider is not defined";
    notSupported += m.text == L"Cadro database engine type 'Oracle' is not supported";
  }
  EXPECT_EQ(notDefined, 2);
  EXPECT_EQ(notSupported, 2);
}

// The MySQL texts run on the server and select what they should.
class SqlDialectOnMySQL : public ::testing::Test {
 protected:
  void SetUp() override {
    if (auto why = MySQLProviderEngine::unavailable()) GTEST_SKIP() << *why;
    engine_ = std::make_unique<MySQLProviderEngine>();
    db_ = std::make_unique<CDRDatabase>(engine_->connect(), service, false);
    createControlPanelSchema(db_->provider(), SqlDialect::MySQL);
  }

  std::wstring single(const std::wstring& sql) {
    VRecordSet rs = db_->query(sql);
    EXPECT_TRUE(rs.next());
    return rs.get(0);
  }

  FakeServiceSettings service;  // provider name: the default, "MySQL"
  std::unique_ptr<MySQLProviderEngine> engine_;
  std::unique_ptr<CDRDatabase> db_;
};

TEST_F(SqlDialectOnMySQL, OldTrafficOfTheDomainIsDeleted) {
  CDRDatabase& db = *db_;
  db.execute(L"INSERT INTO DomainsTraffic (dom_id, `date`, http_in) VALUES "
             L"(1, CURDATE(), 1), (1, DATE_SUB(CURDATE(), INTERVAL 11 MONTH), 2), "
             L"(1, DATE_SUB(CURDATE(), INTERVAL 13 MONTH), 3), (2, DATE_SUB(CURDATE(), INTERVAL 13 MONTH), 4)");
  deleteOldDomainTraffic(db, L"1", 12);
  EXPECT_EQ(single(L"SELECT GROUP_CONCAT(http_in ORDER BY http_in) FROM DomainsTraffic"), L"1,2,4");

  EXPECT_EQ(single(L"SELECT COUNT(*) FROM DomainsTraffic tr WHERE" + getThisYaerAndThisMonthCondition(L"MySQL")), L"1");
  EXPECT_EQ(single(L"SELECT COUNT(*) FROM DomainsTraffic WHERE `date` = " + formatDate(L"1999-12-31", L"MySQL")), L"0");
}

TEST_F(SqlDialectOnMySQL, RowsBeforeThePreviousMonthAreDeleted) {
  CDRDatabase& db = *db_;
  // Today, the first day of the previous month, and three months before that.
  db.execute(L"INSERT INTO SitePagesStat (`date`, hits) VALUES (CURDATE(), 1), "
             L"(DATE_SUB(DATE_SUB(CURDATE(), INTERVAL DAYOFMONTH(CURDATE()) - 1 DAY), INTERVAL 1 MONTH), 2), "
             L"(DATE_SUB(DATE_SUB(CURDATE(), INTERVAL DAYOFMONTH(CURDATE()) - 1 DAY), INTERVAL 4 MONTH), 3)");
  deleteBeforePreviousMonth(db, L"SitePagesStat");
  EXPECT_EQ(single(L"SELECT GROUP_CONCAT(hits ORDER BY hits) FROM SitePagesStat"), L"1,2");
}

TEST_F(SqlDialectOnMySQL, PeriodConditionsSelectOlderRows) {
  CDRDatabase& db = *db_;
  db.execute(L"INSERT INTO log_actions (`date`, action_name) VALUES (NOW(), 'new'), "
             L"(DATE_SUB(NOW(), INTERVAL 10 DAY), 'ten days'), (DATE_SUB(NOW(), INTERVAL 20 DAY), 'twenty days')");
  auto olderThan = [&](const wchar_t* unit, int count) {
    return single(L"SELECT COUNT(*) FROM log_actions WHERE " + periodCondition(unit, count, L"MySQL"));
  };
  EXPECT_EQ(olderThan(L"week", 2), L"1");
  EXPECT_EQ(olderThan(L"day", 5), L"2");
  EXPECT_EQ(olderThan(L"month", 1), L"0");
}

}  // namespace
