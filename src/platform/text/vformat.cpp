#include "platform/text/vformat.h"

#include <cstdio>
#include <cwchar>

namespace vfmt {

int64_t Arg::asSigned() const {
  switch (kind_) {
    case Kind::Signed: return i_;
    case Kind::Unsigned:
    case Kind::Char:
    case Kind::Pointer: return static_cast<int64_t>(u_);
    case Kind::Real: return static_cast<int64_t>(d_);
    case Kind::Text: return 0;
  }
  return 0;
}

uint64_t Arg::asUnsigned() const {
  switch (kind_) {
    case Kind::Signed: return static_cast<uint64_t>(i_);
    case Kind::Unsigned:
    case Kind::Char:
    case Kind::Pointer: return u_;
    case Kind::Real: return static_cast<uint64_t>(d_);
    case Kind::Text: return 0;
  }
  return 0;
}

double Arg::asReal() const {
  switch (kind_) {
    case Kind::Signed: return static_cast<double>(i_);
    case Kind::Unsigned:
    case Kind::Char:
    case Kind::Pointer: return static_cast<double>(u_);
    case Kind::Real: return d_;
    case Kind::Text: return 0;
  }
  return 0;
}

namespace {

struct Spec {
  bool left = false, plus = false, space = false, alt = false, zero = false;
  int width = -1;
  int precision = -1;
  bool wide64 = false;  // "I64", "ll", "j", "z", "t", "I": 64-bit integer
  int narrowBits = 32;  // "h" 16, "hh" 8
  wchar_t conv = 0;
};

class Writer {
 public:
  explicit Writer(std::wstring& out) : out_(out) {}
  bool overflow() const { return overflow_; }
  void put(wchar_t c) { append(std::wstring_view(&c, 1)); }
  void append(std::wstring_view s) {
    if (overflow_) return;
    if (out_.size() + s.size() >= kLastBuffer) {
      overflow_ = true;
      return;
    }
    out_.append(s);
  }
  void pad(size_t n, wchar_t c) {
    if (overflow_) return;
    if (out_.size() + n >= kLastBuffer) {
      overflow_ = true;
      return;
    }
    out_.append(n, c);
  }

 private:
  std::wstring& out_;
  bool overflow_ = false;
};

void emitPadded(Writer& w, const Spec& sp, std::wstring_view sign, std::wstring_view prefix,
                std::wstring_view body, bool numeric) {
  size_t len = sign.size() + prefix.size() + body.size();
  size_t width = sp.width > 0 ? static_cast<size_t>(sp.width) : 0;
  size_t fill = width > len ? width - len : 0;
  if (sp.left) {
    w.append(sign);
    w.append(prefix);
    w.append(body);
    w.pad(fill, L' ');
  } else if (sp.zero && numeric) {
    w.append(sign);
    w.append(prefix);
    w.pad(fill, L'0');
    w.append(body);
  } else {
    w.pad(fill, L' ');
    w.append(sign);
    w.append(prefix);
    w.append(body);
  }
}

void formatInteger(Writer& w, Spec sp, const Arg& a) {
  bool isSigned = sp.conv == L'd' || sp.conv == L'i';
  uint64_t magnitude;
  bool negative = false;
  if (isSigned) {
    int64_t v = a.asSigned();
    if (!sp.wide64) {
      if (sp.narrowBits == 8)
        v = static_cast<int8_t>(v);
      else if (sp.narrowBits == 16)
        v = static_cast<int16_t>(v);
      else
        v = static_cast<int32_t>(v);
    }
    negative = v < 0;
    magnitude = negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  } else {
    uint64_t v = a.asUnsigned();
    if (!sp.wide64) {
      if (sp.narrowBits == 8)
        v = static_cast<uint8_t>(v);
      else if (sp.narrowBits == 16)
        v = static_cast<uint16_t>(v);
      else
        v = static_cast<uint32_t>(v);
    }
    magnitude = v;
  }
  unsigned base = 10;
  const wchar_t* digits = L"0123456789abcdef";
  if (sp.conv == L'x') base = 16;
  if (sp.conv == L'X') {
    base = 16;
    digits = L"0123456789ABCDEF";
  }
  if (sp.conv == L'o') base = 8;
  wchar_t buf[32];
  size_t n = 0;
  uint64_t m = magnitude;
  do {
    buf[n++] = digits[m % base];
    m /= base;
  } while (m != 0);
  std::wstring body;
  if (sp.precision == 0 && magnitude == 0) n = 0;
  size_t minDigits = sp.precision > 0 ? static_cast<size_t>(sp.precision) : 0;
  if (n < minDigits) body.append(minDigits - n, L'0');
  for (size_t i = n; i > 0; --i) body.push_back(buf[i - 1]);
  std::wstring_view sign;
  if (negative)
    sign = L"-";
  else if (isSigned && sp.plus)
    sign = L"+";
  else if (isSigned && sp.space)
    sign = L" ";
  std::wstring_view prefix;
  if (sp.alt && magnitude != 0) {
    if (sp.conv == L'x') prefix = L"0x";
    if (sp.conv == L'X') prefix = L"0X";
    if (sp.conv == L'o') prefix = L"0";
  }
  if (sp.precision >= 0) sp.zero = false;
  emitPadded(w, sp, sign, prefix, body, true);
}

void formatReal(Writer& w, const Spec& sp, const Arg& a) {
  char fmt[32];
  char* p = fmt;
  *p++ = '%';
  if (sp.left) *p++ = '-';
  if (sp.plus) *p++ = '+';
  if (sp.space) *p++ = ' ';
  if (sp.alt) *p++ = '#';
  if (sp.zero) *p++ = '0';
  *p++ = '*';
  *p++ = '.';
  *p++ = '*';
  *p++ = static_cast<char>(sp.conv);
  *p = 0;
  char buf[512];
  int width = sp.width < 0 ? 0 : (sp.width > 400 ? 400 : sp.width);
  int precision = sp.precision < 0 ? 6 : (sp.precision > 100 ? 100 : sp.precision);
  int n = std::snprintf(buf, sizeof buf, fmt, width, precision, a.asReal());
  if (n < 0) return;
  if (static_cast<size_t>(n) >= sizeof buf) n = sizeof buf - 1;
  for (int i = 0; i < n; ++i) w.put(static_cast<wchar_t>(static_cast<unsigned char>(buf[i])));
}

}  // namespace

std::wstring formatArgs(std::wstring_view format, std::initializer_list<Arg> args) {
  std::wstring out;
  out.reserve(format.size() + 16 * args.size());
  Writer w(out);
  const Arg* next = args.begin();
  const Arg* end = args.end();
  static const Arg kMissing{std::wstring_view()};
  auto take = [&]() -> const Arg& { return next != end ? *next++ : kMissing; };

  size_t i = 0;
  while (i < format.size() && !w.overflow()) {
    wchar_t c = format[i++];
    if (c != L'%') {
      w.put(c);
      continue;
    }
    if (i >= format.size()) {
      w.put(L'%');
      break;
    }
    if (format[i] == L'%') {
      w.put(L'%');
      ++i;
      continue;
    }
    size_t specStart = i - 1;
    Spec sp;
    for (; i < format.size(); ++i) {
      wchar_t f = format[i];
      if (f == L'-') sp.left = true;
      else if (f == L'+') sp.plus = true;
      else if (f == L' ') sp.space = true;
      else if (f == L'#') sp.alt = true;
      else if (f == L'0') sp.zero = true;
      else break;
    }
    if (i < format.size() && format[i] == L'*') {
      int v = static_cast<int>(take().asSigned());
      if (v < 0) {
        sp.left = true;
        v = -v;
      }
      sp.width = v;
      ++i;
    } else {
      while (i < format.size() && format[i] >= L'0' && format[i] <= L'9') {
        sp.width = (sp.width < 0 ? 0 : sp.width) * 10 + (format[i] - L'0');
        if (sp.width > 1000000) sp.width = 1000000;
        ++i;
      }
    }
    if (i < format.size() && format[i] == L'.') {
      ++i;
      sp.precision = 0;
      if (i < format.size() && format[i] == L'*') {
        int v = static_cast<int>(take().asSigned());
        sp.precision = v < 0 ? -1 : v;
        ++i;
      } else {
        while (i < format.size() && format[i] >= L'0' && format[i] <= L'9') {
          sp.precision = sp.precision * 10 + (format[i] - L'0');
          if (sp.precision > 1000000) sp.precision = 1000000;
          ++i;
        }
      }
    }
    // Length modifiers, Windows meanings: "l" is 32-bit, "I64"/"ll" 64-bit.
    while (i < format.size()) {
      wchar_t m = format[i];
      if (m == L'I') {
        if (format.substr(i, 3) == L"I64") {
          sp.wide64 = true;
          i += 3;
        } else if (format.substr(i, 3) == L"I32") {
          i += 3;
        } else {
          sp.wide64 = true;
          ++i;
        }
      } else if (m == L'l') {
        if (i + 1 < format.size() && format[i + 1] == L'l') {
          sp.wide64 = true;
          i += 2;
        } else {
          ++i;
        }
      } else if (m == L'h') {
        if (i + 1 < format.size() && format[i + 1] == L'h') {
          sp.narrowBits = 8;
          i += 2;
        } else {
          sp.narrowBits = 16;
          ++i;
        }
      } else if (m == L'j' || m == L'z' || m == L't') {
        sp.wide64 = true;
        ++i;
      } else if (m == L'L' || m == L'w') {
        ++i;
      } else {
        break;
      }
    }
    if (i >= format.size()) {
      w.append(format.substr(specStart));
      break;
    }
    sp.conv = format[i++];
    switch (sp.conv) {
      case L'd':
      case L'i':
      case L'u':
      case L'x':
      case L'X':
      case L'o':
        formatInteger(w, sp, take());
        break;
      case L'c':
      case L'C': {
        const Arg& a = take();
        wchar_t ch = static_cast<wchar_t>(a.asUnsigned());
        emitPadded(w, sp, {}, {}, std::wstring_view(&ch, 1), false);
        break;
      }
      case L's':
      case L'S': {
        const Arg& a = take();
        std::wstring_view s = a.text();
        std::wstring number;
        if (a.kind() != Arg::Kind::Text) {
          // A number given for a text placeholder shows as the number.
          number = std::to_wstring(a.asSigned());
          s = number;
        }
        if (sp.precision >= 0 && static_cast<size_t>(sp.precision) < s.size()) s = s.substr(0, sp.precision);
        emitPadded(w, sp, {}, {}, s, false);
        break;
      }
      case L'f':
      case L'F':
      case L'e':
      case L'E':
      case L'g':
      case L'G':
        formatReal(w, sp, take());
        break;
      case L'p': {
        Spec hex = sp;
        hex.conv = L'X';
        hex.wide64 = true;
        hex.precision = 16;
        formatInteger(w, hex, take());
        break;
      }
      default:
        // Unknown conversion: written as it stands.
        w.append(format.substr(specStart, i - specStart));
        break;
    }
  }
  if (w.overflow()) return std::wstring(kOverflowText);
  return out;
}

}  // namespace vfmt
