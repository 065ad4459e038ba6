#pragma once
// The providers reached through ADO (SQL Server and the Jet file): the connection,
// statements translated into the engine's dialect, client-side static record sets, and
// ADO transactions whose depth is counted after each call succeeds.

#include <cstdint>
#include <memory>
#include <string>

#include "db/ado_connection.h"
#include "db/database_provider.h"

class VADODatabaseProvider : public IDatabaseProvider {
 public:
  ~VADODatabaseProvider() override;

  // Closes any earlier connection first, so a failed connect leaves it not connected.
  // Remembers the host, database, login and password, builds connectionString(host,
  // database) (its own failures pass unchanged) and opens it with the login and password
  // (options unspecified, client-side cursors). The port and socket are not used. A failed
  // open throws VDatabase::ConnectException "Unable to ADO conect with connection string:
  // " + the string (operation "VADODatabaseProvider::connect"), the engine's text in the
  // context record.
  void connect(const std::wstring& host, const std::wstring& database, const std::wstring& login,
               const std::wstring& password, int32_t port, const std::wstring& socket) override;
  bool isConnected() const override { return connection_.isOpen(); }
  bool ping() override { return true; }
  void disconnect() override { connection_.close(); }
  std::wstring version() override { return L"1.0"; }
  // Every "'" doubled, then every double quote doubled. A NUL, which no statement can
  // hold, closes the literal and joins nulCharacterExpression() to it ("a" NUL "b" becomes
  // a' + Chr(0) + 'b on Jet), so that the quoted result still reads back as the value.
  std::wstring escape(const std::wstring& value) override;
  void useDatabase(const std::wstring& name) override;
  VRecordSet query(const std::wstring& sql) override;
  void execute(const std::wstring& sql) override;
  // Runs the delete statement, then the insert statement.
  void replace(const std::wstring& deleteSql, const std::wstring& insertSql) override;
  // "SELECT @@IDENTITY"; 0 when it gives no row.
  int64_t lastInsertId() override;
  void beginTransaction() override;
  void commitTransaction() override;
  void rollbackTransaction() override;
  bool tableExists(const std::wstring& name) override;
  int32_t transactionDepth() const override { return transactionDepth_; }
  std::wstring lastError() override { return connection_.lastError(); }

  // The OLE DB connection string for a host and database.
  virtual std::wstring connectionString(const std::wstring& host, const std::wstring& database) = 0;

  VADOConnection& connection() { return connection_; }
  const std::wstring& host() const { return host_; }
  const std::wstring& database() const { return database_; }
  const std::wstring& login() const { return login_; }

 protected:
  explicit VADODatabaseProvider(std::shared_ptr<const ado::EngineCatalog> catalog);
  // The statement in the engine's dialect.
  virtual std::wstring translate(const std::wstring& sql) const = 0;
  // The engine's expression for the one-character text NUL.
  virtual const wchar_t* nulCharacterExpression() const = 0;

 private:
  VADOConnection connection_;
  int32_t transactionDepth_ = 0;
  std::wstring host_;
  std::wstring database_;
  std::wstring login_;
  std::wstring password_;
};
