#pragma once
// The white-space characters of the program's text: a fixed set, so that every locale
// splits and trims alike (the library's class test knows only the ASCII ones under the C
// locale). The set is the space class of a UTF-8 locale: tab, line feed, vertical tab, form
// feed, carriage return, space, U+1680, U+2000 to U+2006, U+2008 to U+200A, U+2028, U+2029,
// U+205F and U+3000. The no-break spaces (U+00A0, U+2007, U+202F) hold words together and
// separate nothing.

namespace text {

inline bool isAsciiWhiteSpace(unsigned c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

inline bool isWhiteSpace(wchar_t c) {
  const unsigned u = static_cast<unsigned>(c);
  if (u < 0x80) return isAsciiWhiteSpace(u);
  if (u < 0x1680) return false;
  return u == 0x1680 || (u >= 0x2000 && u <= 0x200A && u != 0x2007) || u == 0x2028 || u == 0x2029 ||
         u == 0x205F || u == 0x3000;
}

}  // namespace text
