#pragma once
// Log collection of a run: finds the web and FTP log directories of the selected domains,
// the default web site and the FTP server, picks in each the log files that may hold lines
// not yet counted, reads them line by line, and hands each line, with the domain and site
// it belongs to, to traffic accounting.
//
// Lines of a domain's own directory belong to that domain (or the site its "cs-host"
// names); lines of a shared directory go to the domain their host (HTTP) or login and
// server address (FTP) names, and are dropped when they name none. Expired files of shared
// directories are listed for deletion or saving at the end of the run; a domain's own files
// are never touched.
//
// The object holds the run's caches (site settings binding, host-name resolver, FTP
// attribution, the FTP directory of each address); reading a line allocates nothing once
// they have seen its host, login and address. Single-threaded; one run.

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "app/domain_info.h"
#include "platform/dates/vdatetime.h"
#include "traffic/default_document_map.h"
#include "traffic/domain2subdomain.h"
#include "traffic/end_of_run_files.h"
#include "traffic/ftp_attribution.h"
#include "traffic/ftp_log_directories.h"
#include "traffic/host_map.h"
#include "traffic/iis_site_settings.h"
#include "traffic/log_directory.h"
#include "traffic/w3c_field_handles.h"
#include "traffic/w3c_record.h"

class CDRDatabase;
class ExecSettings;
class TrafficAccounting;

// What the run's options and settings say about collection.
struct LogCollectionSettings {
  uint32_t taskSet = 0;        // tasks:: bits
  bool servUServer = false;    // the FTP server writes Serv-U logs (else W3C)
  bool maximizeConcurrency = false;
  std::wstring forcedStart;    // "--from-date", or empty
  VDateTime expirationCutoff;  // shared files last written before it have expired
  bool saveHttpLogs = false;   // "SaveHTTPLogsDirectory" is set
  bool saveFtpLogs = false;    // "SaveFTPLogsDirectory" is set
};

class LogCollector {
 public:
  // Everything referenced must outlive the object. The host and default-document maps are
  // filled here; `files` receives the expired shared files.
  LogCollector(CDRDatabase& db, ExecSettings& exec, LogCollectionSettings settings, const DomainMap& domains,
               const DomainNameMap& domainNames, HostMap& hosts, DefaultDocumentMap& documents,
               TrafficAccounting& accounting, EndOfRunFiles& files);
  LogCollector(const LogCollector&) = delete;
  LogCollector& operator=(const LogCollector&) = delete;

  // Registers the directories of one domain that has physical hosting: with the HTTP
  // options, its own web directory and each subdomain's (those that exist), recording the
  // sites' default documents and host names; with the FTP options, the FTP server's
  // directory of the domain's address, recording the host names. A failure of one
  // subdomain part is reported at level 0 ("get subdomains for domain %s", operation
  // "statistics::getDomainLogs"); a failure of the domain's own settings (hosting row, log
  // directory, FTP directory) is reported at level 3 under "Get log directories of domain
  // <name>" and ends only that domain's registration of that kind; a default document that
  // cannot be read is reported at level 3 under "Get default document of site <host>" and
  // counts as none.
  void getDomainLogs(DomainInfo& domain, LogDirectoryMap& directories);
  // With the HTTP options, registers the default web site's directory as a shared HTTP
  // directory (without them its lines would load and store HTTP windows of domains whose
  // own directories were not read, and those would lose their lines); a directory that is
  // registered already (a domain's site that is the first one) is not registered again; a
  // failure is
  // reported at level 0 under "GetLogDirectory for default domain " (operation
  // "statistics::getDefaultSiteLogDir").
  void getDefaultSiteLogDir(LogDirectoryMap& directories);

  // Walks the directories in key order. A domain's directory is read only while the run
  // holds the domain's lock (taken here without waiting, once per domain unless maximize
  // concurrency); its cutoff is the start of the domain's window of the type, loaded here.
  // A shared directory's cutoff is the expiration cutoff. Every file but subdirectories,
  // symbolic links and ".zip" files (any case) last written at or after the cutoff is read
  // with collectLog; an older file of a shared directory is put on the HTTP or FTP save
  // list when that directory is set, else on the delete list. A directory that fails is
  // reported at level 3 under "Collect logs of directory <path>" (operation
  // "statistics::collectLogDirectories") and the walk goes on; a cancellation ends the walk.
  void collectLogDirectories(const LogDirectoryMap& directories);

  // Reads one log file of `logType` (Serv-U for FTP on a Serv-U server, else W3C); the
  // directory's domain and host are empty for a shared directory. Reports "%s(%d): Collect
  // log" or "%s(%d): Collect domain %s log" at level 0. A failure of the file is reported
  // at level 1 under "Unable to process log file: <path>" (operation
  // "statistics::collectLog"); a cancellation passes on. A file that grows while it is read
  // is read to its new end; one that becomes shorter ends early, reported at level 1.
  void collectLog(const std::wstring& path, int logType, const std::wstring& domain, const std::wstring& host);

  // The W3C reading loop: per line the date check, the site-preview filter, FTP (method
  // rule, attribution, classification) or HTTP host attribution, then the accounting. A
  // failing line is reported at level 1 under "Unable to process log <path>" (operation
  // "statistics::genericCollectLog") and the next follows.
  void genericCollectLog(const std::wstring& path, int logType, const std::wstring& domain, const std::wstring& host);
  // The Serv-U reading loop, as genericCollectLog with the Serv-U attribution (operation
  // "statistics::servuCollectLog").
  void servuCollectLog(const std::wstring& path, const std::wstring& domain, const std::wstring& host);

 private:
  bool wantsHttp() const;
  bool wantsFtp() const;
  bool hasHosting(const DomainInfo& domain);
  void registerWebDirectories(DomainInfo& domain, LogDirectoryMap& directories);
  void registerFtpDirectory(DomainInfo& domain, LogDirectoryMap& directories);
  // The subdomains' part: with `directories`, their web directories too.
  void registerSubdomains(DomainInfo& domain, LogDirectoryMap* directories);
  // host map[host] = domain, and with `document` the site's default document.
  void recordSite(const std::wstring& host, const std::wstring& domain, bool document);
  // Registers an existing directory and reports it with `message`.
  void registerDirectory(LogDirectoryMap& directories, std::wstring key, LogDirectory directory,
                         const wchar_t* message);
  void collectDirectory(const LogDirectory& directory);
  // Sets lineDomain_ and lineHost_ for an HTTP line; false when it belongs to no domain.
  bool attributeHttpLine(const W3CRecord& line, const std::wstring& domain, const std::wstring& host);
  // The per-line work shared by both readers from the date check on: `w3c` is the record
  // handed on, `ftpLine` the reader's own record for FTP attribution.
  template <class FtpRecord>
  void processLine(const VDateTime& time, int logType, const W3CRecord& w3c, const FtpRecord* ftpLine,
                   const std::wstring& path, const std::wstring& domain, const std::wstring& host);

  CDRDatabase& db_;
  LogCollectionSettings settings_;
  const DomainMap& domains_;
  const DomainNameMap& domainNames_;
  HostMap& hosts_;
  DefaultDocumentMap& documents_;
  TrafficAccounting& accounting_;
  EndOfRunFiles& files_;

  IIsSiteSettings sites_;
  Statistics::Domain2Subdomain resolver_;
  Statistics::FtpAttribution ftp_;
  FtpLogDirectories ftpDirectories_;

  // Per-line scratch, kept so that reading reuses its storage.
  static constexpr std::array<std::wstring_view, 7> kLineFields = {
      L"date", L"time", L"cs-uri-stem", L"cs-host", L"cs(Referer)", L"cs-uri-query", L"cs-method"};
  W3CFieldHandles<7> lineFields_{kLineFields};
  std::wstring lineDomain_;
  std::wstring lineHost_;
  std::wstring lookupHost_;
  // Lower-cased host names as lines write them to the resolver's answer for them (the
  // resolver's own maps are ordered; a log names few hosts, over and over).
  std::unordered_map<std::wstring, const Statistics::Domain2Subdomain::HostInfo*> owners_;
  W3CRecord servuRecord_;
};
