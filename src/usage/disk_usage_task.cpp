#include "usage/disk_usage_task.h"

#include "app/business_lock.h"
#include "db/cdr_database.h"
#include "platform/report/guard.h"
#include "usage/disk_usage_store.h"

namespace {

void storeInTransaction(CDRDatabase& db, const DomainInfo& domain, const DiskSpaceUsage& usage) {
  IDatabaseProvider& provider = db.provider();
  provider.beginTransaction();
  try {
    saveDiskSpaceUsage(db, domain.name(), domain.id(), usage);
    provider.commitTransaction();
  } catch (...) {
    // The store's own failure is the one worth reporting.
    try {
      provider.rollbackTransaction();
    } catch (...) {
    }
    throw;
  }
}

}  // namespace

void calculateDomainsDiskSpace(CDRDatabase& db, const DomainMap& domains, DiskUsageSources sources) {
  // One calculator for the whole run: it keeps the dump repository once loaded.
  DiskSpaceCalculator calculator(db, std::move(sources));
  for (const auto& entry : domains) {
    const std::wstring& id = entry.first;
    const DomainInfo* domain = entry.second.get();
    const ContextRecord context{L"Calculate domain " + domain->name() + L" disk space", "statistics::start", __LINE__};
    guard::report(3, context, [&] {
      BusinessLock::RegistryLock lock(
          BusinessLock::RegistryOfflineLockStatus(HKEY_LOCAL_MACHINE, registry::domainKey(id), L"DiskUsageStatus"),
          BusinessLock::kBusinessLockMutex);
      lock.lock();
      vreport(0, L"Disk space for domain %s", domain->name());
      DiskSpaceUsage usage = calculator.calculateDiskSpace(*domain);
      storeInTransaction(db, *domain, usage);
      try {
        lock.unlock();
      } catch (...) {
      }
    });
  }
}
