// The control-panel connection with the real management service: its settings and stored
// password reach the connection, a fallback login's password is stored back, and the SQL
// helpers follow the configured engine as it changes.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "db/cdr_database.h"
#include "db/sql_dialect.h"
#include "platform/service/cadrosrv_client.h"
#include "platform/text/text_codec.h"
#include "testing/provider_test_engines.h"
#include "testing/scoped_environment.h"
#include "testing/service_process.h"
#include "testing/temp_dir.h"

using namespace testing_support;

namespace {

class CDRDatabaseWithServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (auto why = MySQLProviderEngine::unavailable()) GTEST_SKIP() << *why;
    for (const char* name : {"CADRO_DB_HOST", "CADRO_DB_LOGIN", "CADRO_DB_NAME", "CADRO_DB_PASSWD", "CADRO_DB_PORT",
                             "CADRO_DB_SOCK"})
      env.unset(name);
    engine_ = std::make_unique<MySQLProviderEngine>();
    CadroSrvClient::resetInstance();
  }
  void TearDown() override { CadroSrvClient::resetInstance(); }

  const MySQLTestServer& server() { return engine_->scratch().server(); }

  // Service settings that name the scratch database over TCP.
  std::string config(const std::string& password, const std::string& provider = "MySQL") {
    return "[settings]\n"
           "CADRO_DATABASE_PROVIDER_NAME = " + provider + "\n"
           "MySQL_DB_HOST = " + text::toUtf8(server().host) + "\n"
           "MySQL_DB_PORT = " + std::to_string(server().port) + "\n"
           "CADRO_DATABASE_LOGIN = " + text::toUtf8(server().user) + "\n"
           "mySQLDBName = " + text::toUtf8(engine_->scratch().name()) + "\n"
           "[passwords]\n"
           "pwd = " + password + "\n";
  }

  static std::wstring single(CDRDatabase& db, const std::wstring& sql) {
    VRecordSet rs = db.query(sql);
    EXPECT_TRUE(rs.next());
    return rs.get(0);
  }

  ScopedEnvironment env;
  std::unique_ptr<MySQLProviderEngine> engine_;
};

TEST_F(CDRDatabaseWithServiceTest, ConnectsWithWhatTheServiceHolds) {
  ServiceProcess service(config(text::toUtf8(server().password)));
  CDRDatabase db(true);
  EXPECT_EQ(single(db, L"SELECT USER()"), server().user + L"@127.0.0.1");
  EXPECT_EQ(single(db, L"SELECT DATABASE()"), engine_->scratch().name());
}

TEST_F(CDRDatabaseWithServiceTest, AFallbackLoginsPasswordIsStoredWithTheService) {
  const char* defaultSocket = std::getenv("MYSQL_UNIX_PORT");
  if (!defaultSocket || text::fromAnsi(defaultSocket) != server().socket)
    GTEST_SKIP() << "MYSQL_UNIX_PORT does not name the test server's socket";
  MySQLServerLoginsLock loginsLock(server());
  MySQLDatabaseProvider& admin = engine_->scratch().admin();
  ScopedFallbackLogin fallbackLogin(admin);

  ServiceProcess service(config("outdated"));
  CDRDatabase db(true);
  EXPECT_EQ(single(db, L"SELECT CURRENT_USER()"), L"admin@localhost");
  EXPECT_EQ(CadroSrvClient::getInstance().getPassword(L"pwd"), L"kvorn");
}

TEST_F(CDRDatabaseWithServiceTest, SqlHelpersFollowTheConfiguredEngineAtEachCall) {
  ServiceProcess service(config("unused", "Jet"));
  EXPECT_EQ(formatDate(L"2024-01-02"), L"CDate('2024-01-02')");
  EXPECT_EQ(periodCondition(L"day", 1), L" `date` < DATEADD( \"d\", -1, DATE() ) ");

  // The service rereads its configuration on every request.
  writeFile(service.configPath(), config("unused", "MSSQL"));
  EXPECT_EQ(formatDate(L"2024-01-02"), L"'2024-01-02'");
  EXPECT_EQ(getThisYaerAndThisMonthCondition(),
            L" YEAR(tr.date) = YEAR(GETDATE()) AND MONTH(tr.date) = MONTH(GETDATE()) ");

  // Without the service the default engine applies.
  service.stop();
  CadroSrvClient::resetInstance();
  EXPECT_EQ(getThisYaerAndThisMonthCondition(), L" YEAR(tr.date) = YEAR(NOW()) AND MONTH(tr.date) = MONTH(NOW()) ");
  EXPECT_EQ(periodCondition(L"week", 1), L"`date` < DATE_SUB(CURRENT_DATE(),INTERVAL 7 DAY)");
}

}  // namespace
