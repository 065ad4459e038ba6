#include "maintenance/utf16_log_reader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/files/file_support.h"
#include "platform/files/regular_file.h"

namespace {

constexpr wchar_t kByteOrderMark = 0xFEFF;
constexpr wchar_t kReplacement = 0xFFFD;

bool isHighSurrogate(int u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLowSurrogate(int u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

Utf16LogReader::Utf16LogReader(const std::wstring& path)
    : path_(path), buffer_(std::make_unique_for_overwrite<char[]>(kBufferBytes)) {
  int err = 0;
  fd_ = filesupport::openRegularFileForReading(path, err);
  if (!fd_.isOpen()) filesupport::raiseCannotOpenLog(path, err, "Utf16LogReader::Utf16LogReader");
  data_ = buffer_.get();
  piece_.reserve(kPieceCharacters);
}

Utf16LogReader::Utf16LogReader(std::string_view bytes, size_t chunkBytes)
    : buffer_(std::make_unique_for_overwrite<char[]>(kBufferBytes)), memory_(bytes), chunkBytes_(chunkBytes) {
  data_ = buffer_.get();
  piece_.reserve(kPieceCharacters);
}

bool Utf16LogReader::fill() {
  if (eof_) return false;
  // At most one byte of a code unit is carried over.
  const size_t carried = len_ - pos_;
  std::memmove(buffer_.get(), buffer_.get() + pos_, carried);
  pos_ = 0;
  len_ = carried;
  size_t room = kBufferBytes - carried;
  if (chunkBytes_ > 0) room = std::min(room, chunkBytes_);
  size_t got = 0;
  if (fd_.isOpen()) {
    ssize_t n;
    do {
      n = ::read(fd_.get(), buffer_.get() + len_, room);
    } while (n < 0 && errno == EINTR);
    if (n < 0) filesupport::raise(L"ReadFile", path_, errno, VCTX(L"", "Utf16LogReader::next"));
    got = static_cast<size_t>(n);
  } else {
    got = std::min(room, memory_.size());
    std::memcpy(buffer_.get() + len_, memory_.data(), got);
    memory_.remove_prefix(got);
  }
  if (got == 0) eof_ = true;
  len_ += got;
  return got > 0;
}

int Utf16LogReader::readUnit() {
  while (len_ - pos_ < 2) {
    if (!fill()) {
      if (len_ - pos_ == 1) {
        ++pos_;
        return kOddByte;
      }
      return -1;
    }
  }
  const int unit = static_cast<unsigned char>(data_[pos_]) | (static_cast<unsigned char>(data_[pos_ + 1]) << 8);
  pos_ += 2;
  return unit;
}

int Utf16LogReader::takeUnit() {
  if (pending_ == kNoUnit) return readUnit();
  return std::exchange(pending_, kNoUnit);
}

bool Utf16LogReader::nextCharacter(wchar_t& c) {
  for (;;) {
    const int unit = takeUnit();
    if (unit < 0) return false;
    const bool first = std::exchange(atStart_, false);
    if (unit == kOddByte || isLowSurrogate(unit)) {
      c = kReplacement;
    } else if (isHighSurrogate(unit)) {
      const int low = takeUnit();
      if (low != kOddByte && isLowSurrogate(low)) {
        c = static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
      } else {
        // What follows a lone high surrogate is read on its own.
        if (low >= 0) pending_ = low;
        c = kReplacement;
      }
    } else {
      c = static_cast<wchar_t>(unit);
    }
    if (first && c == kByteOrderMark) continue;
    return true;
  }
}

bool Utf16LogReader::next() {
  piece_.clear();
  startsLine_ = atLineStart_;
  wchar_t c = 0;
  while (piece_.size() < kPieceCharacters && nextCharacter(c)) {
    piece_.push_back(c);
    if (c == L'\n') break;
  }
  if (piece_.empty()) return false;
  atLineStart_ = piece_.back() == L'\n';
  return true;
}
