#pragma once
// Mail traffic of a run: every domain of the control panel, the mail provider asked for the
// period since the previous calculation, and its answer checked and added to the domains'
// traffic tables (SMTP in, SMTP out, POP). The mail traffic step stores the result and
// then, only when all of it is stored, the end of the period.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app/domain_info.h"
#include "cadro/mail_provider.h"
#include "platform/dates/vdatetime.h"
#include "traffic/mail_provider_loader.h"
#include "traffic/traffic_store.h"

class CDRDatabase;

// What one calculation gives the mail traffic step.
struct MailTraffic {
  // Every domain of the control panel (no filter), with the provider's amounts in its
  // log types 3 to 5; empty when the calculation failed.
  DomainMap domains;
  DomainNameMap names;
  // The mail log files the provider has finished with (regular files only), for the
  // run's delete or mail save list once the period is stored.
  std::vector<std::wstring> finishedFiles;
  // The end of the period asked for: the next period's start.
  VDateTime periodEnd;
  // False when the calculation failed (it has been reported): nothing is to be stored.
  bool calculated = false;
};

// The whole calculation: reports "Collect mail logs", loads every domain (the statistics
// lifetime passed on to the domain query) and a provider from `source` (its failure with
// the record "Load mail provider"), asks it for the traffic from mailTrafficPeriodStart to
// now (UTC, whole seconds) of each domain whose mail service status is 0, and adds the
// answer (addMailTraffic). The server's sent messages by day go to `sentMessages`. Any failure is reported
// at level 3 as "Calculate mail traffic" (operation "statistics::processMailTraffic") and
// leaves the result empty and not calculated, `sentMessages` unchanged. The provider is
// released in every case.
MailTraffic processMailTraffic(CDRDatabase& db, int32_t statisticsLifetime, const std::wstring& forcedStart,
                               DayCounts& sentMessages,
                               const mailmng::ProviderSource& source = mailmng::standardProviderSource());

// The start of the period: `forcedStart` when not empty, else "LastMailTrafficCalculation",
// else "LastStatisticsRun" (both under the configuration key), read with the letters
// "YMDhms"; the zero value when all are empty. An incomplete text gives the fields it has
// (see VDateTime::parse), which still order field by field.
VDateTime mailTrafficPeriodStart(const std::wstring& forcedStart);

// Stores `end` as "LastMailTrafficCalculation" (registry form); raises the registry's error
// when it cannot be written.
void storeMailTrafficWindow(const VDateTime& end);

// The map the provider fills: one empty entry per domain whose mail service status is 0,
// under the domain's (lower-case) name.
mailmng::MailDomainMap buildMailDomainMap(const DomainMap& domains);

// Adds the provider's answer to the domains, all or nothing. Only entries that
// buildMailDomainMap made count (an entry for an unknown name, another spelling of a name,
// or a domain whose mail service is off is dropped). A day that is no calendar date or lies
// outside start's day (1970-01-01 for a zero start) to end's day, a negative amount, or a
// sum beyond 64 bits raises before anything is added. Amounts: SMTP out (type 4) out +=
// smtpOutSent, in += smtpOutReceived; SMTP in (type 3) out += smtpInSent, in +=
// smtpInReceived; POP (type 5) out += popSent, in += popReceived.
void addMailTraffic(const mailmng::MailDomainMap& answer, DomainMap& domains, const DomainNameMap& names,
                    const VDateTime& start, const VDateTime& end);

// The sent messages of the answer by day, checked as addMailTraffic checks days and amounts,
// added to `out` (all or nothing).
void addSentMessages(const mailmng::SentMessagesMap& answer, const VDateTime& start, const VDateTime& end,
                     DayCounts& out);

// The paths of `files` that name a regular file itself (not a symbolic link) by an absolute
// path without "." or ".." parts; the others are reported at level 1 and left out.
std::vector<std::wstring> acceptedMailLogFiles(const mailmng::FileList& files);
