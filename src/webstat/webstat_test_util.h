#pragma once
// What the generator-run tests share: run settings the test sets, and log lines made as
// the traffic task hands them over.

#include <map>
#include <regex>
#include <sstream>
#include <set>
#include <string>
#include <vector>

#include "platform/dates/vdatetime.h"
#include "traffic/w3c_field_names.h"
#include "testing/temp_dir.h"
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

// The hits AWStats' history file holds, viewed or not, summed over its hours (the days of the current
// month are filled in only later).
inline long historyHits(const std::string& path) {
  std::istringstream in(testing_support::readFile(path));
  long hits = 0;
  bool hours = false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("BEGIN_TIME", 0) == 0) hours = true;
    else if (line.rfind("END_TIME", 0) == 0) hours = false;
    else if (hours) {
      std::istringstream fields(line);
      // hour, pages, hits, bytes, then the same for traffic AWStats counts as not viewed
      // (robots and agents it does not know)
      long hour = 0, pages = 0, viewed = 0, bytes = 0, notViewedPages = 0, notViewed = 0;
      fields >> hour >> pages >> viewed >> bytes >> notViewedPages >> notViewed;
      hits += viewed + notViewed;
    }
  }
  return hits;
}

// The month's total hits in Webalizer's index page: the last figure of its row.
inline long webalizerMonthHits(const std::string& index, const std::string& month) {
  const size_t row = index.find(">" + month + "<");
  if (row == std::string::npos) return -1;
  const std::string cells = index.substr(row, index.find("</TR>", row) - row);
  long last = -1;
  const std::regex number(R"(<FONT SIZE="-1">([0-9]+)</FONT>)");
  for (std::sregex_iterator it(cells.begin(), cells.end(), number), end; it != end; ++it) last = std::stol((*it)[1]);
  return last;
}

}  // namespace webstat_test
