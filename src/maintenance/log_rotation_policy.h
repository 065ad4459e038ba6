#pragma once
// A domain's log-rotation policy as the control panel stores it (table `log_rotation`, named
// by the domain parameter "logrotation_id" in `dom_param`), the entries of a log directory
// the rotation looks at, their order, and the rule that tells the current log from the
// finished ones.
//
// The policy's columns are free text that the control panel's users may have written; every
// value is read leniently: a number that is not one gives 0, a switch is on only when its
// text begins with "true" (case ignored), a period that is not known marks no log as
// current.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/dates/vdatetime.h"

struct LogRotationPolicy {
  int32_t maxNumberOfLogFiles = 0;  // files kept per directory
  bool compress = false;            // finished logs are zipped
  std::wstring email;               // recipient of removed logs; empty: none mailed
  bool turnedOn = false;
  bool bySize = false;        // period_type "by_size"
  int64_t sizeThreshold = 0;  // by size: the newest log is current up to this many bytes
  std::wstring period;        // by time: "daily", "weekly", "monthly" (lower-cased)

  // The policy of one row of logrotate::getQuery, given as its six values in the query's
  // column order.
  static LogRotationPolicy fromColumns(const std::wstring& maxNumberOfLogFiles, const std::wstring& compressEnable,
                                       const std::wstring& email, const std::wstring& turnedOn,
                                       const std::wstring& periodType, const std::wstring& period);
};

// Whether a switch column is on: its text begins with "true", case ignored.
bool policySwitchOn(std::wstring_view value);

// One regular file of a log directory.
struct LogFileEntry {
  std::wstring path;
  VDateTime lastWriteTime;  // UTC; zero when the stamp is outside the calendar's range
  int64_t size = 0;

  // Whether the name ends in ".zip" (case ignored).
  bool isArchive() const;
};

// The rotation's order: an archive comes before every other file; otherwise the earlier
// last-write time comes first. Sorts over it are stable.
bool logEntryLess(const LogFileEntry& a, const LogFileEntry& b);

// Whether `newest`, the newest log of a directory, is still being written under `policy` at
// the moment `nowUtc`: by size while it holds no more than the threshold; daily while it was
// written within the last day; weekly and monthly only when, in addition, it was last
// written on a Sunday or on the first day of a month. An unknown period never has a current
// log, nor has a time stamp outside the calendar.
bool isCurrentLog(const LogRotationPolicy& policy, const LogFileEntry& newest, const VDateTime& nowUtc);

namespace logrotate {

// The policy statement for the domain `escapedDomainId` (already escaped by the provider).
// The Jet dialect compares the text parameter with the identifier through cstr(); the
// other providers ("MySQL", "MSSQL", any case) compare them as they are.
std::wstring getQuery(std::wstring_view providerName, const std::wstring& escapedDomainId);

}  // namespace logrotate
