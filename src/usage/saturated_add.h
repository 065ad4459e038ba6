#pragma once
// Sizes a customer can inflate at will (a sparse file has whatever length its owner sets)
// are summed so that a total stops at the largest value instead of wrapping round to a
// small or negative one that no limit would catch.

#include <cstdint>

inline void addSaturated(int64_t& total, int64_t value) {
  if (__builtin_add_overflow(total, value, &total)) total = value < 0 ? INT64_MIN : INT64_MAX;
}
