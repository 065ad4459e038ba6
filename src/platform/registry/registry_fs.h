#pragma once
// File-system helpers of the registry store: an owned descriptor, directory walks relative
// to a directory descriptor, whole-file reads and atomic replacement. Every descriptor is
// opened close-on-exec. Failures are errno values (0: success).

#include <string>
#include <string_view>

namespace registry::fs {

// A move-only file descriptor, closed by the destructor.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd();
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release();
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// Opens a directory below `dirFd` without following a symbolic link.
int openDirectory(int dirFd, const std::string& name, Fd& out);
// Reads a whole file below `dirFd`; EFBIG when it is larger than `limit` bytes.
int readFile(int dirFd, const char* name, size_t limit, std::string& out);
// Replaces `name` below `dirFd` with `data`: writes `tmpName`, flushes it when `sync`,
// renames it over `name` and flushes the directory when `sync`. Readers see the old or
// the new content, never a mixture; the caller serialises writers of one name.
int replaceFile(int dirFd, const char* tmpName, const char* name, std::string_view data, bool sync);
// Renames without replacing an existing target (EEXIST then).
int renameNoReplace(int fromDir, const std::string& from, int toDir, const std::string& to);
// Removes a file or a whole directory tree below `dirFd` (never following links).
// A tree that others keep filling is retried a few times; ENOENT counts as removed.
int removeTree(int dirFd, const std::string& name);
// Takes an exclusive flock on a descriptor, waiting; retried on EINTR.
int lockExclusive(int fd);

}  // namespace registry::fs
