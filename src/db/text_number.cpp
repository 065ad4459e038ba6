#include "db/text_number.h"

#include "platform/text/white_space.h"
#include <limits>

namespace wcrt {

namespace {

int64_t parseSaturated(std::wstring_view text, int64_t low, int64_t high) {
  size_t i = 0;
  while (i < text.size() && text::isWhiteSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  // Accumulated as a negative number, whose range holds the lowest value too.
  int64_t value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    int digit = text[i] - L'0';
    if (value < (low + digit) / 10) return negative ? low : high;
    value = value * 10 - digit;
  }
  if (negative) return value;
  return value < -high ? high : -value;
}

}  // namespace

int32_t wtoi(std::wstring_view text) { return wtol(text); }

int32_t wtol(std::wstring_view text) {
  return static_cast<int32_t>(
      parseSaturated(text, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

int64_t wtoi64(std::wstring_view text) {
  return parseSaturated(text, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max());
}

uint64_t wcstoui64(std::wstring_view text) {
  size_t i = 0;
  while (i < text.size() && text::isWhiteSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  uint64_t value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    auto digit = static_cast<uint64_t>(text[i] - L'0');
    if (value > (kMax - digit) / 10) return kMax;
    value = value * 10 + digit;
  }
  return negative ? 0 - value : value;
}

}  // namespace wcrt
