// The control-panel connection: settings from the environment and the service, the
// fallback logins, tracing, and the process-wide instance.
#include "db/cdr_database.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "db/connection_settings.h"
#include "db/mysql_provider.h"
#include "platform/text/text_codec.h"
#include "platform/report/vexception.h"
#include "testing/fake_service_settings.h"
#include "testing/log_recorder.h"
#include "testing/provider_test_engines.h"
#include "testing/scoped_environment.h"
#include "testing/stub_database_provider.h"

using namespace testing_support;
using ::testing::ElementsAre;
using ::testing::StartsWith;

namespace {

const char* const kDatabaseVariables[] = {"CADRO_DB_HOST",   "CADRO_DB_LOGIN", "CADRO_DB_NAME",
                                          "CADRO_DB_PASSWD", "CADRO_DB_PORT",  "CADRO_DB_SOCK"};

std::string messageOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const vexception& e) {
    return text::toUtf8(e.message());
  }
  return "(no exception)";
}

std::string narrow(const std::wstring& s) { return text::toAnsi(s); }

class ConnectionSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kDatabaseVariables) env.unset(name);
  }
  ScopedEnvironment env;
  FakeServiceSettings service;
};

TEST_F(ConnectionSettingsTest, DefaultsApplyWhenTheServiceHasNoSettings) {
  service.storedPassword = L"secret";
  ConnectionSettings s = resolveConnectionSettings(L"", service);
  EXPECT_EQ(s.host, L"localhost");
  EXPECT_EQ(s.login, L"admin");
  EXPECT_EQ(s.database, L"cdr");
  EXPECT_EQ(s.password, L"secret");
  EXPECT_EQ(s.port, 8306);
  EXPECT_EQ(s.socket, L"");

  service.storedPassword.reset();
  EXPECT_EQ(messageOf([&] { resolveConnectionSettings(L"", service); }), "getPassword('pwd')");
}

TEST_F(ConnectionSettingsTest, NonEmptyEnvironmentVariablesWinOverTheService) {
  service.values = {{L"MySQL_DB_HOST", L"db.example"},
                    {L"CADRO_DATABASE_LOGIN", L"panel"},
                    {L"mySQLDBName", L"panel_db"},
                    {L"MySQL_DB_PORT", L"3306"}};
  service.storedPassword = L"from service";
  env.set("CADRO_DB_HOST", "");
  env.set("CADRO_DB_LOGIN", "");
  ConnectionSettings s = resolveConnectionSettings(L"", service);
  EXPECT_EQ(s.host, L"db.example");
  EXPECT_EQ(s.login, L"panel");
  EXPECT_EQ(s.database, L"panel_db");
  EXPECT_EQ(s.port, 3306);

  env.set("CADRO_DB_HOST", "envhost");
  env.set("CADRO_DB_LOGIN", "envlogin");
  env.set("CADRO_DB_NAME", "envdb");
  env.set("CADRO_DB_PASSWD", "envpass");
  env.set("CADRO_DB_PORT", " 3307 and more");
  env.set("CADRO_DB_SOCK", "/run/envsock");
  service.storedPassword.reset();  // not asked when the environment has it
  s = resolveConnectionSettings(L"", service);
  EXPECT_EQ(s.host, L"envhost");
  EXPECT_EQ(s.login, L"envlogin");
  EXPECT_EQ(s.database, L"envdb");
  EXPECT_EQ(s.password, L"envpass");
  EXPECT_EQ(s.port, 3307);
  EXPECT_EQ(s.socket, L"/run/envsock");

  // A host passed in is used as it is.
  EXPECT_EQ(resolveConnectionSettings(L"given", service).host, L"given");
}

TEST(CDRDatabaseProviderChoice, FollowsTheConfiguredProviderName) {
  FakeServiceSettings service;
  EXPECT_EQ(CDRDatabase(false, service).provider().providerName(), L"MySQL");
  service.values[L"CADRO_DATABASE_PROVIDER_NAME"] = L"";
  EXPECT_EQ(CDRDatabase(false, service).provider().providerName(), L"MySQL");
  service.values[L"CADRO_DATABASE_PROVIDER_NAME"] = L"mysql";
  EXPECT_EQ(messageOf([&] { CDRDatabase(false, service); }), "Unable to build database provider mysql");
}

// Records the connection chain: how each attempt connects, and fails as told.
class ChainProvider : public StubDatabaseProvider {
 public:
  void connect(const std::wstring&, const std::wstring&, const std::wstring& login, const std::wstring&, int32_t,
               const std::wstring&) override {
    attempts.push_back(L"connect " + login);
    fail();
  }
  void connectWithPasswordOnly(const std::wstring&, const std::wstring&, const std::wstring& login,
                               const std::wstring&, int32_t, const std::wstring&) override {
    attempts.push_back(L"password only " + login);
    fail();
  }
  bool isConnected() const override { return false; }
  void fail() {
    if (unsuitable) throw VDatabase::UnsuitableServerException(L"unsuitable");
    throw VDatabase::ConnectException(L"refused");
  }
  bool unsuitable = false;
  std::vector<std::wstring> attempts;
};

TEST(CDRDatabaseChain, FallbacksNeedTheirPasswordAndAnUnsuitableServerEndsTheChain) {
  ScopedEnvironment env;
  for (const char* name : kDatabaseVariables) env.unset(name);
  FakeServiceSettings service;
  service.values[L"CADRO_DATABASE_LOGIN"] = L"panel";
  service.storedPassword = L"secret";
  for (bool unsuitable : {false, true}) {
    auto provider = std::make_unique<ChainProvider>();
    ChainProvider& chain = *provider;
    chain.unsuitable = unsuitable;
    CDRDatabase db(std::move(provider), service, false);
    EXPECT_THROW(db.connect(), VDatabase::ConnectException);
    if (unsuitable)
      EXPECT_THAT(chain.attempts, ElementsAre(L"connect panel"));
    else
      EXPECT_THAT(chain.attempts,
                  ElementsAre(L"connect panel", L"password only ", L"password only root", L"password only admin"));
  }
}

class CDRDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (auto why = MySQLProviderEngine::unavailable()) GTEST_SKIP() << *why;
    for (const char* name : kDatabaseVariables) env.unset(name);
    engine_ = std::make_unique<MySQLProviderEngine>();
  }

  const MySQLTestServer& server() { return engine_->scratch().server(); }
  const std::wstring& scratchName() { return engine_->scratch().name(); }

  // The service's settings name the scratch database, over TCP.
  void serviceNamesTheScratchDatabase() {
    service.values = {{L"MySQL_DB_HOST", server().host},
                      {L"MySQL_DB_PORT", std::to_wstring(server().port)},
                      {L"CADRO_DATABASE_LOGIN", server().user},
                      {L"mySQLDBName", scratchName()}};
    service.storedPassword = server().password;
  }

  std::unique_ptr<CDRDatabase> open(bool connectNow) {
    return std::make_unique<CDRDatabase>(std::make_unique<MySQLDatabaseProvider>(), service, connectNow);
  }

  static std::wstring single(CDRDatabase& db, const std::wstring& sql) {
    VRecordSet rs = db.query(sql);
    EXPECT_TRUE(rs.next());
    return rs.get(0);
  }

  ScopedEnvironment env;
  FakeServiceSettings service;
  std::unique_ptr<MySQLProviderEngine> engine_;
};

TEST_F(CDRDatabaseTest, ConnectsWithTheServiceSettingsAndOnlyOnce) {
  serviceNamesTheScratchDatabase();
  auto db = open(true);
  EXPECT_EQ(single(*db, L"SELECT USER()"), server().user + L"@127.0.0.1");
  EXPECT_EQ(single(*db, L"SELECT DATABASE()"), scratchName());
  std::wstring session = single(*db, L"SELECT CONNECTION_ID()");
  db->connect();
  EXPECT_EQ(single(*db, L"SELECT CONNECTION_ID()"), session);
  EXPECT_TRUE(service.passwordsSet.empty());
}

TEST_F(CDRDatabaseTest, EnvironmentVariablesNameTheDatabase) {
  service.values = {{L"CADRO_DATABASE_LOGIN", L"nobody"}, {L"mySQLDBName", L"nothing"}};
  env.set("CADRO_DB_HOST", "");  // empty: the service's host (here the default "localhost")
  env.set("CADRO_DB_SOCK", narrow(server().socket));
  env.set("CADRO_DB_LOGIN", narrow(server().user));
  env.set("CADRO_DB_PASSWD", narrow(server().password));
  env.set("CADRO_DB_NAME", narrow(scratchName()));
  auto overSocket = open(true);
  EXPECT_EQ(single(*overSocket, L"SELECT USER()"), server().user + L"@localhost");
  EXPECT_EQ(single(*overSocket, L"SELECT DATABASE()"), scratchName());

  // An empty CADRO_DB_HOST leaves the host to the service: TCP to 127.0.0.1.
  env.unset("CADRO_DB_SOCK");
  env.set("CADRO_DB_PORT", std::to_string(server().port));
  service.values[L"MySQL_DB_HOST"] = server().host;
  auto overTcp = open(true);
  EXPECT_EQ(single(*overTcp, L"SELECT USER()"), server().user + L"@127.0.0.1");
}

// The fallback logins go to the client library's default socket, which the test run points
// at the test server (MYSQL_UNIX_PORT); they change and depend on server-wide logins. The
// test server lets the operating-system account in over the socket as Debian's does (root,
// or the account running the tests), which no fallback may use.
TEST_F(CDRDatabaseTest, FallbackLoginsFollowAWrongPasswordAndNeedTheirPassword) {
  const char* defaultSocket = std::getenv("MYSQL_UNIX_PORT");
  if (!defaultSocket || text::fromAnsi(defaultSocket) != server().socket)
    GTEST_SKIP() << "MYSQL_UNIX_PORT does not name the test server's socket";
  MySQLServerLoginsLock loginsLock(server());
  serviceNamesTheScratchDatabase();
  service.storedPassword = L"wrong password";

  // What the fallbacks must not do: the empty login becomes the operating-system account,
  // which the server admits without a password.
  MySQLDatabaseProvider unchecked;
  ASSERT_NO_THROW(unchecked.connect(L"localhost", L"", L"", L"", 0, L"")) << "the test server has no socket login";
  unchecked.disconnect();

  // None of the fallbacks is accepted: the last one's failure is what the caller sees.
  LogRecorder log;
  try {
    open(true);
    FAIL() << "connected with a wrong password";
  } catch (const VDatabase::ConnectException& e) {
    EXPECT_THAT(narrow(e.message()), StartsWith("Failed to connect to database: Access denied for user 'admin'@'localhost'"));
  }
  EXPECT_TRUE(service.passwordsSet.empty());
  bool refused = false;
  for (const LoggedMessage& m : log.take())
    refused = refused || narrow(m.text).find("in without checking the password (operating-system authentication)") !=
                             std::string::npos;
  EXPECT_TRUE(refused);

  MySQLDatabaseProvider& admin = engine_->scratch().admin();
  ScopedFallbackLogin fallbackLogin(admin);

  auto db = open(true);
  EXPECT_EQ(single(*db, L"SELECT CURRENT_USER()"), L"admin@localhost");
  ASSERT_EQ(service.passwordsSet.size(), 1u);
  EXPECT_EQ(service.passwordsSet[0].first, L"pwd");
  EXPECT_EQ(service.passwordsSet[0].second, L"kvorn");

  // Failing to store the password does not undo the connection.
  service.failSetPassword = true;
  auto again = open(true);
  EXPECT_TRUE(again->provider().isConnected());
}

TEST_F(CDRDatabaseTest, StatementsAreTracedAndFailuresKeepTheConnection) {
  serviceNamesTheScratchDatabase();
  auto db = open(true);
  LogRecorder log;
  db->executeFormat(L"DO %d + %I64d", 1, int64_t{1} << 40);
  EXPECT_TRUE(log.contains(0, L"SQL: DO 1 + 1099511627776"));
  EXPECT_EQ(db->queryFormat(L"SELECT '%s'", db->escape(L"it's")).get(0, L"none"), L"none");  // before the first row
  VRecordSet rs = db->queryFormat(L"SELECT '%s'", db->escape(L"it's"));
  ASSERT_TRUE(rs.next());
  EXPECT_EQ(rs.get(0), L"it's");
  EXPECT_TRUE(log.contains(0, L"SQL: SELECT 'it\\'s'"));

  EXPECT_THAT(messageOf([&] { db->query(L"SELEKT"); }), StartsWith("Can't query SELEKT: MySQLDatabaseProvider error 1064"));
  EXPECT_EQ(single(*db, L"SELECT 5"), L"5");
}

TEST_F(CDRDatabaseTest, TheSharedInstanceLivesWhileAStartupScopeDoes) {
  env.set("CADRO_DB_HOST", "localhost");
  env.set("CADRO_DB_SOCK", narrow(server().socket));
  env.set("CADRO_DB_LOGIN", narrow(server().user));
  env.set("CADRO_DB_PASSWD", narrow(server().password));
  env.set("CADRO_DB_NAME", narrow(scratchName()));
  {
    CDRDatabase::SharedScope startup;
    CDRDatabase& shared = CDRDatabase::shared();
    EXPECT_TRUE(shared.provider().isConnected());
    {
      CDRDatabase::SharedScope another;
      EXPECT_EQ(&CDRDatabase::shared(), &shared);
    }
    EXPECT_EQ(single(CDRDatabase::shared(), L"SELECT DATABASE()"), scratchName());
  }
  try {
    CDRDatabase::shared();
    FAIL() << "the shared instance outlived its last scope";
  } catch (const vexception& e) {
    EXPECT_EQ(e.message(), L"The control-panel database is not created");
    EXPECT_EQ(e.contexts().back().operation, "CDRDatabase::shared");
  }
}

TEST_F(CDRDatabaseTest, AStartupConnectionFailureIsReportedAndConnectTriesAgain) {
  MySQLServerLoginsLock loginsLock(server());  // no fallback login may be accepted meanwhile
  env.set("CADRO_DB_HOST", "localhost");
  env.set("CADRO_DB_SOCK", narrow(server().socket));
  env.set("CADRO_DB_LOGIN", narrow(server().user));
  env.set("CADRO_DB_PASSWD", "wrong password");
  env.set("CADRO_DB_NAME", narrow(scratchName()));
  LogRecorder log;
  CDRDatabase::SharedScope startup;
  CDRDatabase& shared = CDRDatabase::shared();
  EXPECT_FALSE(shared.provider().isConnected());
  bool reported = false;
  for (const LoggedMessage& m : log.take())
    reported = reported || (m.level == 1 && narrow(m.text).rfind("Failed to connect to database: ", 0) == 0);
  EXPECT_TRUE(reported);

  env.set("CADRO_DB_PASSWD", narrow(server().password));
  shared.connect();
  EXPECT_EQ(single(shared, L"SELECT DATABASE()"), scratchName());
}

}  // namespace
