#pragma once
// A provider that is always connected and does nothing: the base of the tests' fakes, which
// override the few operations they care about.

#include <string>

#include "db/database_provider.h"
#include "platform/report/vexception.h"

namespace testing_support {

class StubDatabaseProvider : public IDatabaseProvider {
 public:
  void connect(const std::wstring&, const std::wstring&, const std::wstring&, const std::wstring&, int32_t,
               const std::wstring&) override {}
  bool isConnected() const override { return true; }
  bool ping() override { return true; }
  void disconnect() override {}
  std::wstring version() override { return L"1.0"; }
  std::wstring providerName() const override { return L"MySQL"; }
  std::wstring escape(const std::wstring& value) override { return value; }
  void useDatabase(const std::wstring&) override {}
  VRecordSet query(const std::wstring& sql) override { throw vexception(L"no rows here: " + sql); }
  void execute(const std::wstring&) override {}
  void replace(const std::wstring& deleteSql, const std::wstring& insertSql) override {
    execute(deleteSql);
    execute(insertSql);
  }
  int64_t lastInsertId() override { return 0; }
  void beginTransaction() override {}
  void commitTransaction() override {}
  void rollbackTransaction() override {}
  int64_t nextCounterValue(const std::wstring&, const std::wstring&) override { return 0; }
  bool tableExists(const std::wstring&) override { return false; }
  int32_t transactionDepth() const override { return 0; }
  std::wstring lastError() override { return {}; }
};

}  // namespace testing_support
