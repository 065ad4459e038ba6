#include "db/sql_id.h"

#include <cstdint>

#include "platform/report/vexception.h"

std::wstring sqlId(std::wstring_view id, const char* operation) {
  size_t i = 0;
  bool negative = false;
  if (!id.empty() && (id[0] == L'-' || id[0] == L'+')) negative = id[i++] == L'-';
  // Eighteen digits always fit in 64 bits, so no overflow check is needed.
  const size_t digits = id.size() - i;
  int64_t value = 0;
  bool valid = digits >= 1 && digits <= 18;
  for (; valid && i < id.size(); ++i) {
    if (id[i] < L'0' || id[i] > L'9') valid = false;
    else value = value * 10 + (id[i] - L'0');
  }
  if (!valid)
    throw ArgumentException(L"Invalid identifier '" + std::wstring(id) + L"'", VCTX(L"", operation));
  return std::to_wstring(negative ? -value : value);
}
