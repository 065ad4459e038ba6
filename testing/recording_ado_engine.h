#pragma once
// An ADO engine that records what it is asked instead of reaching a database: every open
// (connection string, login, password, connection time-out), every statement and
// transaction call, command time-outs and properties. Tests script its answers and its
// failures (throw ado::EngineError from the hooks).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "db/ado/engine.h"
#include "db/ado/engine_error.h"

namespace testing_support {

class RecordingAdoEngine : public ado::Engine {
 public:
  struct Open {
    std::wstring connectionString;  // as the engine was given it, written back by format()
    std::wstring login;
    std::wstring password;
    uint32_t connectionTimeout;
  };

  std::vector<Open> opens;
  // "execute: SQL", "query: SQL", "begin", "commit", "rollback", in order.
  std::vector<std::wstring> calls;
  std::vector<uint32_t> commandTimeouts;
  std::vector<std::pair<std::wstring, int64_t>> properties;

  // Called for each open before it succeeds; throw to make it fail.
  std::function<void(const Open&)> onOpen;
  // Called for each execute and query with the statement; throw to make it fail.
  std::function<void(const std::wstring&)> onStatement;
  // The rows of a query; by default one column "value" and no row.
  std::function<std::optional<ado::RowSet>(const std::wstring&)> answer;

  // A result of one column and the given rows (nullopt: NULL).
  static ado::RowSet rows(std::vector<ado::Cell> values, std::wstring column = L"value") {
    ado::RowSet set;
    set.columns.push_back(std::move(column));
    set.cells = std::move(values);
    return set;
  }

  std::unique_ptr<ado::Session> open(const ado::ConnectionString& connection, const std::wstring& login,
                                     const std::wstring& password, uint32_t connectionTimeout) override {
    Open record{connection.format(), login, password, connectionTimeout};
    if (onOpen) onOpen(record);
    opens.push_back(record);
    return std::make_unique<Session>(*this);
  }

  // A catalog that opens this engine for `providerName`.
  static std::shared_ptr<ado::EngineCatalog> catalogFor(const std::shared_ptr<RecordingAdoEngine>& engine,
                                                        const std::wstring& providerName) {
    auto catalog = std::make_shared<ado::EngineCatalog>();
    catalog->add(providerName, engine);
    return catalog;
  }

 private:
  class Session : public ado::Session {
   public:
    explicit Session(RecordingAdoEngine& engine) : engine_(engine) {}
    void execute(const std::wstring& statement) override {
      engine_.calls.push_back(L"execute: " + statement);
      if (engine_.onStatement) engine_.onStatement(statement);
    }
    std::optional<ado::RowSet> query(const std::wstring& statement) override {
      engine_.calls.push_back(L"query: " + statement);
      if (engine_.onStatement) engine_.onStatement(statement);
      return engine_.answer ? engine_.answer(statement) : rows({});
    }
    void beginTransaction() override { engine_.calls.push_back(L"begin"); }
    void commitTransaction() override { engine_.calls.push_back(L"commit"); }
    void rollbackTransaction() override { engine_.calls.push_back(L"rollback"); }
    void setCommandTimeout(uint32_t seconds) override { engine_.commandTimeouts.push_back(seconds); }
    void setProperty(const std::wstring& name, int64_t value) override { engine_.properties.emplace_back(name, value); }
    bool hasTable(const std::wstring&) override { return false; }

   private:
    RecordingAdoEngine& engine_;
  };
};

}  // namespace testing_support
