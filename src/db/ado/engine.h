#pragma once
// The seam under our ADO stand-in: an engine per OLE DB provider name opens sessions on a
// data source, and a session runs statements and hands back whole results. The real
// engines are the Jet file on SQLite (sqlite_engine.h) and SQL Server through ODBC
// (odbc_engine.h); tests put recording engines in their place through an EngineCatalog.
// Every failure of an engine is an EngineError with the engine's own text.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/ado/connection_string.h"

namespace ado {

// One value as text; nullopt for NULL.
using Cell = std::optional<std::wstring>;

// The rows of one result, fetched whole (a client-side static cursor).
struct RowSet {
  std::vector<std::wstring> columns;
  std::vector<Cell> cells;  // row after row, columns.size() cells each

  size_t rowCount() const { return columns.empty() ? 0 : cells.size() / columns.size(); }
  const Cell& at(size_t row, size_t column) const { return cells[row * columns.size() + column]; }
};

// An open connection to one data source. Used by one thread at a time.
class Session {
 public:
  virtual ~Session() = default;

  // Runs a statement; rows it yields are discarded.
  virtual void execute(const std::wstring& statement) = 0;
  // Runs a statement and fetches its rows; nullopt when the statement yields no result set
  // (an UPDATE, say), which has run all the same.
  virtual std::optional<RowSet> query(const std::wstring& statement) = 0;
  // Transactions nest: an inner level commits into the outer one and rolls back alone.
  virtual void beginTransaction() = 0;
  virtual void commitTransaction() = 0;
  virtual void rollbackTransaction() = 0;
  // How long a statement may wait (for locks, for the server); 0 leaves the engine's own
  // limit.
  virtual void setCommandTimeout(uint32_t seconds) = 0;
  // A provider-specific connection property; an unknown name throws.
  virtual void setProperty(const std::wstring& name, int64_t value) = 0;
  // The data source has a table of that name (compared as the engine compares names).
  virtual bool hasTable(const std::wstring& name) = 0;
};

// The engine behind one OLE DB provider name.
class Engine {
 public:
  virtual ~Engine() = default;
  // Opens a session on the data source the connection string names. `login` and
  // `password` are those given to Open (they win over "User ID" and "Password" in the
  // string). `connectionTimeout` (seconds, 0 for the engine's default) bounds the open.
  virtual std::unique_ptr<Session> open(const ConnectionString& connection, const std::wstring& login,
                                        const std::wstring& password, uint32_t connectionTimeout) = 0;
};

// Engines by provider name ("Microsoft.Jet.OLEDB.4.0", "SQLOLEDB.1"), compared without
// regard to case.
class EngineCatalog {
 public:
  // Adds or replaces the engine of `providerName`.
  void add(std::wstring providerName, std::shared_ptr<Engine> engine);
  // The engine, null when the name is unknown.
  std::shared_ptr<Engine> find(std::wstring_view providerName) const;

  // The engines of this platform: the Jet file on SQLite and SQL Server through ODBC
  // ("SQLOLEDB" and "SQLOLEDB.1"). Shared by every connection that is given no catalog.
  static std::shared_ptr<const EngineCatalog> standard();

 private:
  std::vector<std::pair<std::wstring, std::shared_ptr<Engine>>> engines_;
};

// OLE DB provider names.
inline constexpr const wchar_t* kJetProvider = L"Microsoft.Jet.OLEDB.4.0";
inline constexpr const wchar_t* kSqlServerProvider = L"SQLOLEDB.1";

}  // namespace ado
