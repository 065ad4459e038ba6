#pragma once
// The process time zone's offset from UTC for code that converts many moments close to each
// other, such as every line of a day's log. Zones change their offset only at quarter
// hours, so the offset is asked once per quarter hour of UTC and kept for the last
// kQuarters quarter hours asked (direct-mapped by the quarter's number). The time zone is
// read when a quarter hour is first asked: a cache serves one run, not a change of TZ.

#include <array>
#include <cstdint>

#include "platform/dates/vdatetime.h"

class LocalOffsetCache {
 public:
  static constexpr size_t kQuarters = 256;

  // The offset east of UTC, in seconds, that applies at the Unix time `utc`. False when
  // the offset there is not a whole number of quarter hours (the local mean times of old
  // dates), which may then change within a quarter hour: such moments are converted one by
  // one. Raises as VDateTime::toLocal for a moment outside its range.
  bool offsetAt(int64_t utc, int64_t& offset);

  // `utc` in local time, as VDateTime::toLocal gives it (the same failures).
  VDateTime toLocal(const VDateTime& utc);

 private:
  struct Entry {
    int64_t quarter = INT64_MIN;
    int64_t offset = 0;
    bool whole = false;
  };
  std::array<Entry, kQuarters> entries_{};
};
