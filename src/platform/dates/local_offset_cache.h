#pragma once
// The process time zone's offset from UTC for code that converts many moments close to each
// other, such as every line of a day's log. Zones change their offset only at quarter
// hours, so the offset is asked once per quarter hour of UTC and kept for the last
// kQuarters quarter hours asked (direct-mapped by the quarter's number). The time zone is
// read when a quarter hour is first asked: a cache serves one run, not a change of TZ.

#include <array>
#include <cstdint>

#include "platform/dates/vdatetime.h"
#include "platform/text/civil_calendar.h"

class LocalOffsetCache {
 public:
  static constexpr size_t kQuarters = 256;

  // The offset east of UTC, in seconds, that applies at the Unix time `utc`. False when
  // the offset there is not a whole number of quarter hours (the local mean times of old
  // dates), which may then change within a quarter hour: such moments are converted one by
  // one. Raises as VDateTime::toLocal for a moment outside its range.
  // The quarter hour already kept, which is nearly every call, is answered inline.
  bool offsetAt(int64_t utc, int64_t& offset) {
    const int64_t quarter = civil::floorDiv(utc, 900);
    const Entry& entry = entries_[static_cast<size_t>(quarter) % kQuarters];
    if (entry.quarter != quarter) return askOffset(quarter, offset);
    offset = entry.offset;
    return entry.whole;
  }

  // `utc` in local time, as VDateTime::toLocal gives it (the same failures).
  VDateTime toLocal(const VDateTime& utc);

 private:
  // Asks the zone for the offset of `quarter`, keeps it and answers as offsetAt.
  bool askOffset(int64_t quarter, int64_t& offset);

  struct Entry {
    int64_t quarter = INT64_MIN;
    int64_t offset = 0;
    bool whole = false;
  };
  std::array<Entry, kQuarters> entries_{};
};
