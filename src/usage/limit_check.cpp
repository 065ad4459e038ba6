#include "usage/limit_check.h"

#include <cstdint>
#include <map>

#include "db/cdr_database.h"
#include "db/sql_dialect.h"
#include "db/text_number.h"
#include "usage/limit_events.h"
#include "usage/saturated_add.h"

namespace {

constexpr const wchar_t* kIncomingSum = L"SUM(tr.http_in) + SUM(tr.ftp_in) + SUM(tr.smtp_in) + SUM(tr.pop3_imap_in)";
constexpr const wchar_t* kOutgoingSum =
    L"SUM(tr.http_out) + SUM(tr.ftp_out) + SUM(tr.smtp_out) + SUM(tr.pop3_imap_out)";

constexpr const wchar_t* kUnlimited = L"-1";
constexpr const wchar_t* kNothing = L"0";

// A column of the current row as a signed 64-bit number; NULL (or empty) gives `missing`.
int64_t number(VRecordSet& rows, int32_t column, const wchar_t* missing) {
  return wcrt::wtoi64(rows.get(column, missing, true));
}

bool exceeds(int64_t usage, int64_t limit) { return limit >= 0 && usage > limit; }

struct Limits {
  int64_t disk, traffic, mysql, mssql;
};

struct Usage {
  int64_t realSize = 0, traffic = 0, mysql = 0, mssql = 0;

  Usage& operator+=(const Usage& other) {
    addSaturated(realSize, other.realSize);
    addSaturated(traffic, other.traffic);
    addSaturated(mysql, other.mysql);
    addSaturated(mssql, other.mssql);
    return *this;
  }
};

// Launches the traffic event and at most one size event of a domain or client.
void compare(LimitEventLauncher& events, int64_t id, const Limits& limits, const Usage& usage, int32_t trafficEvent,
             int32_t sizeEvent) {
  if (exceeds(usage.traffic, limits.traffic)) events.limitReached(id, trafficEvent);
  if (exceeds(usage.realSize, limits.disk) || exceeds(usage.mysql, limits.mysql) ||
      exceeds(usage.mssql, limits.mssql))
    events.limitReached(id, sizeEvent);
}

}  // namespace

const wchar_t kClientLimitsQuery[] =
    L"SELECT DISTINCT cl.id, lim_disk_space.value, lim_max_traffic.value, lim_mysql_dbase_space.value, "
    L"lim_mssql_dbase_space.value FROM (((`clients` cl LEFT JOIN Limits lim_disk_space ON (lim_disk_space.limit_name "
    L"= 'disk_space' AND cl.limits_id = lim_disk_space.id ) ) LEFT JOIN Limits lim_max_traffic ON "
    L"(lim_max_traffic.limit_name = 'max_traffic' AND cl.limits_id = lim_max_traffic.id ) ) LEFT JOIN Limits "
    L"lim_mysql_dbase_space ON ( lim_mysql_dbase_space.limit_name = 'mysql_dbase_space' AND cl.limits_id = "
    L"lim_mysql_dbase_space.id ) )  LEFT JOIN Limits lim_mssql_dbase_space ON ( lim_mssql_dbase_space.limit_name = "
    L"'mssql_dbase_space' AND cl.limits_id = lim_mssql_dbase_space.id )  WHERE  (((lim_disk_space.value + 0) >= 0) OR "
    L"((lim_max_traffic.value + 0) >= 0) OR ((lim_mysql_dbase_space.value + 0) >= 0) OR ((lim_mssql_dbase_space.value "
    L"+ 0) >= 0))";

CountedTrafficDirections trafficAccountingOf(const std::wstring& setting) {
  const int32_t t = wcrt::wtoi(setting);
  // A value with neither direction's bit would leave the traffic expression empty and the
  // whole query invalid, so that no limit at all would be checked: it counts both, as 0 does.
  if ((t & 3) == 0) return {true, true};
  return {(t & 1) != 0, (t & 2) != 0};
}

std::wstring domainLimitsQuery(const CountedTrafficDirections& accounting, const std::wstring& monthCondition,
                               const std::wstring& providerName) {
  std::wstring traffic;
  if (accounting.incoming) traffic += kIncomingSum;
  if (accounting.incoming && accounting.outgoing) traffic += L" + ";
  if (accounting.outgoing) traffic += kOutgoingSum;
  return L"SELECT  d.id, MAX(d.cl_id), MAX(lim_disk_space.value), MAX(lim_max_traffic.value), "
         L"MAX(lim_mysql_dbase_space.value), MAX(lim_mssql_dbase_space.value), MAX(d.real_size), " +
         traffic +
         L", MAX(dd.mysql_dbases), MAX(dd.mssql_dbases) FROM ((((((domains d  INNER JOIN disk_usage dd on dd.dom_id = "
         L"d.id)  LEFT JOIN DomainsTraffic tr ON ( tr.dom_id = d.id AND " +
         monthCondition +
         L") ) LEFT JOIN clients cl ON d.cl_id = cl.id) LEFT JOIN Limits lim_disk_space ON (d.limits_id = "
         L"lim_disk_space.id AND lim_disk_space.limit_name = 'disk_space' ) ) LEFT JOIN Limits lim_max_traffic ON "
         L"(d.limits_id = lim_max_traffic.id AND lim_max_traffic.limit_name = 'max_traffic' ) ) LEFT JOIN Limits "
         L"lim_mysql_dbase_space ON ( d.limits_id = lim_mysql_dbase_space.id AND lim_mysql_dbase_space.limit_name = "
         L"'mysql_dbase_space' ) ) LEFT JOIN Limits lim_mssql_dbase_space ON ( d.limits_id = lim_mssql_dbase_space.id "
         L"AND lim_mssql_dbase_space.limit_name = 'mssql_dbase_space' )  WHERE  (((lim_disk_space.value + 0) >= 0) OR "
         L"((lim_max_traffic.value + 0) >= 0) OR ((lim_mysql_dbase_space.value + 0) >= 0) OR "
         L"((lim_mssql_dbase_space.value + 0) >= 0))  GROUP BY d.id " +
         std::wstring(providerName == L"MySQL" ? L" ORDER BY d.cl_id" : L" ORDER BY MAX(d.cl_id)");
}

void checkLimits(CDRDatabase& db, LimitEventLauncher& events) {
  const CountedTrafficDirections accounting = trafficAccountingOf(db.getMiscParam(L"traffic_accounting", L""));
  const std::wstring providerName = db.provider().providerName();

  // Identifiers are read as numbers: the events carry them as numbers, never as row text.
  std::map<int64_t, Usage> clientTotals;
  VRecordSet domains =
      db.query(domainLimitsQuery(accounting, getThisYaerAndThisMonthCondition(providerName), providerName));
  while (domains.next()) {
    const int64_t id = number(domains, 0, kNothing);
    const Limits limits{number(domains, 2, kUnlimited), number(domains, 3, kUnlimited), number(domains, 4, kUnlimited),
                        number(domains, 5, kUnlimited)};
    const Usage usage{number(domains, 6, kNothing), number(domains, 7, kNothing), number(domains, 8, kNothing),
                      number(domains, 9, kNothing)};
    clientTotals[number(domains, 1, kNothing)] += usage;
    compare(events, id, limits, usage, limit_event::kDomainTraffic, limit_event::kDomainSize);
  }

  VRecordSet clients = db.query(kClientLimitsQuery);
  while (clients.next()) {
    auto totals = clientTotals.find(number(clients, 0, kNothing));
    if (totals == clientTotals.end()) continue;
    const Limits limits{number(clients, 1, kUnlimited), number(clients, 2, kUnlimited), number(clients, 3, kUnlimited),
                        number(clients, 4, kUnlimited)};
    compare(events, totals->first, limits, totals->second, limit_event::kClientTraffic, limit_event::kClientSize);
  }
}
