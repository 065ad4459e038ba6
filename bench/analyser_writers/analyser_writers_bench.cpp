// Throughput of the analyser writers: each of the four line formats (Webalizer and AWStats,
// HTTP and FTP) converts and writes generated IIS lines into its temporary log, and the
// figure is printed as lines per second, with the heap allocations per line once warm.
//
//   bench_analyser_writers [lines]      (default 1000000)
//
// The temporary logs go to $TMPDIR (else /tmp) and are deleted at the end. Exits with 2 when
// a format allocates per line.
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/text/narrow_decoder.h"
#include "platform/text/text_codec.h"
#include "traffic/w3c_field_names.h"
#include "traffic/w3c_record.h"
#include "webstat/log_for_awstats.h"
#include "webstat/log_for_webalizer.h"
#include "../malloc_counter.h"


namespace {

// A few hundred distinct lines, cycled: the writers' cost, not the generator's, is measured.
std::vector<W3CRecord> sampleRecords() {
  auto names = W3CFieldNames::make({L"date", L"time", L"s-sitename", L"s-computername", L"s-ip", L"cs-method",
                                    L"cs-uri-stem", L"cs-uri-query", L"s-port", L"cs-username", L"c-ip",
                                    L"cs-version", L"cs(User-Agent)", L"cs(Cookie)", L"cs(Referer)", L"cs-host",
                                    L"sc-status", L"sc-substatus", L"sc-win32-status", L"sc-bytes", L"cs-bytes",
                                    L"time-taken"});
  std::vector<W3CRecord> records(256);
  const text::NarrowDecoder decoder(text::NarrowCodec::system());
  for (size_t i = 0; i < records.size(); ++i) {
    const std::wstring n = std::to_wstring(i);
    // Times of one quarter hour, as the lines of a real log come in time order.
    const std::wstring time = L"10:" + std::to_wstring(15 + i % 15) + L":" + std::to_wstring(10 + i % 47);
    const std::wstring stem = L"/catalog/item" + n + L".html";
    const std::wstring ip = L"192.0.2." + std::to_wstring(i % 250);
    const std::wstring bytes = std::to_wstring(1000 + 37 * i);
    const std::wstring query = i % 2 ? L"-" : L"q=" + n;
    const std::wstring_view values[] = {L"2024-01-05", time, L"W3SVC7", L"WEB1", L"10.0.0.7",
                                        i % 3 ? L"GET" : L"[12]created", stem, query, L"80",
                                        L"-", ip, L"HTTP/1.1",
                                        L"Mozilla/5.0+(X11;+Linux+x86_64)+AppleWebKit/537.36+(KHTML,+like+Gecko)",
                                        L"-", L"http://www.example.test/", L"www.example.test", L"200", L"0", L"0",
                                        bytes, L"420", L"15"};
    // Read as the traffic task reads a log line, so the record carries the bytes too.
    std::wstring line;
    for (std::wstring_view value : values) line.append(line.empty() ? L"" : L" ").append(value);
    records[i].parseLine(text::toUtf8(line), names, decoder);
  }
  return records;
}

struct Format {
  const char* name;
  bool awstats;
  int logType;  // 0 HTTP, 2 FTP
};

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  const long lines = argc > 1 ? std::atol(argv[1]) : 1000000;
  const std::vector<W3CRecord> records = sampleRecords();
  const VDateTime at(2024, 1, 5, 10, 20, 30);
  const Format formats[] = {{"webalizer http", false, 0},
                            {"webalizer ftp", false, 2},
                            {"awstats http", true, 0},
                            {"awstats ftp", true, 2}};
  int status = 0;
  std::printf("%-16s %12s %14s %10s\n", "format", "lines", "lines/s", "allocs/ln");
  for (const Format& f : formats) {
    std::unique_ptr<statistics::LogForAnalyser> w;
    if (f.awstats)
      w = std::make_unique<statistics::LogForAWStats>(L"example.test", L"www.example.test", L"");
    else
      w = std::make_unique<statistics::LogForWebalizer>(L"example.test", L"www.example.test", L"");
    auto write = [&](long i) {
      const W3CRecord& r = records[static_cast<size_t>(i) % records.size()];
      w->checkLogFile(f.logType);
      if (f.logType == 0)
        w->processHTTPLogLine(at, 0, r);
      else
        w->processFTPLogLine(at, f.logType, r, i % 2 == 0);
    };
    for (long i = 0; i < 10000; ++i) write(i);  // warm: buffers at their size
    const unsigned long allocationsBefore = g_allocations;
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < lines; ++i) write(i);
    w->hasLogData(f.logType);  // the last buffered lines reach the file
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double perLine = static_cast<double>(g_allocations - allocationsBefore) / static_cast<double>(lines);
    std::printf("%-16s %12ld %14.0f %10.3f\n", f.name, lines, static_cast<double>(lines) / seconds, perLine);
    if (perLine > 0.001) status = 2;
  }
  return status;
}
