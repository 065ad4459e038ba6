#pragma once
// Moves bytes between the program and a child's pipes without blocking on any one of them:
// one poll over the child's standard input (bytes still to write), its output pipes (read
// as they fill) and an optional stop descriptor. A child that writes much more than it is
// given, or reads input only after writing output, never deadlocks with the program.
//
// Writing uses a non-blocking descriptor; a child that stops reading (its end closed) ends
// the writing quietly, without SIGPIPE reaching the program.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "platform/system/unique_fd.h"

class PipePump {
 public:
  enum class Result { Finished, TimedOut, Stopped };

  // `fd` (the write end of the child's standard input) receives `bytes` and is closed
  // after them. The pump keeps a pointer to `fd`; it must outlive run().
  void setInput(UniqueFd* fd, std::string bytes);
  // Reads `fd` into `text` until end of file, then closes it. Two readers may share one
  // text. An unopened `fd` is ignored.
  void addReader(UniqueFd* fd, std::string* text);
  // At most `bytes` are kept in the readers' texts together; further bytes are read and
  // dropped so that the child can go on writing.
  void setCap(size_t bytes) { cap_ = bytes; }

  // Runs until every reader has reached end of file and the input is written (or the child
  // stopped reading it): Finished. With `timeoutMs` >= 0 it gives up after that long
  // (TimedOut); a readable `stopFd` (>= 0) ends it with Stopped. Descriptors still open
  // then stay open, and a later run() continues. A failed poll or read raises the OS error
  // with `failureText` (operation `operation`); a cancellation request raises "Operation
  // cancelled".
  Result run(int64_t timeoutMs, int stopFd, const std::wstring& failureText, const char* operation);

 private:
  struct Reader {
    UniqueFd* fd;
    std::string* text;
  };
  void readFrom(Reader& reader, const std::wstring& failureText, const char* operation);
  void writeInput();
  size_t keptBytes() const;

  UniqueFd* input_ = nullptr;
  std::string inputBytes_;
  size_t inputOffset_ = 0;
  Reader readers_[2] = {};
  int readerCount_ = 0;
  size_t cap_ = std::numeric_limits<size_t>::max();
};
