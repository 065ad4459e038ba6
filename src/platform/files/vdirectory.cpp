#include "platform/files/vdirectory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/files/file_support.h"
#include "platform/files/vfile.h"
#include "platform/files/vfilefinder.h"
#include "platform/files/vfilename.h"

namespace {

// Creates `native` after its missing parents; errno of the failure, 0 on success.
int makeDirectories(const std::string& native) {
  if (::mkdir(native.c_str(), 0755) == 0) return 0;
  int err = errno;
  if (err == EEXIST) {
    struct stat st;
    return ::stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? 0 : EEXIST;
  }
  if (err != ENOENT) return err;
  size_t slash = native.find_last_of('/');
  while (slash != std::string::npos && slash > 0 && native[slash - 1] == '/') --slash;
  if (slash == std::string::npos || slash == 0) return err;
  if (int parentErr = makeDirectories(native.substr(0, slash))) return parentErr;
  if (::mkdir(native.c_str(), 0755) == 0) return 0;
  return errno == EEXIST ? 0 : errno;
}

class DirStream {
 public:
  explicit DirStream(DIR* d) : d_(d) {}
  ~DirStream() {
    if (d_) ::closedir(d_);
  }
  DirStream(const DirStream&) = delete;
  DirStream& operator=(const DirStream&) = delete;
  DIR* get() const { return d_; }

 private:
  DIR* d_;
};

// Removes the entry `name` of the directory `parentFd`; `path` is its full path for
// messages. Descends through directory descriptors opened without following links, so a
// link swapped in during the walk cannot lead it out of the tree.
void removeEntryTree(int parentFd, const std::string& name, const std::wstring& path) {
  int fd = ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    if (err == ENOENT) return;
    if (err == ENOTDIR || err == ELOOP) {
      if (::unlinkat(parentFd, name.c_str(), 0) == 0 || errno == ENOENT) return;
      filesupport::raise(L"DeleteFile", path, errno, VCTX(L"", "VDirectory::removeTree"));
    }
    filesupport::raise(L"RemoveDirectory", path, err, VCTX(L"", "VDirectory::removeTree"));
  }
  DirStream dir(::fdopendir(fd));
  if (!dir.get()) {
    const int err = errno;
    ::close(fd);
    filesupport::raise(L"RemoveDirectory", path, err, VCTX(L"", "VDirectory::removeTree"));
  }
  std::vector<std::string> children;
  errno = 0;
  while (struct dirent* e = ::readdir(dir.get())) {
    std::string child = e->d_name;
    if (child != "." && child != "..") children.push_back(std::move(child));
  }
  for (const std::string& child : children)
    removeEntryTree(::dirfd(dir.get()), child, VFileName::combine(path, VFileName::fromNative(child)));
  if (::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
    filesupport::raise(L"RemoveDirectory", path, errno, VCTX(L"", "VDirectory::removeTree"));
}

void copyLink(const std::wstring& from, const std::wstring& to) {
  const std::string src = filesupport::nativePath(from, L"CopyFile", VCTX(L"", "VDirectory::copy"));
  const std::string dst = filesupport::nativePath(to, L"CopyFile", VCTX(L"", "VDirectory::copy"));
  std::string target(4096, '\0');
  ssize_t n = ::readlink(src.c_str(), target.data(), target.size());
  if (n < 0 || static_cast<size_t>(n) == target.size())
    filesupport::raise(L"CopyFile", from, n < 0 ? errno : ENAMETOOLONG, VCTX(L"", "VDirectory::copy"));
  target.resize(static_cast<size_t>(n));
  struct stat st;
  if (::lstat(dst.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) ::unlink(dst.c_str());
  if (::symlink(target.c_str(), dst.c_str()) != 0)
    filesupport::raise(L"CopyFile", to, errno, VCTX(L"", "VDirectory::copy"));
}

}  // namespace

bool VDirectory::exists(const std::wstring& path) {
  if (path.empty() || path.find(L'\0') != std::wstring::npos) return false;
  struct stat st;
  return ::stat(VFileName::toNative(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool VDirectory::isSymlink(const std::wstring& path) {
  if (path.empty() || path.find(L'\0') != std::wstring::npos) return false;
  struct stat st;
  return ::lstat(VFileName::toNative(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

void VDirectory::createDirectory(const std::wstring& path) {
  if (path.empty() || path.find(L'\0') != std::wstring::npos)
    throw ArgumentException(L"Unable to create directory with wrong name",
                            VCTX(L"", "VDirectory::createDirectory"));
  if (int err = makeDirectories(VFileName::toNative(path)))
    filesupport::raise(L"CreateDirectory", path, err, VCTX(L"", "VDirectory::createDirectory"));
}

void VDirectory::remove(const std::wstring& path) {
  const std::string p = filesupport::nativePath(path, L"RemoveDirectory", VCTX(L"", "VDirectory::remove"));
  if (::rmdir(p.c_str()) != 0) {
    const int err = errno == ENOENT ? ENOTDIR : errno == EEXIST ? ENOTEMPTY : errno;
    filesupport::raise(L"RemoveDirectory", path, err, VCTX(L"", "VDirectory::remove"));
  }
}

void VDirectory::removeTree(const std::wstring& path) {
  const std::string p = filesupport::nativePath(path, L"RemoveDirectory", VCTX(L"", "VDirectory::removeTree"));
  removeEntryTree(AT_FDCWD, p, path);
}

void VDirectory::removeTreeAt(int parentFd, const std::string& name, const std::wstring& path) {
  removeEntryTree(parentFd, name, path);
}

void VDirectory::copy(const std::wstring& from, const std::wstring& to, bool recursive) {
  createDirectory(to);
  for (VFileFinder finder(from, L"*"); finder.next();) {
    const VFileFinder::Entry& e = finder.entry();
    const std::wstring target = VFileName::combine(to, e.name);
    if (e.isSymlink) {
      copyLink(e.path, target);
    } else if (e.isDirectory) {
      if (recursive) copy(e.path, target, true);
    } else {
      VFile::copy(e.path, target, true);
    }
  }
}
