#pragma once
// A SQL Server for the provider tests, named by the environment variable CADRO_TEST_MSSQL
// as "host[,port];login;password" (for example "127.0.0.1,1433;sa;Secret#1"; the password
// is the rest of the text and may hold ";"). The login must be allowed to create
// databases. Without the variable the SQL Server tests skip.

#include <memory>
#include <optional>
#include <string>

#include "db/mssql_provider.h"

namespace testing_support {

struct MSSQLTestServer {
  std::wstring dataSource;  // "host" or "host,port", as "Data Source" takes it
  std::wstring login;
  std::wstring password;

  // The server the environment names, or nullopt with the reason in `why`.
  static std::optional<MSSQLTestServer> fromEnvironment(std::string* why = nullptr);
  // A provider connected to `database` ("master" when empty).
  std::unique_ptr<MSSQLDatabaseProvider> connect(const std::wstring& database = {}) const;
};

// A database of its own for one test, dropped on destruction. Created with a UTF-8
// collation where the server has one, so that text outside the server's code page survives
// in plain string literals.
class MSSQLScratchDatabase {
 public:
  explicit MSSQLScratchDatabase(const MSSQLTestServer& server);
  ~MSSQLScratchDatabase();
  MSSQLScratchDatabase(const MSSQLScratchDatabase&) = delete;
  MSSQLScratchDatabase& operator=(const MSSQLScratchDatabase&) = delete;

  const std::wstring& name() const { return name_; }
  std::unique_ptr<MSSQLDatabaseProvider> connect() const { return server_.connect(name_); }

 private:
  MSSQLTestServer server_;
  std::unique_ptr<MSSQLDatabaseProvider> admin_;
  std::wstring name_;
};

}  // namespace testing_support
