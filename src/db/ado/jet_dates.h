#pragma once
// Dates as the Jet file keeps them: ISO text, "YYYY-MM-DD HH:MM:SS", written without the
// time when it is midnight ("YYYY-MM-DD"), so that a day written by the program and a
// date computed by CDate, DATEADD, DATE() or NOW() compare correctly as text. The valid
// range is that of Jet, the years 100 to 9999.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ado::jet {

// Seconds since 1970-01-01 00:00:00 of a calendar without time zone.
struct DateTime {
  int64_t seconds = 0;
  friend bool operator==(const DateTime&, const DateTime&) = default;
};

// "YYYY-MM-DD" or "YYYY/MM/DD", optionally followed by " " or "T" and "HH:MM",
// "HH:MM:SS" or "HH:MM:SS.fraction" (the fraction is dropped); blanks around are allowed.
// nullopt for anything else or a day that does not exist.
std::optional<DateTime> parseDate(std::string_view text);
// A date serial number as Jet counts them: days since 1899-12-30, the fraction the time.
std::optional<DateTime> fromSerial(double serial);
std::optional<DateTime> fromCivil(int64_t year, int month, int day, int hour = 0, int minute = 0, int second = 0);

// The stored text form (see above).
std::string formatDate(DateTime value);

int64_t yearOf(DateTime value);
int monthOf(DateTime value);
int dayOf(DateTime value);

// DATEADD: `count` intervals of `unit` ("yyyy", "q", "m", "y", "d", "w", "ww", "h", "n",
// "s"; case ignored) added. Months and years keep the day, clamped to the end of a shorter
// month. nullopt for an unknown unit or a result outside the valid range.
std::optional<DateTime> addInterval(DateTime value, std::string_view unit, int64_t count);

// The current local date and time (the process's time zone), to the second.
DateTime localNow();

}  // namespace ado::jet
