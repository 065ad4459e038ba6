#include "webstat/log_for_webalizer.h"


using namespace std::literals;
using analyser_line::appendNumber;
using analyser_line::valueOr;

const std::array<std::wstring_view, 10> statistics::LogForWebalizer::kFieldList = {
    L"c-ip",      L"cs-username", L"cs-method",   L"cs-uri-stem",    L"cs-version",
    L"sc-status", L"sc-bytes",    L"cs(Referer)", L"cs(User-Agent)", L"cs-bytes"};

namespace {
enum Field { kClientIp, kUserName, kMethod, kStem, kVersion, kStatus, kBytesSent, kReferer, kUserAgent, kBytesReceived };
}  // namespace

void statistics::LogForWebalizer::processHTTPLogLine(const VDateTime& t, int logType, const W3CRecord& fields) {
  writeLine(logType, false, "statistics::LogForWebalizer::processHTTPLogLine", [&](std::wstring& l) {
    const std::array<W3CField, 10>& f = handles_.of(fields);
    l.append(valueOr(fields.get(f[kClientIp]), L"-"sv)).push_back(L' ');
    l.append(valueOr(fields.get(f[kUserName]), L"-"sv)).push_back(L' ');
    l.append(L"- ["sv);
    appendNumber(l, t.day, 2);
    l.push_back(L'/');
    l.append(analyser_line::monthName(t.month)).push_back(L'/');
    appendNumber(l, t.year, 4);
    l.push_back(L':');
    analyser_line::appendClock(l, t);
    l.append(L"] \""sv);
    l.append(fields.get(f[kMethod])).push_back(L' ');
    l.append(fields.get(f[kStem])).push_back(L' ');
    l.append(fields.get(f[kVersion])).append(L"\" "sv);
    l.append(valueOr(fields.get(f[kStatus]), L"-"sv)).push_back(L' ');
    l.append(valueOr(fields.get(f[kBytesSent]), L"-"sv)).push_back(L' ');
    l.append(valueOr(fields.get(f[kReferer]), L"-"sv)).push_back(L' ');
    const std::wstring_view agent = fields.get(f[kUserAgent]);
    if (agent == std::wstring_view(L"-", 1)) {
      l.push_back(L'-');
    } else {
      l.push_back(L'"');
      l.append(agent).push_back(L'"');
    }
    l.append(L" \r\n"sv);
  });
}

void statistics::LogForWebalizer::processFTPLogLine(const VDateTime& t, int logType, const W3CRecord& fields,
                                                    bool download) {
  writeLine(logType, true, "statistics::LogForWebalizer::processFTPLogLine", [&](std::wstring& l) {
    const std::array<W3CField, 10>& f = handles_.of(fields);
    l.append(analyser_line::weekdayName(t.weekday())).push_back(L' ');
    l.append(analyser_line::monthName(t.month)).push_back(L' ');
    appendNumber(l, t.day, 2);
    l.push_back(L' ');
    analyser_line::appendClock(l, t);
    l.push_back(L' ');
    appendNumber(l, t.year, 4);
    l.append(L" 0 "sv);
    l.append(valueOr(fields.get(f[kClientIp]), L"-"sv)).push_back(L' ');
    l.append(valueOr(fields.get(f[download ? kBytesSent : kBytesReceived]), L"0"sv)).push_back(L' ');
    l.append(valueOr(fields.get(f[kStem]), L"-"sv)).push_back(L' ');
    l.append(L"b _ "sv);
    l.append(download ? L"o "sv : L"i "sv);
    l.append(logType == 1 ? L"a "sv : L"r "sv);
    l.append(valueOr(fields.get(f[kUserName]), L"-"sv)).push_back(L' ');
    l.append(valueOr(fields.get(f[kVersion]), L"ftp"sv)).push_back(L' ');
    l.append(L"1 * c\n"sv);
  });
}
