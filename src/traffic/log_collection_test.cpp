// Log collection and accounting of one run over every database engine: directories from
// the site settings and "viduza", every attribution rule of HTTP lines, the log shapes of
// several server versions, windows and cutoffs, expired shared files, FTP logs of both
// servers, and no allocation per line once the caches are warm.
#include "traffic/traffic_task.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <cstring>
#include <set>

#include "app/task_set.h"
#include "platform/registry/registry.h"
#include "platform/system/system_root.h"
#include "testing/allocation_counter.h"
#include "testing/controlpanel_test_database.h"
#include "testing/fake_exec_settings.h"
#include "testing/log_recorder.h"
#include "testing/temp_dir.h"
#include "traffic/log_byte_source.h"
#include "webstat/analyser_writers.h"
#include "webstat/web_module_host.h"
#include "webstat/web_module_set.h"

using namespace testing_support;

namespace {

constexpr uint32_t kAllTraffic = tasks::kHttpTraffic | tasks::kFtpTraffic;
const char kFields[] = "#Fields: date time cs-uri-stem cs-uri-query cs-host cs(Referer) sc-bytes cs-bytes\n";

// One line of kFields.
std::string line(const std::string& host, const std::string& referer, const std::string& query, long long out,
                 long long in = 0, const std::string& stem = "/index.html", const std::string& when = "2008-02-29 10:00:00") {
  return when + " " + stem + " " + query + " " + host + " " + referer + " " + std::to_string(out) + " " +
         std::to_string(in) + "\n";
}

void setModified(const std::string& path, time_t when) {
  struct utimbuf times {when, when};
  ASSERT_EQ(utime(path.c_str(), &times), 0) << path;
}

// Addresses 10.0.0.1 and 10.0.0.2. alpha.com (1) on .1 with the subdomain blog, the alias
// alpha.org and the FTP login alpha_ftp; beta.com (2) on .2 with anonymous FTP and the
// subdomain "shop"; fwd.com (3) forwarding only (no log directories); susp.com (4) with
// status 4 (never selected). The web sites: the default one (W3SVC1), alpha.com (2),
// blog.alpha.com (3) and beta.com (4, without a root directory, so no default document);
// every address's FTP log directory is MSFTPSVC1.
template <class Engine>
class LogCollection : public ControlPanelTestDatabase<Engine> {
 protected:
  using Base = ControlPanelTestDatabase<Engine>;
  using Base::db;
  using Base::run;

  void seed() override {
    this->env_.set("TZ", "UTC");
    tzset();
    run(L"INSERT INTO clients (id, login) VALUES (1, 'c')");
    run(L"INSERT INTO IP_Addresses (id, ip_address) VALUES (1, '10.0.0.1')");
    run(L"INSERT INTO IP_Addresses (id, ip_address) VALUES (2, '10.0.0.2')");
    const wchar_t* names[] = {L"alpha.com", L"beta.com", L"fwd.com", L"susp.com"};
    for (int id = 1; id <= 4; ++id)
      run(L"INSERT INTO domains (id, name, displayName, htype, status, cl_id) VALUES (" + std::to_wstring(id) + L", '" +
          names[id - 1] + L"', '" + names[id - 1] + L"', 'vrt_hst', " + (id == 4 ? L"4" : L"0") + L", 1)");
    run(L"INSERT INTO sys_users (id, login) VALUES (1, 'alpha_ftp')");
    run(L"INSERT INTO sys_users (id, login) VALUES (2, 'beta_ftp')");
    run(L"INSERT INTO hosting (dom_id, sys_user_id, ip_address_id, webstat) VALUES (1, 1, 1, 'awstats')");
    run(L"INSERT INTO hosting (dom_id, sys_user_id, ip_address_id) VALUES (2, 2, 2)");
    run(L"INSERT INTO hosting (dom_id, sys_user_id, ip_address_id) VALUES (4, 2, 2)");
    run(L"INSERT INTO forwarding (dom_id, ip_address_id) VALUES (3, 2)");
    run(L"INSERT INTO anon_ftp (dom_id, status) VALUES (2, 'true')");
    run(L"INSERT INTO subdomains (id, dom_id, name) VALUES (1, 1, 'blog')");
    run(L"INSERT INTO subdomains (id, dom_id, name) VALUES (2, 2, 'shop')");
    run(L"INSERT INTO domain_aliases (id, dom_id, name) VALUES (1, 1, 'alpha.org')");

    logs_ = root_.file("logs");
    std::string metabase = "<W3SVC>\n";
    const char* comments[] = {"Default Web Site", "alpha.com", "blog.alpha.com", "beta.com"};
    for (int site = 1; site <= 4; ++site) {
      metabase += "<Site Id=\"" + std::to_string(site) + "\" ServerComment=\"" + comments[site - 1] +
                  "\" LogFileDirectory=\"" + logs_ + "\">";
      if (site != 4) metabase += "<Root Class=\"IIsWebVirtualDir\" DefaultDoc=\"index.php,index.html\"/>";
      metabase += "</Site>\n";
      sysroot::ensureDirectory(site_(site));
    }
    writeFile(sysroot::path("iis/metabase.xml"), metabase + "</W3SVC>\n");
    sysroot::ensureDirectory(ftpDir());
    exec_.root = text::fromUtf8(root_.file("product"));
    const std::string viduza = root_.file("product/admin/bin/viduza");
    writeFile(viduza, "#!/bin/sh\necho '" + ftpDir() + "'\n");
    chmod(viduza.c_str(), 0755);
    settings_.taskSet = kAllTraffic;
    settings_.expirationCutoff = VDateTime::nowUtc() - 259200;
  }

  std::string site_(int number) const { return logs_ + "/W3SVC" + std::to_string(number); }
  std::string ftpDir() const { return logs_ + "/MSFTPSVC1"; }

  // Selects the domains afresh (no window loaded, nothing counted) and collects.
  void collect(AnalyserWriters* writers = nullptr, WebModuleSet* modules = nullptr) {
    domains_.clear();
    names_.clear();
    files_ = EndOfRunFiles();
    queryDomains(db(), DomainFilter(), 3, domains_, names_);
    task_ = std::make_unique<TrafficTask>(db(), exec_, settings_, domains_, names_, files_);
    task_->collect(writers, modules);
  }
  // "out/in/days" of a domain's traffic of `type`, summed over its days.
  std::string totals(int id, int type = logtype::kHttp) {
    auto found = domains_.find(std::to_wstring(id));
    if (found == domains_.end()) return "not selected";
    long long out = 0, in = 0;
    for (const auto& [day, counts] : found->second->traffic(type)) {
      out += counts[0];
      in += counts[1];
    }
    return std::to_string(out) + "/" + std::to_string(in) + "/" + std::to_string(found->second->traffic(type).size());
  }
  DomainInfo& domain(int id) { return *domains_.at(std::to_wstring(id)); }

  ScopedSystemRoot root_;
  std::string logs_;
  FakeExecSettings exec_;
  LogCollectionSettings settings_;
  DomainMap domains_;
  DomainNameMap names_;
  EndOfRunFiles files_;
  std::unique_ptr<TrafficTask> task_;
};

TYPED_TEST_SUITE(LogCollection, ProviderTestEngines, ProviderTestEngineNames);

// Each line's out bytes are a bit of its own, so a total names the lines it holds.
TYPED_TEST(LogCollection, EveryHttpLineGoesToTheSiteItsHostNames) {
  writeFile(this->site_(2) + "/ex080229.log",
            std::string("#Software: Microsoft Internet Information Services 6.0\n") + kFields +
                line("alpha.com", "-", "-", 1, 1) +                               // the domain itself
                line("WWW.Alpha.com", "-", "-", 2, 1) +                           // "www." and case
                line("blog.alpha.com:80", "-", "-", 4, 1) +                       // a subdomain, port cut
                line("www.blog.alpha.com", "-", "-", 8, 1) +                      // www. of a subdomain
                line("alpha.org", "-", "-", 16, 1) +                              // an alias
                line("10.0.0.1", "http://beta.com/a", "-", 32, 1) +               // address: the referer
                line("-", "-", "shop.beta.com", 64, 1) +                          // then the query
                line("-", "-", "-", 128, 1) +                                     // nothing: the directory
                line("unknown.example", "-", "-", 256, 1) +                       // unknown: the directory
                line("-", "/index.html", "-", 512, 1) +                           // a path names no host
                line("alpha.com", "-", "-", 1024, 1, "/sitepreview/sitepreview.dll") +
                line("alpha.com", "-", "-", 2048, 1, "/x", "2007-02-29 10:00:00") +
                line("susp.com", "-", "-", 4096, 1) +                             // not selected
                line("alpha.com", "-", "-", 8192, 1, "/x", "2008-03-01 00:00:00"));
  writeFile(this->site_(1) + "/ex080229.log",
            std::string(kFields) + line("beta.com", "-", "-", 1 << 14) + line("unknown.example", "-", "-", 1 << 15) +
                line("-", "-", "-", 1 << 16) + line("blog.alpha.com", "-", "-", 1 << 17));
  LogRecorder log;
  this->collect();
  EXPECT_EQ(this->totals(1), std::to_string(1 + 2 + 4 + 8 + 16 + 128 + 256 + 512 + 8192 + (1 << 17)) + "/9/2");
  EXPECT_EQ(this->totals(2), std::to_string(32 + 64 + (1 << 14)) + "/2/1");
  EXPECT_EQ(this->totals(4), "not selected");
  EXPECT_TRUE(log.contains(1, L"Unable to get unknown.example aliases"));
  EXPECT_TRUE(log.contains(1, L"Invalid datetime 2007/02/29 skipped"));
  // Sites and their default documents; beta.com has none, which is reported, not fatal.
  EXPECT_EQ(this->task_->defaultDocument(L"blog.alpha.com"), L"index.php index.html");
  EXPECT_EQ(this->task_->defaultDocument(L"beta.com"), L"");
  EXPECT_EQ(this->task_->hosts(), (HostMap{{L"alpha.com", L"alpha.com"},
                                           {L"beta.com", L"beta.com"},
                                           {L"blog.alpha.com", L"alpha.com"},
                                           {L"shop.beta.com", L"beta.com"}}));
  // The domains' own directories are theirs; the walk took their locks.
  EXPECT_EQ(this->domain(1).logDirectories(),
            (std::vector<std::wstring>{text::fromUtf8(this->site_(3)), text::fromUtf8(this->site_(2))}));
  EXPECT_TRUE(this->domain(1).trafficLocked());
  EXPECT_FALSE(this->domains_.count(L"3") && this->domain(3).trafficLocked());
}

TYPED_TEST(LogCollection, LogsOfEveryServerVersionAreRead) {
  const struct {
    const char* name;
    std::string log;
    const char* totals;  // alpha.com out/in/days
  } shapes[] = {
      {"IIS 6 with a software line and host", "#Software: IIS 6.0\n#Version: 1.0\n" + std::string(kFields) +
                                                   line("alpha.com", "-", "-", 10, 1) + line("beta.com", "-", "-", 99),
       "10/1/1"},
      {"IIS 5: no host, no bytes received",
       "#Software: IIS 5.0\n#Fields: date time c-ip cs-method cs-uri-stem sc-status sc-bytes\n"
       "2008-02-29 10:00:00 1.2.3.4 GET /a 200 100\n2008-02-29 10:00:01 1.2.3.4 GET /b 200 -\n",
       "100/0/1"},
      {"no bytes sent", "#Fields: date time cs-host cs-bytes\n2008-02-29 10:00:00 alpha.com 7\n", "0/7/1"},
      {"site name first, no software line, CR LF",
       "#Fields: s-sitename date time cs-host sc-bytes cs-bytes\r\nW3SVC2 2008-02-29 10:00:00 beta.com 5 5\r\n"
       "W3SVC2 2008-02-29 11:00:00 blog.alpha.com 6 6\r\n",
       "6/6/1"},
      {"a header block every few lines, fields changing",
       "junk before the first header\n#Fields: date time sc-bytes\n2008-02-29 10:00:00 1\n2008-02-29 10:00:01 2\n"
       "#Software: IIS 6.0\n#Fields: time date cs-bytes sc-bytes\n10:00:02 2008-03-01 3 4\n"
       "#Fields: date time sc-bytes\n#Fields: date time cs-host sc-bytes\n2008-03-02 10:00:00 beta.com 1000\n",
       "7/3/2"},
  };
  for (const auto& shape : shapes) {
    SCOPED_TRACE(shape.name);
    removeTree(this->site_(2));
    writeFile(this->site_(2) + "/ex.log", shape.log);
    this->collect();
    EXPECT_EQ(this->totals(1), shape.totals);
  }
}

TYPED_TEST(LogCollection, WindowsCutoffsAndFilesThatAreNeverRead) {
  // alpha.com counted up to 2008-02-29 12:00:00 before; the forced start is for beta.com's
  // test below.
  registry::write(HKEY_LOCAL_MACHINE, registry::domainKey(L"1"), L"LastHttpStatisticsRun",
                  std::wstring(L"2008/02/29 12:00:00"));
  const std::string lines = std::string(kFields) + line("-", "-", "-", 1, 0, "/", "2008-02-29 11:59:59") +
                            line("-", "-", "-", 2, 0, "/", "2008-02-29 12:00:00") +
                            line("-", "-", "-", 4, 0, "/", "2030-01-01 00:00:00");  // after the window
  const std::string dir = this->site_(2);
  writeFile(dir + "/current.log", lines);
  writeFile(dir + "/old.log", lines);
  setModified(dir + "/old.log", VDateTime(2008, 2, 29, 11).toUnixTime());  // before the start: unread
  writeFile(dir + "/a.zip", lines);
  writeFile(dir + "/b.ZIP", lines);
  writeFile(dir + "/sub/inner.log", lines);
  writeFile(this->root_.file("elsewhere.log"), lines);
  ASSERT_EQ(symlink(this->root_.file("elsewhere.log").c_str(), (dir + "/linked.log").c_str()), 0);
  // The default site's expired file is listed, unread; the recent one is read.
  const std::string shared = this->site_(1);
  writeFile(shared + "/expired.log", std::string(kFields) + line("alpha.com", "-", "-", 64, 0, "/", "2008-02-29 13:00:00"));
  setModified(shared + "/expired.log", time(nullptr) - 4 * 86400);
  writeFile(shared + "/recent.log", std::string(kFields) + line("alpha.com", "-", "-", 128, 0, "/", "2008-02-29 13:00:00"));
  writeFile(this->ftpDir() + "/expired.log", "#Fields: date time cs-method\n");
  setModified(this->ftpDir() + "/expired.log", time(nullptr) - 4 * 86400);

  this->collect();
  EXPECT_EQ(this->totals(1), "130/0/1");
  EXPECT_EQ(std::set<std::wstring>(this->files_.deleteList.begin(), this->files_.deleteList.end()),
            (std::set<std::wstring>{text::fromUtf8(this->ftpDir() + "/expired.log"),
                                    text::fromUtf8(shared + "/expired.log")}));

  this->settings_.saveHttpLogs = this->settings_.saveFtpLogs = true;
  this->settings_.forcedStart = L"2008/02/29 11:59:59";
  this->collect();
  EXPECT_EQ(this->totals(1), "131/0/1");
  EXPECT_TRUE(this->files_.deleteList.empty());
  EXPECT_EQ(this->files_.httpSaveList, (std::vector<std::wstring>{text::fromUtf8(shared + "/expired.log")}));
  EXPECT_EQ(this->files_.ftpSaveList, (std::vector<std::wstring>{text::fromUtf8(this->ftpDir() + "/expired.log")}));

  // A domain another run holds is left to it: its directory and its shared lines.
  this->settings_.forcedStart.clear();
  this->domains_.clear();  // gives this run's lock back
  registry::write(HKEY_LOCAL_MACHINE, registry::domainKey(L"1"), L"OfflineLockStatus",
                  static_cast<uint32_t>(getppid()));
  this->collect();
  EXPECT_EQ(this->totals(1), "0/0/0");
  EXPECT_FALSE(this->domain(1).trafficLocked());
  EXPECT_FALSE(this->domain(1).eligible());
}

TYPED_TEST(LogCollection, FtpLinesOfBothServersGoToTheLoginsDomainOrTheAnonymousDomainOfTheAddress) {
  const std::string w3c =
      "#Software: Microsoft Internet Information Services 6.0\n"
      "#Fields: date time c-ip cs-username s-ip cs-method cs-uri-stem sc-status sc-bytes cs-bytes\n"
      "2008-02-29 10:00:00 1.2.3.4 alpha_ftp 10.0.0.1 [1]sent /a.zip 226 100 0\n"
      "2008-02-29 10:00:01 1.2.3.4 Alpha_FTP 10.0.0.1 [1]created /b.zip 226 0 20\n"
      "2008-02-29 10:00:02 1.2.3.4 anonymous 10.0.0.2 [2]sent /pub/c 226 3000 0\n"
      "2008-02-29 10:00:03 1.2.3.4 anonymous 10.0.0.2 [2]deleted /pub/c 250 7 7\n"
      "2008-02-29 10:00:04 1.2.3.4 nobody 10.9.9.9 [3]sent /x 226 7 7\n";
  writeFile(this->ftpDir() + "/ex080229.log", w3c);
  this->settings_.taskSet = tasks::kFtpTraffic;
  this->collect();
  EXPECT_EQ(this->totals(1, logtype::kFtp), "100/20/1");
  EXPECT_EQ(this->totals(2, logtype::kAnonymousFtp), "3000/0/1");
  EXPECT_EQ(this->totals(1, logtype::kHttp), "0/0/0");  // no web directory is read for FTP
  EXPECT_TRUE(this->domain(2).httpWindow().notLoaded);

  writeFile(this->ftpDir() + "/ex080229.log",
            "[2] Fri 29Feb08 10:00:00 - (000012) Connected to 192.0.2.7 (Local address 10.0.0.1, port 21)\n"
            "[2] Fri 29Feb08 10:00:00 - (000013) Connected to 192.0.2.8 (Local address 10.0.0.2, port 21)\n"
            "[5] Fri 29Feb08 10:00:01 - (000012) User alpha_ftp logged in\n"
            "[5] Fri 29Feb08 10:00:01 - (000013) User anonymous logged in\n"
            "[2] Fri 29Feb08 10:00:09 - (000012) Sent file /a.zip successfully (512 kB/sec - 4096 Bytes)\n"
            "[2] Fri 29Feb08 10:00:09 - (000013) Received file /in/b successfully (1 kB/sec - 10 Bytes)\n"
            "[2] Sat 30Feb08 10:00:09 - (000012) Sent file /a.zip successfully (512 kB/sec - 1 Bytes)\n");
  this->settings_.servUServer = true;
  this->collect();
  EXPECT_EQ(this->totals(1, logtype::kFtp), "4096/0/1");
  EXPECT_EQ(this->totals(2, logtype::kAnonymousFtp), "0/10/1");
}

// An analyser writer that changes the log file under the reader at the first line it gets.
class FileChanger : public statistics::LogForAnalyser {
 public:
  FileChanger(std::string path, long keep, std::string append)
      : LogForAnalyser(L"alpha.com", L"alpha.com", L""), path_(std::move(path)), keep_(keep), append_(std::move(append)) {}
  void processHTTPLogLine(const VDateTime&, int, const W3CRecord&) override {
    if (lines_++ > 0) return;
    if (keep_ >= 0) {
      ASSERT_EQ(truncate(path_.c_str(), keep_), 0);
    }
    if (!append_.empty()) writeFile(path_, readFile(path_) + append_);
  }
  void processFTPLogLine(const VDateTime&, int, const W3CRecord&, bool) override {}
  void checkLogFile(int) override {}
  void run(int) override {}

 private:
  std::string path_;
  long keep_;
  std::string append_;
  int lines_ = 0;
};

TYPED_TEST(LogCollection, AFileThatGrowsOrShrinksUnderTheReaderEndsItsReadingCleanly) {
  // Larger than the reader's buffer, so that it reads again after the change.
  std::string log = kFields;
  while (log.size() < 3 * LogByteSource::kBufferSize) log += line("-", "-", "-", 1);
  const long lines = static_cast<long>((log.size() - std::strlen(kFields)) / line("-", "-", "-", 1).size());
  const std::string path = this->site_(2) + "/ex.log";
  const struct {
    const char* name;
    long keep;  // bytes left by the cut, or -1
    long appended;
    bool reported;
  } cases[] = {{"cut to nothing", 0, 0, true}, {"cut in a line", 300001, 0, true}, {"grown", -1, 500, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(path, log);
    std::string more;
    for (long i = 0; i < c.appended; ++i) more += line("-", "-", "-", 1);
    AnalyserWriters writers(this->names_, AnalyserWriters::webstatFromDatabase(this->db()), {});
    writers.adopt(L"alpha.com", std::make_unique<FileChanger>(path, c.keep, more));
    LogRecorder recorder;
    this->collect(&writers);
    long counted = 0;
    for (const auto& [day, counts] : this->domain(1).traffic(logtype::kHttp)) counted += counts[0];
    if (c.reported) {
      EXPECT_GT(counted, 0);
      EXPECT_LT(counted, lines);
    } else {
      EXPECT_EQ(counted, lines + c.appended);
    }
    bool reported = false;
    for (const LoggedMessage& m : recorder.take()) reported |= m.level == 1 && m.text.find(L"became shorter") != std::wstring::npos;
    EXPECT_EQ(reported, c.reported);
  }
}

// A writer whose temporary log cannot be created the first time it is asked for.
class LateOpeningWriter : public statistics::LogForAnalyser {
 public:
  LateOpeningWriter() : LogForAnalyser(L"alpha.com", L"alpha.com", L"") {}
  void processHTTPLogLine(const VDateTime&, int, const W3CRecord&) override { ++lines; }
  void processFTPLogLine(const VDateTime&, int, const W3CRecord&, bool) override {}
  void checkLogFile(int) override {
    if (++opens == 1) throw vexception(L"no room", VCTX(L"", "test"));
  }
  void run(int) override {}
  int opens = 0;
  int lines = 0;
};

TYPED_TEST(LogCollection, AWriterIsAskedToOpenItsLogUntilItHasOpenedIt) {
  writeFile(this->site_(2) + "/ex.log", std::string(kFields) + line("-", "-", "-", 1) + line("-", "-", "-", 2) +
                                            line("-", "-", "-", 4) + line("-", "-", "-", 8));
  AnalyserWriters writers(this->names_, AnalyserWriters::webstatFromDatabase(this->db()), {});
  auto writer = std::make_unique<LateOpeningWriter>();
  LateOpeningWriter& w = *writer;
  writers.adopt(L"alpha.com", std::move(writer));
  LogRecorder recorder;
  this->collect(&writers);
  // The first line fails with the creation and is reported; the second opens the log.
  EXPECT_EQ(w.opens, 2);
  EXPECT_EQ(w.lines, 3);
  EXPECT_EQ(this->totals(1), "14/0/1");
}

TYPED_TEST(LogCollection, AWarmRunAllocatesNothingPerLine) {
  // alpha.com has an AWStats writer per site; no module is configured.
  std::string lines;
  for (int i = 0; i < 50; ++i)
    lines += line("blog.alpha.com", "-", "-", 10) + line("www.alpha.com", "http://x/", "q", 20) +
             line("unknown.example", "-", "-", 30) + line("-", "-", "-", 40);
  const std::string once = std::string(kFields) + lines;
  const std::string twice = once + lines + lines;
  const std::wstring file = text::fromUtf8(this->site_(2) + "/ex.log");
  writeFile(this->site_(2) + "/ex.log", once);
  WebModuleHost host([] { return std::wstring(L"/nonexistent"); });
  WebModuleSet modules(std::make_shared<Statistics::ModuleFactory>(
      L"Web", vxmlLoadXML(Statistics::kDefaultModulesDocument), pugi::xml_node(), host));
  AnalyserWriters writers(this->names_, AnalyserWriters::webstatFromDatabase(this->db()), {});
  this->collect(&writers, &modules);
  ASSERT_EQ(this->totals(1), "5000/0/1");

  // A collector of its own reads files of 200 and 600 lines: the per-file cost is the same.
  HostMap hosts;
  DefaultDocumentMap documents;
  TrafficAccounting accounting(this->domains_, this->names_, documents, false, L"");
  accounting.setAnalyserWriters(&writers);
  accounting.setWebModules(&modules);
  LogCollector collector(this->db(), this->exec_, this->settings_, this->domains_, this->names_, hosts, documents,
                         accounting, this->files_);
  auto allocationsOf = [&](const std::string& content) {
    writeFile(this->site_(2) + "/ex.log", content);
    const unsigned long before = allocationsOnThisThread();
    collector.collectLog(file, logtype::kHttp, L"alpha.com", L"alpha.com");
    return allocationsOnThisThread() - before;
  };
  allocationsOf(once);  // warms this collector's caches
  const unsigned long small = allocationsOf(once);
  const unsigned long large = allocationsOf(twice);
  EXPECT_EQ(large, small);
  EXPECT_EQ(this->totals(1), "30000/0/1");
  EXPECT_GT(writers.writers().size(), 1u);
}

}  // namespace
