#pragma once
// A log time window of a domain: the period whose log lines one run counts, from where the
// run that counted before stopped (the stored start) to the moment this run loaded the
// window (the end). The end is stored when the domain's traffic has been stored and is the
// next run's start, so consecutive windows tile: both bounds have whole seconds, a line
// stamped at the start counts, one stamped at the end is left to the next run.
//
// The windows live in the domain's registry key (registry::domainKey) as REG_SZ values in
// the form "%04d/%02d/%02d %02d:%02d:%02d", UTC.

#include <string>

#include "platform/dates/vdatetime.h"

struct LogWindow {
  VDateTime start;
  VDateTime end;
  bool notLoaded = true;

  // Loads the window unless it is loaded. Start: `forcedStart` when it is not empty, else
  // the value `valueName` of the domain's key, else "LastStatisticsRun" under the
  // configuration key, each read with the VDateTime letters "YMDhms"; the zero date-time
  // when all are empty. End: the current UTC time with its milliseconds cleared. A value
  // of another type than a string raises the registry's type error.
  void load(const std::wstring& domainId, const wchar_t* valueName, const std::wstring& forcedStart);
  // Writes the end to the value `valueName` of the domain's key (created when missing) when
  // the window is loaded; nothing otherwise. Raises the registry's failure.
  void save(const std::wstring& domainId, const wchar_t* valueName) const;
  // Whether a line of the moment `t` belongs to the window: start <= t < end.
  bool contains(const VDateTime& t) const { return start <= t && t < end; }
};
