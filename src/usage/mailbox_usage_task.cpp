#include "usage/mailbox_usage_task.h"

#include "app/business_lock.h"
#include "db/cdr_database.h"
#include "db/transaction.h"
#include "platform/report/guard.h"
#include "usage/mailbox_usage.h"

void calculateDomainsMailBoxUsage(CDRDatabase& db, const DomainMap& domains, mailmng::ProviderSource source) {
  // One calculator for the whole run: it keeps the run's one notice.
  MailBoxUsageCalculator calculator(db, std::move(source));
  for (const auto& entry : domains) {
    const std::wstring& id = entry.first;
    const DomainInfo* domain = entry.second.get();
    const ContextRecord context{L"Calculate domain " + domain->name() + L" mailbox usage", "statistics::start",
                                __LINE__};
    guard::report(3, context, [&] {
      BusinessLock::RegistryLock lock(
          BusinessLock::RegistryOfflineLockStatus(HKEY_LOCAL_MACHINE, registry::domainKey(id), L"MailBoxUsageStatus"),
          BusinessLock::kBusinessLockMutex);
      lock.lock();
      vreport(0, L"Mailbox usage for domain %s", domain->name());
      MailBoxSizes sizes;
      calculator.calculateMailBoxUsage(domain->name(), id, sizes);
      db::inTransaction(db.provider(), [&] { saveMailBoxUsage(db, sizes); });
      try {
        lock.unlock();
      } catch (...) {
      }
    });
  }
}
