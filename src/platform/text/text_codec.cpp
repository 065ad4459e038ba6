#include "platform/text/text_codec.h"

#include "platform/text/narrow_decoder.h"

#include <iconv.h>
#include <langinfo.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <cwctype>

namespace text {
namespace {

bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Decodes one UTF-8 sequence at `p`; returns the code point or U+FFFD and advances `p`
// over the sequence, or over the maximal invalid prefix of one.
wchar_t decodeOne(const unsigned char*& p, const unsigned char* end) {
  unsigned char c = *p++;
  if (c < 0x80) return static_cast<wchar_t>(c);
  unsigned need;
  char32_t cp;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    need = 1;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    need = 2;
    cp = c & 0x0F;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    need = 3;
    cp = c & 0x07;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return kReplacement;
  }
  for (unsigned i = 0; i < need; ++i) {
    if (p == end) return kReplacement;
    unsigned char b = *p;
    if (i == 0 ? (b < lo || b > hi) : !isContinuation(b)) return kReplacement;
    cp = (cp << 6) | (b & 0x3F);
    ++p;
  }
  return static_cast<wchar_t>(cp);
}

std::string normalizedCodeset(std::string name) {
  std::string n;
  for (char c : name) {
    if (c == '-' || c == '_') continue;
    n.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  return n;
}

// iconv descriptors for encoding are opened per conversion; the narrow sets other than
// UTF-8 are rare here (an operator's legacy locale), so simplicity wins over caching.
class IconvHandle {
 public:
  IconvHandle(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~IconvHandle() {
    if (ok()) iconv_close(cd_);
  }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

}  // namespace

void appendFromUtf8(std::string_view bytes, std::wstring& out) {
  auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  auto* end = p + bytes.size();
  while (p != end) {
    // ASCII runs are the common case in logs and SQL.
    if (*p < 0x80) {
      out.push_back(static_cast<wchar_t>(*p++));
      continue;
    }
    out.push_back(decodeOne(p, end));
  }
}

std::wstring fromUtf8(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  appendFromUtf8(bytes, out);
  return out;
}

// Eight at a time while they last: log text is mostly ASCII, and the loop the compiler
// makes of the blocks keeps up with memcpy.
size_t copyAsciiRun(const wchar_t* wide, size_t n, char* out) {
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint32_t any = 0;
    for (size_t k = 0; k < 8; ++k) any |= static_cast<uint32_t>(wide[i + k]);
    if (any >= 0x80) break;
    for (size_t k = 0; k < 8; ++k) out[i + k] = static_cast<char>(wide[i + k]);
  }
  for (; i < n && static_cast<uint32_t>(wide[i]) < 0x80; ++i) out[i] = static_cast<char>(wide[i]);
  return i;
}

namespace {

// Appends `wide` with one byte per character: ASCII as it is, characters up to `highest`
// as their low byte, any other as '?'.
void appendSingleByte(std::wstring_view wide, uint32_t highest, std::string& out) {
  const size_t start = out.size();
  out.resize(start + wide.size());
  char* p = out.data() + start;
  for (size_t i = 0; i < wide.size();) {
    i += copyAsciiRun(wide.data() + i, wide.size() - i, p + i);
    if (i == wide.size()) break;
    const auto c = static_cast<uint32_t>(wide[i]);
    p[i++] = c <= highest ? static_cast<char>(c) : '?';
  }
}

}  // namespace

void appendToUtf8(std::wstring_view wide, std::string& out) {
  // Room for the longest encoding first, then bytes through a pointer: the per-character
  // push_back of the general path is what made long log lines slow.
  const size_t start = out.size();
  out.resize(start + 4 * wide.size());
  char* p = out.data() + start;
  for (size_t i = 0; i < wide.size();) {
    const size_t run = copyAsciiRun(wide.data() + i, wide.size() - i, p);
    p += run;
    i += run;
    if (i == wide.size()) break;
    auto cp = static_cast<char32_t>(wide[i++]);
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
    if (cp < 0x800) {
      *p++ = static_cast<char>(0xC0 | (cp >> 6));
    } else if (cp < 0x10000) {
      *p++ = static_cast<char>(0xE0 | (cp >> 12));
      *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    } else {
      *p++ = static_cast<char>(0xF0 | (cp >> 18));
      *p++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    }
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  out.resize(static_cast<size_t>(p - out.data()));
}

std::string toUtf8(std::wstring_view wide) {
  std::string out;
  out.reserve(wide.size());
  appendToUtf8(wide, out);
  return out;
}

NarrowCodec::NarrowCodec(std::string codeset) : codeset_(std::move(codeset)) {
  std::string n = normalizedCodeset(codeset_);
  if (n.empty() || n == "UTF8") {
    kind_ = Kind::Utf8;
  } else if (n == "ANSIX3.41968" || n == "ASCII" || n == "USASCII") {
    kind_ = Kind::Ascii;
  } else if (n == "ISO88591" || n == "LATIN1") {
    kind_ = Kind::Latin1;
  } else {
    kind_ = Kind::Iconv;
  }
}

NarrowCodec NarrowCodec::system() {
  const char* cs = nl_langinfo(CODESET);
  std::string name = cs ? cs : "";
  // The C/POSIX locale reports ASCII; the platform takes it as UTF-8.
  std::string n = normalizedCodeset(name);
  if (n == "ANSIX3.41968" || n == "ASCII" || n.empty()) name = "UTF-8";
  return NarrowCodec(name);
}

void NarrowCodec::appendDecoded(std::string_view bytes, std::wstring& out) const {
  switch (kind_) {
    case Kind::Utf8:
      appendFromUtf8(bytes, out);
      return;
    case Kind::Ascii:
      for (unsigned char c : bytes) out.push_back(c < 0x80 ? static_cast<wchar_t>(c) : kReplacement);
      return;
    case Kind::Latin1:
      for (unsigned char c : bytes) out.push_back(static_cast<wchar_t>(c));
      return;
    case Kind::Iconv:
      break;
  }
  // A set of one byte per character decodes through its table, built once per process.
  NarrowDecoder(*this).appendDecoded(bytes, out);
}

std::wstring NarrowCodec::decode(std::string_view bytes) const {
  std::wstring out;
  out.reserve(bytes.size());
  appendDecoded(bytes, out);
  return out;
}

std::string NarrowCodec::encode(std::wstring_view wide) const {
  std::string out;
  appendEncoded(wide, out);
  return out;
}

void NarrowCodec::appendEncoded(std::wstring_view wide, std::string& out) const {
  switch (kind_) {
    case Kind::Utf8:
      appendToUtf8(wide, out);
      return;
    case Kind::Ascii:
      appendSingleByte(wide, 0x7f, out);
      return;
    case Kind::Latin1:
      appendSingleByte(wide, 0xff, out);
      return;
    case Kind::Iconv:
      break;
  }
  IconvHandle cd(codeset_.c_str(), "WCHAR_T");
  if (!cd.ok()) {
    appendToUtf8(wide, out);
    return;
  }
  char buffer[64];
  for (wchar_t w : wide) {
    char* in = reinterpret_cast<char*>(&w);
    size_t inLeft = sizeof(w);
    char* outPtr = buffer;
    size_t outLeft = sizeof(buffer);
    size_t r = iconv(cd.get(), &in, &inLeft, &outPtr, &outLeft);
    if (r == static_cast<size_t>(-1)) {
      out.push_back('?');
      iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
    } else {
      out.append(buffer, sizeof(buffer) - outLeft);
    }
  }
}

std::wstring fromAnsi(std::string_view bytes) { return NarrowCodec::system().decode(bytes); }

void appendFromAnsi(std::string_view bytes, std::wstring& out) {
  NarrowCodec::system().appendDecoded(bytes, out);
}

std::string toAnsi(std::wstring_view wide) { return NarrowCodec::system().encode(wide); }

std::wstring fromUtf16le(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size() / 2);
  size_t i = 0;
  auto unit = [&](size_t at) {
    return static_cast<char16_t>(static_cast<unsigned char>(bytes[at]) |
                                 (static_cast<unsigned char>(bytes[at + 1]) << 8));
  };
  if (bytes.size() >= 2 && unit(0) == 0xFEFF) i = 2;
  for (; i + 1 < bytes.size(); i += 2) {
    char16_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 3 < bytes.size()) {
        char16_t v = unit(i + 2);
        if (v >= 0xDC00 && v <= 0xDFFF) {
          out.push_back(static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00)));
          i += 2;
          continue;
        }
      }
      out.push_back(kReplacement);
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      out.push_back(kReplacement);
    } else {
      out.push_back(static_cast<wchar_t>(u));
    }
  }
  if (i < bytes.size()) out.push_back(kReplacement);
  return out;
}

std::string toUtf16le(std::wstring_view wide) {
  std::string out;
  out.reserve(wide.size() * 2);
  auto put = [&](char32_t u) {
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>((u >> 8) & 0xFF));
  };
  for (wchar_t w : wide) {
    char32_t cp = static_cast<char32_t>(w);
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put(0xD800 + (cp >> 10));
      put(0xDC00 + (cp & 0x3FF));
    } else {
      put(cp);
    }
  }
  return out;
}

wchar_t toLowerChar(wchar_t c) {
  if (c >= L'A' && c <= L'Z') return static_cast<wchar_t>(c + 32);
  if (c >= 0x80) return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  return c;
}

bool LessNoCase::operator()(std::wstring_view a, std::wstring_view b) const {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    if (a[i] == b[i]) continue;  // most keys of a map share long prefixes
    const wchar_t x = toLowerChar(a[i]);
    const wchar_t y = toLowerChar(b[i]);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

std::wstring toLower(std::wstring_view textIn) {
  std::wstring out;
  assignLower(textIn, out);
  return out;
}

void assignLower(std::wstring_view textIn, std::wstring& out) {
  out.assign(textIn);
  for (wchar_t& c : out) c = toLowerChar(c);
}

std::wstring toUpper(std::wstring_view textIn) {
  std::wstring out(textIn);
  for (wchar_t& c : out) {
    if (c >= L'a' && c <= L'z')
      c = static_cast<wchar_t>(c - 32);
    else if (c >= 0x80)
      c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
  }
  return out;
}

bool equalsNoCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    wchar_t x = a[i], y = b[i];
    if (x == y) continue;
    if (x < 0x80 && y < 0x80) {
      if (x >= L'A' && x <= L'Z') x = static_cast<wchar_t>(x + 32);
      if (y >= L'A' && y <= L'Z') y = static_cast<wchar_t>(y + 32);
      if (x != y) return false;
    } else if (std::towlower(static_cast<wint_t>(x)) != std::towlower(static_cast<wint_t>(y))) {
      return false;
    }
  }
  return true;
}

}  // namespace text
