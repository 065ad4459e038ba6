#include "traffic/traffic_accounting.h"

#include "db/text_number.h"
#include "platform/report/guard.h"
#include "platform/text/text_codec.h"
#include "traffic/log_line_rules.h"
#include "webstat/analyser_writers.h"
#include "webstat/web_module_set.h"

namespace {

constexpr size_t kScBytes = 0;
constexpr size_t kCsBytes = 1;
constexpr size_t kCsMethod = 2;

// The statistics modules' line kinds: 0 HTTP, 1 user FTP, 2 anonymous FTP.
int moduleLineKind(int logType) {
  if (logType == logtype::kFtp) return 1;
  if (logType == logtype::kAnonymousFtp) return 2;
  return 0;
}

}  // namespace

TrafficAccounting::TrafficAccounting(const DomainMap& domains, const DomainNameMap& domainNames,
                                     const DefaultDocumentMap& documents, bool maximizeConcurrency,
                                     std::wstring forcedStart)
    : domains_(domains),
      domainNames_(domainNames),
      documents_(documents),
      maximizeConcurrency_(maximizeConcurrency),
      forcedStart_(std::move(forcedStart)) {}

DomainInfo* TrafficAccounting::domainNamed(const std::wstring& name, DomainLines*& lines) {
  if (!lastDomain_ || name != lastName_) {
    text::assignLower(name, lastName_);
    lastDomain_ = nullptr;
    auto id = domainNames_.find(lastName_);
    if (id == domainNames_.end()) return nullptr;
    auto found = domains_.find(id->second);
    if (found == domains_.end()) return nullptr;
    lastDomain_ = found->second.get();
    lastLines_ = &lines_[lastDomain_];
  }
  lines = lastLines_;
  return lastDomain_;
}

statistics::LogForAnalyser* TrafficAccounting::openWriterOf(DomainLines& lines, const std::wstring& domain,
                                                            const std::wstring& host, int logType) {
  if (!writers_ || lines.withoutWriter) return nullptr;
  DomainLines::SiteWriter* entry = nullptr;
  for (DomainLines::SiteWriter& known : lines.writers) {
    if (known.site == host) {
      entry = &known;
      break;
    }
  }
  if (!entry) {
    statistics::LogForAnalyser* writer = writers_->getAnalyserWriter(domain, host);
    if (!writer) {
      lines.withoutWriter = true;
      return nullptr;
    }
    entry = &lines.writers.emplace_back(DomainLines::SiteWriter{host, writer});
  }
  // A log, once open, stays open as long as its writer: only a type not yet opened is
  // asked for (again after a failed creation).
  const unsigned bit = logType >= 0 && logType < 32 ? 1u << logType : 0u;
  if (!(entry->openTypes & bit)) {
    entry->writer->checkLogFile(logType);
    entry->openTypes |= bit;
  }
  return entry->writer;
}

void TrafficAccounting::processLogLine(const VDateTime& time, int logType, const W3CRecord& record,
                                       const std::wstring& domain, const std::wstring& host,
                                       const std::wstring& logFile) {
  DomainLines* lines = nullptr;
  DomainInfo* info = domainNamed(domain, lines);
  if (!info) return;
  if (!info->trafficLocked() && !info->tryLock(maximizeConcurrency_)) return;
  const bool http = logType == logtype::kHttp;
  // Loaded here, a window starts where the forced start says too: otherwise the order in
  // which directories are walked would decide which domains "--from-date" recounts.
  info->loadLogWindows(http, !http, forcedStart_);
  if (!(info->getStartLogTime(logType) <= time && time < info->getEndLogTime(logType))) return;
  try {
    statistics::LogForAnalyser* writer = openWriterOf(*lines, domain, host, logType);
    if (http)
      processHTTPLogLine(time, logType, record, domain, host, logFile, *info, writer);
    else if (logType == logtype::kAnonymousFtp || logType == logtype::kFtp)
      processFTPLogLine(time, logType, record, domain, host, logFile, *info, writer);
    else
      vreport(1, L"Skipped log type %d", logType);
  } catch (...) {
    guard::rethrowAs(L"Unable to process log " + logFile, VCTX(L"", "statistics::processLogLine"));
  }
}

void TrafficAccounting::addBytes(DomainInfo& info, int logType, const VDateTime& time, const W3CRecord& record) {
  const auto& f = fields_.of(record);
  std::array<int64_t, 2>& counts = info.traffic(logType)[time.date()];
  counts[0] += wcrt::wtoi64(record.get(f[kScBytes]));
  counts[1] += wcrt::wtoi64(record.get(f[kCsBytes]));
}

void TrafficAccounting::handToModules(const VDateTime& time, int kind, const W3CRecord& record,
                                      const std::wstring& domain, const std::wstring& host,
                                      const std::wstring& logFile, const DomainInfo& info) {
  if (!modules_ || !modules_->takesLines()) return;
  std::wstring_view document;
  if (auto found = documents_.find(host); found != documents_.end()) document = found->second;
  if (document.empty()) document = L"index.html";
  modules_->processLogLine(domain, host, logFile, kind, document, info.hasWwwRecord(), time, record);
}

void TrafficAccounting::processHTTPLogLine(const VDateTime& time, int logType, const W3CRecord& record,
                                           const std::wstring& domain, const std::wstring& host,
                                           const std::wstring& logFile, DomainInfo& info,
                                           statistics::LogForAnalyser* writer) {
  try {
    // lastLines_ is the record of `info`: processLogLine has just looked the domain up.
    if (info.trafficLocked()) ++lastLines_->pageHits[time.date()];
    addBytes(info, logType, time, record);
    if (writer) writer->processHTTPLogLine(time, logType, record);
    handToModules(time, moduleLineKind(logType), record, domain, host, logFile, info);
  } catch (...) {
    guard::rethrowAs(vformat(L"Process http log line %s", record.line()), VCTX(L"", "statistics::processHTTPLogLine"));
  }
}

void TrafficAccounting::processFTPLogLine(const VDateTime& time, int logType, const W3CRecord& record,
                                          const std::wstring& domain, const std::wstring& host,
                                          const std::wstring& logFile, DomainInfo& info,
                                          statistics::LogForAnalyser* writer) {
  try {
    const FtpMethod method = ftpMethodRule(record.get(fields_.of(record)[kCsMethod]));
    if (!method.passes) return;
    if (LogManager::instance().wouldReport(0)) vreport(0, L"FTP host='%s'", domain);
    addBytes(info, logType, time, record);
    if (writer) writer->processFTPLogLine(time, logType, record, method.download);
    handToModules(time, moduleLineKind(logType), record, domain, host, logFile, info);
  } catch (...) {
    guard::rethrowAs(vformat(L"Process FTP log line %s", record.line()), VCTX(L"", "statistics::processFTPLogLine"));
  }
}

DayCounts TrafficAccounting::pageHitsOf(const std::vector<const DomainInfo*>& domains) const {
  DayCounts sum;
  for (const DomainInfo* domain : domains) {
    auto found = lines_.find(domain);
    if (found == lines_.end()) continue;
    for (const auto& [day, hits] : found->second.pageHits) sum[day] += hits;
  }
  return sum;
}
