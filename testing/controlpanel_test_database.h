#pragma once
// A control-panel database for typed tests over every provider engine: a fresh database
// of the engine with the schema fixture, a CDRDatabase connected to it, and the service
// settings under which a CDRDatabase of its own (the database-server lookups open one)
// reaches the same database.
//
//   template <class Engine> class MyTest : public ControlPanelTestDatabase<Engine> {};
//   TYPED_TEST_SUITE(MyTest, ProviderTestEngines, ProviderTestEngineNames);
//
// A derived fixture fills the database in seed(), which runs at the end of SetUp.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "db/cdr_database.h"
#include "platform/service/product_paths.h"
#include "platform/text/text_codec.h"
#include "testing/controlpanel_schema.h"
#include "testing/fake_service_settings.h"
#include "testing/provider_test_engines.h"
#include "testing/scoped_environment.h"
#include "testing/service_process.h"

namespace testing_support {

// Points the service settings at the engine's database while the test runs.
template <class Engine>
class EngineService;

template <>
class EngineService<MySQLProviderEngine> {
 public:
  EngineService(MySQLProviderEngine& engine, FakeServiceSettings& service) {
    const MySQLTestServer& server = engine.scratch().server();
    service.values[L"MySQL_DB_HOST"] = server.host;
    service.values[L"MySQL_DB_PORT"] = std::to_wstring(server.port);
    service.values[L"CADRO_DATABASE_LOGIN"] = server.user;
    service.values[L"mySQLDBName"] = engine.scratch().name();
    service.storedPassword = server.password;
  }
};

// The Jet provider asks the management service for the product root, whose admin/db
// directory becomes its TEMP.
template <>
class EngineService<JetProviderEngine> {
 public:
  EngineService(JetProviderEngine& engine, FakeServiceSettings& service)
      : managementService_("[settings]\nPRODUCT_ROOT_D = " + engine.database().productRoot() + "\n") {
    resetProductPathCache();
    service.values[L"mySQLDBName"] = text::fromUtf8(engine.database().path());
    service.storedPassword = L"";
  }
  ~EngineService() { resetProductPathCache(); }

 private:
  ServiceProcess managementService_;
};

template <>
class EngineService<MSSQLProviderEngine> {
 public:
  EngineService(MSSQLProviderEngine& engine, FakeServiceSettings& service) {
    const MSSQLTestServer& server = engine.scratch().server();
    service.values[L"MySQL_DB_HOST"] = server.dataSource;
    service.values[L"CADRO_DATABASE_LOGIN"] = server.login;
    service.values[L"mySQLDBName"] = engine.scratch().name();
    service.storedPassword = server.password;
  }
};

template <class Engine>
class ControlPanelTestDatabase : public ::testing::Test {
 protected:
  void SetUp() override {
    if (auto why = Engine::unavailable()) GTEST_SKIP() << *why;
    // TEMP and TMP are saved only: a Jet connection sets them.
    for (const char* name : {"CADRO_DB_HOST", "CADRO_DB_LOGIN", "CADRO_DB_NAME", "CADRO_DB_PASSWD", "CADRO_DB_PORT",
                             "CADRO_DB_SOCK", "TEMP", "TMP"})
      env_.unset(name);
    engine_ = std::make_unique<Engine>();
    service_.values[L"CADRO_DATABASE_PROVIDER_NAME"] = text::fromUtf8(Engine::kName);
    engineService_ = std::make_unique<EngineService<Engine>>(*engine_, service_);
    db_ = std::make_unique<CDRDatabase>(engine_->connect(), service_, false);
    createControlPanelSchema(db_->provider(), Engine::kDialect);
    seed();
  }
  // The derived fixture's rows and files.
  virtual void seed() {}

  CDRDatabase& db() { return *db_; }
  Engine& engine() { return *engine_; }
  std::wstring quoted(const std::wstring& value) { return L"'" + db().escape(value) + L"'"; }
  void run(const std::wstring& sql) { db().execute(sql); }
  // The first column of the first row of `sql`.
  std::wstring single(const std::wstring& sql) {
    VRecordSet rows = db().query(sql);
    EXPECT_TRUE(rows.next()) << text::toUtf8(sql);
    return rows.get(0);
  }
  // Rows of `table` get explicit identifiers from here on (SQL Server needs telling).
  void explicitIds(const std::wstring& table) { db().provider().setIdentityInsert(table); }

  ScopedEnvironment env_;
  FakeServiceSettings service_;
  std::unique_ptr<Engine> engine_;
  std::unique_ptr<EngineService<Engine>> engineService_;
  std::unique_ptr<CDRDatabase> db_;  // closed before the engine drops its database
};

}  // namespace testing_support
