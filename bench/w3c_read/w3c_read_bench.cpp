// Throughput of the W3C reader over generated IIS logs, and the heap allocations per line
// once warmed up, in three forms of the same log: CR LF line ends in UTF-8 (the usual
// log, also read by field names and compared with an awk one-liner that sums bytes per
// host), CR-only line ends, and CP1251 text (Cyrillic page names read under that code
// page).
//
//   bench_w3c_read [lines]            (default 1000000), five rounds, the best counts
//   bench_w3c_read --check [lines]    one round of each form, no awk: the allocation check
//                                     the test suite runs
//
// Exits with 2 when the per-line path allocates in any form.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/system/system_root.h"
#include "platform/text/text_codec.h"
#include "platform/files/vfilename.h"
#include "traffic/log_byte_source.h"
#include "traffic/w3c_file.h"
#include "../malloc_counter.h"
#include "../deterministic_random.h"

namespace {

const wchar_t* const kFields[] = {
    L"date",      L"time",        L"s-sitename",     L"s-computername",  L"s-ip",
    L"cs-method", L"cs-uri-stem", L"cs-uri-query",   L"s-port",          L"cs-username",
    L"c-ip",      L"cs-version",  L"cs(User-Agent)", L"cs(Cookie)",      L"cs(Referer)",
    L"cs-host",   L"sc-status",   L"sc-substatus",   L"sc-win32-status", L"sc-bytes",
    L"cs-bytes",  L"time-taken"};
constexpr size_t kFieldCount = sizeof(kFields) / sizeof(kFields[0]);

// The forms of the log.
struct LogForm {
  const char* name;
  const char* lineEnd;
  bool cyrillic;          // half of the page names in Cyrillic, CP1251 bytes
  const char* codeset;    // the code page the reader decodes with
};
const LogForm kUsual = {"CR LF, UTF-8", "\r\n", false, "UTF-8"};
const LogForm kCrOnly = {"CR only, UTF-8", "\r", false, "UTF-8"};
const LogForm kCp1251 = {"CR LF, CP1251", "\r\n", true, "CP1251"};

// A deterministic IIS log with the usual 22 fields, a new header block every 100000 lines
// as IIS writes one on every restart.
unsigned long long writeLog(const std::string& path, size_t lines, const LogForm& form) {
  static const char* const stems[] = {
      "/index.html",          "/images/logo.gif", "/css/site.css",     "/news/2008/02/article.aspx",
      "/downloads/setup.exe", "/favicon.ico",     "/js/jquery.min.js", "/products/catalog/item-details.aspx"};
  // "/новости/2008/статья.aspx", "/каталог/товар.aspx", "/поиск.aspx", "/о-нас/контакты.html"
  static const char* const cyrillicStems[] = {
      "/\xed\xee\xe2\xee\xf1\xf2\xe8/2008/\xf1\xf2\xe0\xf2\xfc\xff.aspx",
      "/\xea\xe0\xf2\xe0\xeb\xee\xe3/\xf2\xee\xe2\xe0\xf0.aspx", "/\xef\xee\xe8\xf1\xea.aspx",
      "/\xee-\xed\xe0\xf1/\xea\xee\xed\xf2\xe0\xea\xf2\xfb.html"};
  static const char* const agents[] = {
      "Mozilla/4.0+(compatible;+MSIE+7.0;+Windows+NT+5.1)",
      "Mozilla/5.0+(Windows;+U;+Windows+NT+5.1;+en-US;+rv:1.8.1.12)+Gecko/20080201+Firefox/2.0.0.12",
      "Googlebot/2.1+(+http://www.google.com/bot.html)", "-"};
  static const char* const hosts[] = {"www.example.com", "example.com", "shop.example.net", "blog.sample.org",
                                      "10.0.0.1"};
  static const char* const methods[] = {"GET", "GET", "GET", "POST", "HEAD"};
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) {
    std::perror(path.c_str());
    std::exit(1);
  }
  Random rnd;
  unsigned long long bytes = 0;
  char line[1024];
  for (size_t i = 0; i < lines; ++i) {
    if (i % 100000 == 0) {
      bytes += std::fprintf(out,
                            "#Software: Microsoft Internet Information Services 6.0\r\n#Version: 1.0\r\n"
                            "#Date: 2008-02-29 00:00:00\r\n#Fields:");
      for (const wchar_t* f : kFields) bytes += std::fprintf(out, " %ls", f);
      bytes += std::fprintf(out, "%s", form.lineEnd);
    }
    unsigned secs = static_cast<unsigned>(i * 86400 / lines);
    const char* host = hosts[rnd.next(5)];
    const unsigned stem = rnd.next(8);
    const char* page = form.cyrillic && stem % 2 == 0 ? cyrillicStems[stem / 2] : stems[stem];
    int n = std::snprintf(
        line, sizeof line,
        "2008-02-29 %02u:%02u:%02u W3SVC%u WEBHOST-0%u 10.0.0.%u %s %s %s 80 %s 192.168.%u.%u HTTP/1.1 %s - "
        "%s %s %u 0 0 "
        "%u %u %u%s",
        secs / 3600, secs / 60 % 60, secs % 60, 1 + rnd.next(9), 1 + rnd.next(4), 1 + rnd.next(200),
        methods[rnd.next(5)], page, rnd.next(3) ? "-" : "id=4711&page=2&sort=asc",
        rnd.next(8) ? "-" : "jsmith", rnd.next(256), rnd.next(256), agents[rnd.next(4)],
        rnd.next(2) ? "-" : "http://www.example.com/index.html", host, rnd.next(10) ? 200u : 404u,
        100 + rnd.next(90000), 200 + rnd.next(600), rnd.next(500), form.lineEnd);
    std::fwrite(line, 1, static_cast<size_t>(n), out);
    bytes += static_cast<unsigned long long>(n);
  }
  std::fclose(out);
  return bytes;
}

double seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

struct Pass {
  double seconds = 0;
  size_t lines = 0;
  unsigned long long checksum = 0;
  unsigned long steadyAllocations = 0;
  size_t steadyLines = 0;
  unsigned long allAllocations = 0;
  size_t blocks = 0;
};

unsigned long long number(std::wstring_view v) {
  unsigned long long n = 0;
  for (wchar_t c : v) {
    if (c < L'0' || c > L'9') return 0;
    n = n * 10 + static_cast<unsigned>(c - L'0');
  }
  return n;
}

// Reads the whole file, touching every field of every line, through handles or by name.
// Allocations are counted over the per-line path only (advancing and reading a record),
// from the warm-up line on; opening a header block may allocate, a line may not.
Pass readLog(const std::wstring& path, const LogForm& form, bool byName) {
  constexpr size_t kWarmUp = 1000;
  Pass pass;
  const unsigned long atStart = g_allocations;
  auto start = std::chrono::steady_clock::now();
  for (W3CFile::iterator block(LogByteSource::openFile(path, "readLog"), text::NarrowCodec(form.codeset));
       !block.atEnd(); ++block) {
    ++pass.blocks;
    W3CFile::field handles[kFieldCount];
    for (size_t f = 0; f < kFieldCount; ++f) handles[f] = block->field(kFields[f]);
    const W3CFile::field bytes = block->field(L"sc-bytes");
    W3CFile::line_iterator line(*block);
    while (!line.atEnd()) {
      const unsigned long before = g_allocations;
      for (size_t f = 0; f < kFieldCount; ++f) {
        std::wstring_view v = byName ? line->get(kFields[f]) : line->get(handles[f]);
        pass.checksum += v.size() + (v.empty() ? 0 : static_cast<unsigned>(v.front()));
      }
      pass.checksum += number(line->get(bytes));
      ++line;
      if (++pass.lines > kWarmUp) {
        pass.steadyAllocations += g_allocations - before;
        ++pass.steadyLines;
      }
    }
  }
  pass.seconds = seconds(start);
  pass.allAllocations = g_allocations - atStart;
  return pass;
}

double timeAwk(const std::string& path) {
  std::string command = "awk '!/^#/{b[$16]+=$20}' '" + path + "'";
  auto start = std::chrono::steady_clock::now();
  int rc = std::system(command.c_str());
  double s = seconds(start);
  if (rc != 0) {
    std::fprintf(stderr, "awk failed (%d)\n", rc);
    std::exit(1);
  }
  return s;
}

// One form of the log: written, then read `rounds` times (the best round counts).
struct Result {
  std::string name;
  unsigned long long bytes = 0;
  Pass best;
};

Result measure(const LogForm& form, const char* name, bool byName, size_t lines, int rounds, const std::string& path) {
  Result r{name, 0, {}};
  r.bytes = writeLog(path, lines, form);
  const std::wstring widePath = VFileName::fromNative(path);
  for (int round = 0; round < rounds; ++round) {
    Pass p = readLog(widePath, form, byName);
    if (round == 0 || p.seconds < r.best.seconds) r.best = p;
  }
  return r;
}

void print(const Result& r) {
  const Pass& p = r.best;
  std::printf(
      "%-30s %7.3f s  %10.0f lines/s  %7.1f MB/s  %.4f allocations/line (%lu in %zu lines; %lu in all for %zu "
      "header blocks)  [%llu]\n",
      r.name.c_str(), p.seconds, static_cast<double>(p.lines) / p.seconds, r.bytes / 1e6 / p.seconds,
      p.steadyLines ? static_cast<double>(p.steadyAllocations) / static_cast<double>(p.steadyLines) : 0.0,
      p.steadyAllocations, p.steadyLines, p.allAllocations, p.blocks, p.checksum);
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  int arg = 1;
  const bool check = argc > arg && std::strcmp(argv[arg], "--check") == 0;
  if (check) ++arg;
  const size_t lines = argc > arg ? std::strtoull(argv[arg], nullptr, 10) : (check ? 20000 : 1000000);
  const int rounds = check ? 1 : 5;
  const std::string path =
      process::tempDirectory() + "/bench_w3c_read." + std::to_string(::getpid()) + ".log";

  std::vector<Result> results;
  // The usual log first, with awk over the same file between the reader's rounds, so that
  // load from elsewhere on the machine hits both alike.
  Result handles{"CR LF, UTF-8, field handles", 0, {}}, names{"CR LF, UTF-8, field names", 0, {}};
  handles.bytes = names.bytes = writeLog(path, lines, kUsual);
  std::printf("log: %zu lines, %.1f MB, %.1f bytes a line\n", lines, handles.bytes / 1e6,
              static_cast<double>(handles.bytes) / static_cast<double>(lines));
  double awk = 0;
  const std::wstring widePath = VFileName::fromNative(path);
  for (int round = 0; round < rounds; ++round) {
    for (Result* r : {&handles, &names}) {
      Pass p = readLog(widePath, kUsual, r == &names);
      if (round == 0 || p.seconds < r->best.seconds) r->best = p;
    }
    if (check) continue;
    double s = timeAwk(path);
    if (round == 0 || s < awk) awk = s;
  }
  results.push_back(handles);
  results.push_back(names);
  results.push_back(measure(kCrOnly, "CR only, UTF-8, field handles", false, lines, rounds, path));
  results.push_back(measure(kCp1251, "CR LF, CP1251, field handles", false, lines, rounds, path));
  ::unlink(path.c_str());

  bool allocates = false;
  for (const Result& r : results) {
    print(r);
    allocates = allocates || r.best.steadyAllocations != 0;
  }
  if (!check) {
    std::printf("%-30s %7.3f s  %10.0f lines/s  %7.1f MB/s\n", "awk '!/^#/{b[$16]+=$20}'", awk,
                static_cast<double>(lines) / awk, handles.bytes / 1e6 / awk);
    std::printf("awk time / reader time: %.2f (field handles), %.2f (field names)\n", awk / handles.best.seconds,
                awk / names.best.seconds);
  }
  return allocates ? 2 : 0;
}
