#include "db/ado/odbc_engine.h"

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <vector>

#include "db/ado/engine_error.h"
#include "platform/text/text_codec.h"

namespace ado {

namespace {

constexpr uint32_t kDefaultLoginTimeout = 15;

using Utf16 = std::vector<SQLWCHAR>;

// Wide text as NUL-terminated UTF-16, as the ODBC "W" functions take it.
Utf16 toUtf16(std::wstring_view text) {
  Utf16 out;
  out.reserve(text.size() + 1);
  for (wchar_t c : text) {
    uint32_t cp = static_cast<uint32_t>(c);
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<SQLWCHAR>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<SQLWCHAR>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<SQLWCHAR>(cp));
    }
  }
  out.push_back(0);
  return out;
}

void appendFromUtf16(const SQLWCHAR* text, size_t length, std::wstring& out) {
  for (size_t i = 0; i < length; ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      out += static_cast<wchar_t>(0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      out += text::kReplacement;
    } else {
      out += static_cast<wchar_t>(c);
    }
  }
}

// An ODBC handle, freed with its owner.
class Handle {
 public:
  Handle(SQLSMALLINT type, SQLHANDLE parent) : type_(type) {
    if (!SQL_SUCCEEDED(SQLAllocHandle(type, parent, &handle_))) {
      handle_ = SQL_NULL_HANDLE;
      throw EngineError(L"Unable to allocate an ODBC handle", kFail);
    }
  }
  ~Handle() {
    if (handle_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, handle_);
  }
  Handle(Handle&& other) noexcept : type_(other.type_), handle_(other.handle_) { other.handle_ = SQL_NULL_HANDLE; }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle& operator=(Handle&&) = delete;
  SQLHANDLE get() const { return handle_; }
  SQLSMALLINT type() const { return type_; }

 private:
  SQLSMALLINT type_;
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

// The diagnostic records of a failed call, as the engine's error.
[[noreturn]] void fail(const Handle& handle, const wchar_t* call, HRESULT code = kErrorsInCommand) {
  std::vector<std::wstring> messages;
  for (SQLSMALLINT record = 1;; ++record) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    std::vector<SQLWCHAR> message(1024);
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRecW(handle.type(), handle.get(), record, state, &native, message.data(),
                                  static_cast<SQLSMALLINT>(message.size()), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
      message.resize(static_cast<size_t>(length) + 1);
      rc = SQLGetDiagRecW(handle.type(), handle.get(), record, state, &native, message.data(),
                          static_cast<SQLSMALLINT>(message.size()), &length);
    }
    if (!SQL_SUCCEEDED(rc)) break;
    std::wstring text;
    size_t chars = length < 0 ? 0 : static_cast<size_t>(length);
    if (chars >= message.size()) chars = message.size() - 1;
    appendFromUtf16(message.data(), chars, text);
    messages.push_back(std::move(text));
  }
  if (messages.empty()) messages.push_back(std::wstring(call) + L" failed");
  throw EngineError(std::move(messages), code);
}

bool isLocalName(std::wstring_view host) {
  return host == L"." || text::equalsNoCase(host, L"(local)") || text::equalsNoCase(host, L"(localhost)");
}

// A value as a connection-string attribute: braces when it holds characters that the
// ODBC syntax gives a meaning, with "}" doubled inside.
std::wstring attribute(std::wstring_view value) {
  bool plain = value.empty() || (value.front() != L' ' && value.back() != L' ' &&
                                 value.find_first_of(L";{}=[](),?*!@") == std::wstring_view::npos);
  if (plain) return std::wstring(value);
  std::wstring out = L"{";
  for (wchar_t c : value) {
    out += c;
    if (c == L'}') out += L'}';
  }
  out += L'}';
  return out;
}

class SqlServerSession : public Session {
 public:
  SqlServerSession() : env_(SQL_HANDLE_ENV, SQL_NULL_HANDLE) {
    SQLSetEnvAttr(env_.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    dbc_ = std::make_unique<Handle>(SQL_HANDLE_DBC, env_.get());
  }

  ~SqlServerSession() override {
    if (connected_) SQLDisconnect(dbc_->get());
    dbc_.reset();
  }

  void connect(const std::wstring& connectionString, uint32_t loginTimeout) {
    SQLSetConnectAttrW(dbc_->get(), SQL_ATTR_LOGIN_TIMEOUT,
                       reinterpret_cast<SQLPOINTER>(static_cast<uintptr_t>(loginTimeout ? loginTimeout : kDefaultLoginTimeout)), 0);
    Utf16 text = toUtf16(connectionString);
    SQLRETURN rc = SQLDriverConnectW(dbc_->get(), nullptr, text.data(), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) fail(*dbc_, L"SQLDriverConnect", kFail);
    connected_ = true;
  }

  void execute(const std::wstring& statement) override {
    Handle stmt = run(statement);
    drain(stmt);
  }

  std::optional<RowSet> query(const std::wstring& statement) override {
    Handle stmt = run(statement);
    for (;;) {
      SQLSMALLINT columns = 0;
      if (!SQL_SUCCEEDED(SQLNumResultCols(stmt.get(), &columns))) fail(stmt, L"SQLNumResultCols");
      if (columns > 0) return fetch(stmt, columns);
      SQLRETURN rc = SQLMoreResults(stmt.get());
      if (rc == SQL_NO_DATA) return std::nullopt;
      if (!SQL_SUCCEEDED(rc)) fail(stmt, L"SQLMoreResults");
    }
  }

  void beginTransaction() override {
    execute(level_ == 0 ? std::wstring(L"BEGIN TRANSACTION") : L"SAVE TRANSACTION " + savepoint(level_ + 1));
    ++level_;
  }

  void commitTransaction() override {
    // An inner level has nothing to commit: its work belongs to the outer transaction.
    if (level_ <= 1) execute(L"COMMIT TRANSACTION");
    if (level_ > 0) --level_;
  }

  void rollbackTransaction() override {
    execute(level_ <= 1 ? std::wstring(L"ROLLBACK TRANSACTION") : L"ROLLBACK TRANSACTION " + savepoint(level_));
    if (level_ > 0) --level_;
  }

  void setCommandTimeout(uint32_t seconds) override { commandTimeout_ = seconds; }

  void setProperty(const std::wstring&, int64_t) override {
    throw EngineError(L"Item cannot be found in the collection corresponding to the requested name or ordinal.",
                      kItemNotFound);
  }

  bool hasTable(const std::wstring& name) override {
    std::wstring quoted;
    for (wchar_t c : name) {
      quoted += c;
      if (c == L'\'') quoted += c;
    }
    std::optional<RowSet> rows =
        query(L"SELECT COUNT(*) FROM INFORMATION_SCHEMA.TABLES WHERE TABLE_NAME = N'" + quoted + L"'");
    return rows && rows->rowCount() > 0 && rows->at(0, 0) && *rows->at(0, 0) != L"0";
  }

 private:
  static std::wstring savepoint(int level) { return L"cadro_level_" + std::to_wstring(level); }

  Handle run(const std::wstring& statement) {
    Handle stmt(SQL_HANDLE_STMT, dbc_->get());
    if (commandTimeout_)
      SQLSetStmtAttrW(stmt.get(), SQL_ATTR_QUERY_TIMEOUT,
                      reinterpret_cast<SQLPOINTER>(static_cast<uintptr_t>(commandTimeout_)), 0);
    Utf16 text = toUtf16(statement);
    SQLRETURN rc = SQLExecDirectW(stmt.get(), text.data(), static_cast<SQLINTEGER>(text.size() - 1));
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) fail(stmt, L"SQLExecDirect");
    return stmt;
  }

  // Walks the remaining results of a batch, so that a failing later statement is seen.
  static void drain(Handle& stmt) {
    for (;;) {
      SQLRETURN rc = SQLMoreResults(stmt.get());
      if (rc == SQL_NO_DATA) return;
      if (!SQL_SUCCEEDED(rc)) fail(stmt, L"SQLMoreResults");
    }
  }

  static RowSet fetch(Handle& stmt, SQLSMALLINT columns) {
    RowSet rows;
    for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columns); ++c) {
      SQLWCHAR name[256] = {};
      SQLSMALLINT length = 0, type = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      if (!SQL_SUCCEEDED(SQLDescribeColW(stmt.get(), c, name, 256, &length, &type, &size, &digits, &nullable)))
        fail(stmt, L"SQLDescribeCol");
      std::wstring column;
      appendFromUtf16(name, length < 0 ? 0 : (length > 255 ? 255 : static_cast<size_t>(length)), column);
      rows.columns.push_back(std::move(column));
    }
    std::vector<SQLWCHAR> buffer(4096);
    const SQLLEN bufferBytes = static_cast<SQLLEN>(buffer.size() * sizeof(SQLWCHAR));
    for (;;) {
      SQLRETURN rc = SQLFetch(stmt.get());
      if (rc == SQL_NO_DATA) break;
      if (!SQL_SUCCEEDED(rc)) fail(stmt, L"SQLFetch");
      for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columns); ++c) {
        std::wstring value;
        bool isNull = false;
        for (;;) {
          SQLLEN indicator = 0;
          rc = SQLGetData(stmt.get(), c, SQL_C_WCHAR, buffer.data(), bufferBytes, &indicator);
          if (rc == SQL_NO_DATA) break;
          if (!SQL_SUCCEEDED(rc)) fail(stmt, L"SQLGetData");
          if (indicator == SQL_NULL_DATA) {
            isNull = true;
            break;
          }
          const size_t capacity = buffer.size() - 1;
          const bool truncated = indicator == SQL_NO_TOTAL || indicator >= bufferBytes;
          size_t chars = truncated ? capacity : static_cast<size_t>(indicator) / sizeof(SQLWCHAR);
          appendFromUtf16(buffer.data(), chars, value);
          if (rc == SQL_SUCCESS || !truncated) break;
        }
        if (isNull)
          rows.cells.emplace_back(std::nullopt);
        else
          rows.cells.emplace_back(std::move(value));
      }
    }
    return rows;
  }

  Handle env_;
  std::unique_ptr<Handle> dbc_;
  bool connected_ = false;
  uint32_t commandTimeout_ = 0;
  int level_ = 0;
};

}  // namespace

std::wstring odbcConnectionString(const ConnectionString& oledb, const std::wstring& login,
                                  const std::wstring& password, const std::wstring& driver) {
  std::wstring server = oledb.get(L"Data Source");
  if (server.empty()) server = oledb.get(L"Server");
  if (server.size() > 4 && text::equalsNoCase(std::wstring_view(server).substr(0, 4), L"tcp:")) server.erase(0, 4);
  std::wstring port;
  if (size_t comma = server.find(L','); comma != std::wstring::npos) {
    port = server.substr(comma + 1);
    server.erase(comma);
  }
  std::wstring instance;
  if (size_t slash = server.find(L'\\'); slash != std::wstring::npos) {
    instance = server.substr(slash);
    server.erase(slash);
  }
  if (server.empty() || isLocalName(server)) server = L"localhost";
  if (port.empty() && instance.empty()) port = L"1433";

  std::wstring out = L"DRIVER={" + driver + L"};SERVER=" + attribute(server + instance);
  if (!port.empty()) out += L";PORT=" + attribute(port);
  const std::wstring catalog = oledb.get(L"Initial Catalog");
  if (!catalog.empty()) out += L";DATABASE=" + attribute(catalog);
  const std::wstring user = login.empty() ? oledb.get(L"User ID") : login;
  const std::wstring secret = login.empty() && password.empty() ? oledb.get(L"Password") : password;
  if (!user.empty()) out += L";UID=" + attribute(user);
  if (!user.empty() || !secret.empty()) out += L";PWD=" + attribute(secret);
  out += L";ClientCharset=UTF-8";
  return out;
}

std::unique_ptr<Session> SqlServerEngine::open(const ConnectionString& connection, const std::wstring& login,
                                               const std::wstring& password, uint32_t connectionTimeout) {
  auto session = std::make_unique<SqlServerSession>();
  session->connect(odbcConnectionString(connection, login, password), connectionTimeout);
  return session;
}

}  // namespace ado
