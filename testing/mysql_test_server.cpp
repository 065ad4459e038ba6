#include "testing/mysql_test_server.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "platform/text/text_codec.h"
#include "platform/report/vexception.h"
#include "platform/text/vformat.h"

namespace testing_support {

namespace {

bool readVariable(const char* name, std::wstring& out, std::string* why) {
  const char* value = std::getenv(name);
  if (!value || !*value) {
    if (why)
      *why = std::string(name) +
             " is not set: no private MariaDB server for this run (scripts/test starts one; "
             "scripts/mariadb-private start DIR and sourcing DIR/env does it by hand)";
    return false;
  }
  out = text::fromAnsi(value);
  return true;
}

}  // namespace

std::optional<MySQLTestServer> MySQLTestServer::fromEnvironment(std::string* why) {
  MySQLTestServer server;
  std::wstring port;
  if (!readVariable("CADRO_TEST_MYSQL_SOCKET", server.socket, why) ||
      !readVariable("CADRO_TEST_MYSQL_HOST", server.host, why) || !readVariable("CADRO_TEST_MYSQL_PORT", port, why) ||
      !readVariable("CADRO_TEST_MYSQL_DB", server.database, why) ||
      !readVariable("CADRO_TEST_MYSQL_USER", server.user, why) ||
      !readVariable("CADRO_TEST_MYSQL_PASSWORD", server.password, why) ||
      !readVariable("CADRO_TEST_MYSQL_ADMIN_USER", server.adminUser, why) ||
      !readVariable("CADRO_TEST_MYSQL_ADMIN_PASSWORD", server.adminPassword, why))
    return std::nullopt;
  server.port = static_cast<int32_t>(std::wcstol(port.c_str(), nullptr, 10));
  return server;
}

std::unique_ptr<MySQLDatabaseProvider> MySQLTestServer::connectAsAdmin(const std::wstring& db) const {
  auto provider = std::make_unique<MySQLDatabaseProvider>();
  provider->connect(L"localhost", db, adminUser, adminPassword, 0, socket);
  return provider;
}

std::unique_ptr<MySQLDatabaseProvider> MySQLTestServer::connectAsControlPanel(const std::wstring& db) const {
  auto provider = std::make_unique<MySQLDatabaseProvider>();
  provider->connect(L"localhost", db, user, password, 0, socket);
  return provider;
}

MySQLServerLoginsLock::MySQLServerLoginsLock(const MySQLTestServer& server) {
  const std::string path = text::toAnsi(server.socket) + ".logins.lock";
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) raiseErrno(L"open " + text::fromAnsi(path), errno, VCTX(L"", "MySQLServerLoginsLock"));
  if (::flock(fd_, LOCK_EX) != 0) {
    int err = errno;
    ::close(fd_);
    raiseErrno(L"flock " + text::fromAnsi(path), err, VCTX(L"", "MySQLServerLoginsLock"));
  }
}

MySQLServerLoginsLock::~MySQLServerLoginsLock() {
  if (fd_ >= 0) ::close(fd_);
}

MySQLScratchDatabase::MySQLScratchDatabase(const MySQLTestServer& server)
    : server_(server), admin_(server.connectAsAdmin()) {
  static std::atomic<unsigned> sequence{0};
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  name_ = vformat(L"cadro_t_%u_%u_%u", static_cast<unsigned>(getpid()), sequence++,
                  static_cast<unsigned>(ticks & 0xFFFFFF));
  admin_->execute(L"CREATE DATABASE `" + name_ + L"` CHARACTER SET utf8mb4");
}

MySQLScratchDatabase::~MySQLScratchDatabase() {
  try {
    if (!admin_->ping()) admin_ = server_.connectAsAdmin();
    admin_->execute(L"DROP DATABASE IF EXISTS `" + name_ + L"`");
  } catch (...) {
    // A database left behind goes with the server's data directory at the end of the run.
  }
}

ScopedFallbackLogin::ScopedFallbackLogin(MySQLDatabaseProvider& admin) : admin_(admin) {
  admin_.execute(L"CREATE USER 'admin'@'localhost' IDENTIFIED BY 'kvorn'");
}

ScopedFallbackLogin::~ScopedFallbackLogin() {
  try {
    admin_.execute(L"DROP USER IF EXISTS 'admin'@'localhost'");
  } catch (...) {
  }
}

}  // namespace testing_support
