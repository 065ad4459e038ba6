#include "platform/dates/vdatetime.h"

#include <time.h>

#include <tuple>

#include "platform/text/civil_calendar.h"
#include "platform/report/vexception.h"
#include "platform/text/vformat.h"

namespace {

constexpr int64_t kTicksPerMillisecond = 10'000;
constexpr int64_t kTicksPerSecond = 10'000'000;
constexpr int64_t kSecondsPerDay = 86'400;
// Days from 1601-01-01 (the file-time origin) to 1970-01-01.
constexpr int64_t kDaysFrom1601To1970 = 134'774;
constexpr int kFirstYear = 1601;
constexpr int kLastYear = 30827;
constexpr int kFieldCap = 999'999'999;

using civil::daysFromCivil;
using civil::floorDiv;

void civilFromDays(int64_t z, int& year, int& month, int& day) {
  const civil::Date d = civil::civilFromDays(z);
  year = static_cast<int>(d.year);
  month = d.month;
  day = d.day;
}

int weekdayOfDays(int64_t daysSince1970) {
  // 1970-01-01 was a Thursday.
  int64_t w = (daysSince1970 + 4) % 7;
  return static_cast<int>(w < 0 ? w + 7 : w);
}

std::wstring fieldsText(const VDateTime& t) {
  return vformat(L"%04d/%02d/%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day, t.hour, t.minute,
                 t.second, t.milliseconds);
}

[[noreturn]] void raiseInvalid(const wchar_t* call, const VDateTime& t, const char* operation) {
  raiseOsError(std::wstring(call) + L"(" + fieldsText(t) + L")", winerr::kInvalidParameter,
               VCTX(L"", operation));
}

void requireValid(const VDateTime& t, const wchar_t* call, const char* operation) {
  if (!t.isValid()) raiseInvalid(call, t, operation);
}

// The offset east of UTC, in seconds, that the process time zone applies at `t`.
bool localOffsetAt(int64_t t, long& offset) {
  time_t tt = static_cast<time_t>(t);
  struct tm tmv;
  if (!localtime_r(&tt, &tmv)) return false;
  offset = tmv.tm_gmtoff;
  return true;
}

}  // namespace

VDateTime::VDateTime(int y, int mo, int d, int h, int mi, int s, int ms)
    : year(y), month(mo), day(d), hour(h), minute(mi), second(s), milliseconds(ms) {
  if (isValid()) dayOfWeek = weekday();
}

bool VDateTime::isLeapYear(int y) { return civil::isLeapYear(y); }

int VDateTime::daysInMonth(int y, int m) {
  if (m < 1 || m > 12) return 0;
  return civil::daysInMonth(y, m);
}

bool VDateTime::isValid() const {
  return year >= kFirstYear && year <= kLastYear && month >= 1 && month <= 12 && day >= 1 &&
         day <= daysInMonth(year, month) && hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 &&
         second >= 0 && second <= 59 && milliseconds >= 0 && milliseconds <= 999;
}

int VDateTime::weekday() const {
  requireValid(*this, L"GetDayOfWeek", "VDateTime::weekday");
  return weekdayOfDays(daysFromCivil(year, month, day));
}

VDateTime VDateTime::date() const {
  VDateTime d = *this;
  d.hour = d.minute = d.second = d.milliseconds = 0;
  return d;
}

int64_t VDateTime::toFileTime() const {
  requireValid(*this, L"SystemTimeToFileTime", "VDateTime::toFileTime");
  const int64_t days = daysFromCivil(year, month, day) + kDaysFrom1601To1970;
  const int64_t seconds = days * kSecondsPerDay + hour * 3600 + minute * 60 + second;
  return seconds * kTicksPerSecond + milliseconds * kTicksPerMillisecond;
}

VDateTime VDateTime::fromFileTime(int64_t fileTime) {
  if (fileTime < 0)
    raiseOsError(vformat(L"FileTimeToSystemTime(%I64d)", fileTime), winerr::kInvalidParameter,
                 VCTX(L"", "VDateTime::fromFileTime"));
  VDateTime t;
  const int64_t seconds = fileTime / kTicksPerSecond;
  const int64_t days = seconds / kSecondsPerDay;
  const int64_t rest = seconds % kSecondsPerDay;
  civilFromDays(days - kDaysFrom1601To1970, t.year, t.month, t.day);
  t.hour = static_cast<int>(rest / 3600);
  t.minute = static_cast<int>(rest / 60 % 60);
  t.second = static_cast<int>(rest % 60);
  t.milliseconds = static_cast<int>(fileTime % kTicksPerSecond / kTicksPerMillisecond);
  t.dayOfWeek = weekdayOfDays(days - kDaysFrom1601To1970);
  return t;
}

VDateTime VDateTime::fromUnixTime(int64_t seconds, int ms) {
  constexpr int64_t kMinSeconds = -kDaysFrom1601To1970 * kSecondsPerDay;
  constexpr int64_t kMaxSeconds = INT64_MAX / kTicksPerSecond - kDaysFrom1601To1970 * kSecondsPerDay - 1;
  if (seconds < kMinSeconds || seconds > kMaxSeconds || ms < 0 || ms > 999)
    raiseOsError(vformat(L"FileTimeToSystemTime(%I64d.%03d)", seconds, ms), winerr::kInvalidParameter,
                 VCTX(L"", "VDateTime::fromUnixTime"));
  return fromFileTime((seconds - kMinSeconds) * kTicksPerSecond + ms * kTicksPerMillisecond);
}

int64_t VDateTime::toUnixTime() const {
  return floorDiv(toFileTime(), kTicksPerSecond) - kDaysFrom1601To1970 * kSecondsPerDay;
}

VDateTime VDateTime::nowUtc() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return fromUnixTime(ts.tv_sec, static_cast<int>(ts.tv_nsec / 1'000'000));
}

VDateTime VDateTime::nowLocal() { return nowUtc().toLocal(); }

VDateTime VDateTime::toLocal() const {
  const int64_t t = toUnixTime();
  tzset();
  time_t tt = static_cast<time_t>(t);
  struct tm tmv;
  if (!localtime_r(&tt, &tmv)) raiseInvalid(L"FileTimeToLocalFileTime", *this, "VDateTime::toLocal");
  VDateTime local(tmv.tm_year + 1900, tmv.tm_mon + 1, tmv.tm_mday, tmv.tm_hour, tmv.tm_min, tmv.tm_sec,
                  milliseconds);
  local.dayOfWeek = tmv.tm_wday;
  return local;
}

VDateTime VDateTime::toUtc() const {
  // The fields read as if they were UTC; the true moment is that minus the zone's offset,
  // and the offset depends on the moment. Offsets a day before and after bracket any
  // change of the zone's rules near this time.
  const int64_t asUtc = toUnixTime();
  tzset();
  long before = 0, after = 0;
  if (!localOffsetAt(asUtc - kSecondsPerDay, before) || !localOffsetAt(asUtc + kSecondsPerDay, after))
    raiseInvalid(L"LocalFileTimeToFileTime", *this, "VDateTime::toUtc");
  int64_t best = 0;
  bool found = false;
  for (long offset : {before, after}) {
    const int64_t candidate = asUtc - offset;
    long actual = 0;
    if (localOffsetAt(candidate, actual) && actual == offset && (!found || candidate < best)) {
      best = candidate;
      found = true;
    }
  }
  if (!found) best = asUtc - before;  // skipped local time: the clock as not yet moved
  return fromUnixTime(best, milliseconds);
}

VDateTime& VDateTime::addSeconds(int64_t seconds) {
  const int64_t ticks = toFileTime();
  int64_t delta = 0, result = 0;
  if (__builtin_mul_overflow(seconds, kTicksPerSecond, &delta) ||
      __builtin_add_overflow(ticks, delta, &result) || result < 0 || !fromFileTime(result).isValid())
    raiseInvalid(L"AddSeconds", *this, "VDateTime::addSeconds");
  *this = fromFileTime(result);
  return *this;
}

int64_t operator-(const VDateTime& a, const VDateTime& b) {
  return (a.toFileTime() - b.toFileTime()) / kTicksPerSecond;
}

VDateTime VDateTime::parse(std::wstring_view text, std::wstring_view pattern) {
  VDateTime t;
  size_t pos = 0;
  for (wchar_t letter : pattern) {
    int* field = nullptr;
    switch (letter) {
      case L'Y': field = &t.year; break;
      case L'M': field = &t.month; break;
      case L'D': field = &t.day; break;
      case L'h': field = &t.hour; break;
      case L'm': field = &t.minute; break;
      case L's': field = &t.second; break;
      default: throw vexception(L"Invalid datetime format", VCTX(L"", "VDateTime::parse"));
    }
    while (pos < text.size() && (text[pos] < L'0' || text[pos] > L'9')) ++pos;
    if (pos == text.size()) continue;  // no digits left: the field stays 0
    int value = 0;
    for (; pos < text.size() && text[pos] >= L'0' && text[pos] <= L'9'; ++pos)
      value = value > (kFieldCap - 9) / 10 ? kFieldCap : value * 10 + (text[pos] - L'0');
    if (field == &t.year) {
      if (value < 50)
        value += 2000;
      else if (value < 100)
        value += 1900;
    }
    *field = value;
  }
  if (t.isValid()) t.dayOfWeek = t.weekday();
  return t;
}

std::wstring VDateTime::toRegistryText() const {
  return vformat(L"%04d/%02d/%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
}

std::wstring VDateTime::toSqlDateText() const { return vformat(L"%04d-%02d-%02d", year, month, day); }

namespace {
auto key(const VDateTime& t) {
  return std::tie(t.year, t.month, t.day, t.hour, t.minute, t.second, t.milliseconds);
}
}  // namespace

bool operator==(const VDateTime& a, const VDateTime& b) { return key(a) == key(b); }

std::strong_ordering operator<=>(const VDateTime& a, const VDateTime& b) { return key(a) <=> key(b); }
