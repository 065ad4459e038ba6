#include "testing/mssql_test_server.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>

#include "platform/text/text_codec.h"
#include "platform/report/vexception.h"

namespace testing_support {

std::optional<MSSQLTestServer> MSSQLTestServer::fromEnvironment(std::string* why) {
  const char* value = std::getenv("CADRO_TEST_MSSQL");
  if (!value || !*value) {
    if (why) *why = "CADRO_TEST_MSSQL names no SQL Server";
    return std::nullopt;
  }
  const std::wstring text = text::fromUtf8(value);
  size_t first = text.find(L';');
  size_t second = first == std::wstring::npos ? std::wstring::npos : text.find(L';', first + 1);
  if (second == std::wstring::npos) {
    if (why) *why = "CADRO_TEST_MSSQL is not \"host[,port];login;password\"";
    return std::nullopt;
  }
  return MSSQLTestServer{text.substr(0, first), text.substr(first + 1, second - first - 1), text.substr(second + 1)};
}

std::unique_ptr<MSSQLDatabaseProvider> MSSQLTestServer::connect(const std::wstring& database) const {
  auto provider = std::make_unique<MSSQLDatabaseProvider>();
  provider->connect(dataSource, database, login, password, 0, L"");
  return provider;
}

MSSQLScratchDatabase::MSSQLScratchDatabase(const MSSQLTestServer& server) : server_(server) {
  static std::atomic<int> counter{0};
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  name_ = L"cadro_t_" + std::to_wstring(::getpid()) + L"_" + std::to_wstring(++counter) + L"_" +
          std::to_wstring(ticks % 1000000);
  admin_ = server_.connect();
  try {
    admin_->execute(L"CREATE DATABASE [" + name_ + L"] COLLATE Latin1_General_100_CI_AS_SC_UTF8");
  } catch (const vexception&) {
    admin_->execute(L"CREATE DATABASE [" + name_ + L"]");
  }
}

MSSQLScratchDatabase::~MSSQLScratchDatabase() {
  try {
    admin_->execute(L"ALTER DATABASE [" + name_ + L"] SET SINGLE_USER WITH ROLLBACK IMMEDIATE");
    admin_->execute(L"DROP DATABASE [" + name_ + L"]");
  } catch (...) {
  }
}

}  // namespace testing_support
