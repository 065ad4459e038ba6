// cadro-schema mysql|sqlite|mssql: writes the CREATE TABLE statements of the control-panel schema
// for that engine to standard output, one per line ending in ";", so that a demo or an
// operator can build a database with the engine's own client (mariadb, sqlite3, sqlcmd).
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/text/text_codec.h"
#include "testing/controlpanel_schema.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  using testing_support::SqlDialect;
  if (argc != 2 || (std::strcmp(argv[1], "mysql") != 0 && std::strcmp(argv[1], "sqlite") != 0 &&
                    std::strcmp(argv[1], "mssql") != 0)) {
    std::fprintf(stderr, "usage: cadro-schema mysql|sqlite|mssql\n");
    return 2;
  }
  SqlDialect dialect = std::strcmp(argv[1], "mysql") == 0    ? SqlDialect::MySQL
                       : std::strcmp(argv[1], "sqlite") == 0 ? SqlDialect::SQLite
                                                             : SqlDialect::MSSQL;
  for (const std::wstring& statement : testing_support::controlPanelSchemaDdl(dialect))
    std::printf("%s;\n", text::toUtf8(statement).c_str());
  return 0;
}
