#pragma once
// Buffered byte input for the line-oriented log readers (W3C extended logs, FTP server logs).
// The readers look at their input a byte or a line at a time; this class serves both from
// one large buffer, so a multi-gigabyte log costs one read(2) per buffer, and hands out
// lines as views into that buffer without copying them.
//
// A NUL byte ends the input exactly as the end of the file does: nothing after it is ever
// returned. Line ends are carriage return and line feed, alone or in any mix.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

class LogByteSource {
 public:
  static constexpr size_t kBufferSize = 256 * 1024;

  // Opens `path` for reading (O_CLOEXEC). Only regular files are accepted: a directory, a
  // FIFO or a device raises as an unopenable file would, so a stray FIFO in a log directory
  // cannot block a run. Raises vexception "Can't open file " + path with the context
  // `operation` (the reader's constructor); the system's reason is the context text.
  static std::unique_ptr<LogByteSource> openFile(const std::wstring& path, const char* operation);
  // Reads from an open descriptor, which the source then owns and closes. `name` is used
  // in error messages only. `bufferSize` (at least 1) is the size of the first buffer; tests
  // make it small to put buffer boundaries everywhere.
  LogByteSource(int fd, std::wstring name, size_t bufferSize = kBufferSize);
  // Reads from `bytes`, which the caller keeps alive and unchanged while the source exists.
  explicit LogByteSource(std::string_view bytes);
  ~LogByteSource();
  LogByteSource(const LogByteSource&) = delete;
  LogByteSource& operator=(const LogByteSource&) = delete;

  // The next byte (0..255) without consuming it, or -1 at the end of the input (end of file
  // or NUL). A failed read raises a vosexception naming the file.
  int peek() {
    if (pos_ < len_ && data_[pos_] != '\0') return static_cast<unsigned char>(data_[pos_]);
    return peekSlow();
  }
  // Consumes the byte that peek() returned. Precondition: peek() != -1.
  void advance() { ++pos_; }
  // Consumes and returns the bytes up to (not including) the next carriage return, line
  // feed, NUL or the end of the input. The view stays valid until the next call on the
  // source. A line longer than the buffer grows the buffer; the larger buffer is kept.
  std::string_view readLine();
  // Consumes carriage returns and line feeds up to the first other byte.
  void skipLineBreaks();
  // Consumes the rest of the current line and the line breaks after it. The skipped bytes
  // are dropped as they are read: the buffer never grows for them.
  void skipLine();

 private:
  int peekSlow();
  // Keeps the unconsumed bytes, makes room (growing the buffer when it is full of them) and
  // reads more. Sets eof_ when the file has no more bytes.
  void fill();

  int fd_ = -1;
  std::wstring name_;
  std::unique_ptr<char[]> owned_;
  size_t capacity_ = 0;
  const char* data_ = nullptr;
  size_t pos_ = 0;
  size_t len_ = 0;
  bool eof_ = false;
};
