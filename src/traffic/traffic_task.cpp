#include "traffic/traffic_task.h"

#include "traffic/traffic_store.h"

TrafficTask::TrafficTask(CDRDatabase& db, ExecSettings& exec, LogCollectionSettings settings, DomainMap& domains,
                         const DomainNameMap& domainNames, EndOfRunFiles& files)
    : db_(db),
      domains_(domains),
      accounting_(domains, domainNames, documents_, settings.maximizeConcurrency, settings.forcedStart),
      collector_(db, exec, std::move(settings), domains, domainNames, hosts_, documents_, accounting_, files) {}

void TrafficTask::collect(AnalyserWriters* writers, WebModuleSet* modules) {
  accounting_.setAnalyserWriters(writers);
  accounting_.setWebModules(modules);
  LogDirectoryMap directories;
  for (auto& [id, domain] : domains_) collector_.getDomainLogs(*domain, directories);
  collector_.getDefaultSiteLogDir(directories);
  collector_.collectLogDirectories(directories);
  accounting_.setAnalyserWriters(nullptr);
  accounting_.setWebModules(nullptr);
}

void TrafficTask::store() {
  const std::vector<const DomainInfo*> saved =
      saveTrafficData2DB(db_, domains_, logtype::kHttp, logtype::kFtp, true);
  saveSitesHitsData2DB(db_, accounting_.pageHitsOf(saved));
}

std::wstring TrafficTask::defaultDocument(const std::wstring& name) const {
  auto found = documents_.find(name);
  return found == documents_.end() ? std::wstring() : found->second;
}
