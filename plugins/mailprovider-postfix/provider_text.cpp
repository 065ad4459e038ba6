#include "provider_text.h"

#include <langinfo.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <stdexcept>

namespace postfix {

namespace {

bool utf8Names() {
  const char* codeset = nl_langinfo(CODESET);
  return std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "ANSI_X3.4-1968") == 0;
}

std::wstring fromUtf8(const std::string& text) {
  // Invalid sequences become U+FFFD, one per byte.
  std::wstring out;
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    uint32_t code = length == 1 ? c : length == 2 ? (c & 0x1f) : length == 3 ? (c & 0x0f) : (c & 0x07);
    bool valid = length != 0 && i + length <= text.size();
    for (size_t k = 1; valid && k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + k]);
      valid = (next >> 6) == 2;
      code = (code << 6) | (next & 0x3f);
    }
    if (!valid || code > 0x10ffff || (code >= 0xd800 && code < 0xe000)) {
      out += L'\xfffd';
      ++i;
      continue;
    }
    out += static_cast<wchar_t>(code);
    i += length;
  }
  return out;
}

}  // namespace

std::string toUtf8(const std::wstring& text) {
  std::string out;
  for (wchar_t wc : text) {
    uint32_t c = static_cast<uint32_t>(wc);
    if (c > 0x10ffff || (c >= 0xd800 && c < 0xe000)) c = 0xfffd;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xc0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3f));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xe0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
      out += static_cast<char>(0x80 | (c & 0x3f));
    } else {
      out += static_cast<char>(0xf0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
      out += static_cast<char>(0x80 | (c & 0x3f));
    }
  }
  return out;
}

std::string toFileName(const std::wstring& path) {
  if (utf8Names()) return toUtf8(path);
  std::string out;
  std::mbstate_t state{};
  char buffer[MB_LEN_MAX];
  for (wchar_t c : path) {
    const size_t n = std::wcrtomb(buffer, c, &state);
    if (n == static_cast<size_t>(-1)) throw std::runtime_error("A file name holds a character of no local form");
    out.append(buffer, n);
  }
  return out;
}

std::wstring fromFileName(const std::string& path) {
  if (utf8Names()) return fromUtf8(path);
  std::wstring out;
  std::mbstate_t state{};
  for (size_t i = 0; i < path.size();) {
    wchar_t c = 0;
    const size_t n = std::mbrtowc(&c, path.data() + i, path.size() - i, &state);
    if (n == 0 || n > path.size() - i) {
      out += L'\xfffd';
      state = std::mbstate_t{};
      ++i;
      continue;
    }
    out += c;
    i += n;
  }
  return out;
}

}  // namespace postfix
