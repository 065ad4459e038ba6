#pragma once
// statistics::LogForAnalyser: the writer that turns the counted log lines of one domain (or
// one host of it) into the input of the domain's web statistics generator, one temporary
// log per log type (0 "HTTP", 1 "Anonimus FTP", 2 "FTP"; 3..5 never receive lines).
// LogForWebalizer and LogForAWStats give the line formats and the generator run.
//
// Text is written in the system code page (or the code page the writer is given):
// characters it cannot hold become '?', text that was invalid UTF-8 arrives as U+FFFD and is
// written so; a line never fails for its characters. Building and writing a line reuses the
// writer's buffers, so once they have grown to the longest line nothing is allocated.
//
// Single-threaded: a writer is used by the traffic task's thread only.

#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "app/statistics.h"
#include "platform/dates/vdatetime.h"
#include "platform/text/text_codec.h"
#include "traffic/w3c_field_handles.h"
#include "traffic/w3c_record.h"
#include "webstat/log_file.h"

class AnalyserRunSettings;

class statistics::LogForAnalyser {
 public:
  static constexpr int kLogTypes = 6;

  // `defaultDocument` empty stands for "index.html".
  LogForAnalyser(std::wstring domainName, std::wstring hostName, std::wstring defaultDocument,
                 text::NarrowCodec codec = text::NarrowCodec::system());
  // Deletes the temporary logs (see LogFile).
  virtual ~LogForAnalyser();
  LogForAnalyser(const LogForAnalyser&) = delete;
  LogForAnalyser& operator=(const LogForAnalyser&) = delete;

  // True when the type's temporary log is open and holds data. Writes out the buffered
  // lines first, so that a generator reading the file by path sees all of them (a failed
  // write raises as the line operations do).
  virtual bool hasLogData(int logType);
  // The type's temporary log record (its path is empty until created). A type outside
  // 0..5 raises ArgumentException.
  virtual LogFile& getLogFile(int logType);
  // One FTP line (types 1 and 2); `download` is set when the server sent the file.
  // Failures raise with the context "Write to ftp log file <path>".
  virtual void processFTPLogLine(const VDateTime& lineTime, int logType, const W3CRecord& fields, bool download) = 0;
  // One HTTP line (type 0). Failures raise with the context "Write to http log file <path>".
  virtual void processHTTPLogLine(const VDateTime& lineTime, int logType, const W3CRecord& fields) = 0;
  // Creates the type's temporary log unless it is open (see LogFile::create).
  virtual void checkLogFile(int logType);
  // Runs the generator over the type's temporary log.
  virtual void run(int logType) = 0;

  const std::wstring& domainName() const { return domainName_; }
  const std::wstring& hostName() const { return hostName_; }
  const std::wstring& defaultDocument() const { return defaultDocument_; }

  // The installation and run that `run` works with; it must outlive the writer (the run's
  // writer set gives its own to every writer it makes).
  void setRunSettings(AnalyserRunSettings* settings) { runSettings_ = settings; }

  // The statistics directory of a log type: "webstat" (0), "anon_ftpstat" (1), "ftpstat"
  // (2); a type without one raises ArgumentException.
  static const wchar_t* statisticsDirectoryName(int logType);

 protected:
  // The settings given with setRunSettings; raises vexception "The analyser run settings
  // are not set" without them.
  AnalyserRunSettings& runSettings() const;

  // Appends `line` converted to the writer's code page, with a line feed added when it is
  // not empty and does not end in one (see LogFile::append for the failures).
  void writeLineToLog(LogFile& file, std::wstring_view line);
  // Reports "Add FTP record='%s'" at level 0, composing it only when someone receives it.
  static void reportFtpRecord(std::wstring_view line);
  // Builds one line with build(line_) and writes it to the type's log; an FTP line is
  // reported first. Any failure passes on with the context "Write to http log file <path>"
  // (or "ftp") under `operation`.
  template <typename Build>
  void writeLine(int logType, bool ftp, const char* operation, Build&& build) {
    LogFile& file = getLogFile(logType);
    try {
      line_.clear();
      build(line_);
      if (ftp) reportFtpRecord(line_);
      writeLineToLog(file, line_);
    } catch (...) {
      rethrowWriteFailure(file, ftp, operation);
    }
  }

  // Writes a line that build(bytes) appends directly as bytes to the log's buffer, for code
  // pages that keep ASCII as it is: build returns false when the line needs more than ASCII,
  // and then nothing is written and false returned, as it is for any other code page.
  // Failures pass on as writeLine's do.
  template <typename Build>
  bool writeAsciiLine(int logType, const char* operation, Build&& build) {
    if (!codec_.keepsAscii()) return false;
    LogFile& file = getLogFile(logType);
    try {
      return file.appendBuilt([&](std::string& out) {
        if (!build(out)) return false;
        out.push_back('\n');
        return true;
      });
    } catch (...) {
      rethrowWriteFailure(file, false, operation);
    }
  }

  // The line being built; cleared, never shrunk.
  std::wstring line_;

 private:
  // Inside a catch block: the failure in flight, with the line operation's context.
  [[noreturn]] static void rethrowWriteFailure(const LogFile& file, bool ftp, const char* operation);

  std::wstring domainName_;
  std::wstring hostName_;
  std::wstring defaultDocument_;
  AnalyserRunSettings* runSettings_ = nullptr;
  text::NarrowCodec codec_;
  std::array<LogFile, kLogTypes> files_;
};

namespace analyser_line {

// Handles of a fixed list of field names (see W3CFieldHandles).
template <size_t N>
using FieldHandles = W3CFieldHandles<N>;

// The value of a field, unless it is empty or "-": then `fallback`.
inline std::wstring_view valueOr(std::wstring_view value, std::wstring_view fallback) {
  return value.empty() || (value.size() == 1 && value[0] == L'-') ? fallback : value;
}
// Appends `value` in decimal, padded with zeros to `width` digits.
void appendNumber(std::wstring& out, int value, int width);
// Appends "hh:mm:ss".
void appendClock(std::wstring& out, const VDateTime& t);
// Appends `value` as bytes when all its characters are ASCII; false (and `out` holding part
// of it) otherwise.
bool appendAscii(std::string& out, std::wstring_view value);
// "JAN".."DEC" for 1..12 ("???" outside), "Sun".."Sat" for 0..6.
std::wstring_view monthName(int month);
std::wstring_view weekdayName(int weekday);

}  // namespace analyser_line
