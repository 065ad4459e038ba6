#include "traffic/log_line_rules.h"

#include "platform/report/log_manager.h"
#include "platform/text/text_codec.h"
#include "traffic/ip_address_text.h"

namespace {

using namespace std::string_view_literals;

bool startsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
  return text.size() >= prefix.size() && text::equalsNoCase(text.substr(0, prefix.size()), prefix);
}

bool isEmptyValue(std::wstring_view value) { return value.empty() || value == L"-"sv; }

// A report of a per-line event, composed only when someone receives it.
template <typename... A>
void lineReport(int level, std::wstring_view format, const A&... args) {
  if (LogManager::instance().wouldReport(level)) vreport(level, format, args...);
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

}  // namespace

bool readIisDate(std::wstring_view date, IisMoment& out) {
  if (date.size() != 10 || date[4] != L'-' || date[7] != L'-') return false;
  const int year = digitsAt(date, 0, 4), month = digitsAt(date, 5, 2), day = digitsAt(date, 8, 2);
  // Other years are left to the general reader, whatever it makes of them.
  if (year < 1970 || year > 9998 || month < 1 || month > 12) return false;
  if (day < 1 || day > VDateTime::daysInMonth(year, month)) return false;
  out.year = year;
  out.month = month;
  out.day = day;
  return true;
}

bool readIisClock(std::wstring_view time, IisMoment& out) {
  if (time.size() != 8 || time[2] != L':' || time[5] != L':') return false;
  const int hour = digitsAt(time, 0, 2), minute = digitsAt(time, 3, 2), second = digitsAt(time, 6, 2);
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) return false;
  out.hour = hour;
  out.minute = minute;
  out.second = second;
  return true;
}

VDateTime w3cLineTime(std::wstring_view date, std::wstring_view time) {
  if (IisMoment m; readIisDate(date, m) && readIisClock(time, m))
    return VDateTime(m.year, m.month, m.day, m.hour, m.minute, m.second);
  VDateTime t = VDateTime::parse(date, L"YMD"sv);
  const VDateTime clock = VDateTime::parse(time, L"hms"sv);
  t.hour = clock.hour;
  t.minute = clock.minute;
  t.second = clock.second;
  return t;
}

bool checkLineDate(const VDateTime& t) {
  if (t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= VDateTime::daysInMonth(t.year, t.month)) return true;
  lineReport(1, L"Invalid datetime %04d/%02d/%02d skipped", t.year, t.month, t.day);
  return false;
}

bool isSitePreview(std::wstring_view uriStem) {
  constexpr std::wstring_view kPreview = L"/sitepreview/sitepreview.dll";
  const bool preview =
      startsWithNoCase(uriStem, kPreview) || (!uriStem.empty() && startsWithNoCase(uriStem.substr(1), kPreview));
  if (preview) lineReport(0, L"Domain sitepreview skipped");
  return preview;
}

FtpMethod ftpMethodRule(std::wstring_view method) {
  lineReport(0, L"FTP csMethod='%s'", method);
  if (const size_t bracket = method.rfind(L']'); bracket != std::wstring_view::npos) {
    method.remove_prefix(bracket + 1);
    lineReport(0, L"truncate FTP csMethod='%s'", method);
  }
  if (text::equalsNoCase(method, L"sent"sv)) return {true, true};
  if (text::equalsNoCase(method, L"created"sv)) return {true, false};
  lineReport(0, L"csMethod != 'sent' and csMethod != 'created' - skip");
  return {};
}

std::wstring_view httpHostText(std::wstring_view csHost, std::wstring_view referer, std::wstring_view uriQuery) {
  if (!isEmptyValue(csHost) && !looksLikeIPAddress(csHost)) return csHost;
  if (!isEmptyValue(referer)) return referer;
  return uriQuery;
}

bool namesNoHost(std::wstring_view hostText) { return isEmptyValue(hostText) || looksLikeIPAddress(hostText); }

std::wstring_view hostNameOf(std::wstring_view text, bool directoryHasDomain) {
  if (startsWithNoCase(text, L"http://"sv))
    text.remove_prefix(7);
  else if (startsWithNoCase(text, L"https://"sv))
    text.remove_prefix(8);
  if (!text.empty() && text.front() == L'/') {
    if (directoryHasDomain) return {};
    text.remove_prefix(1);
  }
  size_t end = 0;
  while (end < text.size() && text[end] != L'\\' && text[end] != L'/' && text[end] != L':') ++end;
  return text.substr(0, end);
}

std::wstring_view withoutWww(std::wstring_view host) {
  return startsWithNoCase(host, L"www."sv) ? host.substr(4) : host;
}
