// The Webalizer run on a recording program: the exact arguments by mode and log type, the
// previous index page moved aside and restored when the start fails, the tidy-up of the
// statistics directory, and the back-up of a file.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "app/statistics.h"
#include "platform/text/text_codec.h"
#include "testing/analyser_layout.h"
#include "testing/scoped_environment.h"
#include "testing/temp_dir.h"
#include "webstat/log_for_webalizer.h"
#include "webstat/webstat_test_util.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

using Args = std::vector<std::string>;

class WebalizerRun : public ::testing::Test {
 protected:
  void SetUp() override {
    previousDirectory = fs::current_path();
    env.set("TMPDIR", dir.file("tmp"));
    fs::create_directories(dir.file("tmp"));
    writeRecordingProgram(dir.file("wz/bin/webalizer"), dir.file("calls"));
    settings.vhosts = text::fromUtf8(dir.file("vhosts"));
    settings.webalizer = text::fromUtf8(dir.file("wz/bin/webalizer"));
    settings.product = text::fromUtf8(dir.file("product"));
    fs::current_path(dir.path());
  }
  void TearDown() override { fs::current_path(previousDirectory); }

  std::unique_ptr<statistics::LogForWebalizer> writer(const std::wstring& domain, int logType) {
    fs::create_directories(dir.file("vhosts/" + text::toUtf8(domain)));
    auto w = std::make_unique<statistics::LogForWebalizer>(domain, domain, L"");
    w->setRunSettings(&settings);
    webstat_test::feed(*w, logType, VDateTime(2024, 1, 5, 10, 0, 0), 2);
    return w;
  }

  TempDir dir;
  ScopedEnvironment env;
  webstat_test::FakeRunSettings settings;
  fs::path previousDirectory;
};

TEST_F(WebalizerRun, ArgumentsByModeAndLogType) {
  struct Case {
    std::wstring domain;
    int logType;
    bool verbose;
    Args options;  // what stands before "-c"
    std::string format, directory;
  };
  const std::vector<Case> cases = {
      {L"wz.test", 0, false, {"-Q"}, "clf", "webstat"},
      {L"wz.test", 0, true, {}, "clf", "webstat"},
      {L"wz.test", 2, false, {"-Q"}, "ftp", "ftpstat"},
      {L"wz.test", 1, false, {"-Q"}, "ftp", "anon_ftpstat"},
      {L"w&touch pwned;$(touch pwned)`touch pwned` \"x'.test", 0, false, {"-Q"}, "clf", "webstat"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(text::toUtf8(c.domain) + " " + c.directory);
    fs::remove(dir.file("calls"));
    settings.verboseRun = c.verbose;
    auto w = writer(c.domain, c.logType);
    w->run(c.logType);
    const std::string domain = text::toUtf8(c.domain);
    Args expected = c.options;
    const Args rest = {"-c", dir.file("wz/conf/webalizer.conf"), "-n", domain, "-D",
                       dir.file("product/tmp/webalizer.cache"), "-N", "15", "-p", "-F", c.format, "-o",
                       dir.file("vhosts/" + domain + "/statistics/" + c.directory), text::toUtf8(w->getLogFile(c.logType).path())};
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(recordedCalls(dir.file("calls")), std::vector<Args>{expected});
    EXPECT_FALSE(fileExists(dir.file("pwned")));
  }
}

TEST_F(WebalizerRun, PreviousIndexPageSurvivesAFailedStartAndTheDirectoryIsTidied) {
  const std::string t = dir.file("vhosts/wz.test/statistics/webstat");
  struct Case {
    const char* what;
    bool programThere;
    bool indexAfter;  // the recording program writes no page, so a run leaves none
  };
  for (const Case c : {Case{"missing program", false, true}, Case{"program runs", true, false}}) {
    SCOPED_TRACE(c.what);
    settings.webalizer = text::fromUtf8(c.programThere ? dir.file("wz/bin/webalizer") : dir.file("none/bin/webalizer"));
    writeFile(t + "/index.html", "previous\n");
    writeFile(t + "/AWStats/cgi-bin/awstats.pl", "left from an AWStats setting\n");
    writeFile(t + "/usage.png", "png");
    ::chmod((t + "/usage.png").c_str(), 0600);
    auto w = writer(L"wz.test", 0);
    bool failed = false;
    try {
      w->run(0);
    } catch (const vexception& e) {
      failed = true;
      EXPECT_NE(e.message().find(L"at CreateProcess " + settings.webalizer + L" -Q -c "), std::wstring::npos) << text::toUtf8(e.message());
    }
    EXPECT_EQ(failed, !c.programThere);
    EXPECT_EQ(fileExists(t + "/index.html"), c.indexAfter);
    if (c.indexAfter) {
      EXPECT_EQ(readFile(t + "/index.html"), "previous\n");
    }
    size_t entries = 0;
    for (const auto& e : fs::directory_iterator(t)) entries += e.path().filename().string().rfind("index.html", 0) == 0;
    EXPECT_EQ(entries, c.indexAfter ? 1u : 0u) << "a back-up of the index page is left";
    EXPECT_EQ(fileExists(t + "/AWStats"), failed);
    if (!failed) {
      EXPECT_EQ(fs::status(t + "/usage.png").permissions() & fs::perms::others_read, fs::perms::others_read);
    }
    fs::remove_all(t);
  }
}

TEST_F(WebalizerRun, EntriesTheOwnerPlantedInTheDirectoryAreLeftAsTheyAre) {
  const std::string t = dir.file("vhosts/wz.test/statistics/webstat");
  fs::create_directories(t);
  // A FIFO under the marker's name: opening it to write would wait for a reader for ever.
  ASSERT_EQ(::mkfifo((t + "/CopyAWStats.lock").c_str(), 0644), 0);
  // A second name of a file elsewhere: its mode is not the directory's to give.
  writeFile(dir.file("outside/secret"), "secret\n");
  ::chmod(dir.file("outside/secret").c_str(), 0600);
  ASSERT_EQ(::link(dir.file("outside/secret").c_str(), (t + "/usage.png").c_str()), 0);

  std::atomic<bool> finished{false};
  bool unblocked = false;
  std::thread watchdog([&] {
    for (int i = 0; i < 100 && !finished; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (finished) return;
    const int reader = ::open((t + "/CopyAWStats.lock").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    unblocked = reader >= 0;
    if (reader >= 0) ::close(reader);
  });
  writer(L"wz.test", 0)->run(0);
  finished = true;
  watchdog.join();
  EXPECT_FALSE(unblocked) << "the run waited on the FIFO";
  EXPECT_EQ(fs::status(dir.file("outside/secret")).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(WebalizerRun, BackupFileMovesTheFileAside) {
  const std::string path = dir.file("page.html");
  writeFile(path, "page\n");
  const std::wstring backup = statistics::backupFile(text::fromUtf8(path));
  EXPECT_FALSE(fileExists(path));
  EXPECT_EQ(readFile(text::toUtf8(backup)), "page\n");
  const std::wstring suffix = backup.substr(text::fromUtf8(path).size());
  EXPECT_FALSE(suffix.empty());
  EXPECT_EQ(suffix.find_first_not_of(L"0123456789-"), std::wstring::npos) << text::toUtf8(suffix);
  try {
    statistics::backupFile(text::fromUtf8(path));
    ADD_FAILURE() << "a missing file was backed up";
  } catch (const vexception& e) {
    EXPECT_NE(e.message().find(L"at Can't create backup file " + text::fromUtf8(path)), std::wstring::npos) << text::toUtf8(e.message());
  }
}

}  // namespace
