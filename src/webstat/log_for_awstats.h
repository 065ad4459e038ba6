#pragma once
// statistics::LogForAWStats: the writer of one host (the domain or one of its subdomains)
// of a domain whose statistics generator is AWStats. Lines keep the W3C extended layout:
// the date and time converted from UTC to local time, then the values of the fields from
// "s-sitename" to "time-taken" in a fixed order, "-" for a missing value.

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/dates/local_offset_cache.h"
#include "platform/text/civil_calendar.h"
#include "traffic/log_line_rules.h"
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

  // Converts line times with the zone offsets `cache` keeps (it must outlive the writer):
  // the writers of a run share one, so that each quarter hour's offset is asked once.
  void shareLocalOffsets(LocalOffsetCache* cache) { sharedOffsets_ = cache; }

 private:
  void buildLine(const W3CRecord& fields, bool ftp);
  // The HTTP line appended to `out` straight as bytes, for a line of ASCII text whose date
  // and time have the shape IIS writes ("YYYY-MM-DD", "hh:mm:ss") and valid values; false
  // for any other line, which buildLine writes instead.
  bool buildAsciiLine(const W3CRecord& fields, std::string& out);
  // `utc` in local time, through the offsets kept for the run.
  VDateTime localTime(const VDateTime& utc) { return offsets().toLocal(utc); }
  // The local moment of a line's "date" and "time" of the IIS shape; false for other text,
  // and when the zone's offset there is not whole quarter hours. Lines of one day come
  // together, so the day of the last line is kept in both calendars.
  bool localMomentOf(std::wstring_view date, std::wstring_view time, IisMoment& local);
  // As localMomentOf, kept as the text "YYYY-MM-DD hh:mm" in keptLocalMinute_: a line of
  // the minute kept is not read again but for its seconds.
  bool localMinuteOf(std::wstring_view date, std::wstring_view time);
  // The shared offsets, or the writer's own when none were shared.
  LocalOffsetCache& offsets();

  // Its run: the values from "s-sitename" on, which an IIS log keeps in this order.
  analyser_line::FieldHandles<22> handles_{kFieldList, 2};
  LocalOffsetCache* sharedOffsets_ = nullptr;
  std::unique_ptr<LocalOffsetCache> ownOffsets_;
  std::array<wchar_t, 10> keptDate_{};  // the "date" text of the kept UTC day, when dayKept_
  bool dayKept_ = false;
  int64_t keptDays_ = 0;                 // that day as days since 1970-01-01
  int64_t keptLocalDays_ = INT64_MIN;    // the kept local day, and its date
  civil::Date keptLocalDate_{};
  std::array<wchar_t, 5> keptClock_{};     // "hh:mm" of the kept minute of the kept day, when minuteKept_
  bool minuteKept_ = false;
  std::array<char, 16> keptLocalMinute_{};  // that minute in local time
};
