// The Jet file under the load of one statistics run: how long the provider's translation
// and the SQLite rewrite take per statement, how fast the traffic store's select-then-
// insert-or-update pairs go in one transaction per domain, and how long the limit check's
// aggregated domain query takes over all domains.
//
// bench_jet_statements [DOMAINS] (default 2000, 30 days of traffic each). Works in a
// temporary directory that it removes.

#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "db/ado/jet_sql.h"
#include "db/jet_provider.h"
#include "db/sql_dialect.h"
#include "db/sql_translation.h"
#include "platform/text/text_codec.h"
#include "platform/text/vformat.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

constexpr const char* kSchema =
    "CREATE TABLE domains (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT COLLATE NOCASE, cl_id INTEGER, "
    "limits_id INTEGER, real_size INTEGER NOT NULL DEFAULT 0);"
    "CREATE TABLE clients (id INTEGER PRIMARY KEY AUTOINCREMENT, limits_id INTEGER);"
    "CREATE TABLE disk_usage (dom_id INTEGER PRIMARY KEY, mysql_dbases INTEGER NOT NULL DEFAULT 0, "
    "mssql_dbases INTEGER NOT NULL DEFAULT 0);"
    "CREATE TABLE Limits (id INTEGER NOT NULL, limit_name TEXT COLLATE NOCASE NOT NULL, value INTEGER, "
    "PRIMARY KEY (id, limit_name));"
    "CREATE TABLE DomainsTraffic (dom_id INTEGER NOT NULL, date DATE NOT NULL, http_in INTEGER NOT NULL DEFAULT 0, "
    "http_out INTEGER NOT NULL DEFAULT 0, ftp_in INTEGER NOT NULL DEFAULT 0, ftp_out INTEGER NOT NULL DEFAULT 0, "
    "smtp_in INTEGER NOT NULL DEFAULT 0, smtp_out INTEGER NOT NULL DEFAULT 0, pop3_imap_in INTEGER NOT NULL DEFAULT 0, "
    "pop3_imap_out INTEGER NOT NULL DEFAULT 0, PRIMARY KEY (dom_id, date));";

const wchar_t* kLimitQuery =
    L"SELECT  d.id, MAX(d.cl_id), MAX(lim_disk_space.value), MAX(lim_max_traffic.value), "
    L"MAX(lim_mysql_dbase_space.value), MAX(lim_mssql_dbase_space.value), MAX(d.real_size), SUM(tr.http_in) + "
    L"SUM(tr.ftp_in) + SUM(tr.smtp_in) + SUM(tr.pop3_imap_in) + SUM(tr.http_out) + SUM(tr.ftp_out) + "
    L"SUM(tr.smtp_out) + SUM(tr.pop3_imap_out), MAX(dd.mysql_dbases), MAX(dd.mssql_dbases) FROM ((((((domains d  "
    L"INNER JOIN disk_usage dd on dd.dom_id = d.id)  LEFT JOIN DomainsTraffic tr ON ( tr.dom_id = d.id AND %s) ) "
    L"LEFT JOIN clients cl ON d.cl_id = cl.id) LEFT JOIN Limits lim_disk_space ON (d.limits_id = lim_disk_space.id "
    L"AND lim_disk_space.limit_name = 'disk_space' ) ) LEFT JOIN Limits lim_max_traffic ON (d.limits_id = "
    L"lim_max_traffic.id AND lim_max_traffic.limit_name = 'max_traffic' ) ) LEFT JOIN Limits lim_mysql_dbase_space "
    L"ON ( d.limits_id = lim_mysql_dbase_space.id AND lim_mysql_dbase_space.limit_name = 'mysql_dbase_space' ) ) "
    L"LEFT JOIN Limits lim_mssql_dbase_space ON ( d.limits_id = lim_mssql_dbase_space.id AND "
    L"lim_mssql_dbase_space.limit_name = 'mssql_dbase_space' )  WHERE  (((lim_disk_space.value + 0) >= 0) OR "
    L"((lim_max_traffic.value + 0) >= 0) OR ((lim_mysql_dbase_space.value + 0) >= 0) OR "
    L"((lim_mssql_dbase_space.value + 0) >= 0))  GROUP BY d.id  ORDER BY MAX(d.cl_id)";

}  // namespace

int main(int argc, char** argv) {
  const int domains = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int days = 30;
  char pattern[] = "/tmp/cadro-jet-bench.XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const std::string dir = pattern;
  const std::string path = dir + "/cdr.mdb";
  sqlite3* raw = nullptr;
  sqlite3_open(path.c_str(), &raw);
  sqlite3_exec(raw, kSchema, nullptr, nullptr, nullptr);
  sqlite3_close(raw);

  const std::wstring limitQuery = vformat(kLimitQuery, getThisYaerAndThisMonthCondition(L"Jet"));

  // Translation and rewrite alone.
  const int rounds = 20000;
  auto start = Clock::now();
  size_t total = 0;
  for (int i = 0; i < rounds; ++i)
    total += ado::jet::rewriteForSqlite(text::toUtf8(translateForJet(limitQuery))).size();
  const double perStatement = secondsSince(start) / rounds;

  JetDatabaseProvider db([&] { return text::fromUtf8(dir); });
  db.connect(L"", text::fromUtf8(path), L"", L"", 0, L"");
  for (int d = 1; d <= domains; ++d) {
    db.execute(vformat(L"INSERT INTO domains (id, name, cl_id, limits_id) VALUES (%d, 'd%d.example', %d, %d)", d, d,
                       d % 50 + 1, d));
    db.execute(vformat(L"INSERT INTO Limits (id, limit_name, value) VALUES (%d, 'max_traffic', 1000000)", d));
    db.execute(vformat(L"INSERT INTO disk_usage (dom_id) VALUES (%d)", d));
  }

  // The traffic store: per domain one transaction; per day a select, then an insert (first
  // pass) or an update (second pass).
  start = Clock::now();
  int statements = 0;
  for (int pass = 0; pass < 2; ++pass) {
    for (int d = 1; d <= domains; ++d) {
      db.beginTransaction();
      for (int day = 1; day <= days; ++day) {
        const std::wstring date = vformat(L"2024-01-%02d", day);
        const std::wstring literal = formatDate(date, L"Jet");
        VRecordSet rs = db.query(vformat(L"select %s, %s from DomainsTraffic    where `date`=%s and dom_id=%d",
                                         std::wstring(L"http_in"), std::wstring(L"http_out"), literal, d));
        if (rs.next()) {
          db.execute(vformat(L"update DomainsTraffic    set %s=%I64d, %s=%I64d    where `date`=%s and dom_id=%d",
                             std::wstring(L"http_in"), int64_t{2000}, std::wstring(L"http_out"), int64_t{4000}, literal,
                             d));
        } else {
          db.execute(vformat(L"insert into DomainsTraffic (dom_id,`date`, %s, %s)values(%d, '%s', '%I64d', '%I64d' ) ",
                             std::wstring(L"http_in"), std::wstring(L"http_out"), d, date, int64_t{1000},
                             int64_t{2000}));
        }
        statements += 2;
      }
      db.commitTransaction();
    }
  }
  const double storeSeconds = secondsSince(start);

  start = Clock::now();
  VRecordSet limits = db.query(limitQuery);
  const int rows = limits.rowCount();
  const double limitSeconds = secondsSince(start);
  db.disconnect();

  std::printf("translate + rewrite of the limit query: %.1f us per statement (%zu bytes)\n", perStatement * 1e6,
              total / rounds);
  std::printf("traffic store: %d statements for %d domains x %d days x 2 passes in %.2f s (%.0f statements/s)\n",
              statements, domains, days, storeSeconds, statements / storeSeconds);
  std::printf("limit query over %d domains: %d rows in %.3f s\n", domains, rows, limitSeconds);

  std::remove(path.c_str());
  std::remove((path + "-journal").c_str());
  ::rmdir(dir.c_str());
  return 0;
}
