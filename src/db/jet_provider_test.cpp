// The Jet provider on a real SQLite file: what connect does and refuses, the failures of
// statements, values as text, nested transactions, and several connections sharing the
// file.
#include "db/jet_provider.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "db/cdr_database.h"
#include "platform/service/cadrosrv_client.h"
#include "platform/service/product_paths.h"
#include "platform/registry/registry.h"
#include "platform/text/text_codec.h"
#include "platform/report/vexception.h"
#include "testing/jet_test_database.h"
#include "testing/log_recorder.h"
#include "testing/recording_ado_engine.h"
#include "testing/scoped_environment.h"
#include "testing/service_process.h"
#include "testing/temp_dir.h"

using namespace testing_support;
using ::testing::ElementsAre;
using ::testing::Pair;

namespace {

std::wstring wide(const std::string& s) { return text::fromUtf8(s); }

template <typename F>
vexception failureOf(F&& call) {
  try {
    call();
  } catch (const vexception& e) {
    return e;
  }
  return vexception(L"(no exception)");
}

class JetProviderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env.unset("TEMP");
    env.unset("TMP");
  }
  std::wstring single(IDatabaseProvider& db, const std::wstring& sql) {
    VRecordSet rs = db.query(sql);
    EXPECT_TRUE(rs.next()) << text::toUtf8(sql);
    return rs.get(0, L"NULL");
  }

  ScopedSystemRoot root;
  ScopedEnvironment env;
};

TEST_F(JetProviderTest, ConnectPointsTheTemporaryDirectoriesIntoTheProduct) {
  JetTestDatabase file(true);
  auto db = file.connect();
  EXPECT_TRUE(db->isConnected());
  EXPECT_EQ(db->providerName(), L"Jet");
  EXPECT_EQ(std::string(std::getenv("TEMP")), file.productRoot() + "/admin/db");
  EXPECT_EQ(std::string(std::getenv("TMP")), file.productRoot() + "/admin/db");
  EXPECT_TRUE(db->tableExists(L"domainstraffic"));
  EXPECT_FALSE(db->tableExists(L"nosuch"));
  db->disconnect();
  EXPECT_FALSE(db->isConnected());
}

TEST_F(JetProviderTest, OpensWithoutLoginAndSetsTheCommitProperties) {
  auto engine = std::make_shared<RecordingAdoEngine>();
  JetDatabaseProvider db([] { return std::wstring(L"/opt/cadro"); },
                         RecordingAdoEngine::catalogFor(engine, L"Microsoft.Jet.OLEDB.4.0"));
  db.connect(L"", L"/data/cdr.mdb", L"admin", L"secret", 8306, L"/run/socket");
  ASSERT_EQ(engine->opens.size(), 1u);
  EXPECT_EQ(engine->opens[0].connectionString, L"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/data/cdr.mdb");
  EXPECT_EQ(engine->opens[0].login, L"");
  EXPECT_EQ(engine->opens[0].password, L"");
  EXPECT_THAT(engine->properties, ElementsAre(Pair(L"Jet OLEDB:Transaction Commit Mode", 1),
                                              Pair(L"Jet OLEDB:Implicit Commit Sync", 1)));
  EXPECT_EQ(db.connectionString(L"localhost", L"/x.mdb"), L"Provider='Microsoft.Jet.OLEDB.4.0';Data Source=/x.mdb");
  EXPECT_EQ(std::string(std::getenv("TEMP")), "/opt/cadro/admin/db");

  // The counter: one insert, its identity, and the table emptied.
  engine->answer = [](const std::wstring&) { return RecordingAdoEngine::rows({L"17"}); };
  engine->calls.clear();
  EXPECT_EQ(db.nextCounterValue(L"domains", L"id"), 17);
  EXPECT_THAT(engine->calls, ElementsAre(L"execute: insert into ms_jet_counter(val) values( 0 )",
                                         L"query: SELECT @@IDENTITY", L"execute: delete from ms_jet_counter"));
}

TEST_F(JetProviderTest, RefusesARemoteHostBeforeOpeningAnything) {
  auto engine = std::make_shared<RecordingAdoEngine>();
  JetDatabaseProvider db([] { return std::wstring(L"/opt/cadro"); },
                         RecordingAdoEngine::catalogFor(engine, L"Microsoft.Jet.OLEDB.4.0"));
  vexception e = failureOf([&] { db.connect(L"db.example.net", L"/data/cdr.mdb", L"", L"", 0, L""); });
  EXPECT_EQ(e.message(), L"Jet support only local databases");
  EXPECT_EQ(e.contexts().front().operation, "JetDatabaseProvider::connectionString");
  EXPECT_TRUE(engine->opens.empty());
  EXPECT_THROW(db.connect(L"LOCALHOST", L"/data/cdr.mdb", L"", L"", 0, L""), vexception);  // compared exactly
}

TEST_F(JetProviderTest, AFailedConnectLeavesTheEarlierConnectionClosed) {
  auto engine = std::make_shared<RecordingAdoEngine>();
  bool rootFails = false;
  JetDatabaseProvider db(
      [&]() -> std::wstring {
        if (rootFails) throw vexception(L"no product root");
        return L"/opt/cadro";
      },
      RecordingAdoEngine::catalogFor(engine, L"Microsoft.Jet.OLEDB.4.0"));
  const struct {
    const char* failure;
    std::wstring host;
    bool rootFails;
    bool openFails;
  } failures[] = {
      {"a remote host", L"db.example.net", false, false},
      {"no product root", L"", true, false},
      {"the engine refuses the file", L"", false, true},
  };
  for (const auto& failure : failures) {
    SCOPED_TRACE(failure.failure);
    rootFails = false;
    engine->onOpen = nullptr;
    db.connect(L"", L"/data/cdr.mdb", L"", L"", 0, L"");
    ASSERT_TRUE(db.isConnected());
    rootFails = failure.rootFails;
    if (failure.openFails)
      engine->onOpen = [](const RecordingAdoEngine::Open&) { throw ado::EngineError(L"Could not find file."); };
    EXPECT_THROW(db.connect(failure.host, L"/data/other.mdb", L"", L"", 0, L""), vexception);
    EXPECT_FALSE(db.isConnected());
  }
}

TEST_F(JetProviderTest, AMissingOrForeignFileIsAConnectionFailure) {
  TempDir dir;
  const std::wstring root = wide(dir.path());
  JetDatabaseProvider db([root] { return root; });
  const std::string missing = dir.file("missing.mdb");
  vexception e = failureOf([&] { db.connect(L"localhost", wide(missing), L"", L"", 0, L""); });
  EXPECT_EQ(e.message(), L"Unable to ADO conect with connection string: Provider='Microsoft.Jet.OLEDB.4.0';Data Source=" +
                             wide(missing));
  EXPECT_EQ(e.contexts().front().text, L"Could not find file '" + wide(missing) + L"'.");
  EXPECT_FALSE(fileExists(missing));  // never created
  EXPECT_FALSE(db.isConnected());

  const std::string foreign = dir.file("notes.mdb");
  writeFile(foreign, std::string(4096, 'x'));
  e = failureOf([&] { db.connect(L"", wide(foreign), L"", L"", 0, L""); });
  EXPECT_EQ(e.contexts().front().text, L"Unrecognized database format '" + wide(foreign) + L"'.");
  EXPECT_EQ(db.lastError(), L"Unrecognized database format '" + wide(foreign) + L"'.");

  e = failureOf([&] { db.connect(L"", L"", L"", L"", 0, L""); });
  EXPECT_EQ(e.contexts().front().text, L"Could not find file ''.");
}

TEST_F(JetProviderTest, AProductRootThatCannotBeReadFailsTheConnect) {
  JetTestDatabase file;
  JetDatabaseProvider db([]() -> std::wstring { throw vexception(L"getString(PRODUCT_ROOT_D)"); });
  vexception e = failureOf([&] { db.connect(L"", wide(file.path()), L"", L"", 0, L""); });
  EXPECT_EQ(e.message(), L"getString(PRODUCT_ROOT_D)");
  EXPECT_EQ(e.contexts().back().text, L"Unable to set environment variable");
  EXPECT_EQ(e.contexts().back().operation, "JetDatabaseProvider::connect");
  EXPECT_FALSE(db.isConnected());
}

TEST_F(JetProviderTest, StatementFailuresCarrySQLitesTextAndOneStatementRunsPerCall) {
  JetTestDatabase file(true);
  auto db = file.connect();
  vexception e = failureOf([&] { db->execute(L"DELETE FROM `nosuch`"); });
  EXPECT_EQ(e.message(), L"no such table: nosuch");
  EXPECT_EQ(e.contexts().front().operation, "VADOConnection::execute");
  EXPECT_EQ(db->lastError(), L"no such table: nosuch");

  e = failureOf([&] { db->execute(L"DELETE FROM misc; DROP TABLE misc"); });
  EXPECT_EQ(e.message(), L"Characters found after end of SQL statement.");
  EXPECT_TRUE(db->tableExists(L"misc"));
  db->execute(L"DELETE FROM misc;  ");  // a closing ";" is fine

  e = failureOf([&] { db->execute(std::wstring(L"DELETE FROM misc WHERE param = 'a\0' OR 1=1", 42)); });
  EXPECT_EQ(e.message(), L"Characters found after end of SQL statement.");
  EXPECT_THROW(db->execute(L"  "), vexception);

  // A query that yields no rows at all has run, then fails as ADO's closed record set.
  e = failureOf([&] { db->query(L"INSERT INTO misc (param, val) VALUES ('ran', 'yes')"); });
  EXPECT_EQ(e.message(), L"Operation is not allowed when the object is closed.");
  EXPECT_EQ(e.contexts().front().operation, "VADORecordSet::open");
  EXPECT_EQ(single(*db, L"SELECT val FROM misc WHERE param = 'ran'"), L"yes");
}

TEST_F(JetProviderTest, ValuesComeBackAsText) {
  JetTestDatabase file(true);
  auto db = file.connect();
  db->execute(L"CREATE TABLE v (i INTEGER, r REAL, t TEXT, d DATE, n TEXT)");
  db->execute(L"INSERT INTO v VALUES (-9000000000, 0.1, 'Grüße', CDate('2024-01-05'), NULL)");
  VRecordSet rs = db->query(L"SELECT i, r, t, d, n, r * 3 AS tripled FROM v");
  ASSERT_TRUE(rs.next());
  EXPECT_EQ(rs.get(0), L"-9000000000");
  EXPECT_EQ(rs.get(1), L"0.1");
  EXPECT_EQ(rs.get(2), L"Grüße");
  EXPECT_EQ(rs.get(3), L"2024-01-05");
  EXPECT_TRUE(rs.isNull(4));
  EXPECT_EQ(rs.get(L"TRIPLED"), L"0.30000000000000004");  // names as ADO finds them
  EXPECT_EQ(rs.columnName(5), L"tripled");
}

TEST_F(JetProviderTest, InnerTransactionsRollBackAlone) {
  JetTestDatabase file(true);
  auto db = file.connect();
  db->beginTransaction();
  db->execute(L"INSERT INTO misc (param, val) VALUES ('outer', '1')");
  db->beginTransaction();
  db->execute(L"INSERT INTO misc (param, val) VALUES ('inner', '1')");
  db->rollbackTransaction();
  db->beginTransaction();
  db->execute(L"INSERT INTO misc (param, val) VALUES ('kept', '1')");
  db->commitTransaction();
  EXPECT_EQ(db->transactionDepth(), 1);
  db->commitTransaction();
  EXPECT_EQ(db->transactionDepth(), 0);
  EXPECT_EQ(single(*db, L"SELECT COUNT(*) FROM misc"), L"2");
  EXPECT_EQ(single(*db, L"SELECT COUNT(*) FROM misc WHERE param = 'inner'"), L"0");

  // Without a transaction, commit fails and the depth stays.
  EXPECT_THROW(db->commitTransaction(), vexception);
  EXPECT_EQ(db->transactionDepth(), 0);
}

// Holds the file's write lock from a second connection for `holdFor`.
class WriteLockHolder {
 public:
  WriteLockHolder(const std::string& path, std::chrono::milliseconds holdFor) {
    sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr);
    if (sqlite3_exec(db_, "BEGIN IMMEDIATE; INSERT INTO misc (param, val) VALUES ('holder', 'x')", nullptr, nullptr,
                     nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(db_));
    thread_ = std::thread([this, holdFor] {
      std::this_thread::sleep_for(holdFor);
      sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    });
  }
  ~WriteLockHolder() {
    thread_.join();
    sqlite3_close(db_);
  }

 private:
  sqlite3* db_ = nullptr;
  std::thread thread_;
};

TEST_F(JetProviderTest, AWriterWaitsForAnotherConnectionsLock) {
  JetTestDatabase file(true);
  auto db = file.connect();
  {
    WriteLockHolder holder(file.path(), std::chrono::milliseconds(300));
    db->execute(L"INSERT INTO misc (param, val) VALUES ('waiter', 'x')");
    db->beginTransaction();  // waits as well
    db->commitTransaction();
  }
  EXPECT_EQ(single(*db, L"SELECT COUNT(*) FROM misc"), L"2");
}

TEST_F(JetProviderTest, TheCommandTimeOutBoundsTheWait) {
  ASSERT_EQ(registry::write(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"ADOCommandTimeout", 1u), 0u);
  JetTestDatabase file(true);
  auto db = file.connect();
  WriteLockHolder holder(file.path(), std::chrono::milliseconds(1600));
  vexception e = failureOf([&] { db->execute(L"INSERT INTO misc (param, val) VALUES ('waiter', 'x')"); });
  EXPECT_EQ(e.message(), L"database is locked");
}

TEST_F(JetProviderTest, TheControlPanelConnectionReachesTheFileThroughTheService) {
  JetTestDatabase file(true);
  CadroSrvClient::resetInstance();
  resetProductPathCache();
  for (const char* name : {"CADRO_DB_HOST", "CADRO_DB_LOGIN", "CADRO_DB_NAME", "CADRO_DB_PASSWD", "CADRO_DB_PORT",
                           "CADRO_DB_SOCK"})
    env.unset(name);
  {
    ServiceProcess service("[settings]\n"
                           "CADRO_DATABASE_PROVIDER_NAME = Jet\n"
                           "mySQLDBName = " + file.path() + "\n"
                           "PRODUCT_ROOT_D = " + file.productRoot() + "/\n"
                           "[passwords]\n"
                           "pwd = unused\n");
    CDRDatabase db(true);
    EXPECT_EQ(db.provider().providerName(), L"Jet");
    db.execute(L"INSERT INTO misc (param, val) VALUES ('admin_email', 'root@example.com')");
    VRecordSet rs = db.query(L"SELECT `val` FROM `misc` WHERE `param` = \"ADMIN_EMAIL\"");
    ASSERT_TRUE(rs.next());
    EXPECT_EQ(rs.get(0), L"root@example.com");
    EXPECT_EQ(std::string(std::getenv("TEMP")), file.productRoot() + "/admin/db");
  }
  CadroSrvClient::resetInstance();
  resetProductPathCache();
}

}  // namespace
