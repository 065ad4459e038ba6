#include "traffic/log_byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/files/file_support.h"
#include "platform/files/regular_file.h"
#include "platform/report/vexception.h"
#include "platform/files/vfilename.h"

namespace {

#ifndef __SSE2__
// Whether any byte of `word` is 0, and where the first is: the classic test, exact for the
// lowest such byte (a borrow can only mark bytes above a real zero).
constexpr uint64_t kLowBits = 0x0101010101010101ULL;
constexpr uint64_t kHighBits = 0x8080808080808080ULL;
inline uint64_t zeroBytes(uint64_t word) { return (word - kLowBits) & ~word & kHighBits; }
#endif

// First carriage return, line feed or NUL in [p, end), or end. One pass over the bytes,
// all three looked for together, so that a file of CR-only lines costs no more than one of
// CR LF lines (searching for LF first would scan the rest of the buffer for every line of
// such a file). Thirty-two bytes a step where SSE2 is there, eight elsewhere.
const char* findLineEnd(const char* p, const char* end) {
#ifdef __SSE2__
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i nul = _mm_setzero_si128();
  auto ends = [&](const char* at) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)), _mm_cmpeq_epi8(v, nul));
    return static_cast<unsigned>(_mm_movemask_epi8(hit));
  };
  while (end - p >= 32) {
    const unsigned mask = ends(p) | (ends(p + 16) << 16);
    if (mask != 0) return p + std::countr_zero(mask);
    p += 32;
  }
  if (end - p >= 16) {
    if (const unsigned mask = ends(p)) return p + std::countr_zero(mask);
    p += 16;
  }
#else
  static_assert(std::endian::native == std::endian::little, "the first match is the lowest byte");
  constexpr uint64_t kCr = kLowBits * '\r';
  constexpr uint64_t kLf = kLowBits * '\n';
  while (end - p >= 8) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    const uint64_t hits = zeroBytes(word) | zeroBytes(word ^ kCr) | zeroBytes(word ^ kLf);
    if (hits != 0) return p + (std::countr_zero(hits) >> 3);
    p += 8;
  }
#endif
  while (p != end && *p != '\r' && *p != '\n' && *p != '\0') ++p;
  return p;
}

}  // namespace

std::unique_ptr<LogByteSource> LogByteSource::openFile(const std::wstring& path, const char* operation) {
  int err = 0;
  UniqueFd fd = filesupport::openRegularFileForReading(path, err);
  if (!fd.isOpen()) filesupport::raiseCannotOpenLog(path, err, operation);
  return std::make_unique<LogByteSource>(fd.release(), path);
}

LogByteSource::LogByteSource(int fd, std::wstring name, size_t bufferSize)
    : fd_(fd), name_(std::move(name)), capacity_(bufferSize > 0 ? bufferSize : 1) {
  owned_ = std::make_unique_for_overwrite<char[]>(capacity_);
  data_ = owned_.get();
}

LogByteSource::LogByteSource(std::string_view bytes) : data_(bytes.data()), len_(bytes.size()), eof_(true) {}

LogByteSource::~LogByteSource() {
  if (fd_ >= 0) ::close(fd_);
}

int LogByteSource::peekSlow() {
  while (pos_ == len_ && !eof_) fill();
  if (pos_ == len_ || data_[pos_] == '\0') return -1;
  return static_cast<unsigned char>(data_[pos_]);
}

std::string_view LogByteSource::readLine() {
  size_t scanFrom = pos_;
  for (;;) {
    const char* end = data_ + len_;
    const char* hit = findLineEnd(data_ + scanFrom, end);
    if (hit != end || eof_) {
      std::string_view line(data_ + pos_, static_cast<size_t>(hit - (data_ + pos_)));
      // A NUL stays unconsumed, so every later peek sees the end.
      pos_ = static_cast<size_t>(hit - data_);
      return line;
    }
    // The line runs past the buffered bytes: fill() moves it to the front of the buffer.
    size_t scanned = len_ - pos_;
    fill();
    scanFrom = pos_ + scanned;
  }
}

void LogByteSource::skipLineBreaks() {
  for (;;) {
    int c = peek();
    if (c != '\r' && c != '\n') return;
    advance();
  }
}

void LogByteSource::skipLine() {
  for (;;) {
    const char* end = data_ + len_;
    const char* hit = findLineEnd(data_ + pos_, end);
    pos_ = static_cast<size_t>(hit - data_);
    if (hit != end || eof_) break;
    // The line goes on past the buffered bytes, which are dropped as they are passed: with
    // nothing left to keep, fill() reuses the buffer, so a skipped line of any length
    // needs no more memory than the buffer has.
    fill();
  }
  skipLineBreaks();
}

void LogByteSource::fill() {
  if (fd_ < 0) {
    eof_ = true;
    return;
  }
  char* buffer = owned_.get();
  size_t keep = len_ - pos_;
  if (keep == capacity_) {
    // One line fills the whole buffer: double it. The bigger buffer stays for later lines.
    auto bigger = std::make_unique_for_overwrite<char[]>(capacity_ * 2);
    std::memcpy(bigger.get(), buffer + pos_, keep);
    owned_ = std::move(bigger);
    capacity_ *= 2;
    buffer = owned_.get();
  } else if (pos_ > 0) {
    std::memmove(buffer, buffer + pos_, keep);
  }
  data_ = buffer;
  pos_ = 0;
  len_ = keep;
  for (;;) {
    ssize_t n = ::read(fd_, buffer + len_, capacity_ - len_);
    if (n > 0) {
      len_ += static_cast<size_t>(n);
      return;
    }
    if (n == 0) {
      eof_ = true;
      return;
    }
    if (errno != EINTR) {
      // A read error must not pass for the end of the log: the lines after it would be
      // lost without a word.
      raiseErrno(filesupport::operationText(L"ReadFile", name_), errno,
                 VCTX(L"Can't read file", "LogByteSource::fill"));
    }
  }
}
