// The web traffic step as an operator runs it: build/bin/statistics --http-traffic as a
// process of its own over generated IIS logs of 100 domains (each with two subdomains and an
// alias), the control-panel rows in a Jet file, the real management service; timed against
// awk '!/^#/{b[$16]+=$20}' over the same files in the same run. Once with every domain's
// web statistics "none", once with "awstats" (every counted line also written for the
// analyser), each for 1,000,000 and 4,000,000 lines (or the counts given). AWStats itself is
// not installed (its path leads nowhere): it is the writing that is timed, not the analyser.
//
//   bench_http_traffic [lines...]      (default 1000000 4000000)
//
// Prints lines per second, the ratio to awk, the peak resident memory and the user and
// system CPU seconds of each run (the fastest of five, the two settings taking turns), and
// beside the "awstats" run what writing its temporary logs costs without the program:
// the same bytes in 64 KB writes to 300 new files in $TMPDIR (else /tmp), then deleted.
// Exits with 2 when a run's stored bytes differ from what the logs hold.
// BENCH_WRAP, when set, is a command the program is started under ("perf record -g"), run
// through /bin/sh.
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/dates/vdatetime.h"
#include "platform/registry/registry.h"
#include "platform/system/system_root.h"
#include "platform/text/text_codec.h"
#include "testing/controlpanel_schema.h"
#include "testing/service_process.h"
#include "testing/temp_dir.h"
#include "../deterministic_random.h"
#include "../timed_process.h"

namespace {

constexpr int kDomains = 100;

std::string domainName(int id) { return "domain" + std::to_string(id) + ".example"; }

void sqlite(sqlite3* db, const std::string& script) {
  char* error = nullptr;
  if (sqlite3_exec(db, script.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::fprintf(stderr, "sqlite: %s\n", error ? error : "?");
    std::exit(1);
  }
}

// The schema and the rows: one client, 100 hosted domains on 10 addresses, two subdomains
// ("www2", "shop") and an alias ("<name>.alias") each.
void buildDatabase(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) std::exit(1);
  std::string script = "PRAGMA user_version = 1; BEGIN;";
  for (const std::wstring& statement : testing_support::controlPanelSchemaDdl(testing_support::SqlDialect::SQLite))
    script += text::toUtf8(statement) + ";";
  script += "INSERT INTO clients (id, login) VALUES (1, 'bench');";
  for (int ip = 1; ip <= 10; ++ip)
    script += "INSERT INTO IP_Addresses (id, ip_address) VALUES (" + std::to_string(ip) + ", '10.0.0." +
              std::to_string(ip) + "');";
  for (int id = 1; id <= kDomains; ++id) {
    const std::string sid = std::to_string(id), name = domainName(id);
    script += "INSERT INTO domains (id, name, displayName, htype, status, cl_id) VALUES (" + sid + ", '" + name +
              "', '" + name + "', 'vrt_hst', 0, 1);";
    script += "INSERT INTO hosting (dom_id, sys_user_id, ip_address_id, webstat) VALUES (" + sid + ", 0, " +
              std::to_string(1 + id % 10) + ", 'none');";
    script += "INSERT INTO subdomains (dom_id, name) VALUES (" + sid + ", 'www2');";
    script += "INSERT INTO subdomains (dom_id, name) VALUES (" + sid + ", 'shop');";
    script += "INSERT INTO domain_aliases (dom_id, name) VALUES (" + sid + ", '" + name + ".alias');";
  }
  sqlite(db, script + "COMMIT;");
  sqlite3_close(db);
}

void setWebstat(const std::string& path, const char* setting) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) std::exit(1);
  sqlite(db, std::string("DELETE FROM DomainsTraffic; DELETE FROM SitePagesStat; UPDATE hosting SET webstat = '") +
                 setting + "';");
  sqlite3_close(db);
}

long long storedBytes(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_stmt* st = nullptr;
  long long sum = -1;
  if (sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
      sqlite3_prepare_v2(db, "SELECT SUM(http_out) FROM DomainsTraffic", -1, &st, nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW)
    sum = sqlite3_column_int64(st, 0);
  sqlite3_finalize(st);
  sqlite3_close(db);
  return sum;
}

// The IIS logs, one per domain's site, the usual 22 fields ("cs-host" the 16th,
// "sc-bytes" the 20th), a header block every 20,000 lines of a file; all of yesterday.
// Returns the bytes sent that the lines hold; `analyserBytes` is what the AWStats writers
// write for them (the same fields, the time converted in place, LF for CR LF).
long long writeLogs(const std::string& logs, size_t lines, long long& analyserBytes) {
  analyserBytes = 0;
  const std::string day = text::toUtf8((VDateTime::nowUtc() - 86400).date().toSqlDateText());
  static const char* const stems[] = {"/index.html", "/images/logo.gif", "/css/site.css", "/news/2008/article.aspx",
                                      "/downloads/setup.exe", "/favicon.ico"};
  static const char* const agents[] = {"Mozilla/4.0+(compatible;+MSIE+7.0;+Windows+NT+5.1)",
                                       "Mozilla/5.0+(Windows;+U;+Windows+NT+5.1;+en-US)+Gecko/20080201+Firefox/2.0",
                                       "Googlebot/2.1+(+http://www.google.com/bot.html)", "-"};
  Random rnd;
  long long total = 0;
  const size_t perDomain = lines / kDomains;
  char line[1024];
  for (int id = 1; id <= kDomains; ++id) {
    const std::string dir = logs + "/W3SVC" + std::to_string(id + 1);
    testing_support::writeFile(dir + "/ex.log", "");
    std::FILE* out = std::fopen((dir + "/ex.log").c_str(), "wb");
    const std::string name = domainName(id);
    const std::string hosts[] = {name, "www." + name, "www2." + name, "shop." + name, name + ".alias", "10.0.0.1"};
    for (size_t i = 0; i < perDomain; ++i) {
      if (i % 20000 == 0) {
        std::fprintf(out,
                     "#Software: Microsoft Internet Information Services 6.0\r\n#Version: 1.0\r\n#Date: %s 00:00:00\r\n"
                     "#Fields: date time s-sitename s-computername s-ip cs-method cs-uri-stem cs-uri-query s-port "
                     "cs-username c-ip cs-version cs(User-Agent) cs(Cookie) cs(Referer) cs-host sc-status "
                     "sc-substatus sc-win32-status sc-bytes cs-bytes time-taken\r\n",
                     day.c_str());
      }
      const unsigned secs = static_cast<unsigned>(i * 86400 / perDomain);
      const unsigned bytes = 100 + rnd.next(90000);
      total += bytes;
      int n = std::snprintf(line, sizeof line,
                            "%s %02u:%02u:%02u W3SVC%d WEBHOST 10.0.0.%d GET %s %s 80 - 192.168.%u.%u HTTP/1.1 %s - "
                            "%s %s %u 0 0 %u %u %u\r\n",
                            day.c_str(), secs / 3600, secs / 60 % 60, secs % 60, id + 1, 1 + id % 10, stems[rnd.next(6)],
                            rnd.next(3) ? "-" : "id=4711&page=2", rnd.next(256), rnd.next(256), agents[rnd.next(4)],
                            rnd.next(2) ? "-" : ("http://" + name + "/").c_str(), hosts[rnd.next(6)].c_str(),
                            rnd.next(10) ? 200u : 404u, bytes, 200 + rnd.next(600), rnd.next(500));
      std::fwrite(line, 1, static_cast<size_t>(n), out);
      analyserBytes += n - 1;
    }
    std::fclose(out);
  }
  return total;
}

// Each figure is the fastest of this many runs: on a shared machine the slower ones
// measure the neighbours. The runs being compared take turns, so that a busy spell slows
// each of them alike.
constexpr int kRuns = 5;

void keepFaster(Timed& best, const Timed& next) {
  if (best.seconds == 0 || next.seconds < best.seconds) best = next;
}

template <typename Run>
Timed bestOf(int runs, Run&& run) {
  Timed best;
  for (int i = 0; i < runs; ++i) keepFaster(best, run());
  return best;
}

// The cost the system alone puts on the temporary logs: `bytes` written in 64 KB blocks
// to 300 new files in the temporary directory (one per AWStats site of the run), taking
// turns as the writers do, then deleted.
Timed writingAlone(long long bytes) {
  const std::string dir = process::tempDirectory();
  constexpr int kFiles = 300;
  constexpr size_t kBlock = 64 * 1024;
  const std::string block(kBlock, 'x');
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::string> names;
  std::vector<int> fds;
  for (int i = 0; i < kFiles; ++i) {
    std::string name = dir + "/benchXXXXXX";
    fds.push_back(mkstemp(name.data()));
    names.push_back(std::move(name));
  }
  for (long long left = bytes, i = 0; left > 0; left -= static_cast<long long>(kBlock), ++i) {
    const size_t n = left < static_cast<long long>(kBlock) ? static_cast<size_t>(left) : kBlock;
    if (write(fds[static_cast<size_t>(i % kFiles)], block.data(), n) != static_cast<ssize_t>(n)) std::exit(1);
  }
  for (int i = 0; i < kFiles; ++i) {
    close(fds[static_cast<size_t>(i)]);
    unlink(names[static_cast<size_t>(i)].c_str());
  }
  Timed t;
  t.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return t;
}

// Runs `argv` with stdout and stderr to /dev/null.
Timed timed(const std::vector<std::string>& argv) { return timedProcess(argv, "/dev/null", true); }

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  std::vector<size_t> counts;
  for (int i = 1; i < argc; ++i) counts.push_back(std::strtoul(argv[i], nullptr, 10));
  if (counts.empty()) counts = {1000000, 4000000};

  testing_support::ScopedSystemRoot root;  // CADRO_SYSTEM_ROOT for this process and its children
  setenv("CADRO_REGISTRY_SYNC", "0", 0);
  const std::string logs = root.file("logs");
  const std::string database = root.file("product/admin/db/cadro.mdb");
  testing_support::writeFile(root.file("product/tmp/.keep"), "");
  testing_support::writeFile(root.file("product/admin/db/.keep"), "");
  buildDatabase(database);
  // The default web site (1) logs nowhere; the domains' sites follow.
  std::string metabase = "<W3SVC>\n<Site Id=\"1\" ServerComment=\"Default Web Site\" LogFileDirectory=\"" +
                         root.file("none") + "\"/>\n";
  for (int id = 1; id <= kDomains; ++id)
    metabase += "<Site Id=\"" + std::to_string(id + 1) + "\" ServerComment=\"" + domainName(id) +
                "\" LogFileDirectory=\"" + logs + "\"><Root Class=\"IIsWebVirtualDir\" DefaultDoc=\"index.html\"/></Site>\n";
  testing_support::writeFile(root.file("iis/metabase.xml"), metabase + "</W3SVC>\n");
  registry::key config;
  registry::create(HKEY_LOCAL_MACHINE, registry::kConfigKey, config, KEY_ALL_ACCESS);
  testing_support::ServiceProcess service("[settings]\nCADRO_DATABASE_PROVIDER_NAME = Jet\nmySQLDBName = " + database +
                                          "\nPRODUCT_ROOT_D = " + root.file("product") +
                                          "\nHTTPD_VHOSTS_D = " + root.file("vhosts") + "\nAWStatsPath = " +
                                          root.file("awstats") + "\n\n[passwords]\npwd =\n");
  for (const char* name : {"CADRO_DB_HOST", "CADRO_DB_LOGIN", "CADRO_DB_NAME", "CADRO_DB_PASSWD", "CADRO_DB_PORT",
                           "CADRO_DB_SOCK", "MYSQL_UNIX_PORT"})
    unsetenv(name);

  std::string files;
  for (int id = 1; id <= kDomains; ++id) files += " '" + logs + "/W3SVC" + std::to_string(id + 1) + "/ex.log'";
  const std::string statistics = testing_support::binaryPath("statistics");
  std::vector<std::string> command = {statistics, "--http-traffic"};
  if (const char* wrap = std::getenv("BENCH_WRAP"))
    command = {"/bin/sh", "-c", std::string(wrap) + " '" + statistics + "' --http-traffic"};
  int status = 0;
  std::printf("%10s %-8s %10s %12s %8s %8s %9s %6s %6s\n", "lines", "webstat", "seconds", "lines/s", "awk s", "ratio",
              "peak MB", "user", "system");
  std::fflush(stdout);  // before the children are forked, or they write it out again
  for (size_t lines : counts) {
    long long analyserBytes = 0;
    const long long expected = writeLogs(logs, lines, analyserBytes);
    const size_t written = lines / kDomains * kDomains;
    // The page cache is warm for both: each reads the files once before it is timed.
    timed({"/bin/sh", "-c", "cat" + files + " >/dev/null"});
    const Timed awk = bestOf(kRuns, [&] { return timed({"/bin/sh", "-c", "awk '!/^#/{b[$16]+=$20}' " + files}); });
    constexpr const char* kWebstats[] = {"none", "awstats"};
    Timed best[2];
    for (int round = 0; round < kRuns; ++round) {
      for (int w = 0; w < 2; ++w) {
        // Every run counts the same lines anew: no stored traffic, no log windows.
        setWebstat(database, kWebstats[w]);
        registry::deleteTree(HKEY_LOCAL_MACHINE, registry::kDomainStateKey);
        const Timed one = timed(command);
        const long long stored = storedBytes(database);
        if (one.status != 0 || stored != expected) {
          std::fprintf(stderr, "run with %s: status %d, stored %lld bytes of %lld\n", kWebstats[w], one.status, stored,
                       expected);
          status = 2;
        }
        keepFaster(best[w], one);
      }
    }
    for (int w = 0; w < 2; ++w) {
      const Timed& run = best[w];
      std::printf("%10zu %-8s %10.2f %12.0f %8.2f %8.2f %9.1f %6.2f %6.2f", written, kWebstats[w], run.seconds,
                  written / run.seconds, awk.seconds, run.seconds / awk.seconds, run.peakKb / 1024.0, run.userSeconds,
                  run.systemSeconds);
      if (w == 1) {
        const double none = best[0].seconds;
        const double alone = bestOf(kRuns, [&] { return writingAlone(analyserBytes); }).seconds;
        std::printf("   %+.0f%% against none; writing its %.0f MB of temporary logs alone takes %.2f s (%+.0f%%)",
                    (run.seconds / none - 1) * 100, analyserBytes / 1e6, alone, alone / none * 100);
      }
      std::printf("\n");
      std::fflush(stdout);
    }
  }
  return status;
}
