#pragma once
// The provider for a control-panel database on SQL Server ("SQLOLEDB.1", here through
// ODBC and FreeTDS, see db/ado/odbc_engine.h).

#include <memory>
#include <string>

#include "db/ado_provider.h"

// The client network library for a local server: only for "localhost" or "127.0.0.1"
// (case ignored) and only when the key
// SOFTWARE\Microsoft\MSSQLServer\MSSQLServer\SuperSocketNetLib exists; its "ProtocolList" is walked in order and the first "sm"
// gives "dbmsrpcn", the first "np" "dbnmpntw". Empty otherwise (also when the list cannot
// be read).
std::wstring chooseSqlServerNetworkLibrary(const std::wstring& host);

class MSSQLDatabaseProvider : public VADODatabaseProvider {
 public:
  explicit MSSQLDatabaseProvider(std::shared_ptr<const ado::EngineCatalog> catalog = nullptr);

  // Chooses the network library for the host; with one, connects with it and, when that
  // fails, once more without it. Then runs "SET DATEFORMAT ymd" and "SET TRANSACTION
  // ISOLATION LEVEL READ UNCOMMITTED" (a failure there disconnects and throws).
  void connect(const std::wstring& host, const std::wstring& database, const std::wstring& login,
               const std::wstring& password, int32_t port, const std::wstring& socket) override;
  std::wstring providerName() const override { return L"MSSQL"; }
  // Turns identity insert off for the table that has it on, then on for `table` (none
  // when empty): at most one table has it on.
  void setIdentityInsert(const std::wstring& table) override;
  // A transaction only when none is open; the end commits it only when the begin made it.
  void beginImportTransaction() override;
  void endImportTransaction() override;
  // max(column) + 1 under a table lock; 1 for an empty table.
  int64_t nextCounterValue(const std::wstring& table, const std::wstring& column) override;

  // "Provider=SQLOLEDB.1;Initial Catalog=" + (database or "master") + ";Data Source=" +
  // host, and ";Network Library=" + the library when one is chosen.
  std::wstring connectionString(const std::wstring& host, const std::wstring& database) override;

  const std::wstring& networkLibrary() const { return networkLibrary_; }

 protected:
  std::wstring translate(const std::wstring& sql) const override;
  const wchar_t* nulCharacterExpression() const override { return L"CHAR(0)"; }

 private:
  std::wstring networkLibrary_;
  std::wstring identityInsertTable_;
  bool importTransactionBegun_ = false;
};
