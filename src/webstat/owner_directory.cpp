#include "webstat/owner_directory.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files/file_support.h"
#include "platform/files/vdirectory.h"
#include "platform/files/vfilefinder.h"
#include "platform/files/vfilename.h"
#include "platform/report/vexception.h"
#include "platform/system/fd_io.h"

namespace {

constexpr const char* kOperation = "OwnerDirectory";

[[noreturn]] void fail(std::wstring_view call, const std::wstring& path, int err,
                       ExistsMeaning exists = ExistsMeaning::AlreadyExists) {
  raiseErrno(std::wstring(call) + L" '" + path + L"'", err, VCTX(L"", kOperation), exists);
}

std::string native(std::wstring_view name) {
  if (!isPlainFileName(name))
    throw ArgumentException(L"Not a plain name: '" + std::wstring(name) + L"'", VCTX(L"", kOperation));
  return VFileName::toNative(name);
}

// A name no one else chooses: the entry's own name behind a dot, and random letters.
std::string temporaryName(const std::string& name) {
  unsigned char bytes[8];
  if (::getrandom(bytes, sizeof(bytes), 0) != static_cast<ssize_t>(sizeof(bytes)))
    for (size_t i = 0; i < sizeof(bytes); ++i) bytes[i] = static_cast<unsigned char>(::getpid() >> i ^ i * 37);
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string s = "." + name + ".";
  for (unsigned char b : bytes) s.push_back(kAlphabet[b % (sizeof(kAlphabet) - 1)]);
  return s;
}

}  // namespace

bool isPlainFileName(std::wstring_view name) {
  return !name.empty() && name != L"." && name != L".." &&
         name.find_first_of(std::wstring_view(L"/\0", 2)) == std::wstring_view::npos;
}

OwnerDirectory OwnerDirectory::open(const std::wstring& root, const std::vector<std::wstring>& components,
                                    size_t createFrom) {
  std::wstring path = root;
  UniqueFd fd = filesupport::openDirectoryAt(AT_FDCWD, VFileName::toNative(root), true);
  if (!fd.isOpen()) fail(L"CreateFile", root, errno);
  OwnerDirectory dir(std::move(fd), std::move(path));
  for (size_t i = 0; i < components.size(); ++i) dir = dir.child(components[i], i >= createFrom);
  return dir;
}

std::wstring OwnerDirectory::pathOf(std::wstring_view name) const { return VFileName::combine(path_, name); }

std::optional<struct stat> OwnerDirectory::status(std::wstring_view name) const {
  struct stat st;
  if (::fstatat(fd(), native(name).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return st;
  if (errno == ENOENT) return std::nullopt;
  fail(L"GetFileAttributes", pathOf(name), errno);
}

bool OwnerDirectory::isSymlink(std::wstring_view name) const {
  auto st = status(name);
  return st && S_ISLNK(st->st_mode);
}

bool OwnerDirectory::isDirectory(std::wstring_view name) const {
  auto st = status(name);
  return st && S_ISDIR(st->st_mode);
}

OwnerDirectory OwnerDirectory::child(std::wstring_view name, bool create) const {
  const std::string n = native(name);
  UniqueFd fd = filesupport::openDirectoryAt(this->fd(), n, false);
  if (!fd.isOpen() && errno == ENOENT && create) {
    if (::mkdirat(this->fd(), n.c_str(), 0755) != 0 && errno != EEXIST) fail(L"CreateDirectory", pathOf(name), errno);
    fd = filesupport::openDirectoryAt(this->fd(), n, false);
  }
  // A link standing under the name is refused as a file in the way would be.
  if (!fd.isOpen()) fail(L"CreateFile", pathOf(name), errno == ELOOP ? ENOTDIR : errno);
  return OwnerDirectory(std::move(fd), pathOf(name));
}

void OwnerDirectory::touch(std::wstring_view name) const {
  // Created only when nothing stands under the name: an entry the owner put there (a FIFO
  // whose open would wait for a reader for ever, a link) is left as it is.
  UniqueFd fd(::openat(this->fd(), native(name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (!fd.isOpen() && errno != EEXIST) fail(L"CreateFile", pathOf(name), errno);
}

void OwnerDirectory::removeFile(std::wstring_view name) const {
  if (::unlinkat(fd(), native(name).c_str(), 0) != 0 && errno != ENOENT) fail(L"DeleteFile", pathOf(name), errno);
}

void OwnerDirectory::removeTree(std::wstring_view name) const { VDirectory::removeTreeAt(fd(), native(name), pathOf(name)); }

void OwnerDirectory::replaceWith(std::wstring_view name, const std::function<void(int fd)>& fill, mode_t mode) const {
  const std::string target = native(name);
  std::string temporary;
  UniqueFd out;
  for (int attempt = 0; attempt < 16 && !out.isOpen(); ++attempt) {
    temporary = temporaryName(target);
    out.reset(::openat(fd(), temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!out.isOpen() && errno != EEXIST) break;
  }
  if (!out.isOpen()) fail(L"CreateFile", pathOf(VFileName::fromNative(temporary)), errno, ExistsMeaning::FileExists);
  try {
    fill(out.get());
    if (::fchmod(out.get(), mode) != 0) fail(L"SetFileAttributes", pathOf(name), errno);
    out.reset();
    if (::renameat(fd(), temporary.c_str(), fd(), target.c_str()) != 0) fail(L"MoveFile", pathOf(name), errno);
  } catch (...) {
    ::unlinkat(fd(), temporary.c_str(), 0);
    throw;
  }
}

void OwnerDirectory::copyFileFrom(const std::wstring& sourcePath, std::wstring_view name) const {
  UniqueFd in(::open(VFileName::toNative(sourcePath).c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (!in.isOpen() || ::fstat(in.get(), &st) != 0) fail(L"CopyFile", sourcePath, errno);
  replaceWith(
      name,
      [&](int out) {
        bool readFailed = false;
        if (int err = fdio::copyAll(in.get(), out, &readFailed))
          fail(L"CopyFile", readFailed ? sourcePath : pathOf(name), err);
        // The copy keeps the source's times, so that it reads as no older than its source.
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        if (::futimens(out, times) != 0) fail(L"CopyFile", pathOf(name), errno);
      },
      st.st_mode & 07777);
}

void OwnerDirectory::writeFile(std::wstring_view name, std::string_view bytes) const {
  replaceWith(
      name,
      [&](int out) {
        if (int err = fdio::writeAll(out, bytes)) fail(L"WriteFile", pathOf(name), err);
      },
      0644);
}

void OwnerDirectory::copyDirectoryFrom(const std::wstring& sourcePath, std::wstring_view name, bool recursive,
                                       const std::function<bool(std::wstring_view)>& skip) const {
  const OwnerDirectory target = child(name, true);
  for (VFileFinder finder(sourcePath, L"*"); finder.next();) {
    const VFileFinder::Entry& e = finder.entry();
    if (e.isSymlink) continue;
    if (e.isDirectory) {
      if (recursive) target.copyDirectoryFrom(e.path, e.name, true, skip);
    } else if (!skip || !skip(e.name)) {
      target.copyFileFrom(e.path, e.name);
    }
  }
}

int OwnerDirectory::renameNoReplace(std::wstring_view from, std::wstring_view to) const {
  return ::renameat2(fd(), native(from).c_str(), fd(), native(to).c_str(), RENAME_NOREPLACE) == 0 ? 0 : errno;
}

void OwnerDirectory::setPermissions(mode_t directoryMode, mode_t fileMode) const {
  if (::fchmod(fd(), directoryMode) != 0) fail(L"SetFileSecurity", path_, errno);
  for (VFileFinder finder(path_, L"*"); finder.next();) {
    const VFileFinder::Entry& e = finder.entry();
    if (e.isSymlink || e.isDirectory || !isPlainFileName(e.name)) continue;
    // Opened as itself: a file swapped for a link after the listing is left alone.
    UniqueFd file(::openat(fd(), VFileName::toNative(e.name).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    // A file with another name elsewhere is not the directory's own: its mode stays.
    if (file.isOpen() && ::fstat(file.get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1)
      ::fchmod(file.get(), fileMode);
  }
}
