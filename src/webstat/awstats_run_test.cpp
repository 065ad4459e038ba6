// The AWStats run on a recording Perl: the exact commands, the configuration it writes,
// the private copy in the statistics directory and its refresh, the report pages, hostile
// host names, and an installation that is missing.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "platform/text/text_codec.h"
#include "testing/analyser_layout.h"
#include "platform/report/log_manager.h"
#include "testing/log_recorder.h"
#include "testing/scoped_environment.h"
#include "testing/temp_dir.h"
#include "webstat/log_for_awstats.h"
#include "webstat/webstat_test_util.h"

using namespace testing_support;
using webstat_test::FakeRunSettings;
namespace fs = std::filesystem;

namespace {

using Args = std::vector<std::string>;

const VDateTime kJan5(2024, 1, 5, 10, 0, 0);

// The pages of host H after the main page, in the order they are made.
const std::vector<std::string> kReportPages = {
    "alldomains", "allhosts",     "lasthosts",     "unknownip",       "alllogins",  "lastlogins", "allrobots",
    "lastrobots", "urldetail",    "urlentry",      "urlexit",         "browserdetail", "osdetail",
    "unknownbrowsers", "unknownos", "refererse",   "refererpages",    "keyphrases", "keywords",   "errors404"};

const char kModel[] =
    "# AWStats model\r\n"
    "  logformat = 1\r\n"
    "#LogFormat=4\r\n"
    "LoadPlugin=\"hashfiles\"\r\n"
    "SiteDomainX=\"kept\"\r\n"
    "DirIcons=\"/icons\"\r\n";

class AWStatsRun : public ::testing::Test {
 protected:
  void SetUp() override {
    previousDirectory = fs::current_path();
    env.set("TMPDIR", dir.file("tmp"));
    env.set("TZ", "UTC");
    fs::create_directories(dir.file("tmp"));
    fs::create_directories(dir.file("vhosts/ex.test"));
    const std::string cgi = dir.file("aw/wwwroot/cgi-bin/");
    for (const char* f : {"awstats.pl", "awredir.pl", "awstats.conf"}) writeFile(cgi + f, std::string("# ") + f + "\n");
    writeFile(cgi + "awstats.model.conf", kModel);
    writeFile(cgi + "awstats.other.test.conf", "SiteDomain=\"other.test\"\n");
    writeFile(cgi + "lib/x.pm", "1;\n");
    for (const char* f : {"classes/a.class", "css/a.css", "icon/mime/html.png", "js/a.js"})
      writeFile(dir.file(std::string("aw/wwwroot/") + f), f);
    writeRecordingProgram(dir.file("perl/bin/perl"), calls());
    settings.vhosts = text::fromUtf8(dir.file("vhosts"));
    settings.awstats = text::fromUtf8(dir.file("aw"));
    settings.perl = text::fromUtf8(dir.file("perl"));
    settings.product = text::fromUtf8(dir.file("product"));
    fs::current_path(dir.path());  // where a command slipped into a name would leave its file
  }
  void TearDown() override { fs::current_path(previousDirectory); }

  std::string calls() const { return dir.file("calls"); }
  std::string script() const { return dir.file("aw/wwwroot/cgi-bin/awstats.pl"); }
  std::string stats(const std::string& type = "webstat") const { return dir.file("vhosts/ex.test/statistics/" + type); }

  // A writer of `host` fed with `lines` lines, then run for `logType`.
  std::unique_ptr<statistics::LogForAWStats> runFor(const std::wstring& host, int logType = 0, int lines = 3) {
    auto w = std::make_unique<statistics::LogForAWStats>(L"ex.test", host, L"home.htm");
    w->setRunSettings(&settings);
    webstat_test::feed(*w, logType, kJan5, lines);
    w->run(logType);
    return w;
  }

  TempDir dir;
  ScopedEnvironment env;
  FakeRunSettings settings;
  fs::path previousDirectory;
};

TEST_F(AWStatsRun, UpdatesThenMakesEveryPageOfTheDomain) {
  settings.aliases[L"ex.test"] = {L"Example.ORG"};
  settings.subdomains[L"ex.test"] = {L"blog", L"shop"};
  auto w = runFor(L"ex.test");

  std::vector<Args> expected = {
      {script(), "-showsteps", "-showcorrupted", "-showdropped", "-config=ex.test", "-update"},
      {script(), "-config=ex.test", "-output"}};
  for (const std::string& page : kReportPages) expected.push_back({script(), "-config=ex.test", "-output=" + page});
  EXPECT_EQ(recordedCalls(calls()), expected);

  EXPECT_EQ(readFile(stats() + "/index.html"), "<html>-output</html>\n");
  for (const std::string& page : kReportPages)
    EXPECT_EQ(readFile(stats() + "/awstats.ex.test." + page + ".html"), "<html>-output=" + page + "</html>\n") << page;
  EXPECT_EQ(settings.deleteList.size(), 21u);  // the temporary pages, deleted at the end of the run

  // The installation's configuration: the lower-case key with blanks replaced in place, the
  // commented one and a longer key kept, the other keys appended in order.
  const std::string fragmentStart = "HTMLEndSection=\"<a name=\"subdomains\">";
  const std::string config = readFile(dir.file("aw/wwwroot/cgi-bin/awstats.ex.test.conf"));
  const size_t fragment = config.find(fragmentStart);
  ASSERT_NE(fragment, std::string::npos) << config;
  EXPECT_EQ(config.substr(0, fragment),
            "# AWStats model\r\n"
            "LogFormat=\"date time s-sitename s-computername s-ip cs-method cs-uri-stem cs-uri-query s-port "
            "cs-username c-ip cs-version cs(User-Agent) cs(Cookie) cs(Referer) cs-host sc-status sc-substatus "
            "sc-win32-status sc-bytes cs-bytes time-taken\"\r\n"
            "#LogFormat=4\r\n"
            "LoadPlugin=\"hashfiles\"\r\n"
            "SiteDomainX=\"kept\"\r\n"
            "DirIcons=\"AWStats/icon\"\r\n"
            "LogType=W\r\n"
            "SiteDomain=\"ex.test\"\r\n"
            "HostAliases=\"www.ex.test ex.test www.example.org example.org\"\r\n"
            "DNSLookup=1\r\n"
            "DirData=\"" + stats() + "\"\r\n"
            "DirCgi=\"AWStats/cgi-bin\"\r\n"
            "SaveDatabaseFilesWithPermissionsForEveryone=0\r\n"
            "DefaultFile=\"home.htm\"\r\n"
            "LogFile=\"" + text::toUtf8(w->getLogFile(0).path()) + "\"\r\n");
  const std::string fragmentText = config.substr(fragment);
  EXPECT_NE(fragmentText.find("<a href=\"blog.ex.test.html\">blog.ex.test</a>"), std::string::npos);
  EXPECT_LT(fragmentText.find("blog.ex.test.html"), fragmentText.find("shop.ex.test.html"));
  EXPECT_EQ(fragmentText.substr(fragmentText.size() - 7), "<br>\"\r\n");

  // The private copy: the web files, the scripts and this host's configuration with its
  // icons relative to the copy; no other host's configuration, no marker left.
  const std::string copy = stats() + "/AWStats/";
  for (const char* f : {"classes/a.class", "css/a.css", "icon/mime/html.png", "js/a.js", "cgi-bin/awstats.pl",
                        "cgi-bin/awredir.pl"})
    EXPECT_TRUE(fileExists(copy + f)) << f;
  for (const char* f : {"cgi-bin/awstats.other.test.conf", "cgi-bin/awstats.model.conf", "cgi-bin/lib"})
    EXPECT_FALSE(fileExists(copy + f)) << f;
  const std::string copied = readFile(copy + "cgi-bin/awstats.ex.test.conf");
  EXPECT_NE(copied.find("\r\nDirIcons=\"../icon\"\r\nLogType=W\r\n"), std::string::npos);
  EXPECT_FALSE(fileExists(stats() + "/CopyAWStats.lock"));
}

TEST_F(AWStatsRun, HostsAndLogTypesGetTheirOwnPagesAndSettings) {
  struct Case {
    std::wstring host;
    int logType;
    std::string directory, mainPage, pagePrefix, logTypeLine, aliasesLine;
    bool wwwRecord;
  };
  settings.aliases[L"ex.test"] = {L"alias.test"};
  settings.subdomains[L"ex.test"] = {L"blog"};
  const std::vector<Case> cases = {
      {L"blog.ex.test", 0, "webstat", "blog.ex.test.html", "awstats.blog.ex.test.", "LogType=W",
       "HostAliases=\"www.blog.ex.test blog.ex.test\"", true},
      {L"ex.test", 2, "ftpstat", "index.html", "awstats.ex.test.", "LogType=F",
       "HostAliases=\"ex.test alias.test\"", false},
      {L"ex.test", 1, "anon_ftpstat", "index.html", "awstats.ex.test.", "LogType=F",
       "HostAliases=\"ex.test alias.test\"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.directory + " " + c.mainPage);
    if (!c.wwwRecord) settings.withoutWww.insert(c.host);
    runFor(c.host, c.logType);
    EXPECT_TRUE(fileExists(stats(c.directory) + "/" + c.mainPage));
    EXPECT_TRUE(fileExists(stats(c.directory) + "/" + c.pagePrefix + "errors404.html"));
    EXPECT_TRUE(fileExists(stats(c.directory) + "/AWStats/cgi-bin/awstats.pl"));
    const std::string config = readFile(dir.file("aw/wwwroot/cgi-bin/awstats." + text::toUtf8(c.host) + ".conf"));
    EXPECT_NE(config.find("\r\n" + c.logTypeLine + "\r\n"), std::string::npos);
    EXPECT_NE(config.find("\r\n" + c.aliasesLine + "\r\n"), std::string::npos) << config;
    EXPECT_NE(config.find("\r\nDirData=\"" + stats(c.directory) + "\"\r\n"), std::string::npos);
    // Only the domain's own main page lists the subdomains.
    EXPECT_EQ(config.find("HTMLEndSection=\"\"\r\n") != std::string::npos, c.host != L"ex.test");
    settings.withoutWww.clear();
  }
}

TEST_F(AWStatsRun, HostileHostNamesReachAWStatsWholeAndRunNothing) {
  const std::vector<std::string> names = {"a&touch pwned", "b|touch pwned", "c;touch pwned", "d$(touch pwned)",
                                          "e`touch pwned`", "f touch pwned", "g\"touch pwned", "h'touch pwned"};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    fs::remove(calls());
    const std::string host = name + ".ex.test";
    runFor(text::fromUtf8(host));
    const auto recorded = recordedCalls(calls());
    ASSERT_EQ(recorded.size(), 22u);
    EXPECT_EQ(recorded[0][4], "-config=" + host);
    EXPECT_EQ(recorded[21], (Args{script(), "-config=" + host, "-output=errors404"}));
    EXPECT_TRUE(fileExists(stats() + "/" + host + ".html"));
    EXPECT_FALSE(fileExists(dir.file("pwned")));
  }
}

TEST_F(AWStatsRun, ValuesThatWouldAddLinesToTheConfigurationAreRefused) {
  struct Case {
    const char* what;
    std::wstring host;
    std::vector<std::wstring> aliases;
    std::set<std::wstring> subdomains;
    std::wstring refusal;
  };
  const std::vector<Case> cases = {
      {"host", L"x\nLogFile=/etc/shadow", {}, {}, L"Not a host name that can name files"},
      {"host naming a path", L"../../x", {}, {}, L"Not a host name that can name files"},
      {"alias", L"ex.test", {L"a.test\r\nDirData=\"/etc\""}, {}, L"would span lines"},
      {"subdomain", L"ex.test", {}, {L"s\nx"}, L"would span lines"},
  };
  LogManager::instance().setSwitch(3, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    settings.aliases[L"ex.test"] = c.aliases;
    settings.subdomains[L"ex.test"] = c.subdomains;
    auto w = std::make_unique<statistics::LogForAWStats>(L"ex.test", c.host, L"");
    w->setRunSettings(&settings);
    webstat_test::feed(*w, 0, kJan5, 1);
    try {
      w->run(0);
      ADD_FAILURE() << "not refused";
    } catch (const vexception& e) {
      EXPECT_NE(e.message().find(c.refusal), std::wstring::npos) << text::toUtf8(e.message());
    }
    EXPECT_FALSE(fileExists(calls()));
    size_t configurations = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir.path()))
      configurations += e.path().extension() == ".conf";
    EXPECT_EQ(configurations, 3u) << "only the installation's own: awstats.conf, the model, other.test's";
  }
  LogManager::instance().setSwitch(3, 1);
}

TEST_F(AWStatsRun, PrivateCopyIsRefreshedOnlyWhenStaleAndNeverWrittenThroughLinks) {
  runFor(L"ex.test");
  const std::string copy = stats() + "/AWStats";
  const std::string outside = dir.file("outside");
  writeFile(outside + "/index.html", "outside\n");
  writeFile(outside + "/awstats.ex.test.conf", "outside\n");
  struct Case {
    const char* what;
    std::function<void()> plant;
    bool recopied;
  };
  const std::vector<Case> cases = {
      {"current copy", [] {}, false},
      {"newer script in the installation",
       [&] {
         const struct timespec times[2] = {{0, UTIME_OMIT}, {::time(nullptr) + 3600, 0}};
         ::utimensat(AT_FDCWD, script().c_str(), times, 0);
       },
       true},
      {"interrupted replacement", [&] { writeFile(stats() + "/CopyAWStats.lock", ""); }, true},
      {"cgi-bin is a link",
       [&] {
         fs::remove_all(copy + "/cgi-bin");
         fs::create_directory_symlink(outside, copy + "/cgi-bin");
       },
       true},
      {"the copy is a link",
       [&] {
         fs::remove_all(copy);
         fs::create_directory_symlink(outside, copy);
       },
       true},
      {"a page is a link", [&] { fs::remove(stats() + "/index.html"), fs::create_symlink(outside + "/index.html", stats() + "/index.html"); },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (!fs::is_symlink(copy)) writeFile(copy + "/css/owner.css", "owner's\n");
    c.plant();
    runFor(L"ex.test");
    EXPECT_FALSE(fs::is_symlink(copy));
    EXPECT_FALSE(fs::is_symlink(copy + "/cgi-bin"));
    EXPECT_FALSE(fs::is_symlink(stats() + "/index.html"));
    EXPECT_EQ(fileExists(copy + "/css/owner.css"), !c.recopied);
    EXPECT_TRUE(fileExists(copy + "/cgi-bin/awstats.ex.test.conf"));
    EXPECT_FALSE(fileExists(stats() + "/CopyAWStats.lock"));
    EXPECT_EQ(readFile(outside + "/index.html"), "outside\n");
    EXPECT_EQ(readFile(outside + "/awstats.ex.test.conf"), "outside\n");
  }
}

TEST_F(AWStatsRun, MissingInstallationIsReportedOncePerProcess) {
  settings.awstats = text::fromUtf8(dir.file("nowhere"));
  LogRecorder log;
  LogManager::instance().setSwitch(3, 0);
  runFor(L"ex.test");
  runFor(L"blog.ex.test");
  LogManager::instance().setSwitch(3, 1);
  int reported = 0;
  for (const LoggedMessage& m : log.take())
    if (m.level == 3 && m.text.rfind(L"AWStats is not installed. You should download it from ", 0) == 0) ++reported;
  EXPECT_EQ(reported, 1);
  EXPECT_FALSE(fileExists(calls()));
  EXPECT_FALSE(fileExists(stats()));
}

}  // namespace
