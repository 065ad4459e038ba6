#include "traffic/mail_traffic_task.h"

#include "app/business_lock.h"
#include "platform/registry/registry.h"
#include "platform/report/log_manager.h"

MailTrafficStore MailTrafficStore::standard(CDRDatabase& db) {
  MailTrafficStore store;
  store.saveTraffic = [&db](DomainMap& domains) {
    return !saveTrafficData2DB(db, domains, logtype::kSmtpIn, logtype::kPop, false).empty() || domains.empty();
  };
  store.saveMessages = [&db](const DayCounts& sent) { saveMailMessagesData2DB(db, sent); };
  return store;
}

void calculateMailTraffic(CDRDatabase& db, int32_t statisticsLifetime, const std::wstring& forcedStart,
                          std::vector<std::wstring>& finishedFiles) {
  calculateMailTraffic(db, statisticsLifetime, forcedStart, finishedFiles, MailTrafficStore::standard(db),
                       mailmng::standardProviderSource());
}

void calculateMailTraffic(CDRDatabase& db, int32_t statisticsLifetime, const std::wstring& forcedStart,
                          std::vector<std::wstring>& finishedFiles, const MailTrafficStore& store,
                          const mailmng::ProviderSource& source) {
  BusinessLock::RegistryLock lock(
      BusinessLock::RegistryOfflineLockStatus(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"MailTrafficLockStatus"),
      BusinessLock::kBusinessLockMutex);
  lock.lock();

  DayCounts sentMessages;
  MailTraffic traffic = processMailTraffic(db, statisticsLifetime, forcedStart, sentMessages, source);
  const bool taken = store.saveTraffic(traffic.domains);
  traffic.domains.clear();
  traffic.names.clear();
  if (!taken) {
    vreport(1, L"The database took none of the mail traffic: the same period is asked for at the next run");
  } else {
    store.saveMessages(sentMessages);
    if (traffic.calculated) {
      storeMailTrafficWindow(traffic.periodEnd);
      finishedFiles.insert(finishedFiles.end(), traffic.finishedFiles.begin(), traffic.finishedFiles.end());
    }
  }

  try {
    lock.unlock();
  } catch (...) {
  }
}
