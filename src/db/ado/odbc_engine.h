#pragma once
// The engine of "SQLOLEDB.1": SQL Server through unixODBC and the FreeTDS driver, named by
// the path of its library in the DRIVER keyword (no odbcinst.ini entry is needed).
//
// The OLE DB pairs become ODBC ones (odbcConnectionString). "Network Library" chooses a
// Windows client network library (named pipes, shared memory); TDS here always goes over
// TCP, so the pair stays in the OLE DB string and maps to nothing. The connection time-out
// is the login time-out (SQL_ATTR_LOGIN_TIMEOUT), the command time-out every statement's
// query time-out (SQL_ATTR_QUERY_TIMEOUT). Values are fetched as SQL_C_WCHAR text;
// failures carry the driver's diagnostic records ("[FreeTDS][SQL Server]...").
// Transactions are Transact-SQL ones; inner levels are savepoints (SAVE TRANSACTION).

#include <memory>
#include <string>

#include "db/ado/engine.h"

namespace ado {

// The FreeTDS ODBC driver of the Debian package tdsodbc.
inline constexpr const wchar_t* kFreeTdsDriver = L"/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so";

// The ODBC connection string for the OLE DB pairs, with `login` and `password` (those of
// Open, else "User ID" and "Password" of the string):
//   DRIVER={driver};SERVER=host;PORT=port;DATABASE=catalog;UID=login;PWD=password;ClientCharset=UTF-8
// "Data Source" may be "host", "host,port", "tcp:host[,port]", "host\instance" (the port
// then comes from the server's browser service), "(local)" or "." (this host); the port
// is 1433 unless given. DATABASE comes from "Initial Catalog" (left out when empty).
// Values that need it are enclosed in braces.
std::wstring odbcConnectionString(const ConnectionString& oledb, const std::wstring& login,
                                  const std::wstring& password, const std::wstring& driver = kFreeTdsDriver);

class SqlServerEngine : public Engine {
 public:
  std::unique_ptr<Session> open(const ConnectionString& connection, const std::wstring& login,
                                const std::wstring& password, uint32_t connectionTimeout) override;
};

}  // namespace ado
