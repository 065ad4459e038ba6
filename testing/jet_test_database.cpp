#include "testing/jet_test_database.h"

#include <sqlite3.h>

#include <stdexcept>

#include "platform/text/text_codec.h"
#include "testing/controlpanel_schema.h"

namespace testing_support {

void createJetFile(const std::string& path, bool withSchema) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    throw std::runtime_error("cannot create " + path);
  }
  // An empty file is a database to SQLite; writing the schema version gives it its header.
  std::string script = "PRAGMA user_version = 1;";
  if (withSchema)
    for (const std::wstring& statement : controlPanelSchemaDdl(SqlDialect::SQLite)) script += text::toUtf8(statement) + ";";
  char* error = nullptr;
  int rc = sqlite3_exec(db, script.c_str(), nullptr, nullptr, &error);
  std::string message = error ? error : "";
  sqlite3_free(error);
  sqlite3_close(db);
  if (rc != SQLITE_OK) throw std::runtime_error("cannot build " + path + ": " + message);
}

JetTestDatabase::JetTestDatabase(bool withSchema) : path_(dir_.file("cdr.mdb")) { createJetFile(path_, withSchema); }

std::unique_ptr<JetDatabaseProvider> JetTestDatabase::connect() const {
  const std::wstring root = text::fromUtf8(dir_.path());
  auto provider = std::make_unique<JetDatabaseProvider>([root] { return root; });
  provider->connect(L"localhost", text::fromUtf8(path_), L"", L"", 0, L"");
  return provider;
}

}  // namespace testing_support
