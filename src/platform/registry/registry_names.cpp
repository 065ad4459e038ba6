#include "platform/registry/registry_names.h"

#include "platform/text/text_codec.h"

namespace registry {

wchar_t foldCase(wchar_t c) {
  if (c < 0x80) return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<wchar_t>(c + 32);
  if (c >= 0x100 && c <= 0x17F) {
    // Latin Extended-A pairs capitals with the next code point, except around the
    // dotless i and in the block from U+0139 to U+0148 and U+0179 to U+017E, where the
    // capital is the odd one.
    if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    bool oddCapitals = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (c == 0x178) return 0xFF;
    if (oddCapitals) return (c % 2 == 1) ? static_cast<wchar_t>(c + 1) : c;
    return (c % 2 == 0) ? static_cast<wchar_t>(c + 1) : c;
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return static_cast<wchar_t>(c + 32);
  if (c >= 0x410 && c <= 0x42F) return static_cast<wchar_t>(c + 32);
  if (c >= 0x400 && c <= 0x40F) return static_cast<wchar_t>(c + 80);
  return c;
}

std::wstring foldCase(std::wstring_view name) {
  std::wstring out(name);
  for (wchar_t& c : out) c = foldCase(c);
  return out;
}

bool sameName(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && foldCase(a[i]) != foldCase(b[i])) return false;
  return true;
}

KeyPath splitKeyPath(std::wstring_view path) {
  KeyPath out;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(L'\\', start);
    if (end == std::wstring_view::npos) end = path.size();
    if (end > start) out.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

std::wstring joinKeyPath(const KeyPath& path) {
  std::wstring out;
  for (const std::wstring& part : path) {
    if (!out.empty()) out += L'\\';
    out += part;
  }
  return out;
}

namespace {

constexpr size_t kLongestPlainName = 200;
constexpr size_t kHashedPrefix = 180;
const char kHex[] = "0123456789abcdef";

bool isScalar(uint32_t cp) { return cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF); }

void appendEscapedByte(unsigned char b, std::string& out) {
  out += '%';
  out += kHex[b >> 4];
  out += kHex[b & 15];
}

uint64_t fnv1a(std::string_view bytes) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char b : bytes) {
    h ^= b;
    h *= 1099511628211ull;
  }
  return h;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string directoryNameOf(std::wstring_view keyName) {
  std::string out;
  out.reserve(keyName.size());
  for (size_t i = 0; i < keyName.size(); ++i) {
    wchar_t c = foldCase(keyName[i]);
    uint32_t cp = static_cast<uint32_t>(c);
    if (!isScalar(cp)) {
      out += "%U";
      for (int shift = 28; shift >= 0; shift -= 4) out += kHex[(cp >> shift) & 15];
    } else if (cp < 0x20 || cp == 0x7F || c == L'/' || c == L'%' || c == L'~' || (i == 0 && c == L'.')) {
      appendEscapedByte(static_cast<unsigned char>(cp), out);
    } else {
      text::appendToUtf8(std::wstring_view(&c, 1), out);
    }
  }
  if (out.size() <= kLongestPlainName) return out;
  // Keep a readable prefix that ends on a character boundary outside an escape.
  size_t cut = kHashedPrefix;
  while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
  for (size_t back = 1; back <= 9 && back <= cut; ++back)
    if (out[cut - back] == '%') {
      size_t escapeLength = (cut - back + 1 < out.size() && out[cut - back + 1] == 'U') ? 10 : 3;
      if (back < escapeLength) cut -= back;
      break;
    }
  uint64_t h = fnv1a(out);
  std::string hashed = out.substr(0, cut);
  hashed += '~';
  for (int shift = 60; shift >= 0; shift -= 4) hashed += kHex[(h >> shift) & 15];
  return hashed;
}

bool isHashedDirectoryName(std::string_view name) { return name.find('~') != std::string_view::npos; }

std::optional<std::wstring> keyNameOfDirectory(std::string_view name) {
  if (name.empty() || name[0] == '.' || isHashedDirectoryName(name)) return std::nullopt;
  std::wstring out;
  size_t i = 0;
  while (i < name.size()) {
    if (name[i] != '%') {
      size_t next = name.find('%', i);
      if (next == std::string_view::npos) next = name.size();
      text::appendFromUtf8(name.substr(i, next - i), out);
      i = next;
      continue;
    }
    if (i + 1 < name.size() && name[i + 1] == 'U') {
      if (i + 10 > name.size()) return std::nullopt;
      uint32_t cp = 0;
      for (size_t k = i + 2; k < i + 10; ++k) {
        int v = hexValue(name[k]);
        if (v < 0) return std::nullopt;
        cp = cp << 4 | static_cast<uint32_t>(v);
      }
      out += static_cast<wchar_t>(cp);
      i += 10;
    } else {
      if (i + 3 > name.size()) return std::nullopt;
      int hi = hexValue(name[i + 1]), lo = hexValue(name[i + 2]);
      if (hi < 0 || lo < 0) return std::nullopt;
      out += static_cast<wchar_t>(hi << 4 | lo);
      i += 3;
    }
  }
  // Only the canonical spelling of a name is a key; anything else was not made here.
  if (directoryNameOf(out) != name) return std::nullopt;
  return out;
}

}  // namespace registry
