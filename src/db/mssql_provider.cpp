#include "db/mssql_provider.h"

#include <vector>

#include "db/sql_translation.h"
#include "db/text_number.h"
#include "platform/report/guard.h"
#include "platform/report/log_manager.h"
#include "platform/registry/registry.h"
#include "platform/text/text_codec.h"
#include "platform/text/vformat.h"

namespace {

constexpr const wchar_t* kSuperSocketNetLibKey = L"SOFTWARE\\Microsoft\\MSSQLServer\\MSSQLServer\\SuperSocketNetLib";

}  // namespace

std::wstring chooseSqlServerNetworkLibrary(const std::wstring& host) {
  if (!text::equalsNoCase(host, L"localhost") && !text::equalsNoCase(host, L"127.0.0.1")) return {};
  if (!registry::exists(HKEY_LOCAL_MACHINE, kSuperSocketNetLibKey)) return {};
  std::vector<std::wstring> protocols;
  try {
    if (registry::lookup(HKEY_LOCAL_MACHINE, kSuperSocketNetLibKey, L"ProtocolList", protocols, 0) != 0) return {};
  } catch (...) {
    guard::reportCurrent(0, VCTX(L"Read the SQL Server protocol list", "MSSQLDatabaseProvider::connect"));
    return {};
  }
  for (const std::wstring& protocol : protocols) {
    if (protocol == L"sm") return L"dbmsrpcn";
    if (protocol == L"np") return L"dbnmpntw";
  }
  return {};
}

MSSQLDatabaseProvider::MSSQLDatabaseProvider(std::shared_ptr<const ado::EngineCatalog> catalog)
    : VADODatabaseProvider(std::move(catalog)) {}

void MSSQLDatabaseProvider::connect(const std::wstring& host, const std::wstring& database, const std::wstring& login,
                                    const std::wstring& password, int32_t port, const std::wstring& socket) {
  networkLibrary_ = chooseSqlServerNetworkLibrary(host);
  if (networkLibrary_.empty()) {
    VADODatabaseProvider::connect(host, database, login, password, port, socket);
  } else {
    try {
      VADODatabaseProvider::connect(host, database, login, password, port, socket);
    } catch (...) {
      guard::reportCurrent(0, VCTX(L"Connect with network library " + networkLibrary_, "MSSQLDatabaseProvider::connect"));
      networkLibrary_.clear();
      VADODatabaseProvider::connect(host, database, login, password, port, socket);
    }
  }
  identityInsertTable_.clear();
  importTransactionBegun_ = false;
  try {
    execute(L"SET DATEFORMAT ymd");
    execute(L"SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED");
  } catch (...) {
    disconnect();
    throw;
  }
}

void MSSQLDatabaseProvider::setIdentityInsert(const std::wstring& table) {
  if (!identityInsertTable_.empty()) {
    execute(vformat(L"set IDENTITY_INSERT [%s] OFF", identityInsertTable_));
    identityInsertTable_.clear();
  }
  if (!table.empty()) {
    execute(vformat(L"set IDENTITY_INSERT [%s] ON", table));
    identityInsertTable_ = table;
  }
}

void MSSQLDatabaseProvider::beginImportTransaction() {
  if (transactionDepth() != 0) return;
  beginTransaction();
  importTransactionBegun_ = true;
}

void MSSQLDatabaseProvider::endImportTransaction() {
  if (!importTransactionBegun_) return;
  importTransactionBegun_ = false;
  commitTransaction();
}

int64_t MSSQLDatabaseProvider::nextCounterValue(const std::wstring& table, const std::wstring& column) {
  VRecordSet rs = query(L"select max([" + column + L"]) from [" + table + L"] with (TABLOCK)");
  if (!rs.next()) return 1;
  return wcrt::wtoi64(rs.get(0)) + 1;
}

std::wstring MSSQLDatabaseProvider::connectionString(const std::wstring& host, const std::wstring& database) {
  std::wstring text = L"Provider=SQLOLEDB.1";
  text += L";Initial Catalog=" + (database.empty() ? std::wstring(L"master") : database);
  text += L";Data Source=" + host;
  if (!networkLibrary_.empty()) text += L";Network Library=" + networkLibrary_;
  return text;
}

std::wstring MSSQLDatabaseProvider::translate(const std::wstring& sql) const { return translateForSqlServer(sql); }
