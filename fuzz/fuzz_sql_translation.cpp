// Statements through the providers' quote translation and the Jet-to-SQLite rewrite. Text
// without quote characters translates to itself; a statement without "+", "@" and
// DATEADD rewrites to itself; and a statement SQLite accepts stays acceptable after the
// rewrite.
#include <sqlite3.h>

#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "db/ado/jet_functions.h"
#include "db/ado/jet_sql.h"
#include "db/sql_translation.h"
#include "platform/text/text_codec.h"

namespace {

sqlite3* database() {
  static sqlite3* db = [] {
    sqlite3* opened = nullptr;
    sqlite3_open(":memory:", &opened);
    std::string error;
    ado::jet::registerFunctions(opened, error);
    sqlite3_exec(opened, "CREATE TABLE t (a, b, c); CREATE TABLE d (name TEXT, id INTEGER)", nullptr, nullptr, nullptr);
    return opened;
  }();
  return db;
}

bool prepares(const std::string& sql, std::string* error) {
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v2(database(), sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr);
  if (rc != SQLITE_OK && error) *error = sqlite3_errmsg(database());
  sqlite3_finalize(stmt);
  return rc == SQLITE_OK;
}

bool contains(std::string_view text, std::string_view what, bool ignoreCase) {
  if (!ignoreCase) return text.find(what) != std::string_view::npos;
  for (size_t i = 0; i + what.size() <= text.size(); ++i) {
    size_t k = 0;
    while (k < what.size() && (text[i + k] | 0x20) == (what[k] | 0x20)) ++k;
    if (k == what.size()) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::setlocale(LC_ALL, "C.UTF-8");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::wstring statement = text::fromUtf8(bytes);
  const std::wstring jet = translateForJet(statement);
  const std::wstring sqlServer = translateForSqlServer(statement);
  if (statement.find_first_of(L"'\"`") == std::wstring::npos && (jet != statement || sqlServer != statement))
    std::abort();

  const std::string sql = text::toUtf8(jet);
  const std::string rewritten = ado::jet::rewriteForSqlite(sql);
  if (!contains(sql, "+", false) && !contains(sql, "@", false) && !contains(sql, "dateadd", true) &&
      rewritten != sql)
    std::abort();

  // SQLite stops at a NUL; only whole statements are compared.
  if (size < 4096 && sql.find('\0') == std::string::npos && !contains(sql, "@", false) && prepares(sql, nullptr)) {
    std::string error;
    if (!prepares(rewritten, &error) && !contains(error, "too large", false) && !contains(error, "too deep", false) &&
        !contains(error, "too many", false))
      std::abort();
  }
  return 0;
}
