// The antivirus and spam passes over every engine, on logs the tests write as the filters
// do (UTF-16LE with a byte-order mark, CR LF line ends), in a zone east of UTC.
#include "maintenance/avstatistics.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "maintenance/maintenance_test_database.h"
#include "platform/dates/vdatetime.h"
#include "testing/log_recorder.h"
#include "testing/temp_dir.h"

using namespace testing_support;
using maintenance_test::MaintenanceDatabase;
using maintenance_test::ScopedTimeZone;
using Rows = std::vector<std::wstring>;

namespace {

// One log line; `time` is "YYYY/MM/DD hh:mm:ss" local time.
std::wstring line(const std::wstring& time, const std::wstring& message) {
  return time + L":123 4711 2 " + message + L"\r\n";
}

template <class Engine>
class AvStatistics : public MaintenanceDatabase<Engine> {
 protected:
  void SetUp() override {
    MaintenanceDatabase<Engine>::SetUp();
    if (this->IsSkipped()) return;
    // Keep the fixed dates of 2024 out of the retention's reach.
    this->db().setMiscParam(L"AVStatisticRotationPeriod", L"36500");
  }

  std::string logs() const { return dir_.file("logs"); }
  std::string log(const std::string& relative) const { return logs() + "/" + relative; }
  void writeLog(const std::string& relative, const std::wstring& content) {
    writeFile(log(relative), "\xFF\xFE" + text::toUtf16le(content));
  }

  void pass(bool spam = false) {
    avstatistics run(this->db(), text::fromUtf8(logs()), spam ? L"spamstat" : L"avstat", spam ? L"spam_" : L"",
                     spam ? L"LastSpamStatisticLog" : L"LastAntivirusStatisticLog", !spam);
    run.process();
  }

  // "type|day|name|count", sorted (the engines order names by their own collations).
  Rows counts() {
    Rows out;
    for (const std::wstring& row : this->rows(L"SELECT `type`, `date`, name, val FROM avstatistics")) {
      const size_t day = row.find(L'|') + 1;
      out.push_back(row.substr(0, day + 10) + row.substr(row.find(L'|', day)));  // the day without a time
    }
    std::sort(out.begin(), out.end());
    return out;
  }
  std::wstring last(bool spam = false) {
    return this->db().getMiscParam(spam ? L"LastSpamStatisticLog" : L"LastAntivirusStatisticLog", L"(none)");
  }

  // The first file: two local days, of which 00:30 on the second is still the first UTC day,
  // names holding quotes and backslashes, a line without a message and an overlong line
  // whose tail reads as a record. The second, in a subdirectory: the newest day.
  void writeTwoDays() {
    const std::wstring forged = L"2024/03/02 09:50:00:000 1 2 infected\tx\t<forged@x>\tFORGED\r\n";
    std::wstring longLine = L"2024/03/02 09:45:00:000 1 2 infected\tx\t<long@x>\t";
    longLine.resize(16000, L'L');
    writeLog("cadrolog_avstat_1.log",
               line(L"2024/03/01 10:00:00", L"clean\tx\t<a@b.c>\t") +
                   line(L"2024/03/01 10:05:00",
                        L"infected\tx\t\"Doe, John\" <john@example.com>, bare@example.com; <BIG@EXAMPLE.COM>\tEICAR") +
                   L"not a record\r\n" + line(L"2024/03/02 00:30:00", L"infected\tx\t<big@example.com>\tEICAR") +
                   line(L"2024/03/02 09:30:00", L"infected\tx\t<o'brien\\x@example.com>\tTrojan.\"Q'\\") +
                   line(L"2024/03/02 09:40:00", L"clean\ttoo few\tfields") + longLine + forged);
    writeLog("sub/cadrolog_avstat_2.log", line(L"2024/03/03 12:00:00", L"clean\tx\t\t") +
                                                line(L"2024/03/03 12:05:00", L"infected\tx\t<ünï@пример.рф>\tW32/Ä"));
  }

  ScopedTimeZone zone_{"JST-9"};
  TempDir dir_;
};

TYPED_TEST_SUITE(AvStatistics, ProviderTestEngines, ProviderTestEngineNames);

const Rows kTwoDays = {
    L"recipients|2024-03-01|bare@example.com|1",
    L"recipients|2024-03-01|big@example.com|2",
    L"recipients|2024-03-01|john@example.com|1",
    L"recipients|2024-03-02|o'brien\\x@example.com|1",
    L"recipients|2024-03-03|ünï@пример.рф|1",
    L"summary|2024-03-01|clean|1",
    L"summary|2024-03-01|infected|2",
    L"summary|2024-03-02|infected|1",
    L"summary|2024-03-03|clean|1",
    L"summary|2024-03-03|infected|1",
    L"viruses|2024-03-01|EICAR|2",
    L"viruses|2024-03-02|Trojan.\"Q'\\|1",
    L"viruses|2024-03-03|W32/Ä|1",
};

TYPED_TEST(AvStatistics, CountsPerUtcDayAndKeepsOnlyTheFileOfTheNewestDay) {
  this->writeTwoDays();
  this->writeLog("cadrolog_avstat_x.txt", line(L"2024/03/01 10:00:00", L"clean\tx\t\t"));
  this->writeLog("cadrolog_spamstat_1.log", line(L"2024/03/01 10:00:00", L"clean\tx\t\t"));
  ASSERT_EQ(::mkfifo(this->log("cadrolog_avstat_fifo.log").c_str(), 0600), 0);
  ASSERT_EQ(::symlink(this->log("sub/cadrolog_avstat_2.log").c_str(), this->log("cadrolog_avstat_link.log").c_str()),
            0);
  LogRecorder reports;
  this->pass();

  EXPECT_EQ(this->counts(), kTwoDays);
  EXPECT_EQ(this->last(), L"2024-03-03");
  EXPECT_FALSE(fileExists(this->log("cadrolog_avstat_1.log")));
  EXPECT_TRUE(fileExists(this->log("sub/cadrolog_avstat_2.log")));  // its day is recounted next time
  for (const char* untouched : {"cadrolog_avstat_x.txt", "cadrolog_spamstat_1.log", "cadrolog_avstat_fifo.log"})
    EXPECT_TRUE(fileExists(this->log(untouched))) << untouched;
  EXPECT_EQ(::access(this->log("cadrolog_avstat_link.log").c_str(), F_OK), 0);
  // The FIFO cannot be read: reported, and only its own counts are missing.
  EXPECT_TRUE(reports.contains(3, L"Can't open file " + text::fromUtf8(this->log("cadrolog_avstat_fifo.log"))));
  EXPECT_EQ(this->provider().transactionDepth(), 0);
}

TYPED_TEST(AvStatistics, RerunsRecountTheNewestDayFromTheKeptFileAndDeleteItAfterALaterDay) {
  this->writeTwoDays();
  this->pass();
  this->pass();
  EXPECT_EQ(this->counts(), kTwoDays);
  ASSERT_TRUE(fileExists(this->log("sub/cadrolog_avstat_2.log")));

  // The filter goes on writing the kept file: the newest day moves on, the file stays.
  const std::wstring kept = line(L"2024/03/03 12:00:00", L"clean\tx\t\t") +
                            line(L"2024/03/03 12:05:00", L"infected\tx\t<ünï@пример.рф>\tW32/Ä");
  this->writeLog("sub/cadrolog_avstat_2.log", kept + line(L"2024/03/04 12:00:00", L"clean\tx\t\t"));
  this->pass();
  Rows expected = kTwoDays;
  expected.push_back(L"summary|2024-03-04|clean|1");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(this->counts(), expected);
  EXPECT_TRUE(fileExists(this->log("sub/cadrolog_avstat_2.log")));

  // A new file takes the next day: the kept one is done with.
  this->writeLog("sub/cadrolog_avstat_3.log", line(L"2024/03/05 12:00:00", L"clean\tx\t\t"));
  this->pass();
  EXPECT_EQ(this->last(), L"2024-03-05");
  EXPECT_FALSE(fileExists(this->log("sub/cadrolog_avstat_2.log")));
  EXPECT_TRUE(fileExists(this->log("sub/cadrolog_avstat_3.log")));
  expected.push_back(L"summary|2024-03-05|clean|1");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(this->counts(), expected);
}

TYPED_TEST(AvStatistics, ANewFileOfALaterDayReadFirstLeavesTheRecountOfTheKeptDayWhole) {
  this->writeLog("cadrolog_avstat_b.log", line(L"2024/03/03 12:00:00", L"clean\tx\t\t") +
                                              line(L"2024/03/03 12:05:00", L"infected\tx\t<v@x>\tEICAR"));
  this->pass();
  ASSERT_TRUE(fileExists(this->log("cadrolog_avstat_b.log")));

  // Read before the kept file, and a day later than the one it recounts.
  this->writeLog("cadrolog_avstat_a.log", line(L"2024/03/04 12:00:00", L"clean\tx\t\t"));
  const Rows expected = {
      L"recipients|2024-03-03|v@x|1", L"summary|2024-03-03|clean|1", L"summary|2024-03-03|infected|1",
      L"summary|2024-03-04|clean|1",  L"viruses|2024-03-03|EICAR|1",
  };
  for (int run = 2; run <= 3; ++run) {  // the third recounts only the new day
    this->pass();
    EXPECT_EQ(this->counts(), expected) << "run " << run;
    EXPECT_EQ(this->last(), L"2024-03-04") << "run " << run;
    EXPECT_FALSE(fileExists(this->log("cadrolog_avstat_b.log"))) << "run " << run;
    EXPECT_TRUE(fileExists(this->log("cadrolog_avstat_a.log"))) << "run " << run;
  }
}

TYPED_TEST(AvStatistics, SpamCountsRecipientsOfInfectedMailButNoVirusNames) {
  this->writeLog("cadrolog_spamstat_1.log",
                 line(L"2024/03/01 10:00:00", L"infected\tx\t<Spam@Target.com>, other@x\tSomeVirus") +
                     line(L"2024/03/01 10:01:00", L"spam\tx\t<a@b>\t"));
  this->writeLog("cadrolog_avstat_1.log", line(L"2024/03/01 10:00:00", L"clean\tx\t\t"));
  this->pass(true);
  EXPECT_EQ(this->counts(), (Rows{L"spam_recipients|2024-03-01|other@x|1", L"spam_recipients|2024-03-01|spam@target.com|1",
                                  L"spam_summary|2024-03-01|infected|1", L"spam_summary|2024-03-01|spam|1"}));
  EXPECT_EQ(this->last(true), L"2024-03-01");
  EXPECT_EQ(this->last(), L"(none)");
  EXPECT_TRUE(fileExists(this->log("cadrolog_avstat_1.log")));

  // The antivirus pass recounts only its own types.
  this->pass();
  this->pass(true);
  EXPECT_EQ(this->counts().size(), 5u);
}

TYPED_TEST(AvStatistics, DaysThatComeBackAndNamesTheDatabaseHoldsEqualShareARow) {
  const std::wstring longName(300, L'v');
  this->writeLog("cadrolog_avstat_1.log",
                 line(L"2024/03/01 10:00:00", L"infected\tx\t\tEICAR") +
                     line(L"2024/03/02 10:00:00", L"infected\tx\t\tEICAR") +
                     line(L"2024/03/01 11:00:00", L"infected\tx\t\teicar") +
                     line(L"2024/03/01 11:00:00", L"infected\tx\t\t" + longName) +
                     line(L"2024/03/01 11:00:00", L"infected\tx\t\t" + longName + L"-other"));
  this->pass();
  const std::wstring cut(255, L'v');
  EXPECT_EQ(this->counts(), (Rows{L"summary|2024-03-01|infected|4", L"summary|2024-03-02|infected|1",
                                  L"viruses|2024-03-01|EICAR|2", L"viruses|2024-03-01|" + cut + L"|2",
                                  L"viruses|2024-03-02|EICAR|1"}));
}

TYPED_TEST(AvStatistics, WithoutLogsTheLastDayStaysAndRetentionRuns) {
  this->db().setMiscParam(L"LastAntivirusStatisticLog", L"2024-03-03");
  const VDateTime now = VDateTime::nowUtc();
  auto day = [&](int ago) { return (now - ago * 86400).toSqlDateText(); };
  this->run(L"DELETE FROM misc WHERE param = 'AVStatisticRotationPeriod'");
  for (int ago : {10, 29, 31, 40})
    this->run(L"INSERT INTO avstatistics (`type`, `date`, name, val) VALUES ('spam_summary', '" + day(ago) +
              L"', 'clean', " + std::to_wstring(ago) + L")");
  this->pass();  // no log directory at all
  EXPECT_EQ(this->last(), L"2024-03-03");
  EXPECT_EQ(this->rows(L"SELECT val FROM avstatistics ORDER BY val"), (Rows{L"10", L"29"}));  // 30 days kept

  this->db().setMiscParam(L"AVStatisticRotationPeriod", L"20");
  std::filesystem::create_directories(this->logs());
  this->pass();
  EXPECT_EQ(this->rows(L"SELECT val FROM avstatistics"), Rows{L"10"});
  this->db().setMiscParam(L"AVStatisticRotationPeriod", L"-5");  // no retention reaching into the future
  this->pass();
  EXPECT_EQ(this->rows(L"SELECT val FROM avstatistics"), Rows{L"10"});
}

TYPED_TEST(AvStatistics, AFailedPassRollsBackAndKeepsEveryFile) {
  this->writeTwoDays();
  this->pass();
  this->writeLog("sub/cadrolog_avstat_3.log", line(L"2024/03/05 12:00:00", L"clean\tx\t\t"));
  this->provider().failWhenContains = L"misc (param, val)";
  EXPECT_THROW(this->pass(), vexception);
  EXPECT_EQ(this->provider().transactionDepth(), 0);
  this->provider().failWhenContains.clear();
  EXPECT_EQ(this->counts(), kTwoDays);
  EXPECT_EQ(this->last(), L"2024-03-03");
  EXPECT_TRUE(fileExists(this->log("sub/cadrolog_avstat_2.log")));
  EXPECT_TRUE(fileExists(this->log("sub/cadrolog_avstat_3.log")));

  this->pass();
  EXPECT_EQ(this->last(), L"2024-03-05");
  EXPECT_EQ(this->counts().size(), kTwoDays.size() + 1);
}

}  // namespace
