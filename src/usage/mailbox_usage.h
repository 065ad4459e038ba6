#pragma once
// Mailbox usage: the size of every mailbox of a domain, asked of the mail provider and
// stored in the `disk_usage` column of table `mail` (disk usage then sums these values into
// the domain's mailboxes).

#include <cstdint>
#include <map>
#include <string>

#include "traffic/mail_provider_loader.h"

class CDRDatabase;

// Mailbox identifier (the `id` column of `mail`, decimal text) -> size in bytes. A mailbox
// whose measurement failed has no entry.
using MailBoxSizes = std::map<std::wstring, int64_t>;

// Measures the domains of one run. It keeps the run's one notice: of "not counted" and "not
// supported", only the first one met is reported, once.
class MailBoxUsageCalculator {
 public:
  // `db` answers the control-panel queries and must outlive the calculator; `source` gives
  // a provider object for each domain.
  explicit MailBoxUsageCalculator(CDRDatabase& db,
                                  mailmng::ProviderSource source = mailmng::standardProviderSource());

  // Reports "Calculate mailbox usage for <name>...". With "not_count_mail_disk_usage" on
  // (exactly "true") it measures nothing and loads no provider; a provider without
  // kFeatureMailboxDiskUsage measures nothing either. Otherwise each row of "SELECT id,
  // mail_name FROM mail WHERE dom_id = <id>" is measured into `sizes`; a mailbox that
  // fails (no such mailbox, a failed or negative measurement, an identifier that is not a
  // number) is reported at level 0 as "calculate mailbox usage for <mail>@<domain>" and
  // gets no entry. Other failures (the provider, the query, a domain identifier that is not
  // a number) raise "calculateMailBoxUsage domainName=<name>, domainId=<id>".
  void calculateMailBoxUsage(const std::wstring& domainName, const std::wstring& domainId, MailBoxSizes& sizes);

 private:
  // Reports `warning` at level 1 unless a notice has been reported already.
  void noticeOnce(const wchar_t* warning);

  CDRDatabase& db_;
  mailmng::ProviderSource source_;
  bool noticeReported_ = false;
};

// "UPDATE mail SET disk_usage = <size> WHERE id = <id>" for each entry in map order; rows
// without an entry keep their value. Runs inside the caller's transaction; raises on a
// statement failure and on an identifier that is not a decimal number.
void saveMailBoxUsage(CDRDatabase& db, const MailBoxSizes& sizes);

// True when `text` is a non-empty run of decimal digits: an identifier that may stand in SQL.
bool isDecimalIdentifier(const std::wstring& text);
