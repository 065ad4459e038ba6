// What is particular to the MySQL provider: the client library's messages and escaping,
// the settings made on connecting, lost connections and the retry with a reconnect handler.
#include "db/mysql_provider.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "db/jet_provider.h"
#include "platform/text/text_codec.h"
#include "platform/report/vexception.h"
#include "testing/controlpanel_schema.h"
#include "testing/log_recorder.h"
#include "testing/recording_ado_engine.h"
#include "testing/provider_test_engines.h"

using namespace testing_support;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

std::string messageOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const vexception& e) {
    return text::toUtf8(e.message());
  }
  return "(no exception)";
}

TEST(MySQLVersionRule, ComparesDottedNumbers) {
  EXPECT_EQ(compareDottedVersions(L"4.1", L"4.1"), 0);
  EXPECT_EQ(compareDottedVersions(L"4.0.27", L"4.1"), -1);
  EXPECT_EQ(compareDottedVersions(L"4.1.22-log", L"4.1"), 1);
  EXPECT_EQ(compareDottedVersions(L"5.0.45-community-nt", L"4.1"), 1);
  EXPECT_EQ(compareDottedVersions(L"10.11.19-MariaDB-0+deb12u1", L"4.1"), 1);
  EXPECT_EQ(compareDottedVersions(L"3.23.58", L"4.1"), -1);
  // A tie where only one side goes on with a dot: that side is higher.
  EXPECT_EQ(compareDottedVersions(L"4", L"4.1"), -1);
  EXPECT_EQ(compareDottedVersions(L"4.1", L"4"), 1);
  // Anything but a dot after a number ends the comparison.
  EXPECT_EQ(compareDottedVersions(L"4.1-log", L"4.1"), 0);
  EXPECT_EQ(compareDottedVersions(L"4.1a.9", L"4.1"), 0);
  EXPECT_EQ(compareDottedVersions(L"", L"0"), 0);
  EXPECT_EQ(compareDottedVersions(L"4.0.0", L"4.0.0"), 0);
  EXPECT_EQ(compareDottedVersions(L"3.9.9", L"4.0.0"), -1);
}

TEST(MySQLProviderOffline, NeedsAConnectionForStatementsAndEscaping) {
  MySQLDatabaseProvider db;
  EXPECT_FALSE(db.isConnected());
  EXPECT_FALSE(db.ping());
  EXPECT_EQ(db.providerName(), L"MySQL");
  EXPECT_EQ(db.lastError(), L"");
  EXPECT_EQ(db.lastInsertId(), 0);
  EXPECT_EQ(messageOf([&] { db.escape(L"x"); }), "MySQLDatabaseProvider is not connected");
  EXPECT_EQ(messageOf([&] { db.query(L"SELECT 1"); }), "MySQLDatabaseProvider is not connected");
  EXPECT_EQ(messageOf([&] { db.execute(L"SELECT 1"); }), "MySQLDatabaseProvider is not connected");
  db.disconnect();
}

class MySQLProviderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (auto why = MySQLProviderEngine::unavailable()) GTEST_SKIP() << *why;
    engine_ = std::make_unique<MySQLProviderEngine>();
    db_ = engine_->scratch().connect();
  }

  MySQLDatabaseProvider& db() { return *db_; }
  MySQLScratchDatabase& scratch() { return engine_->scratch(); }

  std::wstring single(const std::wstring& sql) {
    VRecordSet rs = db_->query(sql);
    EXPECT_TRUE(rs.next());
    return rs.get(0);
  }

  // Ends the provider's session from a second one, as a server restart or an administrator
  // would. The next statement finds the server gone (2006).
  void killSession() {
    std::wstring id = single(L"SELECT CONNECTION_ID()");
    scratch().admin().execute(L"KILL " + id);
  }

  // Ends the provider's session while it runs a statement starting with `prefix`: the
  // statement loses its connection (2013). Returns the thread that does it.
  std::thread killDuring(const std::wstring& prefix) {
    std::wstring id = single(L"SELECT CONNECTION_ID()");
    return std::thread([this, id, prefix] {
      auto admin = scratch().server().connectAsAdmin();
      for (int i = 0; i < 1000; ++i) {
        VRecordSet running = admin->query(L"SELECT COUNT(*) FROM information_schema.processlist WHERE id = " + id +
                                          L" AND info LIKE '" + admin->escape(prefix) + L"%'");
        if (running.next() && running.get(0) == L"1") break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      admin->execute(L"KILL " + id);
    });
  }

  std::unique_ptr<MySQLProviderEngine> engine_;
  std::unique_ptr<MySQLDatabaseProvider> db_;
};

TEST_F(MySQLProviderTest, ConnectingSetsIsolationAndCharacterSet) {
  EXPECT_TRUE(db().isConnected());
  EXPECT_TRUE(db().ping());
  EXPECT_EQ(single(L"SELECT @@SESSION.tx_isolation"), L"READ-UNCOMMITTED");
  EXPECT_THAT(text::toUtf8(single(L"SELECT @@SESSION.character_set_client")), StartsWith("utf8"));
  EXPECT_THAT(text::toUtf8(single(L"SELECT @@SESSION.character_set_results")), StartsWith("utf8"));
  EXPECT_EQ(compareDottedVersions(db().version(), L"4.1"), 1);
  EXPECT_EQ(single(L"SELECT DATABASE()"), scratch().name());
}

TEST_F(MySQLProviderTest, AFailedConnectReportsTheServerAndLeavesNoConnection) {
  const MySQLTestServer& server = scratch().server();
  try {
    db().connect(L"localhost", scratch().name(), server.user, L"wrong password", 0, server.socket);
    FAIL() << "connected with a wrong password";
  } catch (const VDatabase::ConnectException& e) {
    EXPECT_THAT(text::toUtf8(e.message()),
                StartsWith("Failed to connect to database: Access denied for user '" + text::toUtf8(server.user) + "'"));
    EXPECT_EQ(e.contexts().at(0).operation, "MySQLDatabaseProvider::connect");
  }
  EXPECT_FALSE(db().isConnected());

  // TCP, with a port nobody listens on.
  EXPECT_THAT(messageOf([&] { db().connect(L"127.0.0.1", L"", server.user, server.password, 1, L""); }),
              StartsWith("Failed to connect to database: "));
  EXPECT_FALSE(db().isConnected());

  db().connect(server.host, scratch().name(), server.user, server.password, server.port, L"");
  EXPECT_EQ(single(L"SELECT 1"), L"1");
}

TEST_F(MySQLProviderTest, ConnectingChecksOnceThatTableNamesIgnoreCase) {
  const MySQLTestServer& server = scratch().server();
  LogRecorder log;
  db().connect(L"localhost", scratch().name(), server.user, server.password, 0, server.socket);
  int checks = 0;
  for (const LoggedMessage& m : log.take()) checks += m.text == L"MySQLDatabaseProvider Query: SELECT @@lower_case_table_names";
  EXPECT_EQ(checks, 1);

  // The answers of other servers, through an engine that answers as told.
  auto engine = std::make_shared<RecordingAdoEngine>();
  JetDatabaseProvider answering([] { return std::wstring(L"/opt/cadro"); },
                                RecordingAdoEngine::catalogFor(engine, L"Microsoft.Jet.OLEDB.4.0"));
  answering.connect(L"", L"/data/cdr.mdb", L"", L"", 0, L"");
  const struct {
    std::vector<ado::Cell> rows;
    const char* failure;  // null: accepted
  } answers[] = {
      {{L"1"}, nullptr},
      {{L"0"}, "The MySQL server must run with lower_case_table_names=1 (it runs with lower_case_table_names=0)"},
      {{L"2"}, "The MySQL server must run with lower_case_table_names=1 (it runs with lower_case_table_names=2)"},
      {{}, "The MySQL server must run with lower_case_table_names=1 (it runs with lower_case_table_names=unknown)"},
  };
  for (const auto& answer : answers) {
    engine->answer = [&](const std::wstring&) { return RecordingAdoEngine::rows(answer.rows); };
    if (!answer.failure) {
      EXPECT_NO_THROW(requireCaseBlindTableNames(answering));
      continue;
    }
    try {
      requireCaseBlindTableNames(answering);
      ADD_FAILURE() << "accepted: " << answer.failure;
    } catch (const VDatabase::UnsuitableServerException& e) {
      EXPECT_THAT(text::toUtf8(e.message()), StartsWith(answer.failure));
    }
  }
}

// The test server lets root, or the account running the tests, in over the socket without a
// password, as Debian's does.
TEST_F(MySQLProviderTest, APasswordOnlyLoginIsNeverLetInByTheOperatingSystemAccount) {
  const MySQLTestServer& server = scratch().server();
  const struct {
    std::wstring login;
    std::wstring password;
    const char* failure;  // null: connects
  } logins[] = {
      {server.user, server.password, nullptr},
      {server.user, L"wrong password", "Access denied for user"},
      {L"", L"", "(operating-system authentication)"},
      {L"root", L"", "(operating-system authentication)"},
  };
  for (const auto& login : logins) {
    SCOPED_TRACE(text::toUtf8(login.login));
    MySQLDatabaseProvider provider;
    const std::string message =
        messageOf([&] { provider.connectWithPasswordOnly(L"localhost", L"", login.login, login.password, 0, server.socket); });
    EXPECT_EQ(provider.isConnected(), login.failure == nullptr);
    if (login.failure) {
      EXPECT_THAT(message, StartsWith("Failed to connect to database: "));
      EXPECT_THAT(message, HasSubstr(login.failure));
    }
  }
}

TEST_F(MySQLProviderTest, StatementFailuresCarryTheServerError) {
  EXPECT_THAT(messageOf([&] { db().execute(L"SELECT * FROM no_such_table"); }),
              StartsWith("Can't execute SELECT * FROM no_such_table: MySql error 1146:Table '"));
  EXPECT_THAT(messageOf([&] { db().query(L"SELEKT 1"); }),
              StartsWith("Can't query SELEKT 1: MySQLDatabaseProvider error 1064:You have an error in your SQL syntax"));
  // The connection stays usable.
  EXPECT_EQ(single(L"SELECT 2"), L"2");
}

TEST_F(MySQLProviderTest, AStatementWithoutRowsRunsButYieldsNoRecordSet) {
  db().execute(L"CREATE TABLE samples (id INT, label VARCHAR(20))");
  db().execute(L"INSERT INTO samples VALUES (1, 'a')");
  EXPECT_EQ(messageOf([&] { db().query(L"UPDATE samples SET label = 'b'"); }),
            "Can't get result for query UPDATE samples SET label = 'b' MySQLDatabaseProvider error ");
  EXPECT_EQ(single(L"SELECT label FROM samples"), L"b");
  // Rows from execute are drained, so the next statement is not out of step.
  db().execute(L"SELECT * FROM samples");
  EXPECT_EQ(single(L"SELECT COUNT(*) FROM samples"), L"1");
}

TEST_F(MySQLProviderTest, EscapeIsTheClientLibrarysOverUtf8) {
  EXPECT_EQ(db().escape(L"a'b\"c\\d"), L"a\\'b\\\"c\\\\d");
  EXPECT_EQ(db().escape(L"Grüße 日本"), L"Grüße 日本");
  EXPECT_EQ(db().escape(L"line\nnext\r\x1A"), L"line\\nnext\\r\\Z");
  EXPECT_EQ(db().escape(std::wstring(L"a\0b", 3)), L"a\\0b");

  // A NUL inside a value survives the trip.
  db().execute(L"CREATE TABLE samples (label VARBINARY(20))");
  db().execute(L"INSERT INTO samples VALUES ('" + db().escape(std::wstring(L"a\0b", 3)) + L"')");
  EXPECT_EQ(single(L"SELECT label FROM samples"), std::wstring(L"a\0b", 3));
}

TEST_F(MySQLProviderTest, ColumnNamesAreExactAndTheLaterDuplicateWins) {
  VRecordSet rs = db().query(L"SELECT 1 AS a, 2 AS b, 3 AS a, 4 AS Été");
  EXPECT_EQ(rs.columnIndex(L"a"), 2);
  EXPECT_EQ(rs.columnIndex(L"A"), -1);
  EXPECT_EQ(rs.columnIndex(L"Été"), 3);
  EXPECT_EQ(rs.columnName(3), L"Été");
}

TEST_F(MySQLProviderTest, RecordSetsOutliveTheirProvider) {
  VRecordSet rs = db().query(L"SELECT 'kept'");
  db_.reset();
  ASSERT_TRUE(rs.next());
  EXPECT_EQ(rs.get(0), L"kept");
}

TEST_F(MySQLProviderTest, ReplaceRewritesInsertsAndRejectsAnythingElse) {
  createControlPanelSchema(db(), SqlDialect::MySQL);
  db().replace(L"ignored", L"insert into misc (param, val) values ('p', 'one')");
  db().replace(L"DELETE FROM misc", L"Insert into misc (param, val) values ('p', 'two')");
  EXPECT_EQ(single(L"SELECT COUNT(*) FROM misc"), L"1");
  EXPECT_EQ(single(L"SELECT val FROM misc"), L"two");

  EXPECT_EQ(messageOf([&] { db().replace(L"", L"UPDATE misc SET val = 'x'"); }),
            "Can't execute replace(). Invalid INSERT request: UPDATE misc SET val = 'x'");
  EXPECT_EQ(messageOf([&] { db().replace(L"", L" INSERT INTO misc VALUES ('q', 'r')"); }),
            "Can't execute replace(). Invalid INSERT request:  INSERT INTO misc VALUES ('q', 'r')");
  EXPECT_EQ(messageOf([&] { db().replace(L"", L"INSERT"); }), "Can't execute replace(). Invalid INSERT request: INSERT");
  EXPECT_EQ(single(L"SELECT val FROM misc"), L"two");
}

TEST_F(MySQLProviderTest, NextCounterValueKeepsOnlyTheLastRow) {
  createControlPanelSchema(db(), SqlDialect::MySQL);
  db().nextCounterValue(L"", L"");
  int64_t last = db().nextCounterValue(L"", L"");
  EXPECT_EQ(single(L"SELECT COUNT(*) FROM ms_jet_counter"), L"1");
  EXPECT_EQ(single(L"SELECT id FROM ms_jet_counter"), std::to_wstring(last));
}

TEST_F(MySQLProviderTest, TablesAndDatabasesAreFoundAndSwitched) {
  db().execute(L"CREATE TABLE Mixed_Case (id INT)");
  EXPECT_TRUE(db().tableExists(L"mixed_case"));
  EXPECT_TRUE(db().tableExists(L"Mixed_Case"));
  EXPECT_FALSE(db().tableExists(L"absent"));
  db().useDatabase(L"information_schema");
  EXPECT_EQ(single(L"SELECT DATABASE()"), L"information_schema");
}

TEST_F(MySQLProviderTest, StatementsAreTraced) {
  LogRecorder log;
  db().execute(L"DO 1");
  db().query(L"SELECT 1");
  EXPECT_TRUE(log.contains(0, L"MySQLDatabaseProvider Execute: DO 1"));
  EXPECT_TRUE(log.contains(0, L"MySQLDatabaseProvider Query: SELECT 1"));
}

// Reconnects to the scratch database, or (when `reconnects` is false) only counts the calls.
class CountingReconnect : public ReconnectHandler {
 public:
  CountingReconnect(const MySQLScratchDatabase& scratch, bool reconnects) : scratch_(scratch), reconnects_(reconnects) {}
  void reconnect(IDatabaseProvider& provider) override {
    ++calls;
    if (!reconnects_) return;
    const MySQLTestServer& server = scratch_.server();
    provider.connect(L"localhost", scratch_.name(), server.user, server.password, 0, server.socket);
  }
  int calls = 0;

 private:
  const MySQLScratchDatabase& scratch_;
  bool reconnects_;
};

TEST_F(MySQLProviderTest, AKilledSessionFailsTheNextStatementsWithoutReconnecting) {
  killSession();
  EXPECT_EQ(messageOf([&] { db().execute(L"DO 1"); }), "Can't execute DO 1: MySql error 2006:Server has gone away");
  // The client library must not have reconnected by itself.
  EXPECT_EQ(messageOf([&] { db().query(L"SELECT 1"); }),
            "Can't query SELECT 1: MySQLDatabaseProvider error 2006:Server has gone away");
  EXPECT_FALSE(db().ping());

  db_ = scratch().connect();
  std::thread killer = killDuring(L"DO SLEEP");
  EXPECT_EQ(messageOf([&] { db().execute(L"DO SLEEP(5)"); }),
            "Can't execute DO SLEEP(5): MySql error 2013:Lost connection to server during query");
  killer.join();
}

TEST_F(MySQLProviderTest, QueryIsSentAgainAfterReconnectingWhenTheServerWentAway) {
  CountingReconnect handler(scratch(), true);
  db().setReconnectHandler(&handler);
  killSession();
  LogRecorder log;
  EXPECT_EQ(single(L"SELECT 7"), L"7");
  EXPECT_EQ(handler.calls, 1);
  EXPECT_TRUE(log.contains(0, L"MySQLDatabaseProvider::query reconnect"));

  std::thread killer = killDuring(L"SELECT SLEEP");
  EXPECT_EQ(single(L"SELECT SLEEP(0.5) + 8"), L"8");
  killer.join();
  EXPECT_EQ(handler.calls, 2);
}

TEST_F(MySQLProviderTest, ExecuteIsSentAgainOnlyWhenTheConnectionWasLostDuringIt) {
  CountingReconnect handler(scratch(), true);
  db().setReconnectHandler(&handler);
  std::thread killer = killDuring(L"DO SLEEP");
  db().execute(L"DO SLEEP(0.5)");
  killer.join();
  EXPECT_EQ(handler.calls, 1);

  killSession();
  EXPECT_EQ(messageOf([&] { db().execute(L"DO 1"); }), "Can't execute DO 1: MySql error 2006:Server has gone away");
  EXPECT_EQ(handler.calls, 1);
}

TEST_F(MySQLProviderTest, AStatementIsSentAgainOnlyOnce) {
  CountingReconnect handler(scratch(), false);
  db().setReconnectHandler(&handler);
  killSession();
  EXPECT_EQ(messageOf([&] { db().query(L"SELECT 1"); }),
            "Can't query SELECT 1: MySQLDatabaseProvider error 2006:Server has gone away");
  EXPECT_EQ(handler.calls, 1);
}

TEST_F(MySQLProviderTest, TransactionDepthFollowsTheStatementsThatRan) {
  db().beginTransaction();
  EXPECT_EQ(db().transactionDepth(), 1);
  killSession();
  EXPECT_THAT(messageOf([&] { db().commitTransaction(); }), StartsWith("Can't execute COMMIT: MySql error 2006"));
  EXPECT_EQ(db().transactionDepth(), 0);
  EXPECT_THAT(messageOf([&] { db().beginTransaction(); }), StartsWith("Can't execute START TRANSACTION"));
  EXPECT_EQ(db().transactionDepth(), 0);
}

}  // namespace
