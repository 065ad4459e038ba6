// Statistics modules: the configuration file, loading their factories, the module set's
// hand-off and finish, and the shipped top URLs module end to end.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/modules/module_factory.h"
#include "platform/registry/registry.h"
#include "platform/report/log_manager.h"
#include "testing/allocation_counter.h"
#include "testing/log_recorder.h"
#include "testing/temp_dir.h"
#include "traffic/w3c_field_names.h"
#include "webstat/web_module_host.h"
#include "webstat/web_module_set.h"

using namespace testing_support;

namespace {

// A module that lives in the test program itself and counts what it is told.
struct Counts {
  int created = 0, lines = 0, finished = 0;
} g_counts;

class CountingModule : public Statistics::Module {
 public:
  void processLogLine(std::wstring_view, std::wstring_view, std::wstring_view, int, std::wstring_view, bool,
                      const Statistics::LineTime&, const Statistics::LogLineFields&) override {
    ++g_counts.lines;
  }
  bool isFinished() const override { return done_; }
  void finish() override {
    done_ = true;
    ++g_counts.finished;
  }

 private:
  bool done_ = false;
};

}  // namespace

CADRO_MODULE_EXPORT Statistics::Module* TestCountingModule(Statistics::ModuleHost&, const wchar_t*) {
  ++g_counts.created;
  return new CountingModule;
}

namespace {

const std::string kTopUrlsLibrary = std::string(CADRO_BIN_DIR) + "/../lib/libcadro_top_urls.so";

std::string modulesFile(const std::string& webSection) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Configuration>\n  <Other><Module ObjectFactory=\"Elsewhere\"/></Other>\n"
         "  <Web>" + webSection + "</Web>\n</Configuration>\n";
}

W3CRecord httpLine(const std::wstring& stem, const std::wstring& bytes) {
  W3CRecord r;
  const std::wstring_view values[] = {L"GET", stem, bytes};
  r.assign(W3CFieldNames::make({L"cs-method", L"cs-uri-stem", L"sc-bytes"}), L"GET " + stem + L" " + bytes, values);
  return r;
}

class WebModules : public ::testing::Test {
 protected:
  // Errors the cases provoke stay off the console.
  void SetUp() override {
    LogManager::instance().setSwitch(3, 0);
    g_counts = {};
    ::mkdir(tmp.file("vhosts").c_str(), 0755);
  }

  std::shared_ptr<Statistics::ModuleFactory> load(const std::string& content) {
    const std::string path = tmp.file("statistics.modules");
    ::unlink(path.c_str());
    if (!content.empty()) writeFile(path, content);
    return Statistics::ModuleFactory::fromXMLFile(text::fromUtf8(path), L"Web", host);
  }

  void TearDown() override { LogManager::instance().setSwitch(3, 1); }

  void line(WebModuleSet& set, const wchar_t* host, const wchar_t* logFile, const VDateTime& day, const W3CRecord& r,
            int kind = Statistics::kHttpLine) {
    set.processLogLine(L"a.test", host, logFile, kind, L"index.html", true, day, r);
  }

  std::string statisticsFile(const std::string& domain, const std::string& name) {
    return readFile(tmp.file("vhosts/" + domain + "/statistics/" + name));
  }

  TempDir tmp;
  WebModuleHost host{[this] { return text::fromUtf8(tmp.file("vhosts")); }};
};

}  // namespace

TEST_F(WebModules, TheConfigurationDecidesWhichModulesEachKeyGets) {
  const std::string counting = "<Module ObjectFactory=\"TestCountingModule\"/>";
  struct {
    const char* name;
    std::string file;  // empty: no file
    size_t descriptors;
    size_t modulesPerKey;
    std::wstring reported;  // part of the level-3 report, empty: none
  } cases[] = {
      {"no file", "", 0, 0, L""},
      {"element names without regard to case", modulesFile("<module ObjectFactory=\"TestCountingModule\"/><MODULE "
                                                           "ObjectFactory=\"TestCountingModule\" ObjectType=\"\"/>"),
       2, 2, L""},
      {"a typed module is not made for the web keys",
       modulesFile(counting + "<Module ObjectFactory=\"TestCountingModule\" ObjectType=\"Pages\"/>"), 2, 1, L""},
      {"missing library keeps the modules before it",
       modulesFile(counting + "<Module Library=\"missing-module.so\" ObjectFactory=\"Create\"/>" + counting), 1, 1,
       L"LoadLibrary(" + text::fromUtf8(tmp.file("missing-module.so")) + L")"},
      {"missing factory function",
       modulesFile("<Module Library=\"" + kTopUrlsLibrary + "\" ObjectFactory=\"NoSuchFactory\"/>"), 0, 0,
       L"GetProcAddress(NoSuchFactory)"},
      {"module without its factory's name", modulesFile(counting + "<Module Library=\"x.so\"/>"), 1, 1,
       L"Unable to find module's object factory"},
      {"a file that is not XML", "<Configuration><Web>", 0, 0,
       L"at load " + text::fromUtf8(tmp.file("statistics.modules"))},
  };
  for (const auto& c : cases) {
    LogRecorder log;
    auto factory = load(c.file);
    WebModuleSet set(factory);
    EXPECT_EQ(set.modules(L"a.test", L"a.test", L"/logs/1").size(), c.modulesPerKey) << c.name;
    EXPECT_EQ(set.modules(L"a.test", L"www.a.test", L"/logs/1").size(), c.modulesPerKey) << c.name;
    EXPECT_EQ(factory->descriptors().size(), c.descriptors) << c.name;
    std::wstring errors;
    for (const auto& m : log.take())
      if (m.level == 3) errors += m.text + L"\n";
    if (c.reported.empty())
      EXPECT_EQ(errors, L"") << c.name;
    else
      EXPECT_NE(errors.find(c.reported), std::wstring::npos) << c.name << ": " << text::toUtf8(errors);
  }
}

TEST_F(WebModules, ATypedModuleIsMadeWhenItsTypeIsAsked) {
  auto factory = load(modulesFile("<Module ObjectFactory=\"TestCountingModule\" ObjectType=\"Pages\"/>"));
  Statistics::ModuleList list;
  factory->createModules(list, L"PAGES", false);
  EXPECT_EQ(list.size(), 1u);
  factory->createModules(list, L"", false);
  EXPECT_EQ(list.size(), 0u);
}

TEST_F(WebModules, AFactoryElementWithoutItsFunctionIsAConfigurationError) {
  EXPECT_THROW(load(modulesFile("<Factory Library=\"x.so\"/>")), Statistics::WrongConfigurationException);
}

TEST_F(WebModules, LinesReachTheModulesOfTheirKeyAndEachIsFinishedOnce) {
  WebModuleSet set(load(modulesFile("<Module ObjectFactory=\"TestCountingModule\"/>")));
  const VDateTime day(2024, 1, 5, 10, 0, 0);
  const W3CRecord r = httpLine(L"/", L"1");
  line(set, L"a.test", L"/logs/1", day, r);
  line(set, L"a.test", L"/logs/1", day, r);
  line(set, L"a.test", L"/logs/2", day, r);
  line(set, L"www.a.test", L"/logs/2", day, r, Statistics::kFtpLine);
  EXPECT_EQ(set.keyCount(), 3u);
  EXPECT_EQ(g_counts.created, 3);
  EXPECT_EQ(g_counts.lines, 4);
  set.finish();
  set.finish();
  EXPECT_EQ(g_counts.finished, 3);

  const unsigned long before = allocationsOnThisThread();
  for (int i = 0; i < 100; ++i) line(set, L"a.test", L"/logs/1", day, r);
  EXPECT_EQ(allocationsOnThisThread() - before, 0u);
}

TEST_F(WebModules, TheTopUrlsModuleWritesEachHostAndDay) {
  ::mkdir(tmp.file("vhosts/a.test").c_str(), 0755);
  ::mkdir(tmp.file("vhosts/a.test/statistics").c_str(), 0755);
  WebModuleSet set(load(modulesFile("<Module Library=\"" + kTopUrlsLibrary + "\" ObjectFactory=\"CreateTopUrlsModule\"/>")));
  const VDateTime fifth(2024, 1, 5, 10, 0, 0), sixth(2024, 1, 6, 23, 59, 59);
  // The 5th, over two log files; FTP lines and lines without a stem do not count.
  line(set, L"a.test", L"/logs/ex1.log", fifth, httpLine(L"/index.html", L"100"));
  line(set, L"a.test", L"/logs/ex1.log", fifth, httpLine(L"/q\"uote\\caf\u00e9", L"-"));
  line(set, L"a.test", L"/logs/ex1.log", fifth, httpLine(L"/c", L"10"));
  line(set, L"a.test", L"/logs/ex1.log", fifth, httpLine(L"-", L"10"));
  line(set, L"a.test", L"/logs/ex1.log", fifth, httpLine(L"/ftp-file", L"10"), Statistics::kFtpLine);
  line(set, L"a.test", L"/logs/ex2.log", fifth, httpLine(L"/index.html", L"100"));
  line(set, L"a.test", L"/logs/ex2.log", fifth, httpLine(L"/index.html", L"50"));
  // The 6th: 25 URLs, /p<n> requested n times.
  for (int n = 1; n <= 25; ++n)
    for (int i = 0; i < n; ++i) line(set, L"a.test", L"/logs/ex2.log", sixth, httpLine(L"/p" + std::to_wstring(n), L"1"));
  line(set, L"shop.a.test", L"/logs/shop.log", sixth, httpLine(L"/cart", L"7"));
  set.finish();

  EXPECT_EQ(statisticsFile("a.test", "top-urls-a.test-2024-01-05.json"),
            "{\n"
            "  \"domain\": \"a.test\",\n"
            "  \"host\": \"a.test\",\n"
            "  \"date\": \"2024-01-05\",\n"
            "  \"urls\": [\n"
            "    {\"url\": \"/index.html\", \"hits\": 3, \"bytes\": 250},\n"
            "    {\"url\": \"/c\", \"hits\": 1, \"bytes\": 10},\n"
            "    {\"url\": \"/q\\\"uote\\\\caf\xc3\xa9\", \"hits\": 1, \"bytes\": 0}\n"
            "  ]\n"
            "}\n");
  const std::string sixthFile = statisticsFile("a.test", "top-urls-a.test-2024-01-06.json");
  size_t entries = 0;
  for (size_t at = sixthFile.find("\"url\""); at != std::string::npos; at = sixthFile.find("\"url\"", at + 1)) ++entries;
  EXPECT_EQ(entries, 20u);
  EXPECT_LT(sixthFile.find("{\"url\": \"/p25\", \"hits\": 25, \"bytes\": 25}"),
            sixthFile.find("{\"url\": \"/p6\", \"hits\": 6, \"bytes\": 6}"));
  EXPECT_EQ(sixthFile.find("\"/p5\""), std::string::npos);
  EXPECT_NE(statisticsFile("a.test", "top-urls-shop.a.test-2024-01-06.json").find("\"/cart\", \"hits\": 1, \"bytes\": 7"),
            std::string::npos);
}

TEST_F(WebModules, TheTopUrlsModuleNeverWritesThroughALinkInTheDomainsTree) {
  // a.test's statistics directory is a link to a directory outside; its file name in
  // b.test's directory is a link to a file outside.
  ::mkdir(tmp.file("outside").c_str(), 0755);
  writeFile(tmp.file("outside/precious"), "keep");
  ::mkdir(tmp.file("vhosts/a.test").c_str(), 0755);
  ASSERT_EQ(::symlink(tmp.file("outside").c_str(), tmp.file("vhosts/a.test/statistics").c_str()), 0);
  ::mkdir(tmp.file("vhosts/b.test").c_str(), 0755);
  ::mkdir(tmp.file("vhosts/b.test/statistics").c_str(), 0755);
  ASSERT_EQ(::symlink(tmp.file("outside/precious").c_str(),
                      tmp.file("vhosts/b.test/statistics/top-urls-b.test-2024-01-05.json").c_str()),
            0);
  WebModuleSet set(load(modulesFile("<Module Library=\"" + kTopUrlsLibrary + "\" ObjectFactory=\"CreateTopUrlsModule\"/>")));
  const VDateTime day(2024, 1, 5);
  set.processLogLine(L"a.test", L"a.test", L"/l", 0, L"", false, day, httpLine(L"/x", L"1"));
  set.processLogLine(L"b.test", L"b.test", L"/l", 0, L"", false, day, httpLine(L"/x", L"1"));
  LogRecorder log;
  set.finish();
  EXPECT_EQ(readFile(tmp.file("outside/precious")), "keep");
  EXPECT_FALSE(fileExists(tmp.file("outside/top-urls-a.test-2024-01-05.json")));
  EXPECT_NE(statisticsFile("b.test", "top-urls-b.test-2024-01-05.json").find("\"/x\""), std::string::npos);
  const auto reports = log.take();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].level, 1);
  EXPECT_NE(reports[0].text.find(L"Unable to write top URLs top-urls-a.test-2024-01-05.json of domain a.test"),
            std::wstring::npos)
      << text::toUtf8(reports[0].text);
}

TEST_F(WebModules, TheModulesWarningReachesTheEventLogOnlyInDebugMode) {
  ScopedSystemRoot root;
  auto warningsLogged = [&](uint32_t debug) {
    EXPECT_EQ(registry::write(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"Debug", debug), 0u);
    LogManager::instance().setBackend(makeDefaultLogBackend());
    LogManager::instance().setSwitch(3, 0);
    vreport(3, L"event log ready");  // an error is always written: the log exists afterwards
    WebModuleSet set(load(modulesFile("<Module Library=\"" + kTopUrlsLibrary + "\" ObjectFactory=\"CreateTopUrlsModule\"/>")));
    // gone.test has no statistics directory: the module warns.
    set.processLogLine(L"gone.test", L"gone.test", L"/l", 0, L"", false, VDateTime(2024, 1, 5), httpLine(L"/", L"1"));
    set.finish();
    const std::string log = readFile(root.file("eventlog/Cadro.log"));
    ::unlink(root.file("eventlog/Cadro.log").c_str());
    size_t n = 0;
    for (size_t at = log.find("\tWARNING\t"); at != std::string::npos; at = log.find("\tWARNING\t", at + 1))
      if (log.find("Unable to write top URLs", at) != std::string::npos) ++n;
    return n;
  };
  EXPECT_EQ(warningsLogged(1), 1u);
  EXPECT_EQ(warningsLogged(0), 0u);
  LogManager::instance().setBackend(makeDefaultLogBackend());
  LogManager::instance().setSwitch(3, 0);
}
