#include "platform/dates/local_offset_cache.h"

bool LocalOffsetCache::askOffset(int64_t quarter, int64_t& offset) {
  Entry& entry = entries_[static_cast<size_t>(quarter) % kQuarters];
  const VDateTime start = VDateTime::fromUnixTime(quarter * 900);
  entry.offset = start.toLocal().toUnixTime() - quarter * 900;
  entry.whole = entry.offset % 900 == 0;
  entry.quarter = quarter;
  offset = entry.offset;
  return entry.whole;
}

VDateTime LocalOffsetCache::toLocal(const VDateTime& utc) {
  if (!utc.isValid()) return utc.toLocal();  // raises for the invalid value
  const int64_t seconds = utc.toUnixTime();
  int64_t offset = 0;
  if (!offsetAt(seconds, offset)) return utc.toLocal();
  return VDateTime::fromUnixTime(seconds + offset, utc.milliseconds);
}
