#include "traffic/log_byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/files/file_support.h"
#include "platform/files/regular_file.h"
#include "platform/report/vexception.h"
#include "platform/files/vfilename.h"

namespace {

// First carriage return, line feed or NUL in [p, end), or end. Three memchr passes beat a
// byte loop by far: glibc scans a cache line per step, and log lines are a few hundred bytes.
const char* findLineEnd(const char* p, const char* end) {
  const char* limit = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
  if (!limit) limit = end;
  if (const void* cr = std::memchr(p, '\r', static_cast<size_t>(limit - p)))
    limit = static_cast<const char*>(cr);
  if (const void* nul = std::memchr(p, '\0', static_cast<size_t>(limit - p)))
    limit = static_cast<const char*>(nul);
  return limit;
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
  readLine();
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
