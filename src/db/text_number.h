#pragma once
// Numbers read from database values and settings the way the C runtime's wide conversions
// do: leading white space, an optional sign, then decimal digits up to the first other
// character. No digits give 0; a value outside the type's range gives its nearest limit.

#include <cstdint>
#include <string_view>

namespace wcrt {

// 32-bit, as _wtoi and _wtol (a Windows long has 32 bits).
int32_t wtoi(std::wstring_view text);
int32_t wtol(std::wstring_view text);
// 64-bit, as _wtoi64.
int64_t wtoi64(std::wstring_view text);
// Unsigned 64-bit, as _wcstoui64 in base 10: a value above the range gives the largest
// one, and a minus sign negates the value modulo 2^64 ("-1" is the largest value).
uint64_t wcstoui64(std::wstring_view text);

}  // namespace wcrt
