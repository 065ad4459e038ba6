#include "db/ado/jet_dates.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "platform/text/civil_calendar.h"

namespace ado::jet {

namespace {

constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kMinYear = 100;
constexpr int64_t kMaxYear = 9999;
constexpr int64_t kSerialOfEpoch = 25569;  // 1970-01-01 counted from 1899-12-30

using civil::civilFromDays;
using civil::daysFromCivil;
using civil::daysInMonth;
using civil::floorDiv;
using Civil = civil::Date;

int64_t dayNumber(DateTime v) { return floorDiv(v.seconds, kSecondsPerDay); }
int64_t secondOfDay(DateTime v) { return v.seconds - dayNumber(v) * kSecondsPerDay; }

std::optional<DateTime> checked(int64_t seconds) {
  const int64_t year = civilFromDays(floorDiv(seconds, kSecondsPerDay)).year;
  if (year < kMinYear || year > kMaxYear) return std::nullopt;
  return DateTime{seconds};
}

// Reads between `minDigits` and `maxDigits` decimal digits.
bool readNumber(std::string_view text, size_t& i, size_t minDigits, size_t maxDigits, int& out) {
  size_t start = i;
  int value = 0;
  while (i < text.size() && i - start < maxDigits && text[i] >= '0' && text[i] <= '9') value = value * 10 + (text[i++] - '0');
  if (i - start < minDigits) return false;
  out = value;
  return true;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool unitIs(std::string_view unit, std::string_view name) {
  if (unit.size() != name.size()) return false;
  for (size_t i = 0; i < unit.size(); ++i)
    if (lowerAscii(unit[i]) != name[i]) return false;
  return true;
}

std::optional<DateTime> addMonths(DateTime value, int64_t months) {
  // Far outside the valid range already: no need to do the calendar arithmetic.
  if (months > 12 * (kMaxYear + 1) || months < -12 * (kMaxYear + 1)) return std::nullopt;
  Civil c = civilFromDays(dayNumber(value));
  int64_t total = c.year * 12 + (c.month - 1) + months;
  int64_t year = floorDiv(total, 12);
  int month = static_cast<int>(total - year * 12) + 1;
  if (year < kMinYear || year > kMaxYear) return std::nullopt;
  int day = c.day < daysInMonth(year, month) ? c.day : daysInMonth(year, month);
  return DateTime{daysFromCivil(year, month, day) * kSecondsPerDay + secondOfDay(value)};
}

std::optional<DateTime> addSeconds(DateTime value, int64_t count, int64_t unitSeconds) {
  constexpr int64_t kRange = (kMaxYear + 1) * 366 * kSecondsPerDay;
  if (count > kRange / unitSeconds || count < -kRange / unitSeconds) return std::nullopt;
  return checked(value.seconds + count * unitSeconds);
}

}  // namespace

std::optional<DateTime> fromCivil(int64_t year, int month, int day, int hour, int minute, int second) {
  if (year < kMinYear || year > kMaxYear || month < 1 || month > 12) return std::nullopt;
  if (day < 1 || day > daysInMonth(year, month)) return std::nullopt;
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) return std::nullopt;
  return DateTime{daysFromCivil(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60 + second};
}

std::optional<DateTime> parseDate(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  size_t i = 0;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!readNumber(text, i, 4, 4, year)) return std::nullopt;
  if (i >= text.size() || (text[i] != '-' && text[i] != '/')) return std::nullopt;
  const char separator = text[i++];
  if (!readNumber(text, i, 1, 2, month)) return std::nullopt;
  if (i >= text.size() || text[i++] != separator) return std::nullopt;
  if (!readNumber(text, i, 1, 2, day)) return std::nullopt;
  if (i < text.size()) {
    if (text[i] != ' ' && text[i] != 'T') return std::nullopt;
    ++i;
    if (!readNumber(text, i, 1, 2, hour)) return std::nullopt;
    if (i >= text.size() || text[i++] != ':') return std::nullopt;
    if (!readNumber(text, i, 2, 2, minute)) return std::nullopt;
    if (i < text.size()) {
      if (text[i++] != ':') return std::nullopt;
      if (!readNumber(text, i, 2, 2, second)) return std::nullopt;
      if (i < text.size() && text[i] == '.') {
        ++i;
        size_t digits = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        if (i == digits) return std::nullopt;
      }
    }
    if (i != text.size()) return std::nullopt;
  }
  return fromCivil(year, month, day, hour, minute, second);
}

std::optional<DateTime> fromSerial(double serial) {
  if (!std::isfinite(serial)) return std::nullopt;
  // Beyond any valid date: stops the conversion below from overflowing.
  if (std::fabs(serial) > 4.0e6) return std::nullopt;
  const double days = std::floor(serial);
  int64_t seconds = std::llround((serial - days) * kSecondsPerDay);
  return checked((static_cast<int64_t>(days) - kSerialOfEpoch) * kSecondsPerDay + seconds);
}

std::string formatDate(DateTime value) {
  const Civil c = civilFromDays(dayNumber(value));
  const int64_t s = secondOfDay(value);
  char buffer[48];
  if (s == 0) {
    std::snprintf(buffer, sizeof buffer, "%04lld-%02d-%02d", static_cast<long long>(c.year), c.month, c.day);
  } else {
    std::snprintf(buffer, sizeof buffer, "%04lld-%02d-%02d %02d:%02d:%02d", static_cast<long long>(c.year), c.month,
                  c.day, static_cast<int>(s / 3600), static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
  }
  return buffer;
}

int64_t yearOf(DateTime value) { return civilFromDays(dayNumber(value)).year; }
int monthOf(DateTime value) { return civilFromDays(dayNumber(value)).month; }
int dayOf(DateTime value) { return civilFromDays(dayNumber(value)).day; }

std::optional<DateTime> addInterval(DateTime value, std::string_view unit, int64_t count) {
  if (unitIs(unit, "yyyy")) {
    if (count > kMaxYear || count < -kMaxYear) return std::nullopt;
    return addMonths(value, count * 12);
  }
  if (unitIs(unit, "q")) {
    if (count > 4 * kMaxYear || count < -4 * kMaxYear) return std::nullopt;
    return addMonths(value, count * 3);
  }
  if (unitIs(unit, "m")) return addMonths(value, count);
  if (unitIs(unit, "y") || unitIs(unit, "d") || unitIs(unit, "w")) return addSeconds(value, count, kSecondsPerDay);
  if (unitIs(unit, "ww")) return addSeconds(value, count, 7 * kSecondsPerDay);
  if (unitIs(unit, "h")) return addSeconds(value, count, 3600);
  if (unitIs(unit, "n")) return addSeconds(value, count, 60);
  if (unitIs(unit, "s")) return addSeconds(value, count, 1);
  return std::nullopt;
}

DateTime localNow() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return DateTime{daysFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) * kSecondsPerDay +
                  local.tm_hour * 3600 + local.tm_min * 60 + (local.tm_sec > 59 ? 59 : local.tm_sec)};
}

}  // namespace ado::jet
