#include "platform/files/vfilename.h"

#include <cstdlib>

#include "platform/text/text_codec.h"

std::wstring VFileName::expandEnvironmentStrings(const std::wstring& in) {
  std::wstring out;
  out.reserve(in.size());
  size_t i = 0;
  while (i < in.size()) {
    if (in[i] != L'%') {
      out.push_back(in[i++]);
      continue;
    }
    size_t close = in.find(L'%', i + 1);
    if (close == std::wstring::npos) {
      out.append(in, i, std::wstring::npos);
      break;
    }
    std::wstring name = in.substr(i + 1, close - i - 1);
    const char* value = name.empty() ? nullptr : std::getenv(text::toAnsi(name).c_str());
    if (value) {
      out += text::fromAnsi(value);
      i = close + 1;
    } else {
      // Unknown: the text stays, and the closing "%" may open the next reference.
      out.append(in, i, close - i);
      i = close;
    }
  }
  return out;
}

namespace {

constexpr wchar_t kEscapeFirst = 0xDC80;
constexpr wchar_t kEscapeLast = 0xDCFF;

bool isSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

bool isEscape(wchar_t c) { return c >= kEscapeFirst && c <= kEscapeLast; }

// Length of the valid UTF-8 sequence at p (0 when the bytes there are not one), with its
// code point. Overlong forms, surrogates and values above U+10FFFF are not valid.
size_t validUtf8At(const unsigned char* p, const unsigned char* end, char32_t& cp) {
  const unsigned char c = *p;
  size_t len;
  char32_t min;
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2, min = 0x80, cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3, min = 0x800, cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4, min = 0x10000, cp = c & 0x07;
  } else {
    return 0;
  }
  if (static_cast<size_t>(end - p) < len) return 0;
  for (size_t i = 1; i < len; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

// Mask matching with one backtracking point per "*": linear in practice, never exponential.
bool matchLowered(std::wstring_view name, std::wstring_view mask) {
  size_t n = 0, m = 0;
  size_t starMask = std::wstring_view::npos, starName = 0;
  while (n < name.size()) {
    if (m < mask.size() && (mask[m] == L'?' || mask[m] == name[n])) {
      ++n;
      ++m;
    } else if (m < mask.size() && mask[m] == L'*') {
      starMask = m++;
      starName = n;
    } else if (starMask != std::wstring_view::npos) {
      m = starMask + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == L'*') ++m;
  return m == mask.size();
}

}  // namespace

std::wstring VFileName::combine(std::wstring_view dir, std::wstring_view name) {
  if (dir.empty()) return std::wstring(name);
  if (name.empty()) return std::wstring(dir);
  std::wstring out(dir);
  while (out.size() > 1 && out.back() == L'/') out.pop_back();
  size_t skip = 0;
  while (skip < name.size() && name[skip] == L'/') ++skip;
  if (out.back() != L'/') out.push_back(L'/');
  out.append(name.substr(skip));
  return out;
}

std::wstring VFileName::fileName(std::wstring_view path) {
  size_t slash = path.find_last_of(L'/');
  return std::wstring(slash == std::wstring_view::npos ? path : path.substr(slash + 1));
}

std::wstring VFileName::extension(std::wstring_view path) {
  std::wstring name = fileName(path);
  size_t dot = name.find_last_of(L'.');
  return dot == std::wstring::npos ? std::wstring() : name.substr(dot);
}

std::wstring VFileName::stem(std::wstring_view path) {
  std::wstring name = fileName(path);
  size_t dot = name.find_last_of(L'.');
  return dot == std::wstring::npos ? name : name.substr(0, dot);
}

std::wstring VFileName::withoutTrailingSeparators(std::wstring_view path) {
  size_t end = path.size();
  while (end > 1 && isSeparator(path[end - 1])) --end;
  return std::wstring(path.substr(0, end));
}

std::wstring VFileName::directory(std::wstring_view path) {
  std::wstring trimmed = withoutTrailingSeparators(path);
  size_t slash = trimmed.find_last_of(L'/');
  if (slash == std::wstring::npos) return std::wstring();
  if (slash == 0) return L"/";
  while (slash > 1 && trimmed[slash - 1] == L'/') --slash;
  return trimmed.substr(0, slash);
}

bool VFileName::matchesMask(std::wstring_view name, std::wstring_view mask) {
  const std::wstring lowName = text::toLower(name);
  const std::wstring lowMask = text::toLower(mask);
  if (matchLowered(lowName, lowMask)) return true;
  // "name" matches "name.*" and "*.*", as the dot of a name without extension is implied.
  if (lowMask.size() >= 2 && lowMask.compare(lowMask.size() - 2, 2, L".*") == 0 &&
      lowName.find(L'.') == std::wstring::npos)
    return matchLowered(lowName, std::wstring_view(lowMask).substr(0, lowMask.size() - 2));
  return false;
}

std::string VFileName::toNative(std::wstring_view path) {
  const text::NarrowCodec codec = text::NarrowCodec::system();
  std::string out;
  size_t runStart = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && !isEscape(path[i])) continue;
    if (i > runStart) out += codec.encode(path.substr(runStart, i - runStart));
    if (i < path.size()) out.push_back(static_cast<char>(path[i] - 0xDC00));
    runStart = i + 1;
  }
  return out;
}

std::wstring VFileName::fromNative(std::string_view bytes) {
  const text::NarrowCodec codec = text::NarrowCodec::system();
  if (!codec.isUtf8()) return codec.decode(bytes);
  std::wstring out;
  out.reserve(bytes.size());
  auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  auto* end = p + bytes.size();
  while (p != end) {
    if (*p < 0x80) {
      out.push_back(static_cast<wchar_t>(*p++));
      continue;
    }
    char32_t cp = 0;
    size_t len = validUtf8At(p, end, cp);
    if (len == 0) {
      out.push_back(static_cast<wchar_t>(0xDC00 + *p++));
    } else {
      out.push_back(static_cast<wchar_t>(cp));
      p += len;
    }
  }
  return out;
}
