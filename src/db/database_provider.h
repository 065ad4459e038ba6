#pragma once
// The one abstraction over the control-panel database engines (MySQL, SQL Server, Jet).
// Every statement the program runs goes through an IDatabaseProvider; rows come back as
// reference-counted record sets held through VRecordSet. Values are always text.

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

#include "platform/report/vexception.h"

namespace pugi {
class xml_document;
}

class IDatabaseProvider;

namespace VDatabase {
// The server answers but is set up in a way the program cannot work with; another login
// would reach the same server, so no fallback login is tried.
class UnsuitableServerException : public ConnectException {
 public:
  using ConnectException::ConnectException;
};
}  // namespace VDatabase

// Re-establishes a provider's connection after the server dropped it. A provider holds at
// most one handler and does not own it.
class ReconnectHandler {
 public:
  virtual ~ReconnectHandler() = default;
  // Reconnects `provider` (normally by calling its connect again); throws on failure.
  virtual void reconnect(IDatabaseProvider& provider) = 0;
};

// The rows of one query, fetched whole. A fresh record set stands before its first row and
// has reference count 0; it deletes itself at the release that brings the count back to 0.
// Columns are addressed by zero-based index; an index outside 0..fieldCount()-1 throws.
// While no row is current (before the first row, after the last) every value reads as NULL.
// Record sets stay valid while their provider runs further statements.
class IDatabaseRecordSet {
 public:
  // Advances to the next row; false after the last row.
  virtual bool next() = 0;
  // Rewinds: the next call of next() yields the first row again. True when there is a row.
  virtual bool first() = 0;
  // Makes the last row the current row (readable at once; next() then returns false).
  // True when there is a row.
  virtual bool last() = 0;
  virtual int32_t fieldCount() = 0;
  // Index of the column named exactly `name`, -1 when there is none.
  virtual int32_t columnIndex(const std::wstring& name) = 0;
  virtual bool hasColumn(const std::wstring& name) = 0;
  virtual std::wstring columnName(int32_t index) = 0;
  // The value is NULL, or (when emptyIsNull) the empty string.
  virtual bool isNull(int32_t index, bool emptyIsNull) = 0;
  // The value is the empty string; a NULL value yields nullIsEmpty.
  virtual bool isEmpty(int32_t index, bool nullIsEmpty) = 0;
  // The value, or `defaultValue` when lookup() fails.
  virtual std::wstring get(int32_t index, const std::wstring& defaultValue, bool emptyIsNull) = 0;
  // False when isNull(index, emptyIsNull); otherwise stores the value in `out`.
  virtual bool lookup(int32_t index, std::wstring& out, bool emptyIsNull) = 0;
  virtual int32_t rowCount() = 0;

  // Reference counting (plain integers: a record set belongs to one thread).
  virtual void addRef() { ++references_; }
  virtual void release() {
    if (--references_ <= 0) delete this;
  }

 protected:
  IDatabaseRecordSet() = default;
  virtual ~IDatabaseRecordSet() = default;
  IDatabaseRecordSet(const IDatabaseRecordSet&) = delete;
  IDatabaseRecordSet& operator=(const IDatabaseRecordSet&) = delete;

 private:
  int32_t references_ = 0;
};

// The owning handle of a record set: holds one reference for as long as it refers to it.
// Copies share the record set. Using an empty handle throws.
class VRecordSet {
 public:
  VRecordSet() = default;
  // Takes one reference on `recordSet` (may be null: an empty handle).
  explicit VRecordSet(IDatabaseRecordSet* recordSet);
  VRecordSet(const VRecordSet& other);
  VRecordSet(VRecordSet&& other) noexcept;
  VRecordSet& operator=(const VRecordSet& other);
  VRecordSet& operator=(VRecordSet&& other) noexcept;
  ~VRecordSet();

  bool empty() const { return recordSet_ == nullptr; }
  IDatabaseRecordSet* recordSet() const { return recordSet_; }

  bool next() { return checked().next(); }
  bool first() { return checked().first(); }
  bool last() { return checked().last(); }
  int32_t fieldCount() { return checked().fieldCount(); }
  int32_t columnIndex(const std::wstring& name) { return checked().columnIndex(name); }
  bool hasColumn(const std::wstring& name) { return checked().hasColumn(name); }
  std::wstring columnName(int32_t index) { return checked().columnName(index); }
  bool isNull(int32_t index, bool emptyIsNull = false) { return checked().isNull(index, emptyIsNull); }
  bool isEmpty(int32_t index, bool nullIsEmpty = true) { return checked().isEmpty(index, nullIsEmpty); }
  std::wstring get(int32_t index, const std::wstring& defaultValue = {}, bool emptyIsNull = false) {
    return checked().get(index, defaultValue, emptyIsNull);
  }
  bool lookup(int32_t index, std::wstring& out, bool emptyIsNull = false) {
    return checked().lookup(index, out, emptyIsNull);
  }
  int32_t rowCount() { return checked().rowCount(); }

  // By-name access: a column the query did not select throws "Unexpected query for column "
  // + name (operations "VRecordSet::get", "VRecordSet::isNull", "VRecordSet::lookup"), even
  // when a default is given.
  std::wstring get(const std::wstring& column, const std::wstring& defaultValue = {}, bool emptyIsNull = false);
  bool isNull(const std::wstring& column, bool emptyIsNull = false);
  bool lookup(const std::wstring& column, std::wstring& out, bool emptyIsNull = false);

 private:
  IDatabaseRecordSet& checked() const;
  int32_t indexOf(const std::wstring& column, const char* operation) const;

  IDatabaseRecordSet* recordSet_ = nullptr;
};

// One connection to a database engine. Text is wide throughout; each provider converts at
// its boundary. Failures are vexceptions (a failed connect a VDatabase::ConnectException).
// A provider is used by one thread at a time.
class IDatabaseProvider {
 public:
  // Derived destructors close the connection if one is open.
  virtual ~IDatabaseProvider() = default;

  // Opens the connection, dropping any previous or half-open one first. Port 0 and an empty
  // socket leave the choice to the engine's client library. Throws on failure and is then
  // not connected.
  virtual void connect(const std::wstring& host, const std::wstring& database, const std::wstring& login,
                       const std::wstring& password, int32_t port, const std::wstring& socket) = 0;
  // The same for a login that only its password may admit: an engine that could also let it
  // in through the operating-system account refuses that. Engines without such logins
  // connect as connect() does.
  virtual void connectWithPasswordOnly(const std::wstring& host, const std::wstring& database,
                                       const std::wstring& login, const std::wstring& password, int32_t port,
                                       const std::wstring& socket) {
    connect(host, database, login, password, port, socket);
  }
  virtual bool isConnected() const = 0;
  // The connection is alive.
  virtual bool ping() = 0;
  virtual void disconnect() = 0;
  virtual std::wstring version() = 0;
  // "MySQL", "MSSQL" or "Jet".
  virtual std::wstring providerName() const = 0;
  // `value` escaped for use between single quotes.
  virtual std::wstring escape(const std::wstring& value) = 0;
  virtual void useDatabase(const std::wstring& name) = 0;
  // Runs a statement that returns rows.
  virtual VRecordSet query(const std::wstring& sql) = 0;
  // Runs a statement without a result.
  virtual void execute(const std::wstring& sql) = 0;
  // Stores a row that may already exist. Callers always pass both statements, the delete
  // first; an engine may replace the pair by one statement.
  virtual void replace(const std::wstring& deleteSql, const std::wstring& insertSql) = 0;
  // Allows explicit identity values for this one table (empty: none). SQL Server only.
  virtual void setIdentityInsert(const std::wstring& table) { (void)table; }
  virtual int64_t lastInsertId() = 0;
  // Each call issues its statement to the engine whatever the depth; the depth is only
  // counted, so that nested begin/commit pairs can be detected with transactionDepth().
  virtual void beginTransaction() = 0;
  virtual void commitTransaction() = 0;
  virtual void rollbackTransaction() = 0;
  // SQL Server: a transaction begun only when none is open, committed by the end call.
  virtual void beginImportTransaction() {}
  virtual void endImportTransaction() {}
  // The next identity value for `column` of `table`.
  virtual int64_t nextCounterValue(const std::wstring& table, const std::wstring& column) = 0;
  virtual bool tableExists(const std::wstring& name) = 0;
  virtual int32_t transactionDepth() const = 0;
  // The engine's last error message.
  virtual std::wstring lastError() = 0;

  // Schema and data import and export. The import subsystem is not part of this program,
  // so the base bodies do nothing.
  virtual void setUserPassword(const std::wstring& login, const std::wstring& password);
  virtual void exportTables(std::wostream& writer);
  virtual void exportTablesToDocument(pugi::xml_document& document);
  virtual void exportTableToDocument(pugi::xml_document& document, const std::wstring& table);
  virtual void ImportSchema() {}
  virtual void ImportData() {}

  // Installs the handler used to recover from a lost connection (null: none). Not owned.
  virtual void setReconnectHandler(ReconnectHandler* handler) { (void)handler; }

  // A new provider for `name`, compared exactly: "MySQL" or "" (MySQL), "MSSQL", "Jet".
  // Anything else throws "Unable to build database provider " + name (operation
  // "IDatabaseProvider::Create").
  static std::unique_ptr<IDatabaseProvider> Create(const std::wstring& name);

 protected:
  IDatabaseProvider() = default;
  IDatabaseProvider(const IDatabaseProvider&) = delete;
  IDatabaseProvider& operator=(const IDatabaseProvider&) = delete;
};
