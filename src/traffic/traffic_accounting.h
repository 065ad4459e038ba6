#pragma once
// Traffic accounting of a run: each log line that log collection has attributed to a
// domain, site and log type is checked against the domain's window, added to the domain's
// per-day byte counts, counted as a page hit (HTTP), and handed to the site's analyser
// writer and to the statistics modules.
//
// A domain's lines count only while the run holds the domain's traffic lock: the first line
// of a domain not yet held tries the lock without waiting, and a domain another run holds
// is left to that run (and, without maximize concurrency, never asked again this run).
//
// Once the caches have seen a line's domain, site and day, a line allocates nothing.
// Single-threaded; the object serves one run.

#include <string>
#include <unordered_map>
#include <vector>

#include "app/domain_info.h"
#include "app/statistics.h"
#include "traffic/default_document_map.h"
#include "traffic/traffic_store.h"
#include "traffic/w3c_field_handles.h"
#include "traffic/w3c_record.h"

class AnalyserWriters;
class WebModuleSet;

class TrafficAccounting {
 public:
  // The maps must outlive the object. `forcedStart` (the "--from-date" text, or empty) is
  // the start of every window this object loads.
  TrafficAccounting(const DomainMap& domains, const DomainNameMap& domainNames, const DefaultDocumentMap& documents,
                    bool maximizeConcurrency, std::wstring forcedStart);
  TrafficAccounting(const TrafficAccounting&) = delete;
  TrafficAccounting& operator=(const TrafficAccounting&) = delete;

  // Where counted lines go besides the counters; either may be null (nothing handed on).
  // Both must outlive the object's use.
  void setAnalyserWriters(AnalyserWriters* writers) { writers_ = writers; }
  void setWebModules(WebModuleSet* modules) { modules_ = modules; }

  // One attributed line: `domain` (lower case) must be a selected domain, the run must hold
  // (or now take) its lock, and start <= `time` < end of the window of `logType` (loaded
  // here when it is not); otherwise the line is ignored. Then the line goes to the
  // analyser writer of (domain, host), whose log of the type is created first, and to
  // processHTTPLogLine (type 0) or processFTPLogLine (1 and 2); another type is reported as
  // "Skipped log type %d" at level 1. A failure after the window check raises vexception
  // "Unable to process log " + `logFile` (operation "statistics::processLogLine").
  void processLogLine(const VDateTime& time, int logType, const W3CRecord& record, const std::wstring& domain,
                      const std::wstring& host, const std::wstring& logFile);

  // The per-day page hits (HTTP lines counted) of the given domains, summed.
  DayCounts pageHitsOf(const std::vector<const DomainInfo*>& domains) const;

 private:
  // The line's work for HTTP: one page hit; "sc-bytes" to the out and "cs-bytes" to the in
  // count of the day; the writer's line; the modules (line kind 0). A failure raises
  // "Process http log line <line>" (operation "statistics::processHTTPLogLine").
  void processHTTPLogLine(const VDateTime& time, int logType, const W3CRecord& record, const std::wstring& domain,
                          const std::wstring& host, const std::wstring& logFile, DomainInfo& info,
                          statistics::LogForAnalyser* writer);
  // The same for FTP, after the FTP method rule (a line that fails it is ignored); "FTP
  // host='%s'" at level 0; modules with line kind 1 for log type 2 and 2 for log type 1.
  // A failure raises "Process FTP log line <line>" (operation
  // "statistics::processFTPLogLine").
  void processFTPLogLine(const VDateTime& time, int logType, const W3CRecord& record, const std::wstring& domain,
                         const std::wstring& host, const std::wstring& logFile, DomainInfo& info,
                         statistics::LogForAnalyser* writer);
  // What the run keeps per counted domain: its page hits, and whether it has analyser
  // writers at all (a domain without a generator has none for any host).
  struct DomainLines {
    DayCounts pageHits;
    bool withoutWriter = false;
    // The writers of the hosts seen so far (a domain has few sites), each with the log
    // types whose temporary logs it has been asked to open (bit per type).
    struct SiteWriter {
      std::wstring site;
      statistics::LogForAnalyser* writer = nullptr;
      unsigned openTypes = 0;
    };
    std::vector<SiteWriter> writers;
  };
  // The selected domain of a lower-cased name, or null; `lines` receives its record.
  DomainInfo* domainNamed(const std::wstring& name, DomainLines*& lines);
  // The writer of `host`, with the temporary log of `logType` open (checkLogFile, asked once
  // per writer and type); null when the domain has no generator.
  statistics::LogForAnalyser* openWriterOf(DomainLines& lines, const std::wstring& domain, const std::wstring& host,
                                           int logType);
  void addBytes(DomainInfo& info, int logType, const VDateTime& time, const W3CRecord& record);
  void handToModules(const VDateTime& time, int kind, const W3CRecord& record, const std::wstring& domain,
                     const std::wstring& host, const std::wstring& logFile, const DomainInfo& info);

  const DomainMap& domains_;
  const DomainNameMap& domainNames_;
  const DefaultDocumentMap& documents_;
  bool maximizeConcurrency_;
  std::wstring forcedStart_;
  AnalyserWriters* writers_ = nullptr;
  WebModuleSet* modules_ = nullptr;

  std::unordered_map<const DomainInfo*, DomainLines> lines_;
  static constexpr std::array<std::wstring_view, 3> kByteFields = {L"sc-bytes", L"cs-bytes", L"cs-method"};
  W3CFieldHandles<3> fields_{kByteFields};
  // The last name asked and its record, so that a run of lines of one domain looks it up once.
  std::wstring lastName_;
  DomainInfo* lastDomain_ = nullptr;
  DomainLines* lastLines_ = nullptr;
};
