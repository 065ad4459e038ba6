#include "traffic/traffic_store.h"

#include <algorithm>

#include "db/cdr_database.h"
#include "db/service_settings.h"
#include "db/sql_dialect.h"
#include "db/text_number.h"
#include "db/transaction.h"
#include "platform/report/cancellation.h"
#include "platform/report/guard.h"

namespace {

const LogTypeColumns kLogTypes[logtype::kCount] = {
    {L"HTTP", L"http_in", L"http_out"},        {L"Anonimus FTP", L"ftp_in", L"ftp_out"},
    {L"FTP", L"ftp_in", L"ftp_out"},           {L"SMTP in", L"smtp_in", L"smtp_out"},
    {L"SMTP out", L"smtp_in", L"smtp_out"},    {L"POP", L"pop3_imap_in", L"pop3_imap_out"},
};

// The identifier as it goes into a statement unquoted: decimal digits only, so that no
// text could ever extend the statement.
const std::wstring& numericId(const std::wstring& id) {
  if (id.empty() || !std::all_of(id.begin(), id.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; }))
    throw vexception(L"Invalid domain identifier '" + id + L"'", VCTX(L"", "statistics::saveTrafficData2DB"));
  return id;
}

void addDayTraffic(CDRDatabase& db, const std::wstring& id, const LogTypeColumns& columns, const VDateTime& day,
                   const std::array<int64_t, 2>& counts, const std::wstring& providerName) {
  const std::wstring dayText = day.toSqlDateText();
  const std::wstring literal = formatDate(dayText, providerName);
  const int64_t out = counts[0];
  const int64_t in = counts[1];
  VRecordSet rows = db.queryFormat(L"select %s, %s from DomainsTraffic    where `date`=%s and dom_id=%s",
                                   columns.inColumn, columns.outColumn, literal, id);
  if (!rows.next()) {
    db.executeFormat(L"insert into DomainsTraffic (dom_id,`date`, %s, %s)values(%s, '%04d-%02d-%02d', '%I64d', "
                     L"'%I64d' ) ",
                     columns.inColumn, columns.outColumn, id, day.year, day.month, day.day, in, out);
    return;
  }
  const int64_t storedIn = wcrt::wtoi64(rows.get(0));
  const int64_t storedOut = wcrt::wtoi64(rows.get(1));
  db.executeFormat(L"update DomainsTraffic    set %s=%I64d, %s=%I64d    where `date`=%s and dom_id=%s",
                   columns.inColumn, storedIn + in, columns.outColumn, storedOut + out, literal, id);
}

void saveDomainTraffic(CDRDatabase& db, const DomainInfo& domain, int first, int last,
                       const std::wstring& providerName) {
  const std::wstring& id = numericId(domain.id());
  db::inTransaction(db.provider(), [&] {
    vreport(0, L"Traffic for domain %s", domain.name());
    for (int type = first; type <= last; ++type) {
      const LogTypeColumns& columns = logTypeColumns(type);
      vreport(0, L"%s log:", columns.name);
      for (const auto& [day, counts] : domain.traffic(type)) addDayTraffic(db, id, columns, day, counts, providerName);
    }
    deleteOldDomainTraffic(db, id, domain.statisticsLifetime());
  });
}

void saveDayCounters(CDRDatabase& db, const DayCounts& counts, const wchar_t* table, const wchar_t* column,
                     ContextRecord failure) {
  guard::report(3, failure, [&] {
    db::inTransaction(db.provider(), [&] {
      for (const auto& [day, amount] : counts) saveDayCounter(db, table, column, day, amount);
      deleteBeforePreviousMonth(db, table);
    });
  });
}

}  // namespace

const LogTypeColumns& logTypeColumns(int logType) { return kLogTypes[logType]; }

std::vector<const DomainInfo*> saveTrafficData2DB(CDRDatabase& db, const DomainMap& range, int firstLogType,
                                                  int lastLogType, bool lockedOnly) {
  const int first = std::max(firstLogType, 0);
  const int last = std::min(lastLogType, logtype::kCount - 1);
  const bool httpWindow = first <= logtype::kHttp && logtype::kHttp <= last;
  const bool ftpWindow = first <= logtype::kFtp && logtype::kAnonymousFtp <= last;
  const std::wstring providerName = configuredProviderName(db.settings());
  std::vector<const DomainInfo*> saved;
  for (const auto& entry : range) {
    const DomainInfo* domain = entry.second.get();
    if (lockedOnly && !domain->trafficLocked()) continue;
    const bool committed =
        guard::report(3, VCTX(L"Save domain " + domain->name() + L" traffic", "statistics::saveTrafficData2DB"),
                      [&] { saveDomainTraffic(db, *domain, first, last, providerName); });
    if (!committed) continue;
    saved.push_back(domain);
    guard::report(3, VCTX(L"Save domain " + domain->name() + L" status", "statistics::saveTrafficData2DB"),
                  [&] { domain->saveLogWindows(httpWindow, ftpWindow); });
  }
  return saved;
}

void saveDayCounter(CDRDatabase& db, const std::wstring& table, const std::wstring& column, const VDateTime& day,
                    int64_t amount) {
  const std::wstring dayText = day.toSqlDateText();
  const std::wstring literal = formatDate(dayText, configuredProviderName(db.settings()));
  VRecordSet rows = db.queryFormat(L"SELECT `%s` from `%s` WHERE `date` = %s", column, table, literal);
  if (rows.next()) {
    const int64_t stored = wcrt::wtoi64(rows.get(0));
    db.executeFormat(L"UPDATE `%s` SET `%s` = %I64d WHERE `date` = %s", table, column, stored + amount, literal);
  } else {
    db.executeFormat(L"INSERT INTO `%s` (`date`, `%s`) VALUES('%s', %I64d)", table, column, dayText, amount);
  }
}

void saveSitesHitsData2DB(CDRDatabase& db, const DayCounts& hits) {
  saveDayCounters(db, hits, L"SitePagesStat", L"hits", VCTX(L"Save sites pages hits", "statistics::saveSitesHitsData2DB"));
}

void saveMailMessagesData2DB(CDRDatabase& db, const DayCounts& sent) {
  saveDayCounters(db, sent, L"MailMessagesStat", L"sent",
                  VCTX(L"Save mail messages sent", "statistics::saveMailMessagesData2DB"));
}
