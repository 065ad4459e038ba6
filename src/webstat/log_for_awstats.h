#pragma once
// statistics::LogForAWStats: the writer of one host (the domain or one of its subdomains)
// of a domain whose statistics generator is AWStats. Lines keep the W3C extended layout:
// the date and time converted from UTC to local time, then the values of the fields from
// "s-sitename" to "time-taken" in a fixed order, "-" for a missing value.

#include <array>
#include <string_view>

#include "webstat/log_for_analyser.h"

class statistics::LogForAWStats : public statistics::LogForAnalyser {
 public:
  // The W3C fields of the AWStats log format, in the order they are written.
  static const std::array<std::wstring_view, 22> kFieldList;

  using LogForAnalyser::LogForAnalyser;

  // `YYYY-MM-DD hh:mm:ss` (local time) and the 20 values, blank-separated. A "date" or
  // "time" of "-" or missing writes both as they stand, without conversion.
  void processHTTPLogLine(const VDateTime& lineTime, int logType, const W3CRecord& fields) override;
  // As the HTTP line, with the writer's host name for a missing "cs-host", and an upload
  // (a method "created", possibly after a bracketed connection number) written as "sent".
  void processFTPLogLine(const VDateTime& lineTime, int logType, const W3CRecord& fields, bool download) override;
  // Runs AWStats over the type's temporary log: writes the host's configuration
  // "awstats.<host>.conf" in the installation (from its earlier one or the model), keeps the
  // private copy of the AWStats web files in the domain's statistics directory of the type
  // current, updates AWStats' history through Perl and writes the 21 report pages there.
  // Without an installation it reports "AWStats is not installed..." once per process.
  void run(int logType) override;

 private:
  void buildLine(const W3CRecord& fields, bool ftp);
  // The HTTP line straight as bytes, for a line of ASCII text whose date and time have the
  // shape IIS writes ("YYYY-MM-DD", "hh:mm:ss") and valid values; false for any other
  // line, which buildLine writes instead.
  bool buildAsciiLine(const W3CRecord& fields, std::string& out);
  // `utc` in local time. Zones change their offset only at quarter hours, so the offset of
  // the last quarter hour asked serves every line of it (log lines come in time order).
  VDateTime localTime(const VDateTime& utc);

  analyser_line::FieldHandles<22> handles_{kFieldList};
  VDateTime slot_;       // the quarter hour (UTC) whose local start is kept
  VDateTime localSlot_;  // its start in local time
  bool slotKept_ = false;
};
