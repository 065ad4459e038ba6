#include "app/statistics.h"

#include "app/business_lock.h"
#include "app/params.h"
#include "app/task_set.h"
#include "db/cdr_database.h"
#include "db/text_number.h"
#include "db/transaction.h"
#include "maintenance/action_log_rotation.h"
#include "maintenance/avstatistics.h"
#include "maintenance/log_rotation.h"
#include "platform/exec/exec_settings.h"
#include "platform/report/console.h"
#include "platform/report/guard.h"
#include "platform/report/log_manager.h"
#include "platform/registry/registry.h"
#include "platform/text/text_codec.h"
#include "traffic/domain_state_cleanup.h"
#include "traffic/mail_traffic_task.h"
#include "traffic/traffic_task.h"
#include "usage/disk_usage_task.h"
#include "usage/limit_check.h"
#include "usage/limit_events.h"
#include "usage/mailbox_usage_task.h"
#include "webstat/analyser_run_settings.h"
#include "webstat/analyser_writers.h"

namespace {

constexpr const char* kOperation = "statistics::start";
constexpr uint32_t kDefaultExpirationSeconds = 259200;

ContextRecord taskContext(std::wstring text, int line) { return ContextRecord{std::move(text), kOperation, line}; }

// The business lock of a task that runs once per machine at a time.
BusinessLock::RegistryOfflineLockStatus taskLockStatus(const wchar_t* valueName) {
  return BusinessLock::RegistryOfflineLockStatus(HKEY_LOCAL_MACHINE, registry::kConfigKey, valueName);
}

// Gives a task lock back; a failure to do so does not fail the task.
void unlockQuietly(BusinessLock::RegistryLock& lock) {
  try {
    lock.unlock();
  } catch (...) {
  }
}

constexpr uint32_t kTrafficTasks =
    tasks::kHttpTraffic | tasks::kFtpTraffic | tasks::kHttpWebStatistics | tasks::kFtpWebStatistics;
constexpr uint32_t kStoredTraffic = tasks::kHttpTraffic | tasks::kFtpTraffic;

}  // namespace

statistics::statistics()
    : moduleFactory_(loadWebModuleFactory(moduleHost_)), webModules_(moduleFactory_) {}

statistics::~statistics() = default;

int statistics::start(Args args) {
  bool helpPrinted = false;
  prepare(args, helpPrinted);
  if (helpPrinted) return 0;

  // The task steps whose subsystems this program carries run here in their fixed order.
  if (taskSet_ & kTrafficTasks)
    guard::report(3, taskContext(L"Calculate domain(s) traffic", __LINE__), [&] { calculateDomainsTraffic(); });

  // Mail traffic covers every domain, whatever the selection. The mail logs the provider
  // is done with are saved like the other logs when a directory for them is set.
  if (taskSet_ & tasks::kMailTraffic) {
    guard::report(3, taskContext(L"Calculate mail domain(s) traffic", __LINE__), [&] {
      std::vector<std::wstring>& finished = saveMailDirectory_.empty() ? files_.deleteList : files_.mailSaveList;
      calculateMailTraffic(CDRDatabase::shared(), statisticsLifetime_, forcedStart_, finished);
    });
  }

  // Mailbox usage and disk usage each run their loop under this one context; disk usage
  // sums the mailbox sizes just measured.
  const ContextRecord diskSpaceContext = taskContext(L"Calculate domain(s) disk space", __LINE__);
  if (taskSet_ & (tasks::kMailboxUsage | tasks::kDiskUsage))
    guard::report(3, diskSpaceContext, [&] { calculateDomainsMailBoxUsage(CDRDatabase::shared(), domains_); });
  if (taskSet_ & tasks::kDiskUsage)
    guard::report(3, diskSpaceContext, [&] { calculateDomainsDiskSpace(CDRDatabase::shared(), domains_); });

  guard::report(3, taskContext(L"Unlock domain(s)", __LINE__), [&] { unlockDomains(); });

  if (taskSet_ & tasks::kNotify) {
    guard::report(3, taskContext(L"Send notification", __LINE__), [&] {
      vreport(3,
              L"The statistics.exe command line utility does not send the notifications anymore, this function is "
              L"now performed by a new command line utility notify.exe");
    });
  }

  if (taskSet_ & tasks::kUpdateActions) {
    guard::report(3, taskContext(L"Update actions", __LINE__), [&] {
      BusinessLock::RegistryLock lock(taskLockStatus(L"UpdateActionLockStatus"), BusinessLock::kBusinessLockMutex);
      lock.lock();
      guard::report(3, taskContext(L"rotateActionLog", __LINE__), [&] {
        db::inTransaction(CDRDatabase::shared().provider(), [] { rotateActionLog(); });
      });
      vreport(0, L"Data has been stored");
      guard::report(3, taskContext(L"LaunchActionEvents", __LINE__), [] {
        LimitEventLauncher events;
        checkLimits(CDRDatabase::shared(), events);
      });
      unlockQuietly(lock);
    });
  }

  if (taskSet_ & tasks::kAntivirus) {
    guard::report(3, taskContext(L"Antivirus statistics", __LINE__), [&] {
      BusinessLock::RegistryLock lock(taskLockStatus(L"AntivirusLockStatus"), BusinessLock::kBusinessLockMutex);
      lock.lock();
      processAvStatistics(L"avstat", L"", L"LastAntivirusStatisticLog", true);
      processAvStatistics(L"spamstat", L"spam_", L"LastSpamStatisticLog", false);
      unlockQuietly(lock);
    });
  }

  guard::report(3, taskContext(L"Unable to cleanup unused data", __LINE__), [&] {
    cleanAWstats(CDRDatabase::shared(), ExecSettings::system().componentDirectory(L"awstats"), files_.deleteList);
    deleteFiles(files_.deleteList);
    moveFiles(files_.ftpSaveList, saveFtpDirectory_, verbose_);
    moveFiles(files_.httpSaveList, saveHttpDirectory_, verbose_);
    moveFiles(files_.mailSaveList, saveMailDirectory_, verbose_);
    cleanDomainStats(CDRDatabase::shared());
  });

  vreport(0, L"Done");
  return 0;
}

void statistics::calculateDomainsTraffic() {
  CDRDatabase& db = CDRDatabase::shared();
  LogCollectionSettings settings;
  settings.taskSet = taskSet_;
  settings.servUServer = ftpServerKind_ == kFtpServerServU;
  settings.maximizeConcurrency = maximizeConcurrency_;
  settings.forcedStart = forcedStart_;
  settings.expirationCutoff = expirationCutoff_;
  settings.saveHttpLogs = !saveHttpDirectory_.empty();
  settings.saveFtpLogs = !saveFtpDirectory_.empty();
  TrafficTask task(db, ExecSettings::system(), std::move(settings), domains_, domainNames_, files_);

  // The writers read the task's default documents: they go first, whatever happens.
  struct WritersOfTheStep {
    std::unique_ptr<AnalyserWriters>& writers;
    ~WritersOfTheStep() { writers.reset(); }
  } step{analyserWriters_};
  analyserWriters_ = std::make_unique<AnalyserWriters>(domainNames_, AnalyserWriters::webstatFromDatabase(db),
                                                       [&task](const std::wstring& name) {
                                                         return task.defaultDocument(name);
                                                       });
  // The generator runs' view of the installation and the run; it outlives their runs.
  SystemAnalyserRunSettings analyserSettings(db, domains_, domainNames_, verbose_, files_.deleteList);
  analyserWriters_->setRunSettings(&analyserSettings);
  task.collect(analyserWriters_.get(), &webModules_);
  const bool storing = (taskSet_ & kStoredTraffic) != 0;
  if (storing) task.store();

  guard::report(3, taskContext(L"Unable to finish web modules", __LINE__), [&] {
    runWebLogAnalyser();
    webModules_.finish();
  });

  if (storing) {
    guard::report(3, taskContext(L"launchLogRotate", __LINE__), [&] {
      // Only the domains whose logs this run has collected: another run owns the others.
      for (auto& [id, domain] : domains_) {
        if (!domain->trafficLocked()) continue;
        logrotate::start(db, domainNames_, domain->name(), domain->logDirectories());
      }
    });
  }
}

void statistics::saveTrafficData2DB(const DomainMap& range, int firstLogType, int lastLogType, bool lockedOnly) {
  ::saveTrafficData2DB(CDRDatabase::shared(), range, firstLogType, lastLogType, lockedOnly);
}

void statistics::saveMailMessagesData2DB(const DayCounts& sent) {
  ::saveMailMessagesData2DB(CDRDatabase::shared(), sent);
}

void statistics::runWebLogAnalyser() {
  if (analyserWriters_) analyserWriters_->runWebLogAnalyser();
}

void statistics::prepare(Args args, bool& helpPrinted) {
  // The connection stands before the options are read: even "--help" needs the database.
  CDRDatabase& db = CDRDatabase::shared();
  db.connect();

  uint32_t maximize = 0;
  registry::lookup(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"StatisticsMaximizeConcurrency", maximize, 0);
  maximizeConcurrency_ = maximize != 0;

  registry::createDomainStateKeys();

  ParamMap map = buildParamMap(args.empty() ? args : args.subspan(1));
  Params params(map);
  params.check({}, tasks::acceptedOptions());
  taskSet_ = tasks::taskSet(map);
  if (taskSet_ == tasks::kHelpPrinted) {
    helpPrinted = true;
    return;
  }

  verbose_ = params.has(L"--verbose");
  forcedStart_ = params.has(L"--from-date") ? params.value(L"--from-date", true, L"") : std::wstring();
  setStateFlag(false);

  readSaveDirectories();
  readStatisticsLifetime();

  DomainFilter filter = DomainFilter::fromParams(params);
  queryDomains(db, filter, statisticsLifetime_, domains_, domainNames_);

  readFtpServerKind();
  computeExpirationCutoff();
}

void statistics::readSaveDirectories() {
  auto read = [](const wchar_t* name, std::wstring& out) {
    registry::lookup(HKEY_LOCAL_MACHINE, registry::kConfigKey, name, out, REG_SZ, 0);
  };
  read(L"SaveFTPLogsDirectory", saveFtpDirectory_);
  read(L"SaveHTTPLogsDirectory", saveHttpDirectory_);
  read(L"SaveMailLogsDirectory", saveMailDirectory_);
  if (verbose_)
    console::print(vformat(L"Save FTP logs 2: '%s' HTTP logs 2: '%s' mail logs 2: '%s'\n", saveFtpDirectory_,
                           saveHttpDirectory_, saveMailDirectory_));
}

void statistics::readStatisticsLifetime() {
  int32_t ttl = wcrt::wtoi(CDRDatabase::shared().getMiscParam(L"stat_ttl", L""));
  statisticsLifetime_ = ttl == 0 ? 3 : ttl;
}

void statistics::readFtpServerKind() {
  std::wstring package;
  registry::lookup(HKEY_LOCAL_MACHINE, std::wstring(registry::kPackagesKey) + L"\\ftpserver", L"", package, REG_SZ, 0);
  package = text::toLower(package);
  if (package == L"gene6")
    ftpServerKind_ = kFtpServerGene6;
  else if (package == L"servu")
    ftpServerKind_ = kFtpServerServU;
  else
    ftpServerKind_ = kFtpServerOther;
}

void statistics::computeExpirationCutoff() {
  uint32_t seconds = kDefaultExpirationSeconds;
  registry::lookup(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"StatisticsLogExpirationTime", seconds, 0);
  VDateTime now = VDateTime::nowUtc();
  now.milliseconds = 0;
  expirationCutoff_ = now - static_cast<int64_t>(seconds);
}

void statistics::unlockDomains() {
  for (auto& [id, domain] : domains_)
    if (domain->trafficLocked()) domain->trafficLock().unlock();
}
