#pragma once
// statistics::LogForWebalizer: the writer of a domain whose statistics generator is
// Webalizer. One writer serves the domain and all its subdomains. HTTP lines are written
// in the common log format, FTP lines in the transfer-log format; the line time is
// written as the traffic task hands it over, without a time-zone conversion.

#include "webstat/log_for_analyser.h"

class statistics::LogForWebalizer : public statistics::LogForAnalyser {
 public:
  using LogForAnalyser::LogForAnalyser;

  // `<ip> <user> - [DD/MON/YYYY:hh:mm:ss] "<method> <stem> <version>" <status> <bytes>
  // <referer> "<agent>" ` and CR LF; a missing value is "-", an agent "-" is written bare.
  void processHTTPLogLine(const VDateTime& lineTime, int logType, const W3CRecord& fields) override;
  // `<Www> <MON> DD hh:mm:ss YYYY 0 <ip> <bytes> <stem> b _ <o|i> <a|r> <user> <version> 1 * c`
  // and LF: the bytes sent for a download, received for an upload; "a" for anonymous FTP.
  void processFTPLogLine(const VDateTime& lineTime, int logType, const W3CRecord& fields, bool download) override;
  // Starts Webalizer over the type's temporary log and waits for it: quiet unless the run
  // is verbose, the installation's configuration, the domain as the host name, the shared
  // DNS cache, incremental, the type's log format, the pages into the domain's statistics
  // directory of the type (created when missing). The previous "index.html" there is moved
  // aside and comes back when the program cannot be started; afterwards a private AWStats
  // copy left there is removed and the pages are made readable (failures only warned of).
  void run(int logType) override;
  // The program's arguments for the type's log with the pages into `statisticsPath`.
  std::wstring commandArguments(int logType, const std::wstring& statisticsPath);

  // The fields the two formats read, in the order of the Field enumeration.
  static const std::array<std::wstring_view, 10> kFieldList;

 private:
  analyser_line::FieldHandles<10> handles_{kFieldList};
};
