#pragma once
// The white-space test of the W3C reader: the wide-character class test of the process
// locale, answered without a library call for the ASCII characters that make up almost
// every log line (every locale agrees on those: tab, line feed, vertical tab, form feed,
// carriage return and space).

#include <cwctype>

namespace w3c {

inline bool isAsciiWhiteSpace(unsigned c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

inline bool isWhiteSpace(wchar_t c) {
  if (static_cast<unsigned>(c) < 0x80) return isAsciiWhiteSpace(static_cast<unsigned>(c));
  return std::iswspace(static_cast<wint_t>(c)) != 0;
}

}  // namespace w3c
