// The operations on files by path.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files/file_support.h"
#include "platform/files/vfile.h"
#include "platform/files/vfilename.h"
#include "platform/system/fd_io.h"

namespace {

constexpr size_t kReadChunk = 64 * 1024;

std::string native(const std::wstring& path, const wchar_t* call, const char* operation) {
  return filesupport::nativePath(path, call, VCTX(L"", operation));
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Closes now; errno of a failed close, 0 otherwise.
  int close() {
    int fd = fd_;
    fd_ = -1;
    return fd >= 0 && ::close(fd) != 0 && errno != EINTR ? errno : 0;
  }

 private:
  int fd_;
};

// The copy of the file `from` to the new or replaced file `to`; errno of the failure (the
// partial copy removed), 0 on success. `exclusive` refuses an existing `to`.
int copyFileTo(const std::string& from, const std::string& to, bool exclusive) {
  Descriptor in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) return errno;
  struct stat st;
  if (::fstat(in.get(), &st) != 0) return errno;
  if (S_ISDIR(st.st_mode)) return EISDIR;
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (exclusive ? O_EXCL : O_TRUNC);
  Descriptor out(::open(to.c_str(), flags, st.st_mode & 07777));
  if (out.get() < 0) return errno == ELOOP ? EACCES : errno;
  int err = fdio::copyAll(in.get(), out.get());
  if (err == 0 && ::fchmod(out.get(), st.st_mode & 07777) != 0) err = errno;
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  if (err == 0 && ::futimens(out.get(), times) != 0) err = errno;
  if (err == 0) err = out.close();
  if (err != 0) {
    out.close();
    ::unlink(to.c_str());
  }
  return err;
}

VFileStatus statusOf(const struct stat& st) {
  VFileStatus s;
  s.exists = true;
  s.isSymlink = S_ISLNK(st.st_mode);
  s.isDirectory = S_ISDIR(st.st_mode);
  s.size = st.st_size;
  s.lastWriteTime = filesupport::timeOf(st.st_mtim);
  return s;
}

}  // namespace

bool VFile::exists(const std::wstring& path) {
  if (path.empty() || path.find(L'\0') != std::wstring::npos) return false;
  struct stat st;
  return ::lstat(VFileName::toNative(path).c_str(), &st) == 0;
}

VFileStatus VFile::status(const std::wstring& path) {
  const std::string p = native(path, L"GetFileAttributes", "VFile::status");
  struct stat st;
  if (::lstat(p.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return {};
    filesupport::raise(L"GetFileAttributes", path, errno, VCTX(L"", "VFile::status"));
  }
  return statusOf(st);
}

VDateTime VFile::lastWriteTime(const std::wstring& path) {
  const std::string p = native(path, L"GetFileTime", "VFile::lastWriteTime");
  struct stat st;
  if (::stat(p.c_str(), &st) != 0)
    filesupport::raise(L"GetFileTime", path, errno, VCTX(L"", "VFile::lastWriteTime"));
  return filesupport::timeOf(st.st_mtim);
}

std::string VFile::readAll(const std::wstring& path) {
  VFile file(path, Mode::Read);
  std::string content;
  char buffer[kReadChunk];
  while (size_t n = file.read(buffer, sizeof buffer)) content.append(buffer, n);
  return content;
}

void VFile::copy(const std::wstring& from, const std::wstring& to, bool overwrite) {
  const std::string src = native(from, L"CopyFile", "VFile::copy");
  const std::string dst = native(to, L"CopyFile", "VFile::copy");
  if (overwrite) {
    // A link in the way is replaced, not written through.
    struct stat st;
    if (::lstat(dst.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) ::unlink(dst.c_str());
  }
  if (int err = copyFileTo(src, dst, !overwrite))
    filesupport::raise(L"CopyFile", from + L"' to '" + to, err, VCTX(L"", "VFile::copy"),
                       ExistsMeaning::FileExists);
}

void VFile::move(const std::wstring& from, const std::wstring& to) {
  const std::string src = native(from, L"MoveFile", "VFile::move");
  const std::string dst = native(to, L"MoveFile", "VFile::move");
  const std::wstring what = from + L"' to '" + to;
  if (::renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE) == 0) return;
  int err = errno;
  if (err == EINVAL || err == ENOSYS) {
    // A file system without the no-replace flag: check, then rename.
    struct stat st;
    if (::lstat(dst.c_str(), &st) == 0) filesupport::raise(L"MoveFile", what, EEXIST, VCTX(L"", "VFile::move"));
    if (::rename(src.c_str(), dst.c_str()) == 0) return;
    err = errno;
  }
  if (err == EXDEV) {
    struct stat st;
    if (::lstat(src.c_str(), &st) != 0) filesupport::raise(L"MoveFile", what, errno, VCTX(L"", "VFile::move"));
    if (!S_ISREG(st.st_mode)) filesupport::raise(L"MoveFile", what, EXDEV, VCTX(L"", "VFile::move"));
    if (int copyErr = copyFileTo(src, dst, true))
      filesupport::raise(L"MoveFile", what, copyErr, VCTX(L"", "VFile::move"));
    if (::unlink(src.c_str()) == 0) return;
    // The original cannot go: take the copy back, so the file exists once.
    err = errno;
    ::unlink(dst.c_str());
  }
  filesupport::raise(L"MoveFile", what, err, VCTX(L"", "VFile::move"));
}

void VFile::remove(const std::wstring& path) {
  const std::string p = native(path, L"DeleteFile", "VFile::remove");
  if (::unlink(p.c_str()) != 0) filesupport::raise(L"DeleteFile", path, errno, VCTX(L"", "VFile::remove"));
}

std::wstring VFile::createTemporary(const std::wstring& directory, const std::wstring& prefix) {
  std::string pattern = native(VFileName::combine(directory, prefix + L"XXXXXX.tmp"), L"GetTempFileName",
                               "VFile::createTemporary");
  int fd = ::mkostemps(pattern.data(), 4, O_CLOEXEC);
  if (fd < 0)
    filesupport::raise(L"GetTempFileName", directory, filesupport::openError(errno, pattern),
                       VCTX(L"", "VFile::createTemporary"));
  ::close(fd);
  return VFileName::fromNative(pattern);
}

void removeFile(const std::wstring& path, bool force) {
  const std::string p = filesupport::nativePath(path, L"DeleteFile", VCTX(L"", "removeFile"));
  if (::unlink(p.c_str()) == 0) return;
  int err = errno;
  if (err == ENOENT || err == ENOTDIR) return;
  if (force) {
    // The file's own write bit does not guard its deletion here, but a read-only file is
    // what the caller means to override, so it loses that state as well. fchmodat does
    // not follow a link: the target of a link is never touched.
    struct stat st;
    // Best effort: when the mode cannot change, the second unlink reports the failure.
    if (::lstat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode))
      (void)!::fchmodat(AT_FDCWD, p.c_str(), (st.st_mode & 07777) | S_IWUSR, AT_SYMLINK_NOFOLLOW);
    const std::wstring parent = VFileName::directory(path);
    const std::string dir = VFileName::toNative(parent.empty() ? std::wstring(L".") : parent);
    if (::stat(dir.c_str(), &st) == 0) ::chmod(dir.c_str(), (st.st_mode & 07777) | S_IWUSR | S_IXUSR);
    if (::unlink(p.c_str()) == 0) return;
    err = errno;
    if (err == ENOENT) return;
  }
  filesupport::raise(L"DeleteFile", path, err, VCTX(L"", "removeFile"));
}
