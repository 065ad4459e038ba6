#pragma once
// What the generator-run tests share: run settings the test sets, and log lines made as
// the traffic task hands them over.

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/dates/vdatetime.h"
#include "traffic/w3c_field_names.h"
#include "traffic/w3c_record.h"
#include "webstat/analyser_run_settings.h"
#include "webstat/log_for_analyser.h"

namespace webstat_test {

class FakeRunSettings : public AnalyserRunSettings {
 public:
  std::wstring vhosts, awstats, webalizer, product, perl;
  bool verboseRun = false;
  std::map<std::wstring, std::vector<std::wstring>> aliases;     // domain -> alias names
  std::map<std::wstring, std::set<std::wstring>> subdomains;     // domain -> labels
  std::set<std::wstring> withoutWww;                             // hosts without a www record
  std::vector<std::wstring> deleteList;

  std::wstring vhostsRoot() override { return vhosts; }
  std::wstring awstatsRoot() override { return awstats; }
  std::wstring webalizerProgram() override { return webalizer; }
  std::wstring productRoot() override { return product; }
  std::wstring perlDirectory() override { return perl; }
  bool verbose() override { return verboseRun; }
  std::vector<std::wstring> domainAliases(const std::wstring& d) override { return aliases[d]; }
  bool hasWwwRecord(const std::wstring& host) override { return !withoutWww.count(host); }
  std::set<std::wstring> subdomainNames(const std::wstring& d) override { return subdomains[d]; }
  void deleteAtEndOfRun(const std::wstring& path) override { deleteList.push_back(path); }
};

// One W3C line of `host` at the UTC time `at` from the client `ip`, for `stem`.
inline W3CRecord webLine(const std::wstring& host, const VDateTime& at, const std::wstring& ip = L"192.0.2.1",
                         const std::wstring& stem = L"/index.html", const std::wstring& method = L"GET") {
  static const auto names = W3CFieldNames::make({L"date", L"time", L"s-sitename", L"s-ip", L"cs-method",
                                                 L"cs-uri-stem", L"cs-uri-query", L"s-port", L"cs-username", L"c-ip",
                                                 L"cs-version", L"cs(User-Agent)", L"cs(Referer)", L"cs-host",
                                                 L"sc-status", L"sc-bytes", L"cs-bytes", L"time-taken"});
  wchar_t date[16], time[16];
  swprintf(date, 16, L"%04d-%02d-%02d", at.year, at.month, at.day);
  swprintf(time, 16, L"%02d:%02d:%02d", at.hour, at.minute, at.second);
  const std::wstring values[] = {date,   time,    L"W3SVC1", L"10.0.0.1",    method, stem, L"-",   L"80",  L"-",
                                 ip,     L"HTTP/1.1", L"Mozilla/5.0+(X11;+Linux)", L"-", host, L"200", L"5120", L"310", L"15"};
  std::vector<std::wstring_view> views(std::begin(values), std::end(values));
  W3CRecord r;
  r.assign(names, L"line", views);
  return r;
}

// Hands `count` lines of the writer's host to it, one minute apart from `from`.
inline void feed(statistics::LogForAnalyser& w, int logType, const VDateTime& from, int count,
                 const std::wstring& ip = L"192.0.2.1") {
  w.checkLogFile(logType);
  for (int i = 0; i < count; ++i) {
    const VDateTime at = from + static_cast<int64_t>(60 * i);
    const W3CRecord r = webLine(w.hostName(), at, ip);
    if (logType == 0)
      w.processHTTPLogLine(at, logType, r);
    else
      w.processFTPLogLine(at, logType, r, true);
  }
}

}  // namespace webstat_test
