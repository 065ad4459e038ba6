#pragma once
// The mail traffic step of a run: under the machine's one "MailTrafficLockStatus" lock,
// the mail traffic of every domain is calculated, stored with the traffic storage, and the
// end of its period recorded once everything is stored.

#include <functional>
#include <string>
#include <vector>

#include "traffic/mail_traffic.h"

class CDRDatabase;

// What the step stores with. Each operation reports its own failures.
struct MailTrafficStore {
  // The domains' log types 3 to 5 (every domain, not only locked ones) into DomainsTraffic,
  // each domain in a transaction of its own. False when the database took nothing: there
  // were domains and the save of every one of them failed.
  std::function<bool(DomainMap&)> saveTraffic;
  // The sent messages by day into MailMessagesStat.
  std::function<void(const DayCounts&)> saveMessages;

  // The traffic storage of the program on `db` (which must outlive the store).
  static MailTrafficStore standard(CDRDatabase& db);
};

// Takes the task lock (a lock held by another live run raises "Object has been already
// locked": nothing is done), runs processMailTraffic, stores its domains, frees their
// records, and stores its sent messages. The period's end is written as
// "LastMailTrafficCalculation", and the provider's finished mail logs are appended to
// `finishedFiles` (the run's mail save list or delete list), only when the calculation
// succeeded and the database took the traffic. When the database took none of it, the sent
// messages are not stored either, so that the next run asks for the same period again and
// stores it once; a domain whose own save failed while others were stored loses the period
// (its failure has been reported), as counting the others twice would be worse. The lock
// is given back at the end (a failure to do so is ignored) or, when a failure leaves the
// step, by its owner.
void calculateMailTraffic(CDRDatabase& db, int32_t statisticsLifetime, const std::wstring& forcedStart,
                          std::vector<std::wstring>& finishedFiles, const MailTrafficStore& store,
                          const mailmng::ProviderSource& source);
// The same with the program's traffic storage on `db` and its provider.
void calculateMailTraffic(CDRDatabase& db, int32_t statisticsLifetime, const std::wstring& forcedStart,
                          std::vector<std::wstring>& finishedFiles);
