#include "platform/files/vfile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files/file_support.h"

namespace {

int openFlags(VFile::Mode mode) {
  constexpr int kWrite = O_CLOEXEC | O_NOFOLLOW;
  switch (mode) {
    case VFile::Mode::Read: return O_RDONLY | O_CLOEXEC;
    case VFile::Mode::ReadWrite: return O_RDWR | kWrite;
    case VFile::Mode::CreateAlways: return O_WRONLY | O_CREAT | O_TRUNC | kWrite;
    case VFile::Mode::CreateNew: return O_WRONLY | O_CREAT | O_EXCL | kWrite;
    case VFile::Mode::OpenAlways: return O_WRONLY | O_CREAT | kWrite;
    case VFile::Mode::Append: return O_WRONLY | O_CREAT | O_APPEND | kWrite;
  }
  return O_RDONLY | O_CLOEXEC;
}

struct stat statOf(int fd, const std::wstring& path, const char* operation) {
  struct stat st;
  if (::fstat(fd, &st) != 0) filesupport::raise(L"GetFileInformation", path, errno, VCTX(L"", operation));
  return st;
}

}  // namespace

VFile::VFile(const std::wstring& path, Mode mode) { open(path, mode); }

VFile::~VFile() {
  if (fd_ >= 0) ::close(fd_);
}

VFile::VFile(VFile&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) { other.fd_ = -1; }

VFile& VFile::operator=(VFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
  }
  return *this;
}

void VFile::open(const std::wstring& path, Mode mode) {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  path_ = path;
  const std::string native = filesupport::nativePath(path, L"CreateFile", VCTX(L"", "VFile::open"));
  int fd;
  do {
    fd = ::open(native.c_str(), openFlags(mode), 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    int err = errno == ELOOP && mode != Mode::Read ? EACCES : filesupport::openError(errno, native);
    filesupport::raise(L"CreateFile", path, err, VCTX(L"", "VFile::open"), ExistsMeaning::FileExists);
  }
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    filesupport::raise(L"CreateFile", path, EACCES, VCTX(L"", "VFile::open"));
  }
  fd_ = fd;
}

size_t VFile::read(void* buffer, size_t size) {
  auto* p = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::read(fd_, p + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      filesupport::raise(L"ReadFile", path_, errno, VCTX(L"", "VFile::read"));
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

void VFile::write(const void* data, size_t size) {
  auto* p = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd_, p + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      filesupport::raise(L"WriteFile", path_, errno, VCTX(L"", "VFile::write"));
    }
    done += static_cast<size_t>(n);
  }
}

int64_t VFile::seek(int64_t offset, Origin origin) {
  const int whence = origin == Origin::Begin ? SEEK_SET : origin == Origin::Current ? SEEK_CUR : SEEK_END;
  off_t pos = ::lseek(fd_, static_cast<off_t>(offset), whence);
  if (pos < 0) filesupport::raise(L"SetFilePointer", path_, errno, VCTX(L"", "VFile::seek"));
  return pos;
}

int64_t VFile::position() const {
  off_t pos = ::lseek(fd_, 0, SEEK_CUR);
  if (pos < 0) filesupport::raise(L"SetFilePointer", path_, errno, VCTX(L"", "VFile::position"));
  return pos;
}

int64_t VFile::size() const { return statOf(fd_, path_, "VFile::size").st_size; }

VDateTime VFile::lastWriteTime() const {
  return filesupport::timeOf(statOf(fd_, path_, "VFile::lastWriteTime").st_mtim);
}

VDateTime VFile::lastAccessTime() const {
  return filesupport::timeOf(statOf(fd_, path_, "VFile::lastAccessTime").st_atim);
}

void VFile::flush() {
  if (::fsync(fd_) != 0 && errno != EINVAL)
    filesupport::raise(L"FlushFileBuffers", path_, errno, VCTX(L"", "VFile::flush"));
}

bool VFile::tryLockExclusive() {
  while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return false;
    filesupport::raise(L"LockFile", path_, errno, VCTX(L"", "VFile::tryLockExclusive"));
  }
  return true;
}

void VFile::close() {
  if (fd_ < 0) return;
  int fd = fd_;
  fd_ = -1;
  // Linux releases the descriptor even when close reports an error; never retry.
  if (::close(fd) != 0 && errno != EINTR)
    filesupport::raise(L"CloseHandle", path_, errno, VCTX(L"", "VFile::close"));
}
