#include "platform/registry/registry_fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/system/fd_io.h"

namespace registry::fs {

Fd::~Fd() { reset(); }

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) reset(other.release());
  return *this;
}

int Fd::release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

void Fd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

int openDirectory(int dirFd, const std::string& name, Fd& out) {
  int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno;
  out.reset(fd);
  return 0;
}

int readFile(int dirFd, const char* name, size_t limit, std::string& out) {
  Fd fd(::openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) return errno;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return EISDIR;
  if (static_cast<uint64_t>(st.st_size) > limit) return EFBIG;
  out.clear();
  out.resize(static_cast<size_t>(st.st_size));
  size_t got = 0;
  // The file is replaced by rename, never rewritten in place, so its size does not change
  // under this descriptor; read to the end all the same.
  for (;;) {
    if (got == out.size()) out.resize(out.size() + 4096);
    ssize_t n = ::read(fd.get(), out.data() + got, out.size() - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
    if (got > limit) return EFBIG;
  }
  out.resize(got);
  return 0;
}


int replaceFile(int dirFd, const char* tmpName, const char* name, std::string_view data, bool sync) {
  Fd fd(::openat(dirFd, tmpName, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (!fd.valid()) return errno;
  int err = fdio::writeAll(fd.get(), data);
  if (err == 0 && sync && ::fsync(fd.get()) != 0) err = errno;
  if (err == 0 && ::close(fd.release()) != 0) err = errno;
  if (err == 0 && ::renameat(dirFd, tmpName, dirFd, name) != 0) err = errno;
  if (err != 0) {
    ::unlinkat(dirFd, tmpName, 0);
    return err;
  }
  if (sync && ::fsync(dirFd) != 0) return errno;
  return 0;
}

int renameNoReplace(int fromDir, const std::string& from, int toDir, const std::string& to) {
  if (::renameat2(fromDir, from.c_str(), toDir, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno == ENOTEMPTY ? EEXIST : errno;
  // A file system without RENAME_NOREPLACE: check first (a race with another creator is
  // then possible, but a plain rename never replaces a directory that is not empty).
  struct stat st;
  if (::fstatat(toDir, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
  if (::renameat(fromDir, from.c_str(), toDir, to.c_str()) == 0) return 0;
  return errno == ENOTEMPTY ? EEXIST : errno;
}

namespace {

int removeContents(int dirFd) {
  int dupFd = ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
  if (dupFd < 0) return errno;
  DIR* dir = ::fdopendir(dupFd);
  if (!dir) {
    int err = errno;
    ::close(dupFd);
    return err;
  }
  std::vector<std::string> names;
  while (dirent* entry = ::readdir(dir)) {
    std::string_view n = entry->d_name;
    if (n == "." || n == "..") continue;
    names.emplace_back(n);
  }
  ::closedir(dir);
  int result = 0;
  for (const std::string& n : names) {
    int err = removeTree(dirFd, n);
    if (err != 0 && result == 0) result = err;
  }
  return result;
}

}  // namespace

int removeTree(int dirFd, const std::string& name) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (::unlinkat(dirFd, name.c_str(), 0) == 0) return 0;
    if (errno == ENOENT) return 0;
    if (errno != EISDIR && errno != EPERM) return errno;
    Fd sub;
    int err = openDirectory(dirFd, name, sub);
    if (err == ENOENT) return 0;
    if (err != 0) return err;
    err = removeContents(sub.get());
    if (err != 0 && err != ENOENT) return err;
    if (::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT) return 0;
    // A writer that still holds the directory may have added a file meanwhile.
    if (errno != ENOTEMPTY && errno != EEXIST) return errno;
  }
  return ENOTEMPTY;
}

int lockExclusive(int fd) {
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

}  // namespace registry::fs
