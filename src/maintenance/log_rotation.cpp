#include "maintenance/log_rotation.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
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
#include "platform/system/unique_fd.h"

namespace {

constexpr const char* kOperation = "logrotate::start";
// Archive numbers are looked for below this one.
constexpr int kArchiveNumberLimit = 32000;

// ---- The directory, seen through one descriptor

// The log directory `directory`, or a closed descriptor when it does not exist. Any other
// failure raises "FindFirstFile '<directory>/*.*'".
UniqueFd openLogDirectory(const std::wstring& directory) {
  const std::string native = VFileName::toNative(directory);
  UniqueFd fd(::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.isOpen() || errno == ENOENT || errno == ENOTDIR) return fd;
  filesupport::raise(L"FindFirstFile", VFileName::combine(directory, L"*.*"), errno, VCTX(L"", kOperation));
}

// Whether the entry `name` is a file the rotation may read or remove: a regular file with
// no other name (a hard link would let the owner of the directory reach a file elsewhere).
bool isOwnRegularFile(const struct stat& st) { return S_ISREG(st.st_mode) && st.st_nlink == 1; }

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

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

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
                        ziparchive::verifySingleEntry(archive.get(), logName, digest) && leaseHeld(logFd) &&
                        ::fsync(dirFd) == 0;
  if (!archived) {
    ::unlinkat(dirFd, archiveName.c_str(), 0);
    return false;
  }
  // Only now is the archive handed to the log's owner, who could otherwise change it while
  // it is written and read back.
  giveLikeTheLog(archive.get(), opened);
  archive.reset();
  // The name must still stand for the file that was archived.
  struct stat now;
  if (::fstatat(dirFd, logName.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || !sameFile(now, opened)) return false;
  return ::unlinkat(dirFd, logName.c_str(), 0) == 0;
}

// ---- The rotation of one directory

class DirectoryRotation {
 public:
  DirectoryRotation(CDRDatabase& db, const LogRotationPolicy& policy, const std::wstring& domainName,
                    const std::wstring& directory, const mailmng::ProviderSource& source)
      : db_(db), policy_(policy), domainName_(domainName), directory_(directory), source_(source) {}

  void run() {
    UniqueFd dir = openLogDirectory(directory_);
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

  void remove(int dirFd, const std::wstring& path, mailmng::imailmngprovider* provider) {
    // Only what was listed goes: a name swapped for a link or another kind of file since
    // is left alone, so its target is neither mailed nor touched.
    struct stat st;
    if (::fstatat(dirFd, nativeName(path).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !isOwnRegularFile(st)) return;
    if (provider) mail(*provider, path);
    removeFile(path, true);
  }

  void mail(mailmng::imailmngprovider& provider, const std::wstring& path) {
    try {
      std::wstring adminName;
      std::wstring adminEmail;
      db_.getAdminEmail(adminName, adminEmail);
      provider.send(adminEmail, adminName, policy_.email, L"",
                    L"Domain " + domainName_ + L" log " + VFileName::fileName(path), L"", {path}, L"", L"");
    } catch (...) {
      guard::rethrowAs(vformat(L"Send log email to %s", idn::toUnicode(domainName_)), VCTX(L"", kOperation));
    }
  }

  CDRDatabase& db_;
  const LogRotationPolicy& policy_;
  const std::wstring& domainName_;
  const std::wstring& directory_;
  const mailmng::ProviderSource& source_;
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
           const std::vector<std::wstring>& logDirectories, const mailmng::ProviderSource& source) {
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
      guard::report(3, context, [&] { DirectoryRotation(database, *policy, domainName, directory, source).run(); });
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
