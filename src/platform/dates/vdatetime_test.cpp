#include "platform/dates/vdatetime.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

#include "platform/report/vexception.h"

namespace {

VDateTime at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  return VDateTime(y, mo, d, h, mi, s, ms);
}

// Sets TZ for one test and restores the previous zone afterwards.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* prev = std::getenv("TZ")) previous_ = prev, hadPrevious_ = true;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (hadPrevious_)
      setenv("TZ", previous_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  std::string previous_;
  bool hadPrevious_ = false;
};

}  // namespace

TEST(VDateTimeParse, TakesDigitRunsInPatternOrderAfterSkippingNonDigits) {
  EXPECT_EQ(VDateTime::parse(L"2007/04/06 18:02:32", L"YMDhms"), at(2007, 4, 6, 18, 2, 32));
  EXPECT_EQ(VDateTime::parse(L"  date: 2008-02-29T01:02:03Z", L"YMDhms"), at(2008, 2, 29, 1, 2, 3));
  EXPECT_EQ(VDateTime::parse(L"18:02:32", L"hms"), VDateTime(0, 0, 0, 18, 2, 32));
  // Letters may come in any order; repeated letters take the next run again.
  EXPECT_EQ(VDateTime::parse(L"06.04.2007", L"DMY"), at(2007, 4, 6));
  EXPECT_EQ(VDateTime::parse(L"1 2 2007", L"MMY"), VDateTime(2007, 2, 0));
  // Digits of other scripts are not decimal digits here.
  EXPECT_EQ(VDateTime::parse(L"\u0662\u0660 2007", L"Y"), VDateTime(2007, 0, 0));
  EXPECT_EQ(VDateTime::parse(L"2008-02-29", L"YMD").dayOfWeek, 5);
}

TEST(VDateTimeParse, ShortYearsFollowTheCenturyRule) {
  EXPECT_EQ(VDateTime::parse(L"07-04-06", L"YMD").year, 2007);
  EXPECT_EQ(VDateTime::parse(L"0", L"Y").year, 2000);
  EXPECT_EQ(VDateTime::parse(L"00", L"Y").year, 2000);
  EXPECT_EQ(VDateTime::parse(L"49", L"Y").year, 2049);
  EXPECT_EQ(VDateTime::parse(L"50", L"Y").year, 1950);
  EXPECT_EQ(VDateTime::parse(L"99", L"Y").year, 1999);
  EXPECT_EQ(VDateTime::parse(L"100", L"Y").year, 100);
  // Only the year: a month or day below 50 is left as written.
  EXPECT_EQ(VDateTime::parse(L"1-1", L"MD"), VDateTime(0, 1, 1));
}

TEST(VDateTimeParse, MissingDigitsLeaveFieldsZeroAndTheValueInvalid) {
  VDateTime empty = VDateTime::parse(L"", L"YMDhms");
  EXPECT_TRUE(empty.isZero());
  // A missing year is not "year 0 of this century".
  EXPECT_EQ(VDateTime::parse(L"no digits", L"YMD").year, 0);
  VDateTime truncated = VDateTime::parse(L"2007/04", L"YMDhms");
  EXPECT_EQ(truncated, VDateTime(2007, 4, 0));
  EXPECT_FALSE(truncated.isValid());
  // A run too long for a field saturates instead of overflowing.
  EXPECT_EQ(VDateTime::parse(L"99999999999999999999999/1", L"YM").year, 999999999);
  EXPECT_EQ(VDateTime::parse(L"99999999999999999999999/1", L"YM").month, 1);
}

TEST(VDateTimeParse, AnyOtherPatternCharacterIsRejected) {
  for (const wchar_t* pattern : {L"YMDx", L"y", L"Y-M-D", L"YMDhmsS", L" "}) {
    try {
      VDateTime::parse(L"2007-04-06", pattern);
      ADD_FAILURE() << "pattern accepted";
    } catch (const vosexception&) {
      ADD_FAILURE() << "not a plain vexception";
    } catch (const vexception& e) {
      EXPECT_EQ(e.message(), L"Invalid datetime format");
    }
  }
  EXPECT_TRUE(VDateTime::parse(L"2007", L"").isZero());
}

TEST(VDateTimeText, RegistryAndSqlForms) {
  VDateTime t = at(2007, 4, 6, 8, 2, 3, 456);
  EXPECT_EQ(t.toRegistryText(), L"2007/04/06 08:02:03");
  EXPECT_EQ(t.toSqlDateText(), L"2007-04-06");
  EXPECT_EQ(VDateTime().toRegistryText(), L"0000/00/00 00:00:00");
  EXPECT_EQ(VDateTime::parse(t.toRegistryText(), L"YMDhms"), at(2007, 4, 6, 8, 2, 3));
}

TEST(VDateTimeOrder, ZeroIsLowestAndFieldsCompareFromYearDown) {
  EXPECT_LT(VDateTime(), at(1601, 1, 1));
  EXPECT_LT(VDateTime(), VDateTime(0, 0, 0, 0, 0, 0, 1));
  EXPECT_LT(at(2007, 12, 31, 23, 59, 59, 999), at(2008, 1, 1));
  EXPECT_LT(at(2008, 1, 1, 0, 0, 0, 1), at(2008, 1, 1, 0, 0, 1));
  EXPECT_GT(at(2008, 2, 1), at(2008, 1, 31, 23));
  // The day of the week is derived and takes no part.
  VDateTime a = at(2008, 2, 29), b = a;
  b.dayOfWeek = 0;
  EXPECT_EQ(a, b);
  EXPECT_FALSE(a < b || b < a);
}

TEST(VDateTimeArithmetic, SecondsCarryAcrossMonthYearAndLeapDays) {
  EXPECT_EQ(at(2008, 1, 31, 23, 59, 59) + 1, at(2008, 2, 1));
  EXPECT_EQ(at(2007, 12, 31, 23, 59, 59, 500) + 1, at(2008, 1, 1, 0, 0, 0, 500));
  EXPECT_EQ(at(2008, 2, 28, 12) + 86400, at(2008, 2, 29, 12));
  EXPECT_EQ(at(2007, 2, 28, 12) + 86400, at(2007, 3, 1, 12));
  EXPECT_EQ(at(2000, 2, 28) + 86400, at(2000, 2, 29));  // divisible by 400: leap
  EXPECT_EQ(at(2100, 2, 28) + 86400, at(2100, 3, 1));   // divisible by 100: not
  EXPECT_EQ(at(2008, 3, 1) - 86400, at(2008, 2, 29));
  EXPECT_EQ(at(2008, 1, 1) - 1, at(2007, 12, 31, 23, 59, 59));
  EXPECT_EQ((at(2008, 1, 1) + 259200).dayOfWeek, 5);  // Tuesday + 3 days

  EXPECT_EQ(at(2008, 3, 1) - at(2008, 2, 28), 172800);
  EXPECT_EQ(at(2007, 3, 1) - at(2007, 2, 28), 86400);
  EXPECT_EQ(at(2007, 1, 1) - at(2008, 1, 1), -365 * 86400);
  // Whole seconds, truncated toward zero.
  EXPECT_EQ(at(2008, 1, 1, 0, 0, 1, 100) - at(2008, 1, 1, 0, 0, 0, 900), 0);
  EXPECT_EQ(at(2008, 1, 1, 0, 0, 0, 900) - at(2008, 1, 1, 0, 0, 2, 100), -1);
}

TEST(VDateTimeConversion, FileAndUnixTimes) {
  EXPECT_EQ(at(1601, 1, 1).toFileTime(), 0);
  EXPECT_EQ(VDateTime::fromFileTime(0), at(1601, 1, 1));
  EXPECT_EQ(VDateTime::fromFileTime(0).dayOfWeek, 1);  // a Monday
  EXPECT_EQ(at(1970, 1, 1).toFileTime(), 116444736000000000LL);
  EXPECT_EQ(at(1970, 1, 1, 0, 0, 1, 5).toFileTime(), 116444736010050000LL);
  EXPECT_EQ(VDateTime::fromFileTime(116444736010059999LL), at(1970, 1, 1, 0, 0, 1, 5));

  EXPECT_EQ(at(2008, 2, 29, 12, 34, 56).toUnixTime(), 1204288496);
  EXPECT_EQ(VDateTime::fromUnixTime(1204288496, 7), at(2008, 2, 29, 12, 34, 56, 7));
  EXPECT_EQ(VDateTime::fromUnixTime(-1), at(1969, 12, 31, 23, 59, 59));
  EXPECT_EQ(at(1969, 12, 31, 23, 59, 59, 999).toUnixTime(), -1);
  const VDateTime last = at(30827, 12, 31, 23, 59, 59, 999);
  EXPECT_EQ(VDateTime::fromFileTime(last.toFileTime()), last);

  EXPECT_THROW(VDateTime::fromFileTime(-1), vosexception);
  EXPECT_THROW(at(30827, 12, 31, 23, 59, 59) + 1, vosexception);
  EXPECT_THROW(at(1601, 1, 1) - 1, vosexception);

  time_t before = std::time(nullptr);
  VDateTime now = VDateTime::nowUtc();
  EXPECT_TRUE(now.isValid());
  EXPECT_GE(now.toUnixTime(), before);
  EXPECT_LE(now.toUnixTime(), std::time(nullptr));
}

TEST(VDateTimeConversion, InvalidCalendarValuesRaiseInsteadOfWrapping) {
  ScopedTimeZone zone("UTC");
  for (VDateTime bad : {VDateTime(), VDateTime(2007, 13, 1), VDateTime(2007, 1, 32), VDateTime(2007, 2, 29),
                        VDateTime(2007, 4, 31), VDateTime(2007, 1, 1, 24), VDateTime(2007, 1, 1, 0, 60),
                        VDateTime(2007, 1, 1, 0, 0, 0, 1000), VDateTime(1600, 12, 31)}) {
    EXPECT_FALSE(bad.isValid());
    try {
      bad.toFileTime();
      ADD_FAILURE() << "accepted " << bad.year << "/" << bad.month << "/" << bad.day;
    } catch (const vosexception& e) {
      EXPECT_EQ(e.code(), winerr::kInvalidParameter);
      EXPECT_NE(e.message().find(L"SystemTimeToFileTime(" + std::to_wstring(bad.year)), std::wstring::npos);
    }
    EXPECT_THROW(bad.toLocal(), vosexception);
    EXPECT_THROW(bad.toUtc(), vosexception);
    EXPECT_THROW(bad + 1, vosexception);
    EXPECT_THROW(bad - at(2007, 1, 1), vosexception);
  }
  EXPECT_EQ(VDateTime(2007, 13, 1).dayOfWeek, 0);
  EXPECT_EQ(VDateTime::daysInMonth(2007, 13), 0);
}

TEST(VDateTimeZone, UtcZoneChangesNothing) {
  ScopedTimeZone zone("UTC");
  VDateTime t = at(2021, 3, 28, 2, 30, 0, 250);
  EXPECT_EQ(t.toLocal(), t);
  EXPECT_EQ(t.toUtc(), t);
}

// Central European rules, once as a POSIX rule and once from the zone database.
class VDateTimeBerlin : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    struct stat st;
    if (std::string(GetParam()) == "Europe/Berlin" && ::stat("/usr/share/zoneinfo/Europe/Berlin", &st) != 0)
      GTEST_SKIP() << "the zone database (tzdata) is not installed";
    zone_ = std::make_unique<ScopedTimeZone>(GetParam());
  }
  std::unique_ptr<ScopedTimeZone> zone_;
};

TEST_P(VDateTimeBerlin, UtcToLocalUsesTheOffsetOfThatMoment) {
  EXPECT_EQ(at(2021, 1, 15, 12).toLocal(), at(2021, 1, 15, 13));
  EXPECT_EQ(at(2021, 7, 15, 12, 0, 0, 42).toLocal(), at(2021, 7, 15, 14, 0, 0, 42));
  // The clocks go forward at 01:00 UTC on the last Sunday of March...
  EXPECT_EQ(at(2021, 3, 28, 0, 59, 59).toLocal(), at(2021, 3, 28, 1, 59, 59));
  EXPECT_EQ(at(2021, 3, 28, 1).toLocal(), at(2021, 3, 28, 3));
  // ...and back at 01:00 UTC on the last Sunday of October.
  EXPECT_EQ(at(2021, 10, 31, 0, 30).toLocal(), at(2021, 10, 31, 2, 30));
  EXPECT_EQ(at(2021, 10, 31, 1, 30).toLocal(), at(2021, 10, 31, 2, 30));
  // Midnight local belongs to the previous UTC day; the day of the week follows.
  VDateTime local = at(2021, 6, 1, 0, 30);
  EXPECT_EQ(local.toUtc(), at(2021, 5, 31, 22, 30));
  EXPECT_EQ(local.toUtc().dayOfWeek, 1);
  EXPECT_EQ(at(2021, 12, 31, 23, 30).toLocal(), at(2022, 1, 1, 0, 30));
}

TEST_P(VDateTimeBerlin, LocalToUtcAroundTheChanges) {
  EXPECT_EQ(at(2021, 1, 15, 13).toUtc(), at(2021, 1, 15, 12));
  EXPECT_EQ(at(2021, 7, 15, 14, 0, 0, 7).toUtc(), at(2021, 7, 15, 12, 0, 0, 7));
  EXPECT_EQ(at(2021, 3, 28, 1, 59, 59).toUtc(), at(2021, 3, 28, 0, 59, 59));
  EXPECT_EQ(at(2021, 3, 28, 3).toUtc(), at(2021, 3, 28, 1));
  // 02:30 does not exist that night: read with winter time.
  EXPECT_EQ(at(2021, 3, 28, 2, 30).toUtc(), at(2021, 3, 28, 1, 30));
  // 02:30 exists twice in October: the first one is taken.
  EXPECT_EQ(at(2021, 10, 31, 2, 30).toUtc(), at(2021, 10, 31, 0, 30));
  EXPECT_EQ(at(2021, 10, 31, 3, 0).toUtc(), at(2021, 10, 31, 2, 0));
  // Every unambiguous hour of a year comes back to itself.
  for (VDateTime t = at(2021, 1, 1); t < at(2022, 1, 1); t.addSeconds(3600)) {
    if (t >= at(2021, 10, 31, 1) && t < at(2021, 10, 31, 2)) continue;  // the second 02:xx
    ASSERT_EQ(t.toLocal().toUtc(), t) << std::string(t.toRegistryText().begin(), t.toRegistryText().end());
  }
}

INSTANTIATE_TEST_SUITE_P(Zones, VDateTimeBerlin,
                         ::testing::Values("CET-1CEST,M3.5.0,M10.5.0/3", "Europe/Berlin"),
                         [](const auto& info) {
                           return std::string(info.index == 0 ? "PosixRule" : "ZoneDatabase");
                         });
