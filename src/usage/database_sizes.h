#pragma once
// The sizes of a domain's databases on the control panel's default database servers: its
// MySQL databases by their tables' data and index length, its SQL Server databases by what
// "exec sp_databases" reports. A server is reached only when the domain has at least one
// database of its type (the `data_bases` table says which).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "db/ado/engine.h"
#include "db/database_provider.h"

class CDRDatabase;

// A new, unconnected provider for a MySQL server.
using MySQLServerFactory = std::function<std::unique_ptr<IDatabaseProvider>()>;

// Adds to `total` the "Data_length" and "Index_length" (each when not NULL) of every table
// of the domain's MySQL databases, on the default MySQL server (CDRDatabase::getMySQLServer)
// connected without a database. A database that fails is reported at level 0 ("Sizeof
// MySQL database '<name>'") and the next one follows; the query of the domain's databases,
// the provider and the connection raise. `domainId` is pasted into SQL as it stands.
void addMySQLDatabasesSize(CDRDatabase& db, const std::wstring& domainId, const MySQLServerFactory& server,
                           int64_t& total);

// Adds to `total` the size that "exec sp_databases" gives (kilobytes, times 1024) for each of
// the domain's SQL Server databases, names compared without regard to case; a database the
// server does not list adds 0. The connection goes through ADO ("SQLOLEDB.1", catalog
// master) to the default SQL Server server with its login and password; `engines` null
// means the platform's. The queries and the connection raise.
void addMSSQLDatabasesSize(CDRDatabase& db, const std::wstring& domainId,
                           std::shared_ptr<const ado::EngineCatalog> engines, int64_t& total);

// `name` as a MySQL identifier: between back quotes, each back quote doubled.
std::wstring mysqlQuotedIdentifier(const std::wstring& name);
