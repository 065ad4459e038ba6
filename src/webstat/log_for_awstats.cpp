#include "webstat/log_for_awstats.h"

#include <algorithm>
#include <cstring>
#include <span>


using namespace std::literals;
using analyser_line::appendNumber;
using analyser_line::valueOr;

const std::array<std::wstring_view, 22> statistics::LogForAWStats::kFieldList = {
    L"date",          L"time",           L"s-sitename",  L"s-computername",  L"s-ip",     L"cs-method",
    L"cs-uri-stem",   L"cs-uri-query",   L"s-port",      L"cs-username",     L"c-ip",     L"cs-version",
    L"cs(User-Agent)", L"cs(Cookie)",    L"cs(Referer)", L"cs-host",         L"sc-status", L"sc-substatus",
    L"sc-win32-status", L"sc-bytes",     L"cs-bytes",    L"time-taken"};

namespace {

constexpr size_t kMethodField = 5;
constexpr size_t kHostField = 15;

// Replaces the first "created" (compared without regard to case) in line[from, from+len)
// by "sent".
void presentUploadAsSent(std::wstring& line, size_t from, size_t length) {
  static constexpr std::wstring_view kCreated = L"created";
  for (size_t i = from; i + kCreated.size() <= from + length; ++i) {
    size_t k = 0;
    while (k < kCreated.size() && (line[i + k] | 0x20) == kCreated[k]) ++k;
    if (k == kCreated.size()) {
      line.replace(i, kCreated.size(), L"sent");
      return;
    }
  }
}

// Writes `value` (0..99) as two digits at `at`.
void putTwoDigits(char* at, int value) {
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  std::memcpy(at, kPairs + 2 * value, 2);
}

}  // namespace

LocalOffsetCache& statistics::LogForAWStats::offsets() {
  if (sharedOffsets_) return *sharedOffsets_;
  if (!ownOffsets_) ownOffsets_ = std::make_unique<LocalOffsetCache>();
  return *ownOffsets_;
}

bool statistics::LogForAWStats::localMomentOf(std::wstring_view date, std::wstring_view time, IisMoment& local) {
  IisMoment utc;
  if (!readIisClock(time, utc) || date.size() != keptDate_.size()) return false;
  if (!dayKept_ || std::memcmp(date.data(), keptDate_.data(), sizeof keptDate_) != 0) {
    dayKept_ = false;
    if (!readIisDate(date, utc)) return false;
    std::copy(date.begin(), date.end(), keptDate_.begin());
    keptDays_ = civil::daysFromCivil(utc.year, utc.month, utc.day);
    dayKept_ = true;
  }
  const int64_t seconds = keptDays_ * 86400 + utc.hour * 3600 + utc.minute * 60 + utc.second;
  int64_t offset = 0;
  if (!offsets().offsetAt(seconds, offset)) return false;
  const int64_t localSeconds = seconds + offset;
  const int64_t days = civil::floorDiv(localSeconds, 86400);
  if (days != keptLocalDays_) {
    keptLocalDate_ = civil::civilFromDays(days);
    keptLocalDays_ = days;
  }
  const auto ofDay = static_cast<int>(localSeconds - days * 86400);
  local = IisMoment{static_cast<int>(keptLocalDate_.year), keptLocalDate_.month, keptLocalDate_.day, ofDay / 3600,
                    ofDay / 60 % 60, ofDay % 60};
  return true;
}

void statistics::LogForAWStats::buildLine(const W3CRecord& fields, bool ftp) {
  std::wstring& l = line_;
  l.clear();
  const std::array<W3CField, 22>& field = handles_.of(fields);
  const std::wstring_view date = valueOr(fields.get(field[0]), L"-"sv);
  const std::wstring_view time = valueOr(fields.get(field[1]), L"-"sv);
  if (date == L"-"sv || time == L"-"sv) {
    l.append(date).push_back(L' ');
    l.append(time);
  } else {
    const VDateTime t = localTime(w3cLineTime(date, time));
    appendNumber(l, t.year, 4);
    l.push_back(L'-');
    appendNumber(l, t.month, 2);
    l.push_back(L'-');
    appendNumber(l, t.day, 2);
    l.push_back(L' ');
    analyser_line::appendClock(l, t);
  }
  for (size_t i = 2; i < kFieldList.size(); ++i) {
    l.push_back(L' ');
    std::wstring_view value = valueOr(fields.get(field[i]), L"-"sv);
    if (ftp && i == kHostField && value == L"-"sv) value = hostName();
    const size_t at = l.size();
    l.append(value);
    // Uploads are presented to AWStats as transfers. Only the method says so: a "created"
    // elsewhere in the line (a file or directory of that name) stays as it is.
    if (ftp && i == kMethodField) presentUploadAsSent(l, at, value.size());
  }
}

bool statistics::LogForAWStats::localMinuteOf(std::wstring_view date, std::wstring_view time) {
  // The seconds are checked here; the rest of the clock matches the kept minute, which was
  // read in full, or is read in full now.
  if (date.size() != keptDate_.size() || time.size() != 8 || time[5] != L':' || time[6] < L'0' || time[6] > L'5' ||
      time[7] < L'0' || time[7] > L'9')
    return false;
  // The kept minute belongs to the kept day: the day changes only when the minute is read anew.
  if (minuteKept_ && std::equal(time.begin(), time.begin() + 5, keptClock_.begin()) &&
      std::equal(date.begin(), date.end(), keptDate_.begin()))
    return true;
  minuteKept_ = false;
  IisMoment t;
  if (!localMomentOf(date, time, t)) return false;
  char* at = keptLocalMinute_.data();
  putTwoDigits(at, t.year / 100);
  putTwoDigits(at + 2, t.year % 100);
  at[4] = '-';
  putTwoDigits(at + 5, t.month);
  at[7] = '-';
  putTwoDigits(at + 8, t.day);
  at[10] = ' ';
  putTwoDigits(at + 11, t.hour);
  at[13] = ':';
  putTwoDigits(at + 14, t.minute);
  std::copy(time.begin(), time.begin() + 5, keptClock_.begin());
  minuteKept_ = true;
  return true;
}

bool statistics::LogForAWStats::buildAsciiLine(const W3CRecord& fields, std::string& out) {
  const std::array<W3CField, 22>& field = handles_.of(fields);
  // Lines without a date or time, or of other shapes than IIS writes, take the general way.
  const std::wstring_view time = fields.get(field[1]);
  if (!localMinuteOf(fields.get(field[0]), time)) return false;  // years 1969..9999
  // A whole number of quarter hours apart, both clocks show the same seconds.
  char stamp[20];
  std::memcpy(stamp, keptLocalMinute_.data(), keptLocalMinute_.size());
  stamp[16] = ':';
  stamp[17] = static_cast<char>(time[6]);
  stamp[18] = static_cast<char>(time[7]);
  stamp[19] = ' ';
  out.append(stamp, sizeof stamp);
  // A line read as ASCII gives its values as the bytes read; others are narrowed here.
  constexpr size_t kValues = kFieldList.size() - 2;
  if (fields.appendAsciiRun(handles_.run(), kValues, out) || fields.appendAsciiValues(std::span(field).subspan(2), out))
    return true;
  for (size_t i = 2; i < kFieldList.size(); ++i) {
    if (i > 2) out.push_back(' ');
    if (!analyser_line::appendAscii(out, valueOr(fields.get(field[i]), L"-"sv))) return false;
  }
  return true;
}

void statistics::LogForAWStats::processHTTPLogLine(const VDateTime&, int logType, const W3CRecord& fields) {
  // Most lines are ASCII: they go out as bytes without the wide line and its conversion.
  if (writeAsciiLine(logType, "statistics::LogForAWStats::processHTTPLogLine",
                     [&](std::string& out) { return buildAsciiLine(fields, out); }))
    return;
  writeLine(logType, false, "statistics::LogForAWStats::processHTTPLogLine", [&](std::wstring&) { buildLine(fields, false); });
}

void statistics::LogForAWStats::processFTPLogLine(const VDateTime&, int logType, const W3CRecord& fields, bool) {
  writeLine(logType, true, "statistics::LogForAWStats::processFTPLogLine", [&](std::wstring&) { buildLine(fields, true); });
}
