#include "maintenance/log_rotation.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <optional>

#include "db/cdr_database.h"
#include "maintenance/log_rotation_policy.h"
#include "maintenance/zip_archive.h"
#include "platform/files/file_support.h"
#include "platform/files/vfile.h"
#include "platform/files/vfilename.h"
#include "platform/report/guard.h"
#include "platform/report/idn_name.h"
#include "platform/report/log_manager.h"
#include "platform/service/product_paths.h"
#include "platform/system/fd_io.h"
#include "platform/system/system_root.h"
#include "platform/system/unique_fd.h"

namespace {

constexpr const char* kOperation = "logrotate::start";
// Archive numbers are looked for below this one.
constexpr int kArchiveNumberLimit = 32000;

// ---- The directory, seen through one descriptor

// The log directory `directory`, or a closed descriptor when it does not exist. Below the
// web hosts root `vhostsRoot` the tree is the domain owner's, who may swap any directory of
// it for a link: there the root is opened as the administrator's (following links) and
// every component below it without following one, so that a link on the way counts as a
// missing directory. A directory elsewhere is the administrator's and is opened as named.
// Any other failure raises "FindFirstFile '<directory>/*.*'".
UniqueFd openLogDirectory(const std::wstring& directory, const std::wstring& vhostsRoot) {
  const std::wstring root = VFileName::withoutTrailingSeparators(vhostsRoot);
  const std::wstring path = VFileName::withoutTrailingSeparators(directory);
  const bool owned = !root.empty() && path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                     path[root.size()] == L'/';
  UniqueFd fd = filesupport::openDirectoryAt(AT_FDCWD, VFileName::toNative(owned ? root : path), true);
  int err = errno;
  for (size_t at = root.size(); owned && fd.isOpen() && at < path.size();) {
    const size_t end = std::min(path.find(L'/', at + 1), path.size());
    const std::wstring name = path.substr(at + 1, end - at - 1);
    at = end;
    if (name.empty() || name == L".") continue;
    UniqueFd next = filesupport::openDirectoryAt(fd.get(), VFileName::toNative(name), false);
    err = errno == ELOOP ? ENOTDIR : errno;  // a link stands where the directory should
    fd = std::move(next);
  }
  if (fd.isOpen() || err == ENOENT || err == ENOTDIR) return fd;
  filesupport::raise(L"FindFirstFile", VFileName::combine(directory, L"*.*"), err, VCTX(L"", kOperation));
}

// Whether the entry `name` is a file the rotation may read or remove: a regular file with
// no other name (a hard link would let the owner of the directory reach a file elsewhere).
bool isOwnRegularFile(const struct stat& st) { return S_ISREG(st.st_mode) && st.st_nlink == 1; }

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Whether the entry `name` of the open directory, taken as itself, is still the file `seen`.
bool stillTheFile(int dirFd, const std::string& name, const struct stat& seen) {
  struct stat now;
  return ::fstatat(dirFd, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(now, seen);
}

// The rotation's files of the open directory, in name order: regular files only, each with
// its last-write time and size.
std::vector<LogFileEntry> listLogFiles(int dirFd, const std::wstring& directory) {
  std::vector<LogFileEntry> entries;
  const int listFd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
  if (!dir) {
    const int err = errno;
    if (listFd >= 0) ::close(listFd);
    filesupport::raise(L"FindFirstFile", VFileName::combine(directory, L"*.*"), err, VCTX(L"", kOperation));
  }
  std::vector<std::string> names;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    struct stat st;
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !isOwnRegularFile(st)) continue;
    entries.push_back(LogFileEntry{VFileName::combine(directory, VFileName::fromNative(name)),
                                   filesupport::timeOf(st.st_mtim), static_cast<int64_t>(st.st_size)});
  }
  return entries;
}

std::string nativeName(const std::wstring& path) { return VFileName::toNative(VFileName::fileName(path)); }

// Whether anything, a dangling link included, stands under `name` in the directory. A name
// the system cannot look up counts as taken, except one too long to exist.
bool present(int dirFd, const std::string& name) {
  struct stat st;
  return ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || (errno != ENOENT && errno != ENAMETOOLONG);
}

// ---- Compression

// A lease break is asked for with SIGIO, whose default action would end the program; the
// copy notices the break itself (leaseHeld), so the signal is not needed.
void ignoreLeaseBreakSignal() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction current {};
    if (::sigaction(SIGIO, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) ::signal(SIGIO, SIG_IGN);
  });
}

// Takes a write lease on the open log: the system grants it only while no other open file
// refers to the log, and breaks it as soon as another process opens the log. This stands
// for the exclusive open of a file nobody else may have open.
bool takeWriteLease(int fd) {
  ignoreLeaseBreakSignal();
  return ::fcntl(fd, F_SETLEASE, F_WRLCK) == 0;
}

bool leaseHeld(int fd) { return ::fcntl(fd, F_GETLEASE) == F_WRLCK; }

bool renameArchive(int dirFd, const std::wstring& directory, const std::wstring& from, const std::wstring& to) {
  if (::renameat2(dirFd, VFileName::toNative(from).c_str(), dirFd, VFileName::toNative(to).c_str(), RENAME_NOREPLACE) ==
      0)
    return true;
  vreport(3, L"Can't rename file %s to %s", VFileName::combine(directory, from), VFileName::combine(directory, to));
  return false;
}

std::wstring numberedArchive(const std::wstring& name, int n) { return name + L"_" + std::to_wstring(n) + L".zip"; }

// Moves the archives of `name` one number up, so that name + ".zip" is free.
bool renumberArchives(int dirFd, const std::wstring& directory, const std::wstring& name) {
  int free = 1;
  while (free < kArchiveNumberLimit && present(dirFd, VFileName::toNative(numberedArchive(name, free)))) ++free;
  if (free == kArchiveNumberLimit) return false;
  for (int k = free; k >= 2; --k)
    if (!renameArchive(dirFd, directory, numberedArchive(name, k - 1), numberedArchive(name, k))) return false;
  return renameArchive(dirFd, directory, name + L".zip", numberedArchive(name, 1));
}

// The archive gets the log's owner and permissions: it holds the same data.
void giveLikeTheLog(int archiveFd, const struct stat& log) {
  if (::geteuid() == 0 && ::fchown(archiveFd, log.st_uid, log.st_gid) != 0) return;
  ::fchmod(archiveFd, log.st_mode & 0666);
}

bool compressInDirectory(int dirFd, const std::wstring& directory, const std::wstring& name) {
  const std::string logName = VFileName::toNative(name);
  const std::string archiveName = VFileName::toNative(name + L".zip");
  if (present(dirFd, archiveName) && !renumberArchives(dirFd, directory, name)) return false;

  struct stat listed;
  if (::fstatat(dirFd, logName.c_str(), &listed, AT_SYMLINK_NOFOLLOW) != 0 || !isOwnRegularFile(listed)) return false;
  const VDateTime modified = filesupport::timeOf(listed.st_mtim);
  // Not blocking: a FIFO swapped in meanwhile, or a lease of another process, refuses at once.
  UniqueFd log(::openat(dirFd, logName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat opened;
  if (!log.isOpen() || ::fstat(log.get(), &opened) != 0 || !isOwnRegularFile(opened) || !sameFile(opened, listed) ||
      !takeWriteLease(log.get()))
    return false;
  if (present(dirFd, archiveName)) return false;

  UniqueFd archive(::openat(dirFd, archiveName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!archive.isOpen()) return false;
  ziparchive::EntryDigest digest;
  const int logFd = log.get();
  const bool archived = ziparchive::writeSingleEntry(archive.get(), logName, modified, logFd, digest,
                                                     [logFd] { return leaseHeld(logFd); }) &&
                        ziparchive::verifySingleEntry(archive.get(), logName, digest) && ::fsync(dirFd) == 0;
  if (archived) {
    // Only now is the archive handed to the log's owner, who could otherwise change it while
    // it is written and read back.
    giveLikeTheLog(archive.get(), opened);
    // The name must still stand for the file that was archived (else the archive stays and
    // so does the log), and no one may have opened the log since: the lease is looked at
    // just before the log goes, which leaves a writer the shortest window to lose lines in.
    if (!stillTheFile(dirFd, logName, opened)) return false;
    if (leaseHeld(logFd)) return ::unlinkat(dirFd, logName.c_str(), 0) == 0;
  }
  ::unlinkat(dirFd, archiveName.c_str(), 0);
  return false;
}

// ---- Mailing and removal

// A copy of an open file under its own name, in a new directory of the system temporary
// directory that only this process's user may enter; removed with that directory when the
// object goes. The mail provider opens files by name, so it is given this copy and never
// a name in a directory the domain's owner can change.
class PrivateCopy {
 public:
  PrivateCopy(int from, const std::string& name) : directory_(makeDirectory()), path_(directory_ + "/" + name) {
    try {
      fill(from);
    } catch (...) {
      discard();
      throw;
    }
  }
  ~PrivateCopy() { discard(); }
  PrivateCopy(const PrivateCopy&) = delete;
  PrivateCopy& operator=(const PrivateCopy&) = delete;

  std::wstring path() const { return VFileName::fromNative(path_); }

 private:
  static std::string makeDirectory() {
    std::string pattern = process::tempDirectory() + "/logrotate.XXXXXX";
    if (!::mkdtemp(pattern.data()))
      filesupport::raise(L"CreateDirectory", VFileName::fromNative(pattern), errno, VCTX(L"", kOperation));
    return pattern;
  }
  void fill(int from) const {
    UniqueFd out(::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!out.isOpen()) fail(errno);
    if (int err = fdio::copyAll(from, out.get())) fail(err);
  }
  [[noreturn]] void fail(int err) const { filesupport::raise(L"CopyFile", path(), err, VCTX(L"", kOperation)); }
  void discard() const {
    ::unlink(path_.c_str());
    ::rmdir(directory_.c_str());
  }

  std::string directory_;
  std::string path_;
};

// Deletes the file `name` of the open directory when it is still the file `seen`, forcing
// as removeFile does: a directory without its owner's write bit gets it back first.
void removeSeenFile(int dirFd, const std::string& name, const struct stat& seen, const std::wstring& path) {
  if (!stillTheFile(dirFd, name, seen)) return;
  if (::unlinkat(dirFd, name.c_str(), 0) == 0 || errno == ENOENT) return;
  int err = errno;
  struct stat dir;
  if (err == EACCES && ::fstat(dirFd, &dir) == 0 && ::fchmod(dirFd, (dir.st_mode & 07777) | S_IWUSR | S_IXUSR) == 0) {
    if (::unlinkat(dirFd, name.c_str(), 0) == 0 || errno == ENOENT) return;
    err = errno;
  }
  filesupport::raise(L"DeleteFile", path, err, VCTX(L"", "removeFile"));
}

// ---- The rotation of one directory

class DirectoryRotation {
 public:
  DirectoryRotation(CDRDatabase& db, const LogRotationPolicy& policy, const std::wstring& domainName,
                    const std::wstring& directory, const mailmng::ProviderSource& source,
                    const std::wstring& vhostsRoot)
      : db_(db),
        policy_(policy),
        domainName_(domainName),
        directory_(directory),
        source_(source),
        vhostsRoot_(vhostsRoot) {}

  void run() {
    UniqueFd dir = openLogDirectory(directory_, vhostsRoot_);
    if (!dir.isOpen()) return;
    std::vector<LogFileEntry> rotation = plainFiles(listLogFiles(dir.get(), directory_));
    bool newestKept = false;
    if (!rotation.empty()) {
      std::stable_sort(rotation.begin(), rotation.end(), logEntryLess);
      if (isCurrentLog(policy_, rotation.back(), VDateTime::nowUtc())) {
        rotation.pop_back();
        newestKept = true;
      }
    }
    if (policy_.compress)
      for (const LogFileEntry& entry : rotation)
        compressInDirectory(dir.get(), directory_, VFileName::fileName(entry.path));

    std::vector<LogFileEntry> candidates;
    std::vector<LogFileEntry> plain;
    for (LogFileEntry& entry : listLogFiles(dir.get(), directory_))
      (entry.isArchive() ? candidates : plain).push_back(std::move(entry));
    if (!policy_.compress && !plain.empty()) {
      if (newestKept) {
        std::stable_sort(plain.begin(), plain.end(), logEntryLess);
        plain.pop_back();
      }
      candidates.insert(candidates.end(), plain.begin(), plain.end());
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const LogFileEntry& a, const LogFileEntry& b) { return logEntryLess(b, a); });

    mailmng::ProviderHandle provider;
    if (!policy_.email.empty() && candidates.size() > keptCount()) {
      provider = source_();
      if (!provider) throw vexception(L"The mail provider is not available", VCTX(L"", kOperation));
    }
    for (size_t i = keptCount(); i < candidates.size(); ++i) remove(dir.get(), candidates[i].path, provider.get());
  }

 private:
  static std::vector<LogFileEntry> plainFiles(std::vector<LogFileEntry> entries) {
    std::erase_if(entries, [](const LogFileEntry& e) { return e.isArchive(); });
    return entries;
  }

  size_t keptCount() const { return static_cast<size_t>(std::max<int32_t>(policy_.maxNumberOfLogFiles, 0)); }

  // Only what was listed goes: a name swapped for a link or another kind of file since is
  // left alone, so its target is neither mailed nor touched. What is mailed is read through
  // the descriptor that is checked, and what is deleted is that same file.
  void remove(int dirFd, const std::wstring& path, mailmng::imailmngprovider* provider) {
    const std::string name = nativeName(path);
    struct stat seen;
    if (::fstatat(dirFd, name.c_str(), &seen, AT_SYMLINK_NOFOLLOW) != 0 || !isOwnRegularFile(seen)) return;
    if (provider) {
      // Not blocking: a FIFO swapped in meanwhile refuses at once.
      UniqueFd file(::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
      struct stat opened;
      if (!file.isOpen() || ::fstat(file.get(), &opened) != 0 || !isOwnRegularFile(opened) || !sameFile(opened, seen))
        return;
      mail(*provider, file.get(), name, path);
    }
    removeSeenFile(dirFd, name, seen, path);
  }

  void mail(mailmng::imailmngprovider& provider, int fd, const std::string& name, const std::wstring& path) {
    try {
      const PrivateCopy copy(fd, name);
      std::wstring adminName;
      std::wstring adminEmail;
      db_.getAdminEmail(adminName, adminEmail);
      provider.send(adminEmail, adminName, policy_.email, L"",
                    L"Domain " + domainName_ + L" log " + VFileName::fileName(path), L"", {copy.path()}, L"", L"");
    } catch (...) {
      guard::rethrowAs(vformat(L"Send log email to %s", idn::toUnicode(domainName_)), VCTX(L"", kOperation));
    }
  }

  CDRDatabase& db_;
  const LogRotationPolicy& policy_;
  const std::wstring& domainName_;
  const std::wstring& directory_;
  const mailmng::ProviderSource& source_;
  const std::wstring& vhostsRoot_;
};

std::optional<LogRotationPolicy> queryPolicy(CDRDatabase& db, const std::wstring& domainId) {
  VRecordSet rows = db.query(logrotate::getQuery(db.provider().providerName(), db.escape(domainId)));
  if (!rows.next()) return std::nullopt;
  auto column = [&rows](int32_t i) { return rows.get(i, L"", true); };
  return LogRotationPolicy::fromColumns(column(0), column(1), column(2), column(3), column(4), column(5));
}

}  // namespace

namespace logrotate {

void start(CDRDatabase& database, const DomainNameMap& domains, const std::wstring& domainName,
           const std::vector<std::wstring>& logDirectories, const mailmng::ProviderSource& source,
           const VhostsRoot& vhostsRoot) {
  guard::report(0, VCTX(vformat(L"Rotate log for domain %s", domainName), kOperation), [&] {
    auto found = domains.find(domainName);
    if (found == domains.end()) {
      vreport(0, L"Domain %s does not exist", domainName);
      return;
    }
    vreport(0, L"Rotating log for domain %s...", domainName);
    const std::optional<LogRotationPolicy> policy = queryPolicy(database, found->second);
    if (!policy || !policy->turnedOn) return;
    const std::wstring shownName = idn::toUnicode(domainName);
    for (const std::wstring& directory : logDirectories) {
      const ContextRecord context = VCTX(vformat(L"Process domain %s log %s", shownName,
                                                 VFileName::fileName(VFileName::withoutTrailingSeparators(directory))),
                                         kOperation);
      guard::report(3, context, [&] {
        const std::wstring root = vhostsRoot ? vhostsRoot() : getProductPath(L"HTTPD_VHOSTS_D");
        DirectoryRotation(database, *policy, domainName, directory, source, root).run();
      });
    }
  });
}

}  // namespace logrotate

bool compressLogFile(const std::wstring& path) {
  try {
    const std::wstring directory = VFileName::directory(path);
    UniqueFd dir(
        ::open(VFileName::toNative(directory.empty() ? L"." : directory).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return dir.isOpen() && compressInDirectory(dir.get(), directory, VFileName::fileName(path));
  } catch (...) {
    return false;
  }
}
