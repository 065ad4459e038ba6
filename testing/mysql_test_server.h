#pragma once
// The private MariaDB server of a test run (scripts/mariadb-private, started by
// scripts/test): its connection facts from the CADRO_TEST_MYSQL_* environment variables,
// and scratch databases, one per test, so that tests can run in parallel.

#include <memory>
#include <optional>
#include <string>

#include "db/mysql_provider.h"

namespace testing_support {

struct MySQLTestServer {
  std::wstring socket;    // CADRO_TEST_MYSQL_SOCKET
  std::wstring host;      // CADRO_TEST_MYSQL_HOST (TCP, 127.0.0.1)
  int32_t port = 0;       // CADRO_TEST_MYSQL_PORT
  std::wstring database;  // CADRO_TEST_MYSQL_DB: the control-panel database
  std::wstring user;      // CADRO_TEST_MYSQL_USER: the control-panel login
  std::wstring password;  // CADRO_TEST_MYSQL_PASSWORD
  std::wstring adminUser;      // CADRO_TEST_MYSQL_ADMIN_USER: may create databases and logins
  std::wstring adminPassword;  // CADRO_TEST_MYSQL_ADMIN_PASSWORD

  // The server the environment names, or nullopt with the reason in `why` (a variable is
  // missing: the test run was not started by scripts/test).
  static std::optional<MySQLTestServer> fromEnvironment(std::string* why = nullptr);

  // A provider connected over the socket as the administrator, with `database` selected
  // (none when empty).
  std::unique_ptr<MySQLDatabaseProvider> connectAsAdmin(const std::wstring& database = {}) const;
  // A provider connected over the socket with the control-panel login to `database`.
  std::unique_ptr<MySQLDatabaseProvider> connectAsControlPanel(const std::wstring& database) const;
};

// Skips the running test when no test server is configured.
#define CADRO_REQUIRE_MYSQL_SERVER(serverVariable)                                             \
  std::string serverVariable##Why;                                                             \
  auto serverVariable = ::testing_support::MySQLTestServer::fromEnvironment(&serverVariable##Why); \
  if (!serverVariable) GTEST_SKIP() << serverVariable##Why

// Serialises, across test processes, the tests that change or depend on the server-wide
// logins (the fallback logins of the connection chain), by an flock beside the socket.
class MySQLServerLoginsLock {
 public:
  explicit MySQLServerLoginsLock(const MySQLTestServer& server);
  ~MySQLServerLoginsLock();
  MySQLServerLoginsLock(const MySQLServerLoginsLock&) = delete;
  MySQLServerLoginsLock& operator=(const MySQLServerLoginsLock&) = delete;

 private:
  int fd_ = -1;
};

// The last fallback login of the connection chain ("admin" / "kvorn" on localhost), created
// on the server for one test and dropped again. Hold a MySQLServerLoginsLock around it.
class ScopedFallbackLogin {
 public:
  explicit ScopedFallbackLogin(MySQLDatabaseProvider& admin);
  ~ScopedFallbackLogin();
  ScopedFallbackLogin(const ScopedFallbackLogin&) = delete;
  ScopedFallbackLogin& operator=(const ScopedFallbackLogin&) = delete;

 private:
  MySQLDatabaseProvider& admin_;
};

// A database of its own for one test, created on construction and dropped (with whatever
// the test left in it) on destruction. Its name starts with "cadro_t_", which the
// control-panel login of the test server may use.
class MySQLScratchDatabase {
 public:
  explicit MySQLScratchDatabase(const MySQLTestServer& server);
  ~MySQLScratchDatabase();
  MySQLScratchDatabase(const MySQLScratchDatabase&) = delete;
  MySQLScratchDatabase& operator=(const MySQLScratchDatabase&) = delete;

  const std::wstring& name() const { return name_; }
  const MySQLTestServer& server() const { return server_; }
  // A new provider connected to this database with the control-panel login.
  std::unique_ptr<MySQLDatabaseProvider> connect() const { return server_.connectAsControlPanel(name_); }
  // The administrator's connection (no database selected), for statements a test runs
  // from a second session.
  MySQLDatabaseProvider& admin() { return *admin_; }

 private:
  MySQLTestServer server_;
  std::unique_ptr<MySQLDatabaseProvider> admin_;
  std::wstring name_;
};

}  // namespace testing_support
