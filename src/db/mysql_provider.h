#pragma once
// The provider for a MySQL (MariaDB) control-panel database, over the client library
// loaded at run time. Statements and values travel as UTF-8; the connection arguments
// (host, login, password, database name, socket) in the system code page.

#include <cstdint>
#include <string>

#include "db/database_provider.h"

struct st_mysql;
class MySQLClientLibrary;

// Compares two version texts by the dotted-number rule: the leading decimal numbers
// decide; on a tie, a text that goes on with "." is the higher one, and when both do the
// next numbers are compared. Anything after a number other than "." ends the comparison
// (so "4.1-log" equals "4.1"). Returns -1, 0 or 1.
int compareDottedVersions(const std::wstring& first, const std::wstring& second);

// Checks, with one query, that the server compares table names without regard to case
// ("SELECT @@lower_case_table_names" gives 1). Otherwise raises
// VDatabase::UnsuitableServerException "The MySQL server must run with
// lower_case_table_names=1 (it runs with lower_case_table_names=" + value + "): ...".
void requireCaseBlindTableNames(IDatabaseProvider& provider);

class MySQLDatabaseProvider : public IDatabaseProvider {
 public:
  MySQLDatabaseProvider() = default;
  ~MySQLDatabaseProvider() override;

  // Drops any previous connection, then connects with automatic reconnection switched off,
  // sets READ UNCOMMITTED isolation and, for servers from "4.1" on, "SET NAMES 'utf8'", and
  // checks that the server compares table names without regard to case
  // (lower_case_table_names=1; otherwise VDatabase::UnsuitableServerException naming the
  // setting). Failure to connect: VDatabase::ConnectException "Failed to connect to
  // database: " + the client library's text. Any failure leaves it not connected.
  void connect(const std::wstring& host, const std::wstring& database, const std::wstring& login,
               const std::wstring& password, int32_t port, const std::wstring& socket) override;
  // The same, admitted only by the password: the client uses "mysql_native_password" alone
  // and a login the server lets in whatever the password (its socket authentication of
  // the operating-system account) is refused with "Failed to connect to database: the
  // server lets '" + login + "' in without checking the password (operating-system
  // authentication)".
  void connectWithPasswordOnly(const std::wstring& host, const std::wstring& database, const std::wstring& login,
                               const std::wstring& password, int32_t port, const std::wstring& socket) override;
  bool isConnected() const override { return handle_ != nullptr; }
  bool ping() override;
  void disconnect() override;
  // The server's "select version()"; no row throws "Unable to get MySQLDatabaseProvider
  // version".
  std::wstring version() override;
  std::wstring providerName() const override { return L"MySQL"; }
  // The client library's escaping of the UTF-8 form. Needs a connection.
  std::wstring escape(const std::wstring& value) override;
  void useDatabase(const std::wstring& name) override;
  // A statement that yields no result set (an UPDATE, say) still runs, then throws
  // "Can't get result for query ...". After a lost connection (errors 2013 and 2006) the
  // statement is sent once more when a reconnect handler is installed.
  VRecordSet query(const std::wstring& sql) override;
  // After a lost connection (error 2013 only) the statement is sent once more when a
  // reconnect handler is installed.
  void execute(const std::wstring& sql) override;
  // Ignores the delete statement and runs the insert statement as REPLACE; a statement that
  // does not begin with "INSERT" (case ignored) throws.
  void replace(const std::wstring& deleteSql, const std::wstring& insertSql) override;
  int64_t lastInsertId() override;
  // START TRANSACTION, then depth + 1 (unchanged when the statement fails).
  void beginTransaction() override;
  // Depth - 1 first, even when the COMMIT or ROLLBACK then fails.
  void commitTransaction() override;
  void rollbackTransaction() override;
  // Hands out the id of a new ms_jet_counter row and deletes the rows below it; the table
  // and column are not used.
  int64_t nextCounterValue(const std::wstring& table, const std::wstring& column) override;
  bool tableExists(const std::wstring& name) override;
  int32_t transactionDepth() const override { return transactionDepth_; }
  std::wstring lastError() override;
  void setReconnectHandler(ReconnectHandler* handler) override { reconnectHandler_ = handler; }

 private:
  struct ConnectArguments {
    std::wstring host;
    std::wstring database;
    std::wstring login;
    int32_t port;
    std::wstring socket;
  };
  void open(const ConnectArguments& arguments, const std::wstring& password, bool passwordOnly);
  // A connected handle, or null with the reason in `error`.
  st_mysql* openHandle(const ConnectArguments& arguments, const std::wstring& password, bool passwordOnly,
                       std::wstring& error);
  // Whether the server also admits the login with a password it cannot have.
  bool admitsAnyPassword(const ConnectArguments& arguments);
  // Sends the statement; on failure returns the error number (0 on success).
  unsigned sendStatement(const std::string& utf8);
  // The connection handle; throws when not connected.
  st_mysql* requireHandle(const char* operation) const;

  const MySQLClientLibrary* library_ = nullptr;
  ReconnectHandler* reconnectHandler_ = nullptr;
  st_mysql* handle_ = nullptr;
  bool ownsHandle_ = true;
  int32_t transactionDepth_ = 0;
};
