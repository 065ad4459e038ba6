#pragma once
// Single values out of lookup results.

#include <string>

#include "db/database_provider.h"

// Column 0 of the first row; empty when there is no row or the value is NULL or empty.
inline std::wstring firstValue(VRecordSet rows) { return rows.next() ? rows.get(0, {}, true) : std::wstring(); }

// Column 0 of the first row where it is neither NULL nor empty; empty when there is none.
inline std::wstring firstNonEmptyValue(VRecordSet rows) {
  std::wstring value;
  while (rows.next())
    if (rows.lookup(0, value, true)) return value;
  return {};
}
