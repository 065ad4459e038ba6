#include "webstat/log_for_awstats.h"

#include "traffic/log_line_rules.h"


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

bool statistics::LogForAWStats::buildAsciiLine(const W3CRecord& fields, std::string& out) {
  const std::array<W3CField, 22>& field = handles_.of(fields);
  const std::wstring_view date = fields.get(field[0]);
  const std::wstring_view time = fields.get(field[1]);
  // Lines without a date or time, or of other shapes than IIS writes, take the general way.
  if (date.size() != 10 || time.size() != 8) return false;
  const VDateTime utc = w3cLineTime(date, time);
  if (utc.year < 1970 || !utc.isValid()) return false;
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
