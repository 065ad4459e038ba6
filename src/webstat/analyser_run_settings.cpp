#include "webstat/analyser_run_settings.h"

#include "db/cdr_database.h"
#include "platform/exec/exec_settings.h"
#include "platform/service/product_paths.h"
#include "platform/text/text_codec.h"

SystemAnalyserRunSettings::SystemAnalyserRunSettings(CDRDatabase& db, const DomainMap& domains,
                                                     const DomainNameMap& domainNames, bool verbose,
                                                     std::vector<std::wstring>& deleteList)
    : db_(db),
      resolver_(db),
      domains_(domains),
      domainNames_(domainNames),
      verbose_(verbose),
      deleteList_(deleteList) {}

const std::wstring& SystemAnalyserRunSettings::keptPath(std::optional<std::wstring>& kept, const wchar_t* name) {
  if (!kept) kept = getProductPath(name);
  return *kept;
}

std::wstring SystemAnalyserRunSettings::vhostsRoot() { return keptPath(vhostsRoot_, L"HTTPD_VHOSTS_D"); }
std::wstring SystemAnalyserRunSettings::awstatsRoot() { return keptPath(awstatsRoot_, L"AWStatsPath"); }
std::wstring SystemAnalyserRunSettings::webalizerProgram() { return keptPath(webalizerProgram_, L"WebalizerPath"); }
std::wstring SystemAnalyserRunSettings::productRoot() { return ExecSettings::system().requiredProductRoot(); }
std::wstring SystemAnalyserRunSettings::perlDirectory() { return ExecSettings::system().componentDirectory(L"perl"); }

std::vector<std::wstring> SystemAnalyserRunSettings::domainAliases(const std::wstring& domainName) {
  std::vector<std::wstring> names;
  VRecordSet rows = db_.getDomainAliases(db_.getBaseDomainID(domainName));
  while (rows.next()) names.push_back(rows.get(L"name"));
  return names;
}

bool SystemAnalyserRunSettings::hasWwwRecord(const std::wstring& hostName) {
  auto name = domainNames_.find(text::toLower(hostName));
  if (name == domainNames_.end()) return true;
  auto domain = domains_.find(name->second);
  return domain == domains_.end() || domain->second->hasWwwRecord();
}

std::set<std::wstring> SystemAnalyserRunSettings::subdomainNames(const std::wstring& domainName) {
  return resolver_.subdomainNames(text::toLower(domainName));
}
