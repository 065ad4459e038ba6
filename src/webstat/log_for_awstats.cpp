#include "webstat/log_for_awstats.h"


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

// The digits text[from, from+count) as a number; -1 when one of them is not a digit.
int digitsAt(std::wstring_view text, size_t from, size_t count) {
  int value = 0;
  for (size_t i = from; i < from + count; ++i) {
    const wchar_t c = text[i];
    if (c < L'0' || c > L'9') return -1;
    value = value * 10 + (c - L'0');
  }
  return value;
}

// "YYYY-MM-DD" and "hh:mm:ss" with values in range, as IIS writes them, of years from 1970.
bool readIisMoment(std::wstring_view date, std::wstring_view time, VDateTime& out) {
  if (date.size() != 10 || date[4] != L'-' || date[7] != L'-') return false;
  if (time.size() != 8 || time[2] != L':' || time[5] != L':') return false;
  const int year = digitsAt(date, 0, 4), month = digitsAt(date, 5, 2), day = digitsAt(date, 8, 2);
  const int hour = digitsAt(time, 0, 2), minute = digitsAt(time, 3, 2), second = digitsAt(time, 6, 2);
  // Other years are left to the general reader, whatever it makes of them.
  if (year < 1970 || year > 9998 || month < 1 || month > 12 || day < 1 || day > VDateTime::daysInMonth(year, month)) return false;
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) return false;
  out = VDateTime(year, month, day, hour, minute, second);
  return true;
}

// Writes `value` as `width` digits at `at` (value has at most `width` digits).
void putDigits(char* at, int value, int width) {
  for (int i = width - 1; i >= 0; --i, value /= 10) at[i] = static_cast<char>('0' + value % 10);
}

}  // namespace

VDateTime statistics::LogForAWStats::localTime(const VDateTime& utc) {
  const int quarter = utc.minute - utc.minute % 15;
  if (utc.second < 0 || utc.second > 59 || utc.minute < 0) return utc.toLocal();  // raises for the invalid value
  if (!slotKept_ || utc.year != slot_.year || utc.month != slot_.month || utc.day != slot_.day ||
      utc.hour != slot_.hour || quarter != slot_.minute) {
    const VDateTime slot(utc.year, utc.month, utc.day, utc.hour, quarter, 0);
    const VDateTime local = slot.toLocal();
    // An offset of whole quarter hours keeps the local quarter's minutes and seconds in
    // step with the UTC ones; any other offset (local mean times of old dates) is
    // converted line by line.
    slotKept_ = (local - slot) % 900 == 0;
    if (!slotKept_) return utc.toLocal();
    slot_ = slot;
    localSlot_ = local;
  }
  VDateTime t = localSlot_;
  t.minute += utc.minute - quarter;
  t.second = utc.second;
  return t;
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
    VDateTime utc = VDateTime::parse(date, L"YMD"sv);
    const VDateTime clock = VDateTime::parse(time, L"hms"sv);
    utc.hour = clock.hour;
    utc.minute = clock.minute;
    utc.second = clock.second;
    const VDateTime t = localTime(utc);
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

bool statistics::LogForAWStats::buildAsciiLine(const W3CRecord& fields, std::string& out) {
  const std::array<W3CField, 22>& field = handles_.of(fields);
  VDateTime utc;
  if (!readIisMoment(fields.get(field[0]), fields.get(field[1]), utc)) return false;
  const VDateTime t = localTime(utc);
  if (t.year < 1 || t.year > 9999) return false;
  out.resize(19);
  char* at = out.data();
  putDigits(at, t.year, 4);
  at[4] = '-';
  putDigits(at + 5, t.month, 2);
  at[7] = '-';
  putDigits(at + 8, t.day, 2);
  at[10] = ' ';
  putDigits(at + 11, t.hour, 2);
  at[13] = ':';
  putDigits(at + 14, t.minute, 2);
  at[16] = ':';
  putDigits(at + 17, t.second, 2);
  for (size_t i = 2; i < kFieldList.size(); ++i) {
    out.push_back(' ');
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
