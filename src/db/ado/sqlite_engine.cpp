#include "db/ado/sqlite_engine.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <climits>
#include <string>

#include "db/ado/engine_error.h"
#include "db/ado/jet_functions.h"
#include "db/ado/jet_sql.h"
#include "platform/text/text_codec.h"

namespace ado {

namespace {

constexpr uint32_t kDefaultConnectionTimeout = 15;
constexpr uint32_t kDefaultCommandTimeout = 30;

int milliseconds(uint32_t seconds, uint32_t defaultSeconds) {
  uint64_t ms = static_cast<uint64_t>(seconds ? seconds : defaultSeconds) * 1000;
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

// Owns one prepared statement.
class Statement {
 public:
  Statement() = default;
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt** out() { return &stmt_; }
  sqlite3_stmt* get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

class JetSession : public Session {
 public:
  JetSession(sqlite3* db, std::wstring path) : db_(db), path_(std::move(path)) {}
  ~JetSession() override { sqlite3_close_v2(db_); }

  void execute(const std::wstring& statement) override {
    Statement s;
    prepare(statement, s);
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) fail();
  }

  std::optional<RowSet> query(const std::wstring& statement) override {
    Statement s;
    prepare(statement, s);
    const int columns = sqlite3_column_count(s.get());
    RowSet rows;
    for (int c = 0; c < columns; ++c) {
      const char* name = sqlite3_column_name(s.get(), c);
      rows.columns.push_back(text::fromUtf8(name ? name : ""));
    }
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
      for (int c = 0; c < columns; ++c) {
        sqlite3_value* value = sqlite3_column_value(s.get(), c);
        if (sqlite3_value_type(value) == SQLITE_NULL)
          rows.cells.emplace_back(std::nullopt);
        else
          rows.cells.emplace_back(text::fromUtf8(jet::valueText(value)));
      }
    }
    if (rc != SQLITE_DONE) fail();
    if (columns == 0) return std::nullopt;
    return rows;
  }

  void beginTransaction() override {
    run(level_ == 0 ? std::string("BEGIN IMMEDIATE") : "SAVEPOINT " + savepoint(level_ + 1));
    ++level_;
  }

  void commitTransaction() override {
    run(level_ <= 1 ? std::string("COMMIT") : "RELEASE " + savepoint(level_));
    if (level_ > 0) --level_;
  }

  void rollbackTransaction() override {
    if (level_ <= 1) {
      run("ROLLBACK");
    } else {
      run("ROLLBACK TO " + savepoint(level_));
      run("RELEASE " + savepoint(level_));
    }
    if (level_ > 0) --level_;
  }

  void setCommandTimeout(uint32_t seconds) override {
    sqlite3_busy_timeout(db_, milliseconds(seconds, kDefaultCommandTimeout));
  }

  void setProperty(const std::wstring& name, int64_t value) override {
    if (text::equalsNoCase(name, L"Jet OLEDB:Transaction Commit Mode")) {
      run(value ? "PRAGMA synchronous = FULL" : "PRAGMA synchronous = NORMAL");
      return;
    }
    if (text::equalsNoCase(name, L"Jet OLEDB:Implicit Commit Sync")) return;
    throw EngineError(L"Item cannot be found in the collection corresponding to the requested name or ordinal.",
                      kItemNotFound);
  }

  bool hasTable(const std::wstring& name) override {
    Statement s;
    if (sqlite3_prepare_v2(db_, "SELECT 1 FROM sqlite_master WHERE type IN ('table', 'view') AND name = ?1 COLLATE NOCASE",
                           -1, s.out(), nullptr) != SQLITE_OK)
      fail();
    const std::string utf8 = text::toUtf8(name);
    sqlite3_bind_text(s.get(), 1, utf8.data(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
    int rc = sqlite3_step(s.get());
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) fail();
    return rc == SQLITE_ROW;
  }

  // Checks that the file is a database at all (SQLite reads the header only when a
  // statement first needs it).
  void probe() {
    try {
      run("SELECT count(*) FROM sqlite_master");
    } catch (const EngineError&) {
      if ((sqlite3_errcode(db_) & 0xff) == SQLITE_NOTADB)
        throw EngineError(L"Unrecognized database format '" + path_ + L"'.", kFail);
      throw;
    }
  }

 private:
  static std::string savepoint(int level) { return "jet_level_" + std::to_string(level); }

  [[noreturn]] void fail() const { throw EngineError(text::fromUtf8(sqlite3_errmsg(db_)), kErrorsInCommand); }

  void run(const std::string& sql) {
    Statement s;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, s.out(), nullptr) != SQLITE_OK) fail();
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) fail();
  }

  void prepare(const std::wstring& statement, Statement& s) {
    // SQLite would end the statement at a NUL and silently drop what follows.
    if (statement.find(L'\0') != std::wstring::npos)
      throw EngineError(L"Characters found after end of SQL statement.", kErrorsInCommand);
    const std::string sql = jet::rewriteForSqlite(text::toUtf8(statement));
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), s.out(), &tail) != SQLITE_OK) fail();
    if (!s.get())
      throw EngineError(L"Invalid SQL statement; expected 'DELETE', 'INSERT', 'PROCEDURE', 'SELECT', or 'UPDATE'.",
                        kErrorsInCommand);
    // One statement per call: a second one after a ";" is refused, as Jet refuses it.
    const char* end = sql.data() + sql.size();
    if (tail && tail < end) {
      Statement rest;
      if (sqlite3_prepare_v2(db_, tail, static_cast<int>(end - tail), rest.out(), nullptr) != SQLITE_OK || rest.get())
        throw EngineError(L"Characters found after end of SQL statement.", kErrorsInCommand);
    }
  }

  sqlite3* db_;
  std::wstring path_;
  int level_ = 0;
};

}  // namespace

std::unique_ptr<Session> JetEngine::open(const ConnectionString& connection, const std::wstring&, const std::wstring&,
                                         uint32_t connectionTimeout) {
  const std::wstring path = connection.get(L"Data Source");
  const std::string nativePath = text::toUtf8(path);
  struct stat st {};
  if (path.empty() || nativePath.find('\0') != std::string::npos || ::stat(nativePath.c_str(), &st) != 0 ||
      S_ISDIR(st.st_mode))
    throw EngineError(L"Could not find file '" + path + L"'.", kFail);

  const bool readOnly = text::equalsNoCase(connection.get(L"Mode"), L"Read");
  sqlite3* db = nullptr;
  const int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
  if (sqlite3_open_v2(nativePath.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    std::wstring message = db ? text::fromUtf8(sqlite3_errmsg(db)) : L"out of memory";
    sqlite3_close_v2(db);
    throw EngineError(L"Could not use '" + path + L"'; " + message + L".", kFail);
  }
  auto session = std::make_unique<JetSession>(db, path);
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, milliseconds(connectionTimeout, kDefaultConnectionTimeout));
  std::string error;
  if (!jet::registerFunctions(db, error)) throw EngineError(text::fromUtf8(error), kFail);
  session->probe();
  return session;
}

}  // namespace ado
