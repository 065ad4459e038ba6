#include "webstat/log_for_analyser.h"

#include "platform/report/guard.h"
#include "platform/report/log_manager.h"
#include "platform/text/vformat.h"

statistics::LogForAnalyser::LogForAnalyser(std::wstring domainName, std::wstring hostName,
                                           std::wstring defaultDocument, text::NarrowCodec codec)
    : domainName_(std::move(domainName)),
      hostName_(std::move(hostName)),
      defaultDocument_(defaultDocument.empty() ? std::wstring(L"index.html") : std::move(defaultDocument)),
      codec_(std::move(codec)) {}

statistics::LogForAnalyser::~LogForAnalyser() = default;

statistics::LogFile& statistics::LogForAnalyser::getLogFile(int logType) {
  if (logType < 0 || logType >= kLogTypes)
    throw ArgumentException(vformat(L"Invalid log type %d", logType), VCTX(L"", "statistics::LogForAnalyser::getLogFile"));
  return files_[static_cast<size_t>(logType)];
}

AnalyserRunSettings& statistics::LogForAnalyser::runSettings() const {
  if (!runSettings_)
    throw vexception(L"The analyser run settings are not set", VCTX(L"", "statistics::LogForAnalyser::runSettings"));
  return *runSettings_;
}

const wchar_t* statistics::LogForAnalyser::statisticsDirectoryName(int logType) {
  static constexpr const wchar_t* kNames[] = {L"webstat", L"anon_ftpstat", L"ftpstat"};
  if (logType < 0 || logType > 2)
    throw ArgumentException(vformat(L"Log type %d has no statistics directory", logType),
                            VCTX(L"", "statistics::LogForAnalyser::statisticsDirectoryName"));
  return kNames[logType];
}

bool statistics::LogForAnalyser::hasLogData(int logType) {
  LogFile& file = getLogFile(logType);
  if (!file.isOpen()) return false;
  file.flush();
  return file.size() > 0;
}

void statistics::LogForAnalyser::checkLogFile(int logType) {
  LogFile& file = getLogFile(logType);
  if (!file.isOpen()) file.create(domainName_);
}

void statistics::LogForAnalyser::writeLineToLog(LogFile& file, std::wstring_view line) {
  file.appendBuilt([&](std::string& out) {
    const size_t start = out.size();
    codec_.appendEncoded(line, out);
    if (out.size() > start && out.back() != '\n') out.push_back('\n');
    return true;
  });
}

void statistics::LogForAnalyser::reportFtpRecord(std::wstring_view line) {
  if (LogManager::instance().wouldReport(0)) vreport(0, L"Add FTP record='%s'", line);
}

void statistics::LogForAnalyser::rethrowWriteFailure(const LogFile& file, bool ftp, const char* operation) {
  guard::rethrowCurrent(ContextRecord{vformat(ftp ? L"Write to ftp log file %s" : L"Write to http log file %s", file.path()),
                                      operation, __LINE__});
}

namespace analyser_line {

void appendClock(std::wstring& out, const VDateTime& t) {
  appendNumber(out, t.hour, 2);
  out.push_back(L':');
  appendNumber(out, t.minute, 2);
  out.push_back(L':');
  appendNumber(out, t.second, 2);
}

bool appendAscii(std::string& out, std::wstring_view value) {
  const size_t at = out.size();
  out.resize(at + value.size());
  return text::copyAsciiRun(value.data(), value.size(), out.data() + at) == value.size();
}

void appendNumber(std::wstring& out, int value, int width) {
  wchar_t digits[16];
  int n = 0;
  unsigned v = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
  do {
    digits[n++] = static_cast<wchar_t>(L'0' + v % 10);
    v /= 10;
  } while (v != 0 && n < 16);
  if (value < 0) out.push_back(L'-');
  for (int i = n; i < width; ++i) out.push_back(L'0');
  while (n > 0) out.push_back(digits[--n]);
}

std::wstring_view monthName(int month) {
  static constexpr std::wstring_view kMonths[] = {L"JAN", L"FEB", L"MAR", L"APR", L"MAY", L"JUN",
                                                  L"JUL", L"AUG", L"SEP", L"OCT", L"NOV", L"DEC"};
  return month >= 1 && month <= 12 ? kMonths[month - 1] : std::wstring_view(L"???");
}

std::wstring_view weekdayName(int weekday) {
  static constexpr std::wstring_view kDays[] = {L"Sun", L"Mon", L"Tue", L"Wed", L"Thu", L"Fri", L"Sat"};
  return weekday >= 0 && weekday <= 6 ? kDays[weekday] : std::wstring_view(L"???");
}

}  // namespace analyser_line
