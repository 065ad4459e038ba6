// Log collection, first half: the log directories of the selected domains, of the default
// web site and of the FTP server, with the run's host and default-document maps.
#include "app/task_set.h"
#include "db/cdr_database.h"
#include "platform/files/vdirectory.h"
#include "platform/report/guard.h"
#include "platform/text/text_codec.h"
#include "traffic/log_collector.h"

LogCollector::LogCollector(CDRDatabase& db, ExecSettings& exec, LogCollectionSettings settings,
                           const DomainMap& domains, const DomainNameMap& domainNames, HostMap& hosts,
                           DefaultDocumentMap& documents, TrafficAccounting& accounting, EndOfRunFiles& files)
    : db_(db),
      settings_(std::move(settings)),
      domains_(domains),
      domainNames_(domainNames),
      hosts_(hosts),
      documents_(documents),
      accounting_(accounting),
      files_(files),
      resolver_(db),
      ftp_(db, hosts, domains, domainNames),
      ftpDirectories_(exec) {}

bool LogCollector::wantsHttp() const {
  return (settings_.taskSet & (tasks::kHttpTraffic | tasks::kHttpWebStatistics)) != 0;
}

bool LogCollector::wantsFtp() const {
  return (settings_.taskSet & (tasks::kFtpTraffic | tasks::kFtpWebStatistics)) != 0;
}

void LogCollector::getDomainLogs(DomainInfo& domain, LogDirectoryMap& directories) {
  const ContextRecord failure =
      VCTX(L"Get log directories of domain " + domain.name(), "statistics::getDomainLogs");
  if (wantsHttp()) guard::reportUnlessCancelled(3, failure, [&] { registerWebDirectories(domain, directories); });
  if (wantsFtp()) guard::reportUnlessCancelled(3, failure, [&] { registerFtpDirectory(domain, directories); });
}

bool LogCollector::hasHosting(const DomainInfo& domain) {
  return db_.query(L"SELECT * FROM hosting h, domains d WHERE d.id=h.dom_id AND d.id=" + domain.id()).next();
}

void LogCollector::registerDirectory(LogDirectoryMap& directories, std::wstring key, LogDirectory directory,
                                     const wchar_t* message) {
  if (directory.path.empty() || !VDirectory::exists(directory.path)) return;
  if (directory.domain) directory.domain->logDirectories().push_back(directory.path);
  vreport(0, message, directory.path);
  directories.insert_or_assign(std::move(key), std::move(directory));
}

void LogCollector::recordSite(const std::wstring& host, const std::wstring& domain, bool document) {
  hosts_[host] = domain;
  if (!document) return;
  std::wstring& entry = documents_[host];
  entry.clear();
  guard::reportUnlessCancelled(3, VCTX(L"Get default document of site " + host, "statistics::getDomainLogs"),
                               [&] { entry = sites_.getDomainDefaultDoc(host); });
}

void LogCollector::registerSubdomains(DomainInfo& domain, LogDirectoryMap* directories) {
  const std::wstring& name = domain.name();
  guard::reportUnlessCancelled(0, VCTX(vformat(L"get subdomains for domain %s", name), "statistics::getDomainLogs"), [&] {
    VRecordSet rows = db_.query(L"SELECT s.name FROM `subdomains` s, `domains` d WHERE d.id=s.dom_id AND d.name='" +
                                db_.escape(name) + L"'");
    while (rows.next()) {
      const std::wstring host = text::toLower(rows.get(0)) + L"." + name;
      if (directories) {
        std::wstring path = sites_.getDomainLogDirectory(host);
        std::wstring key = path;
        registerDirectory(*directories, std::move(key), LogDirectory{logtype::kHttp, std::move(path), name, host, &domain},
                          L"Log dir %s ordered to proceess");
      }
      recordSite(host, name, directories != nullptr);
    }
  });
}

void LogCollector::registerWebDirectories(DomainInfo& domain, LogDirectoryMap& directories) {
  if (!hasHosting(domain)) return;
  const std::wstring& name = domain.name();
  std::wstring path = sites_.getDomainLogDirectory(name);
  registerSubdomains(domain, &directories);
  recordSite(name, name, true);
  std::wstring key = text::toLower(path);
  registerDirectory(directories, std::move(key), LogDirectory{logtype::kHttp, std::move(path), name, name, &domain},
                    L"Log dir %s ordered to proceess");
}

void LogCollector::registerFtpDirectory(DomainInfo& domain, LogDirectoryMap& directories) {
  if (!hasHosting(domain)) return;
  registerSubdomains(domain, nullptr);
  recordSite(domain.name(), domain.name(), true);
  if (domain.ipAddress() == 0) return;
  // Anonymous and user FTP share the server's directory: it is read as user FTP, and each
  // line is classified on its own.
  std::wstring path = ftpDirectories_.getLogDirectory(domain.ipAddress());
  if (path.empty() || !VDirectory::exists(path)) return;
  directories.insert_or_assign(text::toLower(path), LogDirectory{logtype::kFtp, std::move(path), {}, {}, nullptr});
}

void LogCollector::getDefaultSiteLogDir(LogDirectoryMap& directories) {
  if (!wantsHttp()) return;
  guard::reportUnlessCancelled(
      0, VCTX(L"GetLogDirectory for default domain ", "statistics::getDefaultSiteLogDir"), [&] {
        std::wstring path = sites_.getDomainLogDirectory(L"");
        // A domain's own site can be the first one: its directory is already that domain's,
        // and read once more as shared, its lines would be counted twice.
        for (const auto& [key, directory] : directories)
          if (directory.path == path) return;
        std::wstring key = path;
        registerDirectory(directories, std::move(key), LogDirectory{logtype::kHttp, std::move(path), {}, {}, nullptr},
                          L"IIS Log dir %s ordered to proceess");
      });
}
