#include "usage/database_sizes.h"

#include <map>

#include "db/ado/connection.h"
#include "db/ado/connection_string.h"
#include "db/ado_connection.h"
#include "db/cdr_database.h"
#include "db/text_number.h"
#include "platform/report/guard.h"
#include "platform/text/text_codec.h"
#include "usage/saturated_add.h"

namespace {

constexpr const char* kOperation = "statistics::calculateDiskSpace";

struct LessNoCase {
  bool operator()(const std::wstring& a, const std::wstring& b) const { return text::toLower(a) < text::toLower(b); }
};

int64_t valueOrZero(VRecordSet& rows, const std::wstring& column) {
  std::wstring value;
  return rows.lookup(column, value) ? wcrt::wtoi64(value) : 0;
}

}  // namespace

std::wstring mysqlQuotedIdentifier(const std::wstring& name) {
  std::wstring out = L"`";
  for (wchar_t c : name) {
    if (c == L'`') out += L'`';
    out += c;
  }
  return out + L"`";
}

void addMySQLDatabasesSize(CDRDatabase& db, const std::wstring& domainId, const MySQLServerFactory& server,
                           int64_t& total) {
  VRecordSet names = db.query(L"select name from data_bases where type='mysql' and dom_id=" + domainId);
  if (!names.next()) return;
  std::unique_ptr<IDatabaseProvider> mysql = server();
  std::wstring host, login, password;
  int32_t port = 0;
  db.getMySQLServer(host, login, password, port);
  mysql->connect(host, L"", login, password, port, L"");
  do {
    const std::wstring name = names.get(0);
    guard::report(0, VCTX(L"Sizeof MySQL database '" + name + L"'", kOperation), [&] {
      // Quoted, so that a name the control panel allows ("shop-db") or a hostile one
      // names exactly that database.
      const std::wstring sql = L"SHOW TABLE STATUS FROM " + mysqlQuotedIdentifier(name);
      vreport(0, L"SQL: %s", sql);
      VRecordSet tables = mysql->query(sql);
      while (tables.next()) {
        addSaturated(total, valueOrZero(tables, L"Data_length"));
        addSaturated(total, valueOrZero(tables, L"Index_length"));
      }
    });
  } while (names.next());
}

void addMSSQLDatabasesSize(CDRDatabase& db, const std::wstring& domainId,
                           std::shared_ptr<const ado::EngineCatalog> engines, int64_t& total) {
  VRecordSet names = db.query(L"select name from data_bases where type='mssql' and dom_id=" + domainId);
  if (!names.next()) return;
  std::wstring host, login, password;
  int32_t port = 0;  // not used: the data source names the server
  db.getMSSQLServer(host, login, password, port);

  // Built as pairs, so that a host holding ";" or quotes stays one value.
  ado::ConnectionString connection = ado::ConnectionString::parse(L"Provider=SQLOLEDB.1;Initial Catalog=master");
  connection.set(L"Data Source", host);
  VADOConnection server(std::move(engines));
  server.open(connection.format(), login, password, ado::adOptionUnspecified, ado::adUseClient);

  std::map<std::wstring, int64_t, LessNoCase> sizes;
  VRecordSet listed = server.openRecordSet(L"exec sp_databases");
  while (listed.next())
    sizes[listed.get(L"DATABASE_NAME")] = static_cast<int64_t>(wcrt::wtoi(listed.get(L"DATABASE_SIZE"))) * 1024;
  server.close();

  do {
    auto found = sizes.find(names.get(0));
    if (found != sizes.end()) addSaturated(total, found->second);
  } while (names.next());
}
