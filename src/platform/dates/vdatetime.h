#pragma once
// A date and time with the fields of the Windows system time record. The record itself says
// nothing about its zone: the program keeps UTC values unless a name says otherwise, and
// converts through the process time zone (TZ) where local time is wanted.
//
// The all-zero value (the default) stands for "no time at all" and compares lower than every
// real date. Comparisons look at the fields from year down to milliseconds; the day of the
// week is derived and never compared.
//
// Conversions and arithmetic need a valid calendar value: year 1601..30827 (the range of a
// file time), month 1..12, a day that exists in that month (Gregorian leap years), hour
// 0..23, minute and second 0..59, milliseconds 0..999. An invalid value (the zero value, a
// month 13, a day 32) raises the OS error 87 naming the value instead of being normalised.

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

class VDateTime {
 public:
  int year = 0;
  int month = 0;      // 1..12
  int dayOfWeek = 0;  // 0 = Sunday; set by the conversions, ignored by comparisons
  int day = 0;        // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int milliseconds = 0;

  VDateTime() = default;
  // Sets the day of the week when the date is valid, leaves it 0 otherwise.
  VDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
            int milliseconds = 0);

  // The current moment with milliseconds, in UTC and in the process time zone.
  static VDateTime nowUtc();
  static VDateTime nowLocal();

  // File time: 100-nanosecond intervals since 1601-01-01 00:00 UTC. A negative file time
  // raises OS error 87.
  static VDateTime fromFileTime(int64_t fileTime);
  int64_t toFileTime() const;
  // Seconds since 1970-01-01 00:00 UTC (negative before), plus milliseconds 0..999.
  static VDateTime fromUnixTime(int64_t seconds, int milliseconds = 0);
  // Whole seconds since 1970 (milliseconds dropped).
  int64_t toUnixTime() const;

  // This value read as UTC, shown in the process time zone (offset in force at that moment).
  VDateTime toLocal() const;
  // This value read as local time in the process time zone, shown in UTC. A local time that
  // occurs twice (the hour the clocks go back) is taken at its first occurrence; one that
  // does not exist (the hour skipped when the clocks go forward) is read with the offset in
  // force before the change.
  VDateTime toUtc() const;

  // Arithmetic in seconds; milliseconds are kept. Raise for invalid values or a result
  // outside the file-time range.
  VDateTime& addSeconds(int64_t seconds);
  friend VDateTime operator+(VDateTime t, int64_t seconds) { return t.addSeconds(seconds); }
  friend VDateTime operator-(VDateTime t, int64_t seconds) { return t.addSeconds(-seconds); }
  // Whole seconds from `b` to `a` (negative when `a` is earlier), truncated toward zero.
  friend int64_t operator-(const VDateTime& a, const VDateTime& b);

  bool isValid() const;
  bool isZero() const { return *this == VDateTime(); }
  // The same day with the time fields zero (a day key).
  VDateTime date() const;
  // The day of the week computed from the date (0 = Sunday); raises for an invalid date.
  int weekday() const;

  static bool isLeapYear(int year);
  // Days of the month (28..31); 0 for a month outside 1..12.
  static int daysInMonth(int year, int month);

  // Parses `text` by `pattern`: each pattern letter takes the next run of decimal digits
  // of the text after skipping any non-digits: "Y" year, "M" month, "D" day, "h" hour,
  // "m" minute, "s" second. A year written below 50 becomes 2000 + year, below 100
  // 1900 + year. When the text runs out of digits, the remaining fields stay 0 (an empty
  // text gives the zero value), so a short text yields a value that isValid() rejects
  // rather than a guessed date. Runs too long for a field saturate at 999999999. Any other
  // character in the pattern raises vexception "Invalid datetime format".
  static VDateTime parse(std::wstring_view text, std::wstring_view pattern);

  // "%04d/%02d/%02d %02d:%02d:%02d": the form of the registry time stamps.
  std::wstring toRegistryText() const;
  // "%04d-%02d-%02d": the date form of SQL literals.
  std::wstring toSqlDateText() const;

  friend bool operator==(const VDateTime& a, const VDateTime& b);
  friend std::strong_ordering operator<=>(const VDateTime& a, const VDateTime& b);
};
