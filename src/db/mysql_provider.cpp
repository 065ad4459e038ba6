#include "db/mysql_provider.h"

#include <cwchar>
#include <random>
#include <string_view>
#include <vector>

#include "db/mysql_client_library.h"
#include "db/mysql_record_set.h"
#include "platform/report/log_manager.h"
#include "platform/text/text_codec.h"
#include "platform/report/vexception.h"
#include "platform/text/vformat.h"

namespace {

constexpr unsigned kServerLost = 2013;      // lost connection to the server during the query
constexpr unsigned kServerGoneAway = 2006;  // the server has gone away
constexpr unsigned kUnknownError = 2000;
// The one authentication plug-in the fallback logins may use.
constexpr const char* kPasswordPlugin = "mysql_native_password";

}  // namespace

int compareDottedVersions(const std::wstring& first, const std::wstring& second) {
  const wchar_t* a = first.c_str();
  const wchar_t* b = second.c_str();
  for (;;) {
    wchar_t* aEnd = nullptr;
    wchar_t* bEnd = nullptr;
    long x = std::wcstol(a, &aEnd, 10);
    long y = std::wcstol(b, &bEnd, 10);
    if (x != y) return x < y ? -1 : 1;
    bool aGoesOn = *aEnd == L'.';
    bool bGoesOn = *bEnd == L'.';
    if (!aGoesOn && !bGoesOn) return 0;
    if (!aGoesOn) return -1;
    if (!bGoesOn) return 1;
    a = aEnd;
    b = bEnd;
    while (*a == L'.') ++a;
    while (*b == L'.') ++b;
  }
}

MySQLDatabaseProvider::~MySQLDatabaseProvider() { disconnect(); }

MYSQL* MySQLDatabaseProvider::requireHandle(const char* operation) const {
  if (!handle_) throw vexception(L"MySQLDatabaseProvider is not connected", VCTX(L"", operation));
  return handle_;
}

MYSQL* MySQLDatabaseProvider::openHandle(const ConnectArguments& a, const std::wstring& password, bool passwordOnly,
                                         std::wstring& error) {
  MYSQL* handle = library_->init(nullptr);
  if (!handle)
    throw vexception(L"Insufficient memory to allocate new object", VCTX(L"", "MySQLDatabaseProvider::connect"));

  // Lost connections are recovered only by the statement retry with a reconnect handler;
  // the library reconnecting by itself would silently drop the session settings and any
  // open transaction.
  my_bool reconnect = 0;
  library_->options(handle, MYSQL_OPT_RECONNECT, &reconnect);
  // Keeps the client to the password exchange: no plug-in that would take a Kerberos
  // ticket, a PAM conversation or a key file in place of the password.
  if (passwordOnly && library_->options(handle, MARIADB_OPT_RESTRICTED_AUTH, kPasswordPlugin) != 0) {
    library_->close(handle);
    error = L"the client library cannot restrict the authentication to passwords";
    return nullptr;
  }

  const std::string ansiHost = text::toAnsi(a.host);
  const std::string ansiLogin = text::toAnsi(a.login);
  const std::string ansiPassword = text::toAnsi(password);
  const std::string ansiDatabase = text::toAnsi(a.database);
  const std::string ansiSocket = text::toAnsi(a.socket);
  if (!library_->realConnect(handle, ansiHost.c_str(), ansiLogin.c_str(), ansiPassword.c_str(),
                             a.database.empty() ? nullptr : ansiDatabase.c_str(), static_cast<unsigned>(a.port),
                             a.socket.empty() ? nullptr : ansiSocket.c_str(), 0)) {
    error = text::fromUtf8(library_->error(handle));
    library_->close(handle);
    return nullptr;
  }
  return handle;
}

// The server checks the socket's peer account without asking the client anything, so the
// client's restriction above cannot stop it. A second login with a password that cannot be
// right tells whether the password was checked at all.
bool MySQLDatabaseProvider::admitsAnyPassword(const ConnectArguments& a) {
  std::random_device random;
  std::wstring impossible = L"cadro-probe-";
  for (int i = 0; i < 4; ++i) impossible += std::to_wstring(random());
  std::wstring ignored;
  MYSQL* probe = openHandle(a, impossible, true, ignored);
  if (!probe) return false;
  library_->close(probe);
  return true;
}

void MySQLDatabaseProvider::connect(const std::wstring& host, const std::wstring& database, const std::wstring& login,
                                    const std::wstring& password, int32_t port, const std::wstring& socket) {
  open({host, database, login, port, socket}, password, false);
}

void MySQLDatabaseProvider::connectWithPasswordOnly(const std::wstring& host, const std::wstring& database,
                                                    const std::wstring& login, const std::wstring& password,
                                                    int32_t port, const std::wstring& socket) {
  open({host, database, login, port, socket}, password, true);
}

void MySQLDatabaseProvider::open(const ConnectArguments& arguments, const std::wstring& password, bool passwordOnly) {
  disconnect();
  ownsHandle_ = true;
  library_ = &MySQLClientLibrary::get();
  std::wstring error;
  MYSQL* handle = openHandle(arguments, password, passwordOnly, error);
  if (handle && passwordOnly && admitsAnyPassword(arguments)) {
    library_->close(handle);
    handle = nullptr;
    error = L"the server lets '" + arguments.login +
            L"' in without checking the password (operating-system authentication)";
  }
  if (!handle) {
    throw VDatabase::ConnectException(L"Failed to connect to database: " + error,
                                      VCTX(L"", "MySQLDatabaseProvider::connect"));
  }
  handle_ = handle;

  // A reconnect handler would call connect again from inside these statements.
  ReconnectHandler* handler = reconnectHandler_;
  reconnectHandler_ = nullptr;
  try {
    execute(L"SET SESSION TRANSACTION ISOLATION LEVEL READ UNCOMMITTED");
    if (compareDottedVersions(version(), L"4.1") >= 0) execute(L"SET NAMES 'utf8'");
    requireCaseBlindTableNames(*this);
  } catch (...) {
    reconnectHandler_ = handler;
    disconnect();
    throw;
  }
  reconnectHandler_ = handler;
}

void requireCaseBlindTableNames(IDatabaseProvider& provider) {
  // The control panel writes its table names in mixed case (DomainsTraffic, IP_Addresses
  // and ip_addresses for one table); on a server that compares them exactly, statements
  // would fail or miss tables one by one, deep inside the run.
  VRecordSet rs = provider.query(L"SELECT @@lower_case_table_names");
  const std::wstring value = rs.next() ? rs.get(0, L"unknown") : std::wstring(L"unknown");
  if (value != L"1") {
    throw VDatabase::UnsuitableServerException(
        L"The MySQL server must run with lower_case_table_names=1 (it runs with lower_case_table_names=" + value +
            L"): the control panel names its tables in mixed case",
        VCTX(L"", "MySQLDatabaseProvider::connect"));
  }
}

bool MySQLDatabaseProvider::ping() { return handle_ && library_->ping(handle_) == 0; }

void MySQLDatabaseProvider::disconnect() {
  if (!handle_) return;
  if (ownsHandle_) library_->close(handle_);
  handle_ = nullptr;
}

std::wstring MySQLDatabaseProvider::version() {
  VRecordSet rs = query(L"select version()");
  if (!rs.next())
    throw vexception(L"Unable to get MySQLDatabaseProvider version", VCTX(L"", "MySQLDatabaseProvider::version"));
  return rs.get(0);
}

std::wstring MySQLDatabaseProvider::escape(const std::wstring& value) {
  MYSQL* handle = requireHandle("MySQLDatabaseProvider::escape");
  const std::string utf8 = text::toUtf8(value);
  std::vector<char> buffer(utf8.size() * 2 + 1);
  unsigned long length = library_->realEscapeString(handle, buffer.data(), utf8.data(), utf8.size());
  if (length == static_cast<unsigned long>(-1))
    throw vexception(L"Unable to escape a value: " + lastError(), VCTX(L"", "MySQLDatabaseProvider::escape"));
  return text::fromUtf8(std::string_view(buffer.data(), length));
}

void MySQLDatabaseProvider::useDatabase(const std::wstring& name) { execute(L"USE `" + name + L"`"); }

unsigned MySQLDatabaseProvider::sendStatement(const std::string& utf8) {
  MYSQL* handle = requireHandle("MySQLDatabaseProvider::sendStatement");
  if (library_->realQuery(handle, utf8.data(), utf8.size()) == 0) return 0;
  unsigned error = library_->errorNumber(handle);
  return error != 0 ? error : kUnknownError;
}

void MySQLDatabaseProvider::execute(const std::wstring& sql) {
  vreport(0, L"MySQLDatabaseProvider Execute: %s", sql);
  const std::string utf8 = text::toUtf8(sql);
  unsigned error = sendStatement(utf8);
  if (error == kServerLost && reconnectHandler_) {
    vreport(0, L"MySQLDatabaseProvider::query reconnect");
    reconnectHandler_->reconnect(*this);
    error = sendStatement(utf8);
  }
  if (error != 0) {
    throw vexception(L"Can't execute " + sql + L": MySql error " + std::to_wstring(error) + L":" + lastError(),
                     VCTX(L"", "MySQLDatabaseProvider::execute"));
  }
  // A statement run here that still produced rows would leave the connection out of step
  // with the server ("Commands out of sync") for every later statement.
  if (MYSQL_RES* unread = library_->storeResult(handle_)) library_->freeResult(unread);
}

VRecordSet MySQLDatabaseProvider::query(const std::wstring& sql) {
  vreport(0, L"MySQLDatabaseProvider Query: %s", sql);
  const std::string utf8 = text::toUtf8(sql);
  unsigned error = sendStatement(utf8);
  if ((error == kServerLost || error == kServerGoneAway) && reconnectHandler_) {
    vreport(0, L"MySQLDatabaseProvider::query reconnect");
    reconnectHandler_->reconnect(*this);
    error = sendStatement(utf8);
  }
  if (error != 0) {
    throw vexception(
        L"Can't query " + sql + L": MySQLDatabaseProvider error " + std::to_wstring(error) + L":" + lastError(),
        VCTX(L"", "MySQLDatabaseProvider::query"));
  }
  MYSQL_RES* result = library_->storeResult(handle_);
  if (!result) {
    throw vexception(L"Can't get result for query " + sql + L" MySQLDatabaseProvider error " + lastError(),
                     VCTX(L"", "MySQLDatabaseProvider::query"));
  }
  return VRecordSet(new VMySQLRecordSet(*library_, result));
}

void MySQLDatabaseProvider::replace(const std::wstring&, const std::wstring& insertSql) {
  if (insertSql.size() > 6 && text::equalsNoCase(std::wstring_view(insertSql).substr(0, 6), L"INSERT")) {
    execute(L"REPLACE" + insertSql.substr(6));
    return;
  }
  throw vexception(L"Can't execute replace(). Invalid INSERT request: " + insertSql,
                   VCTX(L"", "MySQLDatabaseProvider::replace"));
}

int64_t MySQLDatabaseProvider::lastInsertId() {
  return handle_ ? static_cast<int64_t>(library_->insertId(handle_)) : 0;
}

void MySQLDatabaseProvider::beginTransaction() {
  execute(L"START TRANSACTION");
  ++transactionDepth_;
}

void MySQLDatabaseProvider::commitTransaction() {
  --transactionDepth_;
  execute(L"COMMIT");
}

void MySQLDatabaseProvider::rollbackTransaction() {
  --transactionDepth_;
  execute(L"ROLLBACK");
}

int64_t MySQLDatabaseProvider::nextCounterValue(const std::wstring&, const std::wstring&) {
  execute(L"insert into ms_jet_counter(val) values( 0 )");
  int64_t id = lastInsertId();
  execute(L"delete from ms_jet_counter where id < " + std::to_wstring(id));
  return id;
}

bool MySQLDatabaseProvider::tableExists(const std::wstring& name) {
  return query(vformat(L"show tables like '%s'", escape(name))).next();
}

std::wstring MySQLDatabaseProvider::lastError() {
  return handle_ ? text::fromUtf8(library_->error(handle_)) : std::wstring();
}
