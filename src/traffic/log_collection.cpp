// Log collection, second half: the walk over the registered directories, the choice of
// files, and the two reading loops with the rules each line passes before it is counted.
#include "platform/files/vfile.h"
#include "platform/files/vfilefinder.h"
#include "platform/files/vfilename.h"
#include "platform/report/guard.h"
#include "platform/text/text_codec.h"
#include "traffic/log_collector.h"
#include "traffic/log_line_rules.h"
#include "traffic/servu_file.h"
#include "traffic/traffic_accounting.h"
#include "traffic/w3c_file.h"

namespace {

constexpr size_t kDate = 0;
constexpr size_t kTime = 1;
constexpr size_t kUriStem = 2;
constexpr size_t kHost = 3;
constexpr size_t kReferer = 4;
constexpr size_t kUriQuery = 5;
constexpr size_t kMethod = 6;

bool isZipFile(const std::wstring& name) { return text::equalsNoCase(VFileName::extension(name), L".zip"); }

}  // namespace

void LogCollector::collectLogDirectories(const LogDirectoryMap& directories) {
  for (const auto& entry : directories) {
    const LogDirectory& directory = entry.second;
    guard::reportUnlessCancelled(
        3, VCTX(L"Collect logs of directory " + directory.path, "statistics::collectLogDirectories"),
        [&] { collectDirectory(directory); });
  }
}

void LogCollector::collectDirectory(const LogDirectory& directory) {
  VDateTime cutoff = settings_.expirationCutoff;
  if (DomainInfo* domain = directory.domain) {
    if (!domain->trafficLocked() && !domain->tryLock(settings_.maximizeConcurrency)) return;
    const bool http = directory.logType == logtype::kHttp;
    domain->loadLogWindows(http, !http, settings_.forcedStart);
    cutoff = domain->getStartLogTime(directory.logType);
  }
  for (VFileFinder finder(directory.path, L"*.*"); finder.next();) {
    const VFileFinder::Entry& entry = finder.entry();
    // A link could make the run read, and hand to a domain's statistics, any file at all.
    if (entry.isDirectory || entry.isSymlink || isZipFile(entry.name)) continue;
    vreport(0, L"Getting '%s' modification time.", entry.path);
    if (entry.lastWriteTime >= cutoff) {
      collectLog(entry.path, directory.logType, directory.domainName, directory.hostName);
    } else if (!directory.domain) {
      // Expired: no window can still want a line of it.
      const bool http = directory.logType == logtype::kHttp;
      const bool save = http ? settings_.saveHttpLogs : settings_.saveFtpLogs;
      (save ? (http ? files_.httpSaveList : files_.ftpSaveList) : files_.deleteList).push_back(entry.path);
    }
  }
}

void LogCollector::collectLog(const std::wstring& path, int logType, const std::wstring& domain,
                              const std::wstring& host) {
  guard::reportUnlessCancelled(1, VCTX(L"Unable to process log file: " + path, "statistics::collectLog"), [&] {
    if (host.empty())
      vreport(0, L"%s(%d): Collect log", path, logType);
    else
      vreport(0, L"%s(%d): Collect domain %s log", path, logType, host);
    const int64_t sizeAtStart = VFile::status(path).size;
    if (logType != logtype::kHttp && settings_.servUServer)
      servuCollectLog(path, domain, host);
    else
      genericCollectLog(path, logType, domain, host);
    // A file cut while it was read ends early, as its end would: say so, for its lost end.
    if (VFile::status(path).size < sizeAtStart)
      vreport(1, L"The log file %s became shorter while it was read: the lines after the cut were not read", path);
  });
}

void LogCollector::genericCollectLog(const std::wstring& path, int logType, const std::wstring& domain,
                                     const std::wstring& host) {
  for (W3CFile::iterator block(path); !block.atEnd(); ++block) {
    for (W3CFile::line_iterator line(*block); !line.atEnd(); ++line) {
      cancellation::point();
      try {
        const W3CRecord& record = *line;
        const auto& f = lineFields_.of(record);
        processLine(w3cLineTime(record.get(f[kDate]), record.get(f[kTime])), logType, record, &record, path, domain,
                    host);
      } catch (...) {
        guard::reportCurrent(1, VCTX(L"Unable to process log " + path, "statistics::genericCollectLog"));
      }
    }
  }
}

void LogCollector::servuCollectLog(const std::wstring& path, const std::wstring& domain, const std::wstring& host) {
  for (ServUFile::iterator line(path); !line.atEnd(); ++line) {
    cancellation::point();
    try {
      const ServURecord& record = *line;
      record.toW3C(servuRecord_);
      processLine(record.utcTime(), logtype::kFtp, servuRecord_, &record, path, domain, host);
    } catch (...) {
      guard::reportCurrent(1, VCTX(L"Unable to process log " + path, "statistics::servuCollectLog"));
    }
  }
}

template <class FtpRecord>
void LogCollector::processLine(const VDateTime& time, int logType, const W3CRecord& w3c, const FtpRecord* ftpLine,
                               const std::wstring& path, const std::wstring& domain, const std::wstring& host) {
  const auto& f = lineFields_.of(w3c);
  if (!checkLineDate(time)) return;
  if (isSitePreview(w3c.get(f[kUriStem]))) return;
  if (logType != logtype::kHttp) {
    if (!ftpMethodRule(w3c.get(f[kMethod])).passes) return;
    lineDomain_ = domain;
    lineHost_.clear();
    ftp_.attributeFtpLine(*ftpLine, lineDomain_, lineHost_);
    if (lineDomain_.empty()) return;
    logType = ftp_.classifyFtpLine(*ftpLine);
  } else if (!attributeHttpLine(w3c, domain, host)) {
    return;
  }
  accounting_.processLogLine(time, logType, w3c, lineDomain_, lineHost_, path);
}

bool LogCollector::attributeHttpLine(const W3CRecord& line, const std::wstring& domain, const std::wstring& host) {
  const auto& f = lineFields_.of(line);
  const std::wstring_view text = httpHostText(line.get(f[kHost]), line.get(f[kReferer]), line.get(f[kUriQuery]));
  if (namesNoHost(text)) {
    lineDomain_ = domain;
    lineHost_ = host;
    return true;
  }
  static const Statistics::Domain2Subdomain::HostInfo kNobody;
  const Statistics::Domain2Subdomain::HostInfo* owner = &kNobody;
  const std::wstring_view name = hostNameOf(text, !domain.empty());
  if (!name.empty()) {
    text::assignLower(name, lookupHost_);
    auto known = owners_.find(lookupHost_);
    if (known == owners_.end()) {
      // The name without "www." first, then as written.
      const std::wstring asWritten = lookupHost_;
      const std::wstring_view bare = withoutWww(asWritten);
      lookupHost_.assign(bare);
      const Statistics::Domain2Subdomain::HostInfo* found = &resolver_.resolve(lookupHost_);
      if (found->first.empty() && bare.size() != asWritten.size()) found = &resolver_.resolve(asWritten);
      known = owners_.emplace(asWritten, found).first;
    }
    owner = known->second;
    if (owner->first.empty() && LogManager::instance().wouldReport(1)) vreport(1, L"Unable to get %s aliases", name);
  }
  static constexpr std::wstring_view kNone = L"-";
  if (owner->first.empty() || owner->first == kNone) {
    if (domain.empty() || domain == kNone) return false;
    lineDomain_ = domain;
    lineHost_ = host.empty() ? domain : host;
  } else {
    lineDomain_ = owner->first;
    lineHost_ = owner->second.empty() ? owner->first : owner->second;
  }
  return true;
}
