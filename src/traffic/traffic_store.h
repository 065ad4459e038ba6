#pragma once
// Traffic storage: the domains' per-day byte counts added to the rows of `DomainsTraffic`,
// one row per domain and day, and the per-day counters `SitePagesStat` (page hits) and
// `MailMessagesStat` (mail messages sent). Stored amounts are sums over runs: each store
// adds to what the row holds, never replaces it.
//
// Each domain is stored in a transaction of its own; a failed domain is rolled back whole
// and the next one follows. Values reach SQL as numbers and dates the program formats
// itself; domain identifiers must be decimal text (as the database gives them).

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app/domain_info.h"
#include "platform/dates/vdatetime.h"

class CDRDatabase;

// Day (time fields zero) to a count, ordered by date.
using DayCounts = std::map<VDateTime, int64_t>;

// The columns of a log type's traffic: "http_in"/"http_out" for 0, "ftp_in"/"ftp_out" for
// 1 and 2, "smtp_in"/"smtp_out" for 3 and 4, "pop3_imap_in"/"pop3_imap_out" for 5; and its
// printed name ("HTTP", "Anonimus FTP", "FTP", "SMTP in", "SMTP out", "POP").
struct LogTypeColumns {
  const wchar_t* name;
  const wchar_t* inColumn;
  const wchar_t* outColumn;
};
// Precondition: 0 <= logType < logtype::kCount.
const LogTypeColumns& logTypeColumns(int logType);

// For each domain of `range` in map order (with `lockedOnly`, only those whose traffic lock
// this run holds): in one transaction, every day of its traffic tables of the log types
// first..last is added to its DomainsTraffic row (inserted when the day has none), then the
// rows older than the domain's statistics lifetime in months are deleted (none for 0), and
// the transaction is committed. Reports "Traffic for domain %s" and "%s log:" per type at
// level 0. A failure rolls the domain back and is reported at level 3 under "Save domain
// <name> traffic" (operation "statistics::saveTrafficData2DB").
//
// Right after a domain's commit its windows of these log types are stored (HTTP for type 0,
// FTP for 1 and 2; LogWindow::save), a failure reported under "Save domain <name> status":
// a domain that was rolled back keeps its previous windows, so the next run counts its
// lines again. Returns the domains that were committed, in map order.
std::vector<const DomainInfo*> saveTrafficData2DB(CDRDatabase& db, const DomainMap& range, int firstLogType,
                                                  int lastLogType, bool lockedOnly);

// Adds `amount` to the row of `day` in `table`.`column` (a per-day counter table with the
// column `date`), inserting the row when there is none. `table` and `column` are the
// program's own names. Failures are the provider's.
void saveDayCounter(CDRDatabase& db, const std::wstring& table, const std::wstring& column, const VDateTime& day,
                    int64_t amount);

// In one transaction: every day of `hits` into SitePagesStat.hits, then the rows dated
// before the previous month deleted. A failure is rolled back and reported at level 3
// under "Save sites pages hits" (operation "statistics::saveSitesHitsData2DB").
void saveSitesHitsData2DB(CDRDatabase& db, const DayCounts& hits);
// The same for MailMessagesStat.sent, reported under "Save mail messages sent" (operation
// "statistics::saveMailMessagesData2DB").
void saveMailMessagesData2DB(CDRDatabase& db, const DayCounts& sent);
