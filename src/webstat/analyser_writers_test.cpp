// The run's writers: which domain and host gets which writer, the temporary logs they
// create and delete, write failures, and the generator runs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>

#include "db/cdr_database.h"
#include "platform/report/log_manager.h"
#include "testing/allocation_counter.h"
#include "testing/fake_service_settings.h"
#include "testing/log_recorder.h"
#include "testing/provider_test_engines.h"
#include "testing/scoped_environment.h"
#include "testing/temp_dir.h"
#include "traffic/w3c_field_names.h"
#include "webstat/analyser_writers.h"
#include "webstat/log_for_awstats.h"
#include "webstat/log_for_webalizer.h"

using namespace testing_support;

namespace {

// Selected domains: 1 aw.test ("awstats"), 2 wz.test ("Webalizer"), 3 off.test ("none"),
// 4 blank.test (""), 5 odd.test ("analog"), 6 nohost.test (no hosting row). Domain
// 7 other.test has a setting but is not selected.
const std::map<std::wstring, std::wstring> kSettings = {
    {L"1", L"awstats"}, {L"2", L"Webalizer"}, {L"3", L"none"}, {L"4", L""}, {L"5", L"analog"}, {L"7", L"awstats"}};
const DomainNameMap kSelected = {{L"aw.test", L"1"},    {L"wz.test", L"2"},  {L"off.test", L"3"},
                                 {L"blank.test", L"4"}, {L"odd.test", L"5"}, {L"nohost.test", L"6"}};

W3CRecord httpRecord() {
  W3CRecord r;
  const std::wstring_view values[] = {L"1.2.3.4", L"GET", L"/", L"HTTP/1.1", L"200", L"512"};
  r.assign(W3CFieldNames::make({L"c-ip", L"cs-method", L"cs-uri-stem", L"cs-version", L"sc-status", L"sc-bytes"}),
           L"line", values);
  return r;
}

class AnalyserWritersTest : public ::testing::Test {
 protected:
  // Errors the cases provoke stay off the console.
  void SetUp() override {
    env.set("TMPDIR", tmp.path());
    LogManager::instance().setSwitch(3, 0);
  }
  void TearDown() override { LogManager::instance().setSwitch(3, 1); }

  AnalyserWriters makeWriters() {
    return AnalyserWriters(
        kSelected,
        [this](const std::wstring& id) -> std::optional<std::wstring> {
          ++queries[id];
          auto it = kSettings.find(id);
          if (it == kSettings.end()) return std::nullopt;
          return it->second;
        },
        [](const std::wstring& name) { return name == L"aw.test" ? std::wstring(L"home.htm") : std::wstring(); });
  }

  // Writes one HTTP line through the writer of (domain, host), as the traffic task does.
  statistics::LogForAnalyser* line(AnalyserWriters& writers, const std::wstring& domain, const std::wstring& host) {
    statistics::LogForAnalyser* w = writers.getAnalyserWriter(domain, host);
    if (w) {
      w->checkLogFile(0);
      w->processHTTPLogLine(VDateTime(2024, 1, 5, 10, 0, 0), 0, httpRecord());
    }
    return w;
  }

  std::vector<std::string> temporaryFiles() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(tmp.path())) names.push_back(e.path().filename());
    return names;
  }

  TempDir tmp;
  ScopedEnvironment env;
  std::map<std::wstring, int> queries;
};

}  // namespace

TEST_F(AnalyserWritersTest, TheSettingDecidesTheWriterAndItsKey) {
  AnalyserWriters writers = makeWriters();
  struct {
    const wchar_t* domain;
    const wchar_t* host;
    const char* expected;  // writer class and key, or "" for none
  } cases[] = {
      {L"aw.test", L"aw.test", "AWStats aw.test"},
      {L"aw.test", L"shop.aw.test", "AWStats shop.aw.test"},
      {L"AW.test", L"Blog.AW.test", "AWStats blog.aw.test"},
      {L"wz.test", L"wz.test", "Webalizer wz.test"},
      {L"wz.test", L"a.wz.test", "Webalizer wz.test"},
      {L"WZ.TEST", L"b.wz.test", "Webalizer wz.test"},
      {L"off.test", L"off.test", ""},
      {L"blank.test", L"blank.test", ""},
      {L"odd.test", L"odd.test", ""},
      {L"nohost.test", L"nohost.test", ""},
      {L"other.test", L"other.test", ""},
  };
  for (const auto& c : cases) {
    statistics::LogForAnalyser* w = line(writers, c.domain, c.host);
    std::string got;
    if (w) {
      got = dynamic_cast<statistics::LogForAWStats*>(w) ? "AWStats " : "Webalizer ";
      for (const auto& [key, writer] : writers.writers())
        if (writer.get() == w) got += text::toUtf8(key);
    }
    EXPECT_EQ(got, c.expected) << text::toUtf8(c.domain) << " " << text::toUtf8(c.host);
  }
  // Three AWStats hosts and one Webalizer domain, one temporary log each.
  EXPECT_EQ(writers.writers().size(), 4u);
  EXPECT_EQ(temporaryFiles().size(), 4u);
  EXPECT_EQ(writers.writers().at(L"shop.aw.test")->defaultDocument(), L"home.htm");
  EXPECT_EQ(writers.writers().at(L"wz.test")->defaultDocument(), L"index.html");
  // The setting is asked once per domain; the domain that is not selected is never asked.
  for (const auto& [id, count] : queries) EXPECT_EQ(count, 1) << text::toUtf8(id);
  EXPECT_EQ(queries.count(L"7"), 0u);
}

TEST_F(AnalyserWritersTest, TemporaryLogsAreOwnerOnlyAndGoWithTheirWriters) {
  AnalyserWriters writers = makeWriters();
  line(writers, L"wz.test", L"a.wz.test");
  line(writers, L"wz.test", L"b.wz.test");
  statistics::LogForAnalyser* aw = line(writers, L"aw.test", L"aw.test");
  aw->checkLogFile(2);  // a type that receives no line still gets its file, without data

  const std::string path = text::toUtf8(aw->getLogFile(0).path());
  EXPECT_EQ(path.rfind(tmp.path() + "/tmp", 0), 0u) << path;
  struct stat st;
  ASSERT_EQ(::lstat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_TRUE(aw->hasLogData(0));
  EXPECT_FALSE(aw->hasLogData(2));
  EXPECT_FALSE(aw->hasLogData(1));
  // Both subdomains' lines went into the domain's one Webalizer log.
  statistics::LogForAnalyser& wz = *writers.writers().at(L"wz.test");
  ASSERT_TRUE(wz.hasLogData(0));
  const std::string webalizer = readFile(text::toUtf8(wz.getLogFile(0).path()));
  EXPECT_EQ(std::count(webalizer.begin(), webalizer.end(), '\n'), 2);
  EXPECT_EQ(temporaryFiles().size(), 3u);

  writers.clear();
  EXPECT_TRUE(temporaryFiles().empty());
}

TEST_F(AnalyserWritersTest, TheTemporaryDirectoryIsCreatedOwnerOnlyOrTheFailureNamesTheDomain) {
  env.set("TMPDIR", tmp.file("made/here"));
  {
    statistics::LogForAWStats w(L"aw.test", L"aw.test", L"");
    w.checkLogFile(0);
    struct stat st;
    ASSERT_EQ(::stat(tmp.file("made/here").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
  }
  writeFile(tmp.file("plain"), "not a directory");
  env.set("TMPDIR", tmp.file("plain"));
  statistics::LogForAWStats w(L"aw.test", L"aw.test", L"");
  try {
    w.checkLogFile(0);
    FAIL() << "created a file under a plain file";
  } catch (const vosexception& e) {
    EXPECT_NE(e.message().find(L"Can't create temp file " + text::fromUtf8(tmp.file("plain")) + L"/tmp"),
              std::wstring::npos)
        << text::toUtf8(e.message());
    EXPECT_NE(e.message().find(L"for log domain aw.test"), std::wstring::npos);
    EXPECT_EQ(e.contexts().back().operation, "statistics::LogFile::checkLogFile");
  }
}

TEST_F(AnalyserWritersTest, ARefusedWriteFailsTheLineThatMeetsItAndNamesTheFile) {
  statistics::LogForWebalizer w(L"wz.test", L"wz.test", L"");
  // A descriptor open for reading only: the system refuses every write.
  writeFile(tmp.file("refusing"), "");
  const std::wstring path = text::fromUtf8(tmp.file("refusing"));
  w.getLogFile(0).adopt(path, UniqueFd(::open(tmp.file("refusing").c_str(), O_RDONLY | O_CLOEXEC)));
  const W3CRecord r = httpRecord();
  bool failed = false;
  for (int i = 0; i < 10000 && !failed; ++i) {
    try {
      w.processHTTPLogLine(VDateTime(2024, 1, 5), 0, r);
    } catch (const vosexception& e) {
      failed = true;
      EXPECT_NE(e.message().find(L"Write to file"), std::wstring::npos) << text::toUtf8(e.message());
      ASSERT_FALSE(e.contexts().empty());
      EXPECT_EQ(e.contexts().back().text, L"Write to http log file " + path);
      EXPECT_EQ(e.contexts().back().operation, "statistics::LogForWebalizer::processHTTPLogLine");
    }
  }
  EXPECT_TRUE(failed);
}

TEST_F(AnalyserWritersTest, ALineBuiltInTheLogsBufferIsWrittenWholeOrNotAtAll) {
  statistics::LogFile file;
  file.create(L"aw.test");
  const std::string longLine(100 * 1024, 'x');
  auto line = [](std::string text) {
    return [text](std::string& out) {
      out += text;
      return true;
    };
  };
  EXPECT_TRUE(file.appendBuilt(line("first\n")));
  EXPECT_FALSE(file.appendBuilt([](std::string& out) {
    out += "taken back";
    return false;
  }));
  EXPECT_THROW(file.appendBuilt([](std::string& out) -> bool {
    out += "half a line";
    throw std::runtime_error("failed");
  }),
               std::runtime_error);
  for (int i = 0; i < 2000; ++i) EXPECT_TRUE(file.appendBuilt(line("short\n")));  // past a flush
  EXPECT_TRUE(file.appendBuilt(line(longLine + "\n")));
  EXPECT_TRUE(file.appendBuilt(line("last\n")));
  file.flush();
  std::string expected = "first\n";
  for (int i = 0; i < 2000; ++i) expected += "short\n";
  expected += longLine + "\nlast\n";
  EXPECT_EQ(file.size(), static_cast<int64_t>(expected.size()));
  EXPECT_EQ(readFile(text::toUtf8(file.path())), expected);
}

namespace {

// A writer whose run records what it is asked and fails for one type.
class RecordingWriter : public statistics::LogForWebalizer {
 public:
  RecordingWriter(std::wstring name, std::vector<std::wstring>& runs, int failingType)
      : LogForWebalizer(name, name, L""), runs_(runs), failing_(failingType) {}
  void run(int type) override {
    runs_.push_back(domainName() + L":" + std::to_wstring(type));
    if (type == failing_) throw std::runtime_error("generator failed");
  }

 private:
  std::vector<std::wstring>& runs_;
  int failing_;
};

}  // namespace

TEST_F(AnalyserWritersTest, GeneratorsRunForTypesWithDataAndAFailureIsReportedAndPassed) {
  AnalyserWriters writers = makeWriters();
  std::vector<std::wstring> runs;
  const VDateTime at(2024, 1, 5, 10, 0, 0);
  for (const wchar_t* name : {L"b.test", L"a.test"}) {
    auto w = std::make_unique<RecordingWriter>(name, runs, name == std::wstring(L"a.test") ? 0 : -1);
    for (int type : {0, 2}) w->checkLogFile(type);
    w->processHTTPLogLine(at, 0, httpRecord());
    w->processFTPLogLine(at, 2, httpRecord(), true);
    w->checkLogFile(1);  // empty: not run
    writers.adopt(name, std::move(w));
  }
  LogRecorder log;
  writers.runWebLogAnalyser();
  EXPECT_EQ(runs, (std::vector<std::wstring>{L"a.test:0", L"a.test:2", L"b.test:0", L"b.test:2"}));
  EXPECT_TRUE(log.contains(3, L"generator failed"));
  const auto reports = log.take();
  ASSERT_EQ(std::count_if(reports.begin(), reports.end(), [](const auto& m) { return m.level == 3; }), 1);
}

TEST_F(AnalyserWritersTest, AWarmWriterAllocatesNothingPerLine) {
  AnalyserWriters writers = makeWriters();
  const W3CRecord r = httpRecord();
  const VDateTime at(2024, 1, 5, 10, 0, 0);
  const std::wstring domains[] = {L"aw.test", L"wz.test"};
  auto write = [&] {
    for (const std::wstring& domain : domains) {
      statistics::LogForAnalyser* w = writers.getAnalyserWriter(domain, domain);
      w->checkLogFile(0);
      w->processHTTPLogLine(at, 0, r);
    }
  };
  for (int i = 0; i < 3000; ++i) write();  // past a buffer flush
  const unsigned long before = allocationsOnThisThread();
  for (int i = 0; i < 3000; ++i) write();
  EXPECT_EQ(allocationsOnThisThread() - before, 0u);
}

// The setting as the control-panel database holds it, over every provider.
template <typename Engine>
class WebstatSetting : public ::testing::Test {};
TYPED_TEST_SUITE(WebstatSetting, ProviderTestEngines);

TYPED_TEST(WebstatSetting, ComesFromTheHostingRow) {
  if (auto why = TypeParam::unavailable()) GTEST_SKIP() << *why;
  TypeParam engine;
  createControlPanelSchema(*engine.connect(), TypeParam::kDialect);
  FakeServiceSettings settings;
  settings.values[L"CADRO_DATABASE_PROVIDER_NAME"] = text::fromUtf8(TypeParam::kName);
  CDRDatabase db(engine.connect(), settings, false);
  db.execute(L"INSERT INTO hosting (dom_id, sys_user_id, ip_address_id, webstat) VALUES (11, 0, 1, 'AWStats')");
  db.execute(L"INSERT INTO hosting (dom_id, sys_user_id, ip_address_id, webstat) VALUES (1, 0, 1, 'webalizer')");
  auto lookup = AnalyserWriters::webstatFromDatabase(db);
  EXPECT_EQ(lookup(L"11"), std::optional<std::wstring>(L"AWStats"));
  EXPECT_EQ(lookup(L"12"), std::nullopt);
}
