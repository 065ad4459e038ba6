// The SQL Server provider over a recording engine: the connection string and network
// library, the statements it runs on its own (session settings, identity insert,
// counters, identities), the translation it applies, and how engine failures surface.
#include "db/mssql_provider.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "db/ado/engine_error.h"
#include "platform/registry/registry.h"
#include "platform/registry/registry_data.h"
#include "platform/registry/registry_names.h"
#include "platform/registry/registry_store.h"
#include "platform/text/text_codec.h"
#include "platform/report/vexception.h"
#include "testing/log_recorder.h"
#include "testing/recording_ado_engine.h"
#include "testing/temp_dir.h"

using namespace testing_support;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

const std::wstring kNetLibKey = L"SOFTWARE\\Microsoft\\MSSQLServer\\MSSQLServer\\SuperSocketNetLib";

void storeProtocols(const std::vector<std::wstring>& protocols) {
  registry::StoreStatus st = registry::RegistryStore::system().updateKey(registry::splitKeyPath(kNetLibKey), true, [&](registry::KeyFile& k) {
    k.set(registry::Value{L"ProtocolList", REG_MULTI_SZ, registry::encodeMultiString(protocols)});
    return registry::StoreStatus::success();
  });
  ASSERT_TRUE(st.ok()) << text::toUtf8(st.detail);
}

class MSSQLProviderTest : public ::testing::Test {
 protected:
  MSSQLProviderTest()
      : engine(std::make_shared<RecordingAdoEngine>()),
        db(RecordingAdoEngine::catalogFor(engine, L"SQLOLEDB.1")) {}

  void connect(const std::wstring& host = L"db.example.net", const std::wstring& database = L"cdr") {
    db.connect(host, database, L"admin", L"secret", 1433, L"");
    engine->calls.clear();
  }

  ScopedSystemRoot root;
  std::shared_ptr<RecordingAdoEngine> engine;
  MSSQLDatabaseProvider db;
};

TEST_F(MSSQLProviderTest, ConnectsWithTheLoginAndSetsTheSessionUp) {
  db.connect(L"db.example.net", L"", L"admin", L"secret", 1433, L"");
  ASSERT_EQ(engine->opens.size(), 1u);
  EXPECT_EQ(engine->opens[0].connectionString, L"Provider=SQLOLEDB.1;Initial Catalog=master;Data Source=db.example.net");
  EXPECT_EQ(engine->opens[0].login, L"admin");
  EXPECT_EQ(engine->opens[0].password, L"secret");
  EXPECT_EQ(engine->opens[0].connectionTimeout, 15u);  // ADO's default
  EXPECT_THAT(engine->calls, ElementsAre(L"execute: SET DATEFORMAT ymd",
                                         L"execute: SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED"));
  EXPECT_TRUE(db.isConnected());
  EXPECT_TRUE(db.ping());
  EXPECT_EQ(db.version(), L"1.0");
  EXPECT_EQ(db.providerName(), L"MSSQL");
  EXPECT_EQ(db.connectionString(L"h", L"cdr"), L"Provider=SQLOLEDB.1;Initial Catalog=cdr;Data Source=h");
  db.disconnect();
  EXPECT_FALSE(db.isConnected());
}

TEST_F(MSSQLProviderTest, NetworkLibraryComesFromTheLocalProtocolList) {
  // No key: none, whatever the host.
  EXPECT_EQ(chooseSqlServerNetworkLibrary(L"localhost"), L"");
  storeProtocols({L"tcp", L"np", L"sm"});
  EXPECT_EQ(chooseSqlServerNetworkLibrary(L"127.0.0.1"), L"dbnmpntw");
  EXPECT_EQ(chooseSqlServerNetworkLibrary(L"LOCALHOST"), L"dbnmpntw");
  EXPECT_EQ(chooseSqlServerNetworkLibrary(L"db.example.net"), L"");
  EXPECT_EQ(chooseSqlServerNetworkLibrary(L"127.0.0.1,1433"), L"");
  storeProtocols({L"sm", L"np"});
  EXPECT_EQ(chooseSqlServerNetworkLibrary(L"localhost"), L"dbmsrpcn");
  storeProtocols({L"tcp", L"via"});
  EXPECT_EQ(chooseSqlServerNetworkLibrary(L"localhost"), L"");
  storeProtocols({});
  EXPECT_EQ(chooseSqlServerNetworkLibrary(L"localhost"), L"");
}

TEST_F(MSSQLProviderTest, FailedConnectionWithTheNetworkLibraryIsRetriedWithout) {
  storeProtocols({L"tcp", L"np"});
  engine->onOpen = [](const RecordingAdoEngine::Open& open) {
    if (open.connectionString.find(L"Network Library") != std::wstring::npos)
      throw ado::EngineError(L"[DBNMPNTW]Specified SQL server not found.");
  };
  db.connect(L"127.0.0.1", L"cdr", L"sa", L"pw", 0, L"");
  ASSERT_EQ(engine->opens.size(), 1u);  // the failed attempt is not recorded as opened
  EXPECT_EQ(engine->opens[0].connectionString, L"Provider=SQLOLEDB.1;Initial Catalog=cdr;Data Source=127.0.0.1");
  EXPECT_EQ(db.networkLibrary(), L"");
  EXPECT_TRUE(db.isConnected());

  // With the network library working it stays in the string.
  engine->onOpen = nullptr;
  db.connect(L"127.0.0.1", L"cdr", L"sa", L"pw", 0, L"");
  EXPECT_EQ(engine->opens.back().connectionString,
            L"Provider=SQLOLEDB.1;Initial Catalog=cdr;Data Source=127.0.0.1;Network Library=dbnmpntw");
}

TEST_F(MSSQLProviderTest, ConnectionFailureNamesTheStringAndCarriesTheEngineText) {
  engine->onOpen = [](const RecordingAdoEngine::Open&) {
    throw ado::EngineError(std::vector<std::wstring>{L"[FreeTDS][SQL Server]Login failed for user 'sa'.", L"second record"}, ado::kFail);
  };
  try {
    db.connect(L"db.example.net", L"cdr", L"sa", L"wrong", 0, L"");
    FAIL() << "connected";
  } catch (const VDatabase::ConnectException& e) {
    EXPECT_EQ(e.message(),
              L"Unable to ADO conect with connection string: Provider=SQLOLEDB.1;Initial Catalog=cdr;Data "
              L"Source=db.example.net");
    ASSERT_FALSE(e.contexts().empty());
    EXPECT_EQ(e.contexts()[0].operation, "VADODatabaseProvider::connect");
    EXPECT_EQ(e.contexts()[0].text, L"[FreeTDS][SQL Server]Login failed for user 'sa'. second record");
    // The password is never part of the report.
    EXPECT_EQ(e.detailedText().find(L"wrong"), std::wstring::npos);
  }
  EXPECT_FALSE(db.isConnected());
  EXPECT_EQ(db.lastError(), L"[FreeTDS][SQL Server]Login failed for user 'sa'. second record");
}

TEST_F(MSSQLProviderTest, StatementsAreTranslatedAndTraced) {
  connect();
  LogRecorder log;
  db.execute(L"UPDATE `cdr`.`misc` SET val = \"a'b\" WHERE param = 'x''y'");
  db.query(L"SELECT `date` FROM `DomainsTraffic` WHERE `name` = '" + db.escape(L"say \"hi\"") + L"'");
  EXPECT_THAT(engine->calls,
              ElementsAre(L"execute: UPDATE [cdr].[misc] SET val = 'a'b' WHERE param = 'x''y'",
                          L"query: SELECT [date] FROM [DomainsTraffic] WHERE [name] = 'say \"hi\"'"));
  EXPECT_TRUE(log.contains(0, L"ADO query: UPDATE [cdr].[misc] SET val = 'a'b' WHERE param = 'x''y'"));
}

TEST_F(MSSQLProviderTest, StatementFailuresJoinTheEngineErrors) {
  connect();
  engine->onStatement = [](const std::wstring&) {
    throw ado::EngineError(std::vector<std::wstring>{L"Invalid object name 'nosuch'.", L"Statement(s) could not be prepared."},
                           ado::kErrorsInCommand);
  };
  try {
    db.execute(L"DELETE FROM nosuch");
    FAIL();
  } catch (const vexception& e) {
    EXPECT_EQ(e.message(), L"Invalid object name 'nosuch'. Statement(s) could not be prepared.");
    EXPECT_EQ(e.contexts().front().operation, "VADOConnection::execute");
  }
  try {
    db.query(L"SELECT * FROM nosuch");
    FAIL();
  } catch (const vexception& e) {
    EXPECT_EQ(e.contexts().front().operation, "VADORecordSet::open");
  }
  EXPECT_EQ(db.lastError(), L"Invalid object name 'nosuch'. Statement(s) could not be prepared.");
}

TEST_F(MSSQLProviderTest, IdentityInsertIsOnForOneTableAtATime) {
  connect();
  db.setIdentityInsert(L"domains");
  db.setIdentityInsert(L"clients");
  db.setIdentityInsert(L"");
  db.setIdentityInsert(L"");
  EXPECT_THAT(engine->calls, ElementsAre(L"execute: set IDENTITY_INSERT [domains] ON",
                                         L"execute: set IDENTITY_INSERT [domains] OFF",
                                         L"execute: set IDENTITY_INSERT [clients] ON",
                                         L"execute: set IDENTITY_INSERT [clients] OFF"));
}

TEST_F(MSSQLProviderTest, CounterIsTheColumnMaximumPlusOne) {
  connect();
  engine->answer = [](const std::wstring&) { return RecordingAdoEngine::rows({std::nullopt}); };
  EXPECT_EQ(db.nextCounterValue(L"domains", L"id"), 1);  // MAX over an empty table is NULL
  engine->answer = [](const std::wstring&) { return RecordingAdoEngine::rows({L"41"}); };
  EXPECT_EQ(db.nextCounterValue(L"domains", L"id"), 42);
  engine->answer = [](const std::wstring&) { return RecordingAdoEngine::rows({}); };
  EXPECT_EQ(db.nextCounterValue(L"domains", L"id"), 1);
  EXPECT_EQ(engine->calls.front(), L"query: select max([id]) from [domains] with (TABLOCK)");
}

TEST_F(MSSQLProviderTest, LastInsertIdReadsTheIdentity) {
  connect();
  engine->answer = [](const std::wstring&) { return RecordingAdoEngine::rows({L"9000000001"}); };
  EXPECT_EQ(db.lastInsertId(), 9000000001);
  engine->answer = [](const std::wstring&) { return RecordingAdoEngine::rows({std::nullopt}); };
  EXPECT_EQ(db.lastInsertId(), 0);
  engine->answer = [](const std::wstring&) { return RecordingAdoEngine::rows({}); };
  EXPECT_EQ(db.lastInsertId(), 0);
  EXPECT_EQ(engine->calls.front(), L"query: SELECT @@IDENTITY");
}

TEST_F(MSSQLProviderTest, ImportTransactionIsBegunOnlyOutsideATransaction) {
  connect();
  db.beginImportTransaction();
  EXPECT_EQ(db.transactionDepth(), 1);
  db.endImportTransaction();
  db.endImportTransaction();  // nothing more to commit
  db.beginTransaction();
  db.beginImportTransaction();  // the open transaction is used
  db.endImportTransaction();
  EXPECT_EQ(db.transactionDepth(), 1);
  db.rollbackTransaction();
  EXPECT_THAT(engine->calls, ElementsAre(L"begin", L"commit", L"begin", L"rollback"));
  EXPECT_EQ(db.transactionDepth(), 0);
}

TEST_F(MSSQLProviderTest, TimeOutsComeFromTheConfigurationKey) {
  ASSERT_EQ(registry::write(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"ADOConnectionTimeout", 3u), 0u);
  ASSERT_EQ(registry::write(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"ADOCommandTimeout", 120u), 0u);
  connect();
  EXPECT_EQ(engine->opens.back().connectionTimeout, 3u);
  // ADO's default at open, then the configured one.
  EXPECT_THAT(engine->commandTimeouts, ElementsAre(30u, 120u));

  // 0 keeps the defaults; a value of the wrong type is reported and the open goes on.
  ASSERT_EQ(registry::write(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"ADOConnectionTimeout", std::wstring(L"9")), 0u);
  ASSERT_EQ(registry::write(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"ADOCommandTimeout", 0u), 0u);
  engine->commandTimeouts.clear();
  LogRecorder log;
  connect();
  EXPECT_EQ(engine->opens.back().connectionTimeout, 15u);
  EXPECT_THAT(engine->commandTimeouts, ElementsAre(30u));
  EXPECT_TRUE(db.isConnected());
  bool reported = false;
  for (const LoggedMessage& m : log.take())
    if (m.level == 3 && m.text.find(L"RegQueryValueEx invalid type") != std::wstring::npos) reported = true;
  EXPECT_TRUE(reported);
}

TEST_F(MSSQLProviderTest, StatementsWithoutAConnectionFail) {
  EXPECT_FALSE(db.isConnected());
  EXPECT_EQ(db.lastError(), L"");
  EXPECT_THROW(db.execute(L"SELECT 1"), vexception);
  EXPECT_THROW(db.query(L"SELECT 1"), vexception);
  EXPECT_THROW(db.beginTransaction(), vexception);
  EXPECT_EQ(db.transactionDepth(), 0);
}

}  // namespace
