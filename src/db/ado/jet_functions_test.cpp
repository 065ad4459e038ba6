// The Jet functions on a SQLite connection: the date forms they produce compare as dates,
// the interval arithmetic of DATEADD, and the failures Jet gives for values that are no
// dates.
#include "db/ado/jet_functions.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <ctime>
#include <string>

#include "db/ado/jet_dates.h"
#include "db/ado/jet_sql.h"

namespace {

class JetFunctions : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
    std::string error;
    ASSERT_TRUE(ado::jet::registerFunctions(db_, error)) << error;
  }
  void TearDown() override { sqlite3_close(db_); }

  // The value of one expression, "NULL" for NULL, "error: ..." when it fails.
  std::string eval(const std::string& expression) {
    const std::string sql = ado::jet::rewriteForSqlite("SELECT " + expression);
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
      return std::string("error: ") + sqlite3_errmsg(db_);
    std::string out;
    if (sqlite3_step(stmt) == SQLITE_ROW) {
      sqlite3_value* v = sqlite3_column_value(stmt, 0);
      out = sqlite3_value_type(v) == SQLITE_NULL ? "NULL" : ado::jet::valueText(v);
    } else {
      out = std::string("error: ") + sqlite3_errmsg(db_);
    }
    sqlite3_finalize(stmt);
    return out;
  }

  sqlite3* db_ = nullptr;
};

TEST_F(JetFunctions, CDateWritesTheStoredForm) {
  EXPECT_EQ(eval("CDate('2024-01-05')"), "2024-01-05");
  EXPECT_EQ(eval("cdate(' 2024/1/5 ')"), "2024-01-05");
  EXPECT_EQ(eval("CDATE('2024-01-05 00:00:00')"), "2024-01-05");  // midnight is the day itself
  EXPECT_EQ(eval("CDate('2024-01-05T07:08:09.250')"), "2024-01-05 07:08:09");
  EXPECT_EQ(eval("CDate('2024-01-05 7:08')"), "2024-01-05 07:08:00");
  EXPECT_EQ(eval("CDate(45296.5)"), "2024-01-05 12:00:00");  // a date serial
  EXPECT_EQ(eval("CDate(NULL)"), "NULL");
  for (const char* bad : {"'2024-02-30'", "'2023-02-29'", "'yesterday'", "'2024-01-05 24:00'", "'0099-01-01'",
                          "'2024-01-05 x'", "''"})
    EXPECT_EQ(eval(std::string("CDate(") + bad + ")"), "error: Data type mismatch in criteria expression.") << bad;
  EXPECT_EQ(eval("CDate('2024-02-29')"), "2024-02-29");
}

TEST_F(JetFunctions, DateaddCoversEveryIntervalAndClampsMonthEnds) {
  EXPECT_EQ(eval("DATEADD('yyyy', 1, '2024-02-29')"), "2025-02-28");
  EXPECT_EQ(eval("DATEADD('q', 1, '2024-11-30')"), "2025-02-28");
  EXPECT_EQ(eval("DATEADD('m', -1, '2024-03-31')"), "2024-02-29");
  EXPECT_EQ(eval("DATEADD('m', -13, '2024-01-15')"), "2022-12-15");
  EXPECT_EQ(eval("DATEADD('y', 1, '2024-12-31')"), "2025-01-01");
  EXPECT_EQ(eval("DATEADD('d', -(DAY('2024-03-17') - 1), '2024-03-17')"), "2024-03-01");
  EXPECT_EQ(eval("DATEADD('w', 2, '2024-01-05')"), "2024-01-07");
  EXPECT_EQ(eval("DATEADD('ww', -2, '2024-01-05')"), "2023-12-22");
  EXPECT_EQ(eval("DATEADD('h', 25, '2024-01-05')"), "2024-01-06 01:00:00");
  EXPECT_EQ(eval("DATEADD('n', -1, '2024-01-01')"), "2023-12-31 23:59:00");
  EXPECT_EQ(eval("DATEADD('s', 86400, '2024-01-05 10:00:00')"), "2024-01-06 10:00:00");
  EXPECT_EQ(eval("DATEADD(\"M\", 1, CDate('2024-01-31'))"), "2024-02-29");
  EXPECT_EQ(eval("DATEADD(m, 1, '2024-01-31')"), "2024-02-29");  // a bare interval word
  EXPECT_EQ(eval("DATEADD('d', 1.6, '2024-01-05')"), "2024-01-07");  // counts are rounded
  EXPECT_EQ(eval("DATEADD('d', NULL, '2024-01-05')"), "NULL");
  EXPECT_EQ(eval("DATEADD('fortnight', 1, '2024-01-05')"), "error: Invalid procedure call or argument");
  EXPECT_EQ(eval("DATEADD('yyyy', 8000, '2024-01-05')"), "error: Invalid procedure call or argument");
  EXPECT_EQ(eval("DATEADD('s', 9223372036854775807, '2024-01-05')"), "error: Invalid procedure call or argument");
  EXPECT_EQ(eval("DATEADD('d', 1, 'soon')"), "error: Data type mismatch in criteria expression.");
}

TEST_F(JetFunctions, TodayAndNowAreLocalAndCompareWithStoredDays) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char today[16];
  std::strftime(today, sizeof today, "%Y-%m-%d", &local);
  const std::string date = eval("DATE()");
  if (date != today) GTEST_SKIP() << "the day changed during the test";
  EXPECT_EQ(eval("date()"), today);
  const std::string stamp = eval("NOW()");
  EXPECT_EQ(stamp.substr(0, 10), today);
  EXPECT_TRUE(stamp.size() == 10 || stamp.size() == 19) << stamp;
  EXPECT_EQ(eval("YEAR(DATE())"), std::to_string(local.tm_year + 1900));
  EXPECT_EQ(eval("MONTH(NOW())"), std::to_string(local.tm_mon + 1));
  EXPECT_EQ(eval("DAY(DATE())"), std::to_string(local.tm_mday));
  // A day written by the program equals CDate of it and the DATEADD of DATE().
  EXPECT_EQ(eval("CDate('" + std::string(today) + "') = DATE()"), "1");
  EXPECT_EQ(eval("DATEADD('d', 0, DATE()) = '" + std::string(today) + "'"), "1");
  EXPECT_EQ(eval("NOW() >= DATE()"), "1");
  EXPECT_EQ(eval("DATEADD('d', 1, DATE()) > NOW()"), "1");
  // SQLite's own date() keeps its arguments.
  EXPECT_EQ(eval("date('2024-01-05', '+1 day')"), "2024-01-06");
}

TEST_F(JetFunctions, DatePartsCstrAndChr) {
  EXPECT_EQ(eval("YEAR('2024-01-05 10:00:00')"), "2024");
  EXPECT_EQ(eval("MONTH('2024-12-05')"), "12");
  EXPECT_EQ(eval("DAY(NULL)"), "NULL");
  EXPECT_EQ(eval("YEAR('x')"), "error: Data type mismatch in criteria expression.");
  EXPECT_EQ(eval("cstr(17)"), "17");
  EXPECT_EQ(eval("CSTR(0.1)"), "0.1");
  EXPECT_EQ(eval("cstr('abc')"), "abc");
  EXPECT_EQ(eval("cstr(NULL)"), "NULL");
  EXPECT_EQ(eval("cstr(17) = '17'"), "1");
  EXPECT_EQ(eval("Chr(65)"), "A");
  EXPECT_EQ(eval("length(CAST(Chr(0) AS BLOB))"), "1");
  EXPECT_EQ(eval("Chr(128)"), "error: Invalid procedure call or argument");
  EXPECT_EQ(eval("Chr(NULL)"), "NULL");
}

TEST(JetDates, TextFormsAndArithmetic) {
  using namespace ado::jet;
  auto day = parseDate("2000-02-29");
  ASSERT_TRUE(day);
  EXPECT_EQ(formatDate(*day), "2000-02-29");
  EXPECT_FALSE(parseDate("1900-02-29"));  // not a leap year
  EXPECT_EQ(formatDate(*addInterval(*day, "yyyy", -100)), "1900-02-28");
  EXPECT_EQ(formatDate(*fromCivil(100, 1, 1)), "0100-01-01");
  EXPECT_FALSE(addInterval(*fromCivil(100, 1, 1), "d", -1));
  EXPECT_FALSE(addInterval(*fromCivil(9999, 12, 31, 23, 59, 59), "s", 1));
  EXPECT_EQ(formatDate(*fromSerial(2.25)), "1900-01-01 06:00:00");
  EXPECT_FALSE(fromSerial(1e300));
  EXPECT_EQ(yearOf(*parseDate("1969-12-31 23:59:59")), 1969);
  EXPECT_EQ(dayOf(*parseDate("1969-12-31 23:59:59")), 31);
}

}  // namespace
