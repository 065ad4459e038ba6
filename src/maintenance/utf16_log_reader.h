#pragma once
// The antivirus and spam filters' statistics logs: UTF-16 little-endian text, read as the
// filters' own tools read it, through a buffer of 16,000 characters. Each piece is one line
// with its CR LF ending, or, for a longer line, up to 16,000 characters of it, the rest
// following in further pieces. The reader owns one piece buffer and one byte buffer, so
// reading allocates nothing after construction.
//
// A leading byte-order mark is skipped. Surrogate pairs become one character; an unpaired
// surrogate and an odd trailing byte become U+FFFD. NUL characters are ordinary characters.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/system/unique_fd.h"

class Utf16LogReader {
 public:
  static constexpr size_t kPieceCharacters = 16000;
  static constexpr size_t kBufferBytes = 64 * 1024;

  // Opens the regular file `path`; raises vexception "Can't open file " + path otherwise
  // (operation "Utf16LogReader::Utf16LogReader").
  explicit Utf16LogReader(const std::wstring& path);
  // Reads from `bytes`, which the caller keeps alive while the reader exists. A non-zero
  // `chunkBytes` hands the bytes over that many at a time, as short reads of a file would.
  explicit Utf16LogReader(std::string_view bytes, size_t chunkBytes = 0);
  Utf16LogReader(const Utf16LogReader&) = delete;
  Utf16LogReader& operator=(const Utf16LogReader&) = delete;

  // Reads the next piece; false at the end of the input. A failed read raises the OS error
  // "ReadFile '<path>'".
  bool next();
  // The current piece; valid until the next call of next().
  std::wstring_view piece() const { return piece_; }
  // Whether the current piece begins a line (false for the second and later pieces of a
  // line longer than a piece).
  bool startsLine() const { return startsLine_; }

 private:
  static constexpr int kNoUnit = -2;
  static constexpr int kOddByte = 0x10000;

  // The next UTF-16 code unit from the input, kOddByte for a lone trailing byte, or -1 at
  // the end of the input.
  int readUnit();
  // The unit put back by the surrogate decoding, else readUnit().
  int takeUnit();
  bool nextCharacter(wchar_t& c);
  // Makes at least one more byte available; false at the end of the input.
  bool fill();

  std::wstring path_;
  UniqueFd fd_;
  std::unique_ptr<char[]> buffer_;
  std::string_view memory_;  // what remains of in-memory input
  size_t chunkBytes_ = 0;
  const char* data_ = nullptr;
  size_t pos_ = 0;
  size_t len_ = 0;
  bool eof_ = false;
  bool atStart_ = true;
  int pending_ = kNoUnit;
  bool atLineStart_ = true;
  bool startsLine_ = true;
  std::wstring piece_;
};
