// The web and FTP traffic step end to end: build/bin/statistics run as a process of its own
// over logs in a system root, its DomainsTraffic rows, windows and locks checked afterwards,
// on the Jet file and on MariaDB; runs that fail, are held off, overlap or are killed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <thread>

#include "platform/dates/vdatetime.h"
#include "platform/registry/registry.h"
#include "platform/text/text_codec.h"
#include "testing/end_to_end.h"
#include "traffic/traffic_test_util.h"

using namespace testing_support;
using traffic_test::trafficRows;

namespace {

const char kFields[] = "#Fields: date time s-ip cs-uri-stem cs-host cs(Referer) sc-bytes cs-bytes\n";
const std::map<std::string, std::string> kUtc = {{"TZ", "UTC"}};

std::string text8(const std::wstring& w) { return text::toUtf8(w); }

// alpha.com (1) on 10.0.0.1 with the subdomain blog, the alias alpha.org and the FTP login
// alpha_ftp; beta.com (2) on 10.0.0.2 with anonymous FTP. Web sites: the default one (1),
// alpha.com (2), blog.alpha.com (3), beta.com (4), logging under logs/W3SVC<n>. The lines
// are of yesterday (UTC), so that no retention removes their rows.
class TrafficRun : public EndToEndTest {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    if (IsSkipped()) return;
    e2e_->addClient(1);
    e2e_->addHostedDomain(1, L"alpha.com", 1, L"10.0.0.1");
    e2e_->addHostedDomain(2, L"beta.com", 1, L"10.0.0.2");
    sql(L"INSERT INTO subdomains (id, dom_id, name) VALUES (1, 1, 'blog')");
    sql(L"INSERT INTO domain_aliases (id, dom_id, name) VALUES (1, 1, 'alpha.org')");
    sql(L"INSERT INTO sys_users (id, login) VALUES (5, 'alpha_ftp')");
    sql(L"UPDATE hosting SET sys_user_id = 5 WHERE dom_id = 1");
    sql(L"INSERT INTO anon_ftp (dom_id, status) VALUES (2, 'true')");
    std::string metabase = "<W3SVC>\n";
    const char* comments[] = {"Default Web Site", "alpha.com", "blog.alpha.com", "beta.com"};
    for (int site = 1; site <= 4; ++site)
      metabase += "<Site Id=\"" + std::to_string(site) + "\" ServerComment=\"" + comments[site - 1] +
                  "\" LogFileDirectory=\"" + e2e_->file("logs") +
                  "\"><Root Class=\"IIsWebVirtualDir\" DefaultDoc=\"index.html\"/></Site>\n";
    e2e_->writeMetabase(metabase + "</W3SVC>\n");
    e2e_->writeUtility("viduza", "echo '" + ftpDir() + "'\n");
    day_ = text8((VDateTime::nowUtc() - 86400).date().toSqlDateText());
  }

  void sql(const std::wstring& statement) { e2e_->db().execute(statement); }
  std::string site(int number) const { return e2e_->file("logs/W3SVC" + std::to_string(number)); }
  std::string ftpDir() const { return e2e_->file("logs/MSFTPSVC1"); }
  std::string rows() { return trafficRows(e2e_->db()); }
  // A line of kFields at `clock` yesterday.
  std::string line(const std::string& host, long long out, long long in = 0, const std::string& clock = "10:00:00",
                   const std::string& referer = "-") const {
    return day_ + " " + clock + " 10.0.0.1 /index.html " + host + " " + referer + " " + std::to_string(out) + " " +
           std::to_string(in) + "\n";
  }
  // The row of a domain for yesterday with HTTP and FTP amounts (mail columns zero).
  std::string row(int id, long long httpIn, long long httpOut, long long ftpIn = 0, long long ftpOut = 0) const {
    return std::to_string(id) + " " + day_ + " " + std::to_string(httpIn) + " " + std::to_string(httpOut) + " " +
           std::to_string(ftpIn) + " " + std::to_string(ftpOut) + " 0 0 0 0";
  }
  std::wstring window(int id, const wchar_t* value = L"LastHttpStatisticsRun") {
    std::wstring text;
    registry::lookup(HKEY_LOCAL_MACHINE, registry::domainKey(std::to_wstring(id)), value, text, REG_SZ, 0);
    return text;
  }
  uint32_t lockState(int id) {
    uint32_t state = 0;
    registry::lookup(HKEY_LOCAL_MACHINE, registry::domainKey(std::to_wstring(id)), L"OfflineLockStatus", state, 0);
    return state;
  }
  ProcessResult run(std::vector<std::string> args) {
    ProcessResult r = e2e_->run(args, kUtc);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    return r;
  }
  // Forgets what earlier runs stored: rows and windows.
  void forget() {
    sql(L"DELETE FROM DomainsTraffic");
    registry::deleteTree(HKEY_LOCAL_MACHINE, registry::kDomainStateKey);
    ::unlink(e2e_->file("eventlog/Cadro.log").c_str());
  }

  std::string day_;
};

void setModified(const std::string& path, time_t when) {
  struct utimbuf times {when, when};
  ASSERT_EQ(utime(path.c_str(), &times), 0) << path;
}

}  // namespace

TEST_P(TrafficRun, EveryRuleInOneLogStoredByDomainAndDayWithWindowsAndOnlyNewLinesNextTime) {
  writeFile(site(2) + "/ex.log",
            "#Software: Microsoft Internet Information Services 6.0\n#Version: 1.0\n" + std::string(kFields) +
                line("alpha.com", 1, 1) + line("www.blog.alpha.com", 2, 1) + line("alpha.org:80", 4, 1) +
                line("10.0.0.1", 8, 1, "10:00:00", "http://beta.com/") + line("-", 16, 1) +
                line("unknown.example", 32, 1) +
                "#Software: Microsoft Internet Information Services 6.0\n#Fields: date time cs-host sc-bytes\n" +
                day_ + " 11:00:00 beta.com 64\n" + day_ + " 11:00:01 - -\n");
  writeFile(site(1) + "/ex.log", std::string(kFields) + line("blog.alpha.com", 128, 2) + line("nobody.example", 256) +
                                     line("-", 512));
  run({"--http-traffic"});
  EXPECT_EQ(rows(), row(1, 7, 1 + 2 + 4 + 16 + 32 + 128) + "; " + row(2, 1, 8 + 64));
  VRecordSet hits = e2e_->db().query(L"SELECT hits FROM SitePagesStat");
  ASSERT_TRUE(hits.next());
  EXPECT_EQ(hits.get(0), L"9");
  const std::wstring end = window(1);
  EXPECT_EQ(end.size(), 19u);
  EXPECT_EQ(window(2), end);
  EXPECT_EQ(window(1, L"LastFtpStatisticsRun"), L"");  // no FTP window loaded
  EXPECT_EQ(lockState(1), 0u);

  // Nothing is new: nothing is added.
  run({"--http-traffic"});
  EXPECT_EQ(rows(), row(1, 7, 183) + "; " + row(2, 1, 72));

  // Lines stamped from the stored end on are the next run's, and only they. The second run
  // stored an end of its own, a second later than the first's when the two runs straddled one.
  const VDateTime stored = VDateTime::parse(window(1), L"YMDhms");
  while (VDateTime::nowUtc() < stored + 1) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const std::string at = text8(stored.toSqlDateText()) + " ";
  const std::string clock = text8(stored.toRegistryText().substr(11));
  const std::string before = text8((stored - 1).toRegistryText().substr(11));
  std::string log = readFile(site(2) + "/ex.log");
  const bool sameDay = (stored - 1).toSqlDateText() == stored.toSqlDateText();
  log += sameDay ? at + before + " alpha.com 1000\n" : "";
  log += at + clock + " alpha.com 2000\n";
  writeFile(site(2) + "/ex.log", log);
  run({"--http-traffic"});
  const std::string today = "1 " + text8(stored.toSqlDateText()) + " 0 2000 0 0 0 0 0 0";
  EXPECT_EQ(rows(), row(1, 7, 183) + "; " + today + "; " + row(2, 1, 72));

  // "--from-date" counts again from its moment, whatever the registry holds.
  run({"--http-traffic", "--from-date=" + day_ + " 10:59:59"});
  EXPECT_EQ(rows(), row(1, 7, 183) + "; 1 " + text8(stored.toSqlDateText()) + " 0 " +
                        std::to_string(sameDay ? 5000 : 4000) + " 0 0 0 0 0 0; " + row(2, 1, 72 + 64));
}

TEST_P(TrafficRun, WebStatisticsAloneStoreNothingAndReleaseTheLocks) {
  writeFile(site(2) + "/ex.log", std::string(kFields) + line("alpha.com", 5, 5));
  run({"--http-web-statistics", "--ftp-web-statistics"});
  EXPECT_EQ(rows(), "");
  EXPECT_EQ(window(1), L"");
  EXPECT_EQ(window(1, L"LastFtpStatisticsRun"), L"");
  EXPECT_EQ(lockState(1), 0u);
  EXPECT_FALSE(e2e_->db().query(L"SELECT * FROM SitePagesStat").next());
}

TEST_P(TrafficRun, ExpiredSharedFilesAreDeletedOrSavedAndADomainsOwnNeverTouched) {
  const time_t old = time(nullptr) - 4 * 86400;
  for (const std::string& path : {site(1) + "/old.log", site(2) + "/old.log", ftpDir() + "/old.log"}) {
    writeFile(path, std::string(kFields) + line("alpha.com", 1));
    setModified(path, old);
  }
  run({"--http-traffic", "--ftp-traffic"});
  EXPECT_FALSE(fileExists(site(1) + "/old.log"));
  EXPECT_FALSE(fileExists(ftpDir() + "/old.log"));
  // The domain's own file is read (its window starts at zero) and stays.
  EXPECT_TRUE(fileExists(site(2) + "/old.log"));
  EXPECT_EQ(rows(), row(1, 0, 1));
}

TEST_P(TrafficRun, ExpiredSharedFilesMoveToTheSaveDirectory) {
  const time_t old = time(nullptr) - 4 * 86400;
  writeFile(site(1) + "/old.log", std::string(kFields) + line("alpha.com", 1));
  setModified(site(1) + "/old.log", old);
  registry::write(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"SaveHTTPLogsDirectory",
                  text::fromUtf8(e2e_->file("saved/http")));
  run({"--http-traffic"});
  EXPECT_FALSE(fileExists(site(1) + "/old.log"));
  EXPECT_TRUE(fileExists(e2e_->file("saved/http/old.log")));
  EXPECT_EQ(rows(), "");
}

TEST_P(TrafficRun, ADomainHeldByAnotherRunIsLeftToItAndCountedByIt) {
  writeFile(site(2) + "/ex.log", std::string(kFields) + line("alpha.com", 10) + line("beta.com", 20));
  writeFile(site(1) + "/ex.log", std::string(kFields) + line("alpha.com", 40) + line("beta.com", 80));
  registry::write(HKEY_LOCAL_MACHINE, registry::domainKey(L"1"), L"OfflineLockStatus", static_cast<uint32_t>(getpid()));
  run({"--http-traffic"});
  EXPECT_EQ(rows(), row(2, 0, 80));  // alpha.com's directory, with a beta.com line, is left
  EXPECT_EQ(lockState(1), static_cast<uint32_t>(getpid()));
  EXPECT_EQ(window(1), L"");

  // That run is this test: it ends, and the next run counts the domain, once; beta.com's
  // line in that directory is older than beta.com's window by now.
  registry::write(HKEY_LOCAL_MACHINE, registry::domainKey(L"1"), L"OfflineLockStatus", 0u);
  run({"--http-traffic"});
  EXPECT_EQ(rows(), row(1, 0, 50) + "; " + row(2, 0, 80));
}

TEST_P(TrafficRun, ADomainWhoseStoreFailsIsRolledBackAndStoredOnceByTheNextRun) {
  writeFile(site(2) + "/ex.log", std::string(kFields) + line("alpha.com", 1) + line("alpha.com", 2, 0, "23:00:00"));
  writeFile(site(4) + "/ex.log", std::string(kFields) + line("beta.com", 4) + line("beta.com", 8));
  traffic_test::refuseTrafficOf(e2e_->db(), 2);
  auto r = run({"--http-traffic", "--ftp-traffic"});
  EXPECT_NE(r.out.find("refused"), std::string::npos) << r.out;
  EXPECT_EQ(rows(), row(1, 0, 3));
  EXPECT_NE(window(1), L"");
  EXPECT_EQ(window(2), L"");
  EXPECT_EQ(window(2, L"LastFtpStatisticsRun"), L"");

  traffic_test::allowTraffic(e2e_->db());
  run({"--http-traffic", "--ftp-traffic"});
  EXPECT_EQ(rows(), row(1, 0, 3) + "; " + row(2, 0, 12));
}

TEST_P(TrafficRun, FtpLogsOfBothServersWithUserAndAnonymousLogins) {
  const struct {
    const char* server;
    std::string log;
  } servers[] = {
      {"", "#Software: Microsoft Internet Information Services 6.0\n"
           "#Fields: date time c-ip cs-username s-ip cs-method cs-uri-stem sc-status sc-bytes cs-bytes\n" +
               day_ + " 10:00:00 1.2.3.4 ALPHA_FTP 10.0.0.1 [1]sent /a 226 100 0\n" + day_ +
               " 10:00:01 1.2.3.4 alpha_ftp 10.0.0.1 [1]created /b 226 0 20\n" + day_ +
               " 10:00:02 1.2.3.4 anonymous 10.0.0.2 [2]sent /pub 226 3000 0\n" + day_ +
               " 10:00:03 1.2.3.4 anonymous 10.0.0.2 [2]deleted /pub 250 7 7\n"},
      {"servu", ""},
  };
  const VDateTime y = VDateTime::nowUtc() - 86400;
  static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char date[16];
  std::snprintf(date, sizeof date, "%02d%s%02d", y.day, months[y.month - 1], y.year % 100);
  const std::string d = std::string("[2] Mon ") + date + " 10:00:0";
  std::string servu = d + "0 - (000012) Connected to 192.0.2.7 (Local address 10.0.0.1, port 21)\n" + d +
                      "0 - (000013) Connected to 192.0.2.8 (Local address 10.0.0.2, port 21)\n" + d +
                      "1 - (000012) User alpha_ftp logged in\n" + d + "1 - (000013) User anonymous logged in\n" + d +
                      "2 - (000012) Sent file /a successfully (512 kB/sec - 100 Bytes)\n" + d +
                      "3 - (000012) Received file /b successfully (1 kB/sec - 20 Bytes)\n" + d +
                      "4 - (000013) Sent file /pub successfully (1 kB/sec - 3000 Bytes)\n";
  for (const auto& server : servers) {
    SCOPED_TRACE(server.server);
    forget();
    registry::write(HKEY_LOCAL_MACHINE, std::wstring(registry::kPackagesKey) + L"\\ftpserver", L"",
                    text::fromUtf8(server.server));
    writeFile(ftpDir() + "/ex.log", server.log.empty() ? servu : server.log);
    run({"--ftp-traffic"});
    EXPECT_EQ(rows(), row(1, 0, 0, 20, 100) + "; " + row(2, 0, 0, 0, 3000));
    EXPECT_NE(window(2, L"LastFtpStatisticsRun"), L"");
    EXPECT_EQ(window(2), L"");
  }
}

TEST_P(TrafficRun, HostileTextFromLogsReachesTheDatabaseOnlyEscaped) {
  const std::wstring quoted = L"o'brien%x.com";
  sql(L"INSERT INTO domains (id, name, displayName, htype, status, cl_id) VALUES (3, '" + e2e_->db().escape(quoted) +
      L"', 'q', 'vrt_hst', 0, 1)");
  sql(L"INSERT INTO hosting (dom_id, sys_user_id, ip_address_id) VALUES (3, 0, 2)");
  sql(L"INSERT INTO subdomains (id, dom_id, name) VALUES (2, 3, 'it''s')");
  const std::string label(300, 'a');
  // The quoted domain and its subdomain, then near misses that a wrong escape or a LIKE
  // would find, and names no domain has.
  const std::string hosts[] = {"o'brien%x.com", "it's.o'brien%x.com", "o'brienx.com", "o'brien_x.com",
                               "x'%20OR%20'1'='1", "a\\'b.com", label + ".com", label + "." + label + ".alpha.com",
                               "\\\\", "\xff\xfe.com"};
  std::string log = kFields;
  for (const std::string& host : hosts) log += line(host, 1, 0, "10:00:00", "http://" + host + "/'\\");
  writeFile(site(2) + "/o'x\\.log", log);
  writeFile(ftpDir() + "/ex.log",
            "#Fields: date time cs-username s-ip cs-method sc-bytes cs-bytes\n" + day_ +
                " 10:00:00 x'--\\ 10.0.0.2 [1]sent 5 0\n" + day_ + " 10:00:00 " + label + " 10.0.0.1 [1]sent 6 0\n" +
                day_ + " 10:00:00 %' 10.0.0.2 [1]sent 7 0\n");
  auto r = run({"--http-traffic", "--ftp-traffic"});
  EXPECT_EQ(r.out.find("SQL"), std::string::npos) << r.out;
  // The quoted domain and its subdomain are found; every other host is unknown and its line
  // stays with the directory's domain. The FTP logins are nobody's: anonymous FTP of the
  // served address, else the domain there.
  EXPECT_EQ(rows(), row(1, 0, 8, 0, 6) + "; " + row(2, 0, 0, 0, 12) + "; " + row(3, 0, 2));
}

// 20 runs killed at evenly spread moments of their work, each followed by a complete run:
// every line is counted, and at most the domain whose commit was in flight twice.
TEST_P(TrafficRun, ARunKilledAtAnyMomentLosesNothingAndDoublesAtMostOneDomain) {
  registry::write(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"Debug", 1u);
  constexpr int kDomains = 6;
  std::map<int, long long> totals;
  for (int id = 3; id <= kDomains; ++id)
    e2e_->addHostedDomain(id, L"d" + std::to_wstring(id) + L".com", 1, L"10.0.1." + std::to_wstring(id));
  std::string metabase = "<W3SVC>\n";
  for (int id = 1; id <= kDomains; ++id) {
    const std::string name = id == 1 ? "alpha.com" : id == 2 ? "beta.com" : "d" + std::to_string(id) + ".com";
    metabase += "<Site Id=\"" + std::to_string(10 + id) + "\" ServerComment=\"" + name + "\" LogFileDirectory=\"" +
                e2e_->file("logs") + "\"><Root Class=\"IIsWebVirtualDir\" DefaultDoc=\"a\"/></Site>\n";
    std::string log = kFields;
    for (int i = 0; i < 200; ++i) {
      char clock[16];
      std::snprintf(clock, sizeof clock, "%02d:%02d:%02d", i % 3 * 8, i % 60, i % 60);
      log += line("-", 1000 * id + i, 0, clock);
      totals[id] += 1000 * id + i;
    }
    writeFile(site(10 + id) + "/ex.log", log);
  }
  e2e_->writeMetabase(metabase + "</W3SVC>\n");

  auto eventLines = [&] {
    std::string log = e2e_->eventLog();
    return static_cast<size_t>(std::count(log.begin(), log.end(), '\n'));
  };
  auto stored = [&](int id) {
    VRecordSet r = e2e_->db().query(L"SELECT SUM(http_out) FROM DomainsTraffic WHERE dom_id = " + std::to_wstring(id));
    return r.next() ? std::stoll(text8(r.get(0, L"0"))) : 0LL;
  };
  // A complete run's reports measure the moments to kill at.
  forget();
  run({"--http-traffic"});
  const size_t span = eventLines();
  for (int id = 1; id <= kDomains; ++id) ASSERT_EQ(stored(id), totals[id]);

  for (int attempt = 0; attempt < 20; ++attempt) {
    SCOPED_TRACE(attempt);
    forget();
    const size_t killAt = span * static_cast<size_t>(attempt) / 20;
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      setenv("CADRO_SYSTEM_ROOT", e2e_->root().c_str(), 1);
      setenv("TZ", "UTC", 1);
      for (const char* name : {"CADRO_DB_HOST", "CADRO_DB_LOGIN", "CADRO_DB_NAME", "CADRO_DB_PASSWD", "CADRO_DB_PORT",
                               "CADRO_DB_SOCK", "MYSQL_UNIX_PORT"})
        unsetenv(name);
      const std::string program = binaryPath("statistics");
      execl(program.c_str(), program.c_str(), "--http-traffic", static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    while (eventLines() < killAt && waitpid(pid, &status, WNOHANG) == 0)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    run({"--http-traffic"});
    int doubled = 0;
    for (int id = 1; id <= kDomains; ++id) {
      const long long value = stored(id);
      EXPECT_TRUE(value == totals[id] || value == 2 * totals[id]) << "domain " << id << ": " << value;
      doubled += value == 2 * totals[id];
    }
    EXPECT_LE(doubled, 1);
  }
}

// Runs at once (cron overlapping a manual run) store exactly what one run would.
TEST_P(TrafficRun, OverlappingRunsStoreExactlyTheTotalsOfOne) {
  std::string alpha = kFields, beta = kFields, shared = kFields;
  for (int i = 0; i < 300; ++i) {
    alpha += line("alpha.com", 1);
    beta += line("beta.com", 2);
    shared += line(i % 2 ? "alpha.com" : "beta.com", 4);
  }
  writeFile(site(2) + "/ex.log", alpha);
  writeFile(site(4) + "/ex.log", beta);
  writeFile(site(1) + "/ex.log", shared);
  std::vector<std::future<ProcessResult>> runs;
  for (int i = 0; i < 4; ++i)
    runs.push_back(std::async(std::launch::async, [&] { return e2e_->run({"--http-traffic"}, kUtc); }));
  for (auto& r : runs) EXPECT_EQ(r.get().exitCode, 0);
  EXPECT_EQ(rows(), row(1, 0, 300 + 600) + "; " + row(2, 0, 600 + 600));
}

CADRO_END_TO_END_ENGINES(TrafficRun);
