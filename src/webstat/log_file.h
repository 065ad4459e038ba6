#pragma once
// statistics::LogFile: one temporary log of an analyser writer. It is created lazily, in the
// system temporary directory ($TMPDIR, else /tmp), which other users may write to: the
// name is random with the prefix "tmp", the file is created exclusively (an entry planted
// under that name, a symbolic link included, makes the creation fail instead of being
// followed) and readable by its owner only. Destroying the record deletes the file.
//
// Lines are collected in a buffer of fixed size and written whole: a write never splits a
// line, so the file holds complete lines whatever fails. Appending allocates nothing once
// the buffer has grown to hold the longest line.

#include <cstdint>
#include <string>
#include <string_view>

#include "app/statistics.h"
#include "platform/system/unique_fd.h"

class statistics::LogFile {
 public:
  static constexpr size_t kBufferSize = 64 * 1024;
  static constexpr size_t kLineRoom = 4 * 1024;

  LogFile() = default;
  // Writes what is buffered and closes (failures ignored), then deletes the file; a failed
  // deletion is reported at level 1 "Unable to delete temporary log file %s".
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // The file's path; empty until the file is created.
  const std::wstring& path() const { return path_; }
  bool isOpen() const { return fd_.isOpen(); }

  // Creates the file in the system temporary directory (the directory itself, owner-only,
  // when it is missing) and opens it for sequential writing. Raises the OS error "Can't
  // create temp file <path> for log domain <domainName>" (operation
  // "statistics::LogFile::checkLogFile").
  void create(const std::wstring& domainName);
  // Takes over `fd`, an open file at `path`, as if create had made it (tests that need a
  // file that fails to write).
  void adopt(std::wstring path, UniqueFd fd);

  // Appends one whole line that build(buffer) appends to the file's own buffer, so that it
  // is never copied: build returns false (or raises) to take back what it appended. The
  // line starts with room for kLineRoom bytes; a longer one grows the buffer once and is
  // written out with the lines before it. Raises the OS error "Write to file" (operation
  // "statistics::LogForAnalyser::writeLineToLog") when the system refuses a write, and
  // vexception "Can't write to file. Disk full?" when it stops accepting bytes.
  template <typename Build>
  bool appendBuilt(Build&& build) {
    if (buffer_.size() + kLineRoom > kBufferSize) flush();
    const size_t start = buffer_.size();
    try {
      if (!build(buffer_)) {
        buffer_.resize(start);
        return false;
      }
    } catch (...) {
      buffer_.resize(start);
      throw;
    }
    if (buffer_.size() > kBufferSize) flush();
    return true;
  }
  // Hands the buffered lines to the system; the same failures as appendBuilt.
  void flush();
  // Bytes in the file plus those still buffered.
  int64_t size() const;

 private:
  void writeOut(std::string_view bytes);

  std::wstring path_;
  UniqueFd fd_;
  std::string buffer_;
  int64_t written_ = 0;
};
