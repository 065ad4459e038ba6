// Domain log rotation: the policy's reading and the current-log rule as tables, and the
// archives of single logs checked with the system's own unzip.
#include "maintenance/log_rotation.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <iterator>
#include <sstream>

#include "maintenance/log_rotation_policy.h"
#include "maintenance/zip_archive.h"
#include "platform/text/text_codec.h"
#include "testing/log_recorder.h"
#include "testing/run_process.h"
#include "testing/temp_dir.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const VDateTime kNow(2024, 3, 6, 12, 0, 0);  // a Wednesday

TEST(LogRotationPolicy, ColumnsAreReadLeniently) {
  const struct {
    const wchar_t *max, *compress, *turnedOn, *periodType, *period;
    int32_t wantMax;
    bool wantCompress, wantOn, wantBySize;
    int64_t wantThreshold;
    const wchar_t* wantPeriod;
  } cases[] = {
      {L"5", L"true", L"TRUE", L"by_time", L"Daily", 5, true, true, false, 0, L"daily"},
      {L"x", L"True-ish", L"truE", L"BY_SIZE", L"5000000000", 0, true, true, true, 5000000000, L""},
      {L" 7z", L"false", L"tru", L"by_size", L"1k", 7, false, false, true, 1, L""},
      {L"-1", L"", L"yes", L"", L"", -1, false, false, false, 0, L""},
  };
  for (const auto& c : cases) {
    const auto p = LogRotationPolicy::fromColumns(c.max, c.compress, L"x@y", c.turnedOn, c.periodType, c.period);
    EXPECT_EQ(p.maxNumberOfLogFiles, c.wantMax) << c.max;
    EXPECT_EQ(p.compress, c.wantCompress) << c.compress;
    EXPECT_EQ(p.turnedOn, c.wantOn) << c.turnedOn;
    EXPECT_EQ(p.bySize, c.wantBySize) << c.periodType;
    EXPECT_EQ(p.sizeThreshold, c.wantThreshold) << c.period;
    EXPECT_EQ(p.period, c.wantPeriod) << c.period;
  }
}

TEST(LogRotationPolicy, TheNewestLogIsCurrentOnlyUnderItsRule) {
  const struct {
    const wchar_t *periodType, *period;
    int64_t size;
    VDateTime written;
    bool current;
  } cases[] = {
      {L"by_size", L"1000", 1000, VDateTime(2020, 1, 1), true},
      {L"by_size", L"1000", 1001, kNow, false},
      {L"by_time", L"daily", 0, kNow - 86400, true},
      {L"by_time", L"daily", 0, kNow - 86401, false},
      {L"by_time", L"weekly", 0, VDateTime(2024, 3, 4, 23, 0, 0), false},  // a Monday
      {L"by_time", L"weekly", 0, VDateTime(2024, 3, 3, 23, 0, 0), false},  // a Sunday, too long ago
      {L"by_time", L"weekly", 0, VDateTime(2024, 3, 5, 12, 0, 0), false},
      {L"by_time", L"monthly", 0, VDateTime(2024, 3, 6, 1, 0, 0), false},
      {L"by_time", L"yearly", 0, kNow, false},
      {L"by_time", L"daily", 0, VDateTime(), false},
  };
  for (const auto& c : cases) {
    const auto p = LogRotationPolicy::fromColumns(L"1", L"", L"", L"true", c.periodType, c.period);
    EXPECT_EQ(isCurrentLog(p, LogFileEntry{L"/l/a.log", c.written, c.size}, kNow), c.current)
        << text::toUtf8(c.period) << " " << text::toUtf8(c.written.toRegistryText());
  }
  const auto weekly = LogRotationPolicy::fromColumns(L"1", L"", L"", L"true", L"by_time", L"weekly");
  const auto monthly = LogRotationPolicy::fromColumns(L"1", L"", L"", L"true", L"by_time", L"monthly");
  const VDateTime sunday(2024, 3, 3, 10, 0, 0);
  EXPECT_TRUE(isCurrentLog(weekly, LogFileEntry{L"a", sunday, 0}, sunday + 7200));
  EXPECT_TRUE(isCurrentLog(monthly, LogFileEntry{L"a", VDateTime(2024, 3, 1, 9), 0}, VDateTime(2024, 3, 1, 10)));
}

TEST(LogRotationPolicy, ArchivesComeFirstThenTheOlderFile) {
  const LogFileEntry oldLog{L"/l/a.log", VDateTime(2024, 1, 1), 1};
  const LogFileEntry newLog{L"/l/b.log", VDateTime(2024, 2, 1), 1};
  const LogFileEntry newArchive{L"/l/c.ZIP", VDateTime(2024, 3, 1), 1};
  EXPECT_TRUE(logEntryLess(oldLog, newLog));
  EXPECT_FALSE(logEntryLess(newLog, oldLog));
  EXPECT_TRUE(logEntryLess(newArchive, oldLog));
  EXPECT_FALSE(logEntryLess(oldLog, newArchive));
}

TEST(LogRotationPolicy, TheQueryJoinsTheParameterAsTheDialectWants) {
  const std::wstring head =
      L"SELECT l.max_number_of_logfiles, l.compress_enable, l.email, l.turned_on, l.period_type, l.period FROM "
      L"`log_rotation` l, `dom_param` dp WHERE dp.param='logrotation_id' AND dp.val=";
  EXPECT_EQ(logrotate::getQuery(L"Jet", L"7"), head + L"cstr(l.id) AND dp.dom_id=7");
  EXPECT_EQ(logrotate::getQuery(L"jet", L"7"), head + L"cstr(l.id) AND dp.dom_id=7");
  EXPECT_EQ(logrotate::getQuery(L"MySQL", L"7"), head + L"l.id AND dp.dom_id=7");
  EXPECT_EQ(logrotate::getQuery(L"MSSQL", L"7"), head + L"l.id AND dp.dom_id=7");
}

// ---- Archives

void setTime(const std::string& path, const VDateTime& utc) {
  const timespec times[2] = {{utc.toUnixTime(), 0}, {utc.toUnixTime(), 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

std::string unzip(const std::vector<std::string>& args) {
  ProcessResult r = runProcess("/usr/bin/unzip", args);
  return r.exitCode == 0 ? r.out : "unzip failed: " + r.out + r.err;
}

// "<date.time> <name>" of each deflated entry, as zipinfo shows them.
std::string entries(const std::string& archive) {
  std::string out;
  std::istringstream lines(unzip({"-Z", "-T", archive}));
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::vector<std::string> f{std::istream_iterator<std::string>(fields), {}};
    if (f.size() == 8 && f[5] == "defN") out += (out.empty() ? "" : ",") + f[6] + " " + f[7];
  }
  return out;
}

std::string binaryContent(size_t size) {
  std::string content(size, '\0');
  uint32_t x = 12345;
  for (char& c : content) c = static_cast<char>((x = x * 1103515245 + 12345) >> 24);
  return content;
}

class LogArchive : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return dir_.file(name); }
  std::wstring wpath(const std::string& name) const { return text::fromUtf8(path(name)); }
  TempDir dir_;
};

TEST_F(LogArchive, ALogBecomesAVerifiedArchiveDatedWithItsLastWrite) {
  const std::string content = binaryContent(200000);  // several chunks, NUL bytes among them
  writeFile(path("ex240305.log"), content);
  setTime(path("ex240305.log"), VDateTime(2024, 3, 5, 23, 59, 58));
  ASSERT_TRUE(compressLogFile(wpath("ex240305.log")));
  EXPECT_FALSE(fileExists(path("ex240305.log")));
  EXPECT_EQ(entries(path("ex240305.log.zip")), "20240305.235958 ex240305.log");
  EXPECT_NE(unzip({"-t", path("ex240305.log.zip")}).find("No errors detected"), std::string::npos);
  EXPECT_TRUE(unzip({"-p", path("ex240305.log.zip")}) == content);
}

TEST_F(LogArchive, OlderArchivesAreRenumberedBeforeTheNewOne) {
  writeFile(path("a.log"), "third");
  writeFile(path("a.log.zip"), "second");
  writeFile(path("a.log_1.zip"), "first");
  ASSERT_TRUE(compressLogFile(wpath("a.log")));
  EXPECT_EQ(readFile(path("a.log_2.zip")), "first");
  EXPECT_EQ(readFile(path("a.log_1.zip")), "second");
  EXPECT_EQ(unzip({"-p", path("a.log.zip")}), "third");
}

TEST_F(LogArchive, AnArchiveThatCannotBeRenumberedKeepsTheLog) {
  const std::string name(251, 'n');  // the name + "_1.zip" is too long for the file system
  writeFile(path(name), "log");
  writeFile(path(name + ".zip"), "older");
  LogRecorder log;
  EXPECT_FALSE(compressLogFile(wpath(name)));
  EXPECT_TRUE(log.contains(3, L"Can't rename file " + wpath(name + ".zip") + L" to " + wpath(name + "_1.zip")));
  EXPECT_EQ(readFile(path(name)), "log");
  EXPECT_EQ(readFile(path(name + ".zip")), "older");
}

TEST_F(LogArchive, APlantedLinkIsNeitherFollowedNorWrittenThrough) {
  TempDir outside;
  writeFile(outside.file("secret.log"), "secret");
  fs::create_symlink(outside.file("secret.log"), path("secret.log"));
  fs::create_symlink(outside.file("target.zip"), path("a.log.zip"));
  writeFile(path("a.log"), "mine");
  EXPECT_FALSE(compressLogFile(wpath("secret.log")));
  ASSERT_TRUE(compressLogFile(wpath("a.log")));  // the link is renumbered as itself
  EXPECT_TRUE(fs::is_symlink(path("a.log_1.zip")));
  EXPECT_FALSE(fileExists(outside.file("target.zip")));
  EXPECT_EQ(unzip({"-p", path("a.log.zip")}), "mine");
  EXPECT_EQ(readFile(outside.file("secret.log")), "secret");
  // A second name of a file elsewhere is not read either.
  fs::create_hard_link(outside.file("secret.log"), path("hard.log"));
  EXPECT_FALSE(compressLogFile(wpath("hard.log")));
  EXPECT_FALSE(fileExists(path("hard.log.zip")));
}

TEST_F(LogArchive, ALogAnotherProcessHasOpenIsKept) {
  writeFile(path("busy.log"), "being written");
  int ready[2], hold[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(hold), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(hold[1]);
    const int fd = ::open(path("busy.log").c_str(), O_WRONLY | O_APPEND);
    char c = fd >= 0 ? 'y' : 'n';
    if (::write(ready[1], &c, 1) != 1 || ::read(hold[0], &c, 1) < 0) _exit(1);
    _exit(0);
  }
  ::close(hold[0]);
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  EXPECT_EQ(c, 'y');
  EXPECT_FALSE(compressLogFile(wpath("busy.log")));
  EXPECT_EQ(readFile(path("busy.log")), "being written");
  EXPECT_FALSE(fileExists(path("busy.log.zip")));
  ::close(hold[1]);
  ::waitpid(child, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  EXPECT_TRUE(compressLogFile(wpath("busy.log")));
}

TEST_F(LogArchive, ADamagedOrStoppedArchiveFailsItsCheck) {
  writeFile(path("a.log"), binaryContent(100000));
  const int log = ::open(path("a.log").c_str(), O_RDONLY | O_CLOEXEC);
  const int zip = ::open(path("a.zip").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ziparchive::EntryDigest digest;
  ASSERT_TRUE(ziparchive::writeSingleEntry(zip, "a.log", VDateTime(), log, digest, [] { return true; }));
  EXPECT_EQ(digest.size, 100000u);
  EXPECT_TRUE(ziparchive::verifySingleEntry(zip, "a.log", digest));
  EXPECT_FALSE(ziparchive::verifySingleEntry(zip, "b.log", digest));
  ASSERT_EQ(::pwrite(zip, "\xff\xff\xff", 3, 200), 3);  // inside the deflated data
  EXPECT_FALSE(ziparchive::verifySingleEntry(zip, "a.log", digest));
  ASSERT_EQ(::ftruncate(zip, 0), 0);
  ::lseek(log, 0, SEEK_SET);
  EXPECT_FALSE(ziparchive::writeSingleEntry(zip, "a.log", VDateTime(), log, digest, [] { return false; }));
  ::close(log);
  ::close(zip);
}

}  // namespace
