#pragma once
// A provider that passes everything on to a real one, except what a test changes: a
// statement containing a chosen text fails (after the real engine has run every statement
// before it), and the server version can be made to read as another.

#include <memory>
#include <string>
#include <vector>

#include "db/database_provider.h"
#include "platform/report/vexception.h"

namespace testing_support {

class InterposedProvider : public IDatabaseProvider {
 public:
  explicit InterposedProvider(std::unique_ptr<IDatabaseProvider> real) : real_(std::move(real)) {}

  // Statements containing this text fail with "interposed failure" (empty: none fails).
  std::wstring failWhenContains;
  // Reported instead of the server's version when not empty.
  std::wstring reportedVersion;
  // Every statement run, in order.
  std::vector<std::wstring> statements;

  void connect(const std::wstring& host, const std::wstring& database, const std::wstring& login,
               const std::wstring& password, int32_t port, const std::wstring& socket) override {
    real_->connect(host, database, login, password, port, socket);
  }
  bool isConnected() const override { return real_->isConnected(); }
  bool ping() override { return real_->ping(); }
  void disconnect() override { real_->disconnect(); }
  std::wstring version() override { return reportedVersion.empty() ? real_->version() : reportedVersion; }
  std::wstring providerName() const override { return real_->providerName(); }
  std::wstring escape(const std::wstring& value) override { return real_->escape(value); }
  void useDatabase(const std::wstring& name) override { real_->useDatabase(name); }
  VRecordSet query(const std::wstring& sql) override {
    check(sql);
    return real_->query(sql);
  }
  void execute(const std::wstring& sql) override {
    check(sql);
    real_->execute(sql);
  }
  void replace(const std::wstring& deleteSql, const std::wstring& insertSql) override {
    check(deleteSql);
    check(insertSql);
    real_->replace(deleteSql, insertSql);
  }
  void setIdentityInsert(const std::wstring& table) override { real_->setIdentityInsert(table); }
  int64_t lastInsertId() override { return real_->lastInsertId(); }
  void beginTransaction() override { real_->beginTransaction(); }
  void commitTransaction() override { real_->commitTransaction(); }
  void rollbackTransaction() override { real_->rollbackTransaction(); }
  int64_t nextCounterValue(const std::wstring& table, const std::wstring& column) override {
    return real_->nextCounterValue(table, column);
  }
  bool tableExists(const std::wstring& name) override { return real_->tableExists(name); }
  int32_t transactionDepth() const override { return real_->transactionDepth(); }
  std::wstring lastError() override { return real_->lastError(); }

 private:
  void check(const std::wstring& sql) {
    statements.push_back(sql);
    if (!failWhenContains.empty() && sql.find(failWhenContains) != std::wstring::npos)
      throw vexception(L"interposed failure", VCTX(L"", "InterposedProvider::check"));
  }

  std::unique_ptr<IDatabaseProvider> real_;
};

}  // namespace testing_support
