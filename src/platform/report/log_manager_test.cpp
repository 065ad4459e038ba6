#include "platform/report/log_manager.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "platform/report/event_log_file.h"
#include "platform/text/text_codec.h"
#include "testing/temp_dir.h"

namespace {

struct Recorded {
  std::vector<std::pair<int, std::wstring>> events;
  int debugReads = 0;
  std::optional<uint32_t> debug;
  bool failDebugRead = false;
  bool eventLogAvailable = true;
};

class FakeSource : public EventSource {
 public:
  explicit FakeSource(Recorded& r) : r_(r) {}
  bool report(int level, std::wstring_view t, std::wstring_view) override {
    r_.events.emplace_back(level, std::wstring(t));
    return true;
  }

 private:
  Recorded& r_;
};

class FakeBackend : public LogBackend {
 public:
  explicit FakeBackend(Recorded& r) : r_(r) {}
  std::optional<uint32_t> readDebug() override {
    ++r_.debugReads;
    if (r_.failDebugRead) throw vexception(L"RegQueryValueEx invalid type of 'x'");
    return r_.debug;
  }
  std::wstring readDebugUtilExec() override { return L"true"; }
  std::wstring readEventMessageFile() override { return L"/usr/sbin/cadrosrv"; }
  std::unique_ptr<EventSource> registerEventSource(const std::wstring&, const std::wstring&) override {
    if (!r_.eventLogAvailable) throw vexception(L"unavailable");
    return std::make_unique<FakeSource>(r_);
  }

 private:
  Recorded& r_;
};

// Captures what the log manager prints on standard output.
class StdoutCapture {
 public:
  StdoutCapture() {
    std::fflush(stdout);
    saved_ = dup(1);
    file_ = std::tmpfile();
    dup2(fileno(file_), 1);
  }
  std::string finish() {
    std::fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
    std::rewind(file_);
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0) out.append(buf, n);
    std::fclose(file_);
    return out;
  }

 private:
  int saved_;
  FILE* file_;
};

class LogManagerTest : public ::testing::Test {
 protected:
  void install() { LogManager::instance().setBackend(std::make_unique<FakeBackend>(rec)); }
  void TearDown() override { LogManager::instance().setBackend(makeDefaultLogBackend()); }
  Recorded rec;
};

}  // namespace

TEST_F(LogManagerTest, DefaultsSendOnlyErrorsAnywhere) {
  install();
  StdoutCapture out;
  vreport(0, L"info %d", 1);
  vreport(1, L"warning");
  vreport(3, L"error %s", L"one");
  vreport(3, L"error two");
  EXPECT_EQ(out.finish(), "error one\nerror two");
  ASSERT_EQ(rec.events.size(), 2u);
  EXPECT_EQ(rec.events[0], std::make_pair(3, std::wstring(L"error one")));
}

TEST_F(LogManagerTest, DebugModeSendsInformationToTheEventLogButNotTheConsole) {
  rec.debug = 1;
  install();
  StdoutCapture out;
  vreport(0, L"SQL: %s", L"SELECT 1");
  vreport(1, L"Domain %s has no ip", L"a.com");
  EXPECT_EQ(out.finish(), "");
  ASSERT_EQ(rec.events.size(), 2u);
  EXPECT_EQ(rec.events[1].second, L"Domain a.com has no ip");
}

TEST_F(LogManagerTest, ExceptionTextDependsOnDebug) {
  vexception e(L"Object has been already locked", VCTX(L"Update actions", "statistics::start"));
  install();
  {
    StdoutCapture out;
    vreport(3, e);
    EXPECT_EQ(out.finish(), "Object has been already locked");
    EXPECT_EQ(rec.events.back().second, e.detailedText());
  }
  rec.debug = 1;
  install();
  StdoutCapture out;
  vreport(3, e);
  EXPECT_EQ(out.finish(), text::toUtf8(e.detailedText()));
}

TEST_F(LogManagerTest, FailedEventLogMakesTheConsoleTextDetailed) {
  rec.eventLogAvailable = false;
  install();
  vexception e(L"msg", VCTX(L"ctx", "op"));
  StdoutCapture out;
  vreport(3, e);
  std::string printed = out.finish();
  EXPECT_NE(printed.find("msg\n   at ctx(op line "), std::string::npos) << printed;
}

TEST_F(LogManagerTest, DebugIsReadOnTheFirstAndEverySixteenthCheck) {
  install();
  int before = rec.debugReads;
  for (int i = 0; i < 33; ++i) LogManager::instance().debugMode();
  // setBackend reset the counter: its own read was check 0; checks 16 and 32 read again.
  EXPECT_EQ(rec.debugReads - before, 2);
  rec.failDebugRead = true;
  rec.debug = 1;
  for (int i = 0; i < 15; ++i) LogManager::instance().debugMode();
  EXPECT_FALSE(LogManager::instance().debugMode());  // check 48 fails: off
}

TEST(EventLogFileTest, RecordFormatEscapingAndRotation) {
  testing_support::ScopedSystemRoot root;
  EventLogFile log("Cadro", 200);
  ASSERT_TRUE(log.append(EventType::Error, L"statistics", 1, 0, {L"a\\b\tc\nd\re", L"/usr/bin/statistics"}));
  std::string content = testing_support::readFile(root.file("eventlog/Cadro.log"));
  ASSERT_EQ(content.size(), 20 + content.size() - 20);
  EXPECT_EQ(content.substr(20), "\tERROR\tstatistics\t1\t0\ta\\\\b\\tc\\nd\\re\t/usr/bin/statistics\n");
  EXPECT_EQ(content[4], '-');
  EXPECT_EQ(content[19], 'Z');
  for (int i = 0; i < 5; ++i) log.append(EventType::Information, L"s", 1, 0, {std::wstring(60, L'x')});
  EXPECT_TRUE(testing_support::fileExists(root.file("eventlog/Cadro.log.1")));
  EXPECT_LE(testing_support::readFile(root.file("eventlog/Cadro.log")).size(), 400u);
}
