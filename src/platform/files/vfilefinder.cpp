#include "platform/files/vfilefinder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/files/file_support.h"
#include "platform/files/vfilename.h"

VFileFinder::VFileFinder(const std::wstring& directory, const std::wstring& mask) : directory_(directory) {
  const std::wstring pattern = VFileName::combine(directory, mask);
  const ContextRecord where = VCTX(L"", "VFileFinder::VFileFinder");
  const std::string native = filesupport::nativePath(directory, L"FindFirstFile", where);
  fd_ = ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) filesupport::raise(L"FindFirstFile", pattern, errno == ENOENT ? ENOTDIR : errno, where);
  int listFd = ::dup(fd_);
  DIR* dir = listFd < 0 ? nullptr : ::fdopendir(listFd);
  if (!dir) {
    const int err = errno;
    if (listFd >= 0) ::close(listFd);
    filesupport::raise(L"FindFirstFile", pattern, err, where);
  }
  const bool all = mask == L"*" || mask == L"*.*";
  for (;;) {
    errno = 0;
    struct dirent* e = ::readdir(dir);
    if (!e) break;
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    if (!all && !VFileName::matchesMask(VFileName::fromNative(name), mask)) continue;
    names_.push_back({std::move(name), e->d_type});
  }
  const int readErr = errno;
  ::closedir(dir);
  if (readErr != 0) filesupport::raise(L"FindNextFile", pattern, readErr, where);
  std::sort(names_.begin(), names_.end(), [](const Name& a, const Name& b) { return a.native < b.native; });
}

VFileFinder VFileFinder::forPattern(const std::wstring& pattern) {
  const size_t slash = pattern.find_last_of(L'/');
  if (slash == std::wstring::npos) return VFileFinder(L".", pattern);
  return VFileFinder(slash == 0 ? L"/" : pattern.substr(0, slash), pattern.substr(slash + 1));
}

VFileFinder::~VFileFinder() {
  if (fd_ >= 0) ::close(fd_);
}

VFileFinder::VFileFinder(VFileFinder&& other) noexcept
    : directory_(std::move(other.directory_)),
      fd_(other.fd_),
      names_(std::move(other.names_)),
      nextIndex_(other.nextIndex_),
      entry_(std::move(other.entry_)) {
  other.fd_ = -1;
  other.names_.clear();
}

VFileFinder& VFileFinder::operator=(VFileFinder&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    directory_ = std::move(other.directory_);
    fd_ = other.fd_;
    names_ = std::move(other.names_);
    nextIndex_ = other.nextIndex_;
    entry_ = std::move(other.entry_);
    other.fd_ = -1;
    other.names_.clear();
  }
  return *this;
}

bool VFileFinder::next() {
  while (nextIndex_ < names_.size()) {
    const Name& n = names_[nextIndex_++];
    Entry e;
    struct stat st;
    if (::fstatat(fd_, n.native.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      e.isSymlink = S_ISLNK(st.st_mode);
      e.isDirectory = S_ISDIR(st.st_mode);
      e.size = st.st_size;
      e.lastWriteTime = filesupport::timeOf(st.st_mtim);
    } else if (errno == ENOENT) {
      continue;
    } else {
      // Listed but not examinable (a directory readable without search permission): the
      // kind is still known from the listing.
      e.isSymlink = n.type == DT_LNK;
      e.isDirectory = n.type == DT_DIR;
    }
    e.name = VFileName::fromNative(n.native);
    e.path = VFileName::combine(directory_, e.name);
    entry_ = std::move(e);
    return true;
  }
  return false;
}
