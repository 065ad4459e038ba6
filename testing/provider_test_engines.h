#pragma once
// The database engines the provider test suites run over, one "engine" class each. A
// suite is a typed test over ProviderTestEngines; each engine gives the fixture a fresh,
// empty database of its own and connected providers to it:
//
//   static constexpr const char* kName;          engine name as providerName() reports it
//   static constexpr SqlDialect kDialect;        dialect of the control-panel schema DDL
//   static std::optional<std::string> unavailable();   why the engine cannot run here
//   Engine();                                    creates the database
//   std::unique_ptr<IDatabaseProvider> connect();      a new provider connected to it
//
// Add an engine by writing its class here and listing it in ProviderTestEngines.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "db/database_provider.h"
#include "testing/controlpanel_schema.h"
#include "testing/jet_test_database.h"
#include "testing/mssql_test_server.h"
#include "testing/mysql_test_server.h"

namespace testing_support {

class MySQLProviderEngine {
 public:
  static constexpr const char* kName = "MySQL";
  static constexpr SqlDialect kDialect = SqlDialect::MySQL;

  static std::optional<std::string> unavailable() {
    std::string why;
    if (MySQLTestServer::fromEnvironment(&why)) return std::nullopt;
    return why;
  }

  MySQLProviderEngine() : scratch_(*MySQLTestServer::fromEnvironment()) {}
  std::unique_ptr<IDatabaseProvider> connect() { return scratch_.connect(); }
  MySQLScratchDatabase& scratch() { return scratch_; }

 private:
  MySQLScratchDatabase scratch_;
};

// A Jet file (SQLite) of its own in a temporary directory; always available.
class JetProviderEngine {
 public:
  static constexpr const char* kName = "Jet";
  static constexpr SqlDialect kDialect = SqlDialect::SQLite;

  static std::optional<std::string> unavailable() { return std::nullopt; }

  std::unique_ptr<IDatabaseProvider> connect() { return database_.connect(); }
  JetTestDatabase& database() { return database_; }

 private:
  JetTestDatabase database_;
};

// A scratch database on the SQL Server named by CADRO_TEST_MSSQL (mssql_test_server.h).
class MSSQLProviderEngine {
 public:
  static constexpr const char* kName = "MSSQL";
  static constexpr SqlDialect kDialect = SqlDialect::MSSQL;

  static std::optional<std::string> unavailable() {
    std::string why;
    if (MSSQLTestServer::fromEnvironment(&why)) return std::nullopt;
    return why;
  }

  MSSQLProviderEngine() : scratch_(*MSSQLTestServer::fromEnvironment()) {}
  std::unique_ptr<IDatabaseProvider> connect() { return scratch_.connect(); }

 private:
  MSSQLScratchDatabase scratch_;
};

using ProviderTestEngines = ::testing::Types<MySQLProviderEngine, JetProviderEngine, MSSQLProviderEngine>;

// Names the typed tests after their engine ("ProviderSuite/MySQL.escape...").
struct ProviderTestEngineNames {
  template <typename Engine>
  static std::string GetName(int) {
    return Engine::kName;
  }
};

}  // namespace testing_support
