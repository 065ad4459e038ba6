#pragma once
// The provider for a control-panel database in a Jet file ("Microsoft.Jet.OLEDB.4.0",
// here a SQLite database file, see db/ado/sqlite_engine.h). The database name is the
// file's path; only the local host may be named.

#include <functional>
#include <memory>
#include <string>

#include "db/ado_provider.h"

class JetDatabaseProvider : public VADODatabaseProvider {
 public:
  // `productRoot` gives PRODUCT_ROOT_D (getProductPath when empty); `catalog` the engines
  // (the standard ones when null).
  explicit JetDatabaseProvider(std::function<std::wstring()> productRoot = {},
                               std::shared_ptr<const ado::EngineCatalog> catalog = nullptr);

  // Sets TEMP and TMP to PRODUCT_ROOT_D + "/admin/db" (a failure throws "Unable to set
  // environment variable", operation "JetDatabaseProvider::connect"), opens the file with
  // an empty login and password whatever is passed, and sets the properties "Jet
  // OLEDB:Transaction Commit Mode" and "Jet OLEDB:Implicit Commit Sync" to 1.
  void connect(const std::wstring& host, const std::wstring& database, const std::wstring& login,
               const std::wstring& password, int32_t port, const std::wstring& socket) override;
  std::wstring providerName() const override { return L"Jet"; }
  // Hands out the id of a new ms_jet_counter row, then empties the table.
  int64_t nextCounterValue(const std::wstring& table, const std::wstring& column) override;

  // "Provider='Microsoft.Jet.OLEDB.4.0';Data Source=" + database. A host other than ""
  // and "localhost" throws "Jet support only local databases" (operation
  // "JetDatabaseProvider::connectionString").
  std::wstring connectionString(const std::wstring& host, const std::wstring& database) override;

 protected:
  std::wstring translate(const std::wstring& sql) const override;
  const wchar_t* nulCharacterExpression() const override { return L"Chr(0)"; }

 private:
  std::function<std::wstring()> productRoot_;
};
