#include "platform/report/crash_context.h"

#include <cstdint>

namespace {

constexpr size_t kBytes = 16384;
constexpr size_t kLevels = 32;

// Trivial and zero-initialised: no constructor runs for it, on any thread.
struct Frames {
  char text[kBytes];
  size_t begin[kLevels];  // where each kept level's text starts
  size_t used;            // bytes of text in use
  size_t depth;           // scopes open, kept or not
};

thread_local Frames t_frames;

// Appends to a fixed buffer, never past its end and never half a character.
class FixedWriter {
 public:
  FixedWriter(char* out, size_t capacity, size_t used) : out_(out), capacity_(capacity), used_(used) {}
  size_t used() const { return used_; }

  void bytes(const char* s, size_t n) {
    if (full_ || n > capacity_ - used_) {
      full_ = true;
      return;
    }
    for (size_t i = 0; i < n; ++i) out_[used_ + i] = s[i];
    used_ += n;
  }
  void text(const char* s) {
    size_t n = 0;
    while (s[n]) ++n;
    bytes(s, n);
  }
  void number(long v) {
    char digits[24];
    size_t n = 0;
    unsigned long u = v < 0 ? 0ul - static_cast<unsigned long>(v) : static_cast<unsigned long>(v);
    do {
      digits[sizeof digits - ++n] = static_cast<char>('0' + u % 10);
      u /= 10;
    } while (u != 0);
    if (v < 0) digits[sizeof digits - ++n] = '-';
    bytes(digits + sizeof digits - n, n);
  }
  // One character in UTF-8, escaped as an event-log field escapes it.
  void character(uint32_t c) {
    switch (c) {
      case '\\': return bytes("\\\\", 2);
      case '\t': return bytes("\\t", 2);
      case '\n': return bytes("\\n", 2);
      case '\r': return bytes("\\r", 2);
      default: break;
    }
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    char b[4];
    size_t n;
    if (c < 0x80) {
      b[0] = static_cast<char>(c);
      n = 1;
    } else if (c < 0x800) {
      b[0] = static_cast<char>(0xC0 | c >> 6);
      b[1] = static_cast<char>(0x80 | (c & 0x3F));
      n = 2;
    } else if (c < 0x10000) {
      b[0] = static_cast<char>(0xE0 | c >> 12);
      b[1] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
      b[2] = static_cast<char>(0x80 | (c & 0x3F));
      n = 3;
    } else {
      b[0] = static_cast<char>(0xF0 | c >> 18);
      b[1] = static_cast<char>(0x80 | (c >> 12 & 0x3F));
      b[2] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
      b[3] = static_cast<char>(0x80 | (c & 0x3F));
      n = 4;
    }
    bytes(b, n);
  }

 private:
  char* out_;
  size_t capacity_;
  size_t used_;
  bool full_ = false;
};

}  // namespace

CrashContextScope::CrashContextScope(const ContextRecord& record) noexcept {
  Frames& f = t_frames;
  if (f.depth < kLevels) {
    f.begin[f.depth] = f.used;
    FixedWriter w(f.text, kBytes, f.used);
    w.bytes("\\n   at ", 8);  // the line break of a detailed text, as the event log writes it
    for (wchar_t c : record.text) w.character(static_cast<uint32_t>(c));
    w.bytes("(", 1);
    for (char c : record.operation) w.character(static_cast<unsigned char>(c));
    w.text(" line ");
    w.number(record.line);
    w.bytes(")", 1);
    f.used = w.used();
  }
  ++f.depth;
}

CrashContextScope::~CrashContextScope() {
  Frames& f = t_frames;
  if (f.depth == 0) return;
  --f.depth;
  if (f.depth < kLevels) f.used = f.begin[f.depth];
}

size_t CrashContextScope::write(char* out, size_t capacity) noexcept {
  const Frames& f = t_frames;
  const size_t kept = f.depth < kLevels ? f.depth : kLevels;
  FixedWriter w(out, capacity, 0);
  for (size_t level = kept; level-- > 0;) {
    const size_t end = level + 1 < kept ? f.begin[level + 1] : f.used;
    w.bytes(f.text + f.begin[level], end - f.begin[level]);
  }
  return w.used();
}
