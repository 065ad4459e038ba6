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

using ProviderTestEngines = ::testing::Types<MySQLProviderEngine>;

// Names the typed tests after their engine ("ProviderSuite/MySQL.escape...").
struct ProviderTestEngineNames {
  template <typename Engine>
  static std::string GetName(int) {
    return Engine::kName;
  }
};

}  // namespace testing_support
