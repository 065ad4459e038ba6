#include "platform/registry/registry_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/system/system_root.h"
#include "platform/text/text_codec.h"
#include "platform/report/vexception.h"

namespace registry {

namespace {

constexpr const char* kHive = "hklm";
constexpr const char* kKeyFileName = ".key";
constexpr const char* kKeyTempName = ".key.tmp";
constexpr const char* kTrash = ".trash";
constexpr const char* kStagingPrefix = ".new.";
constexpr size_t kKeyFileLimit = 64u << 20;

bool syncFromEnvironment() {
  const char* env = std::getenv("CADRO_REGISTRY_SYNC");
  if (!env) return true;
  std::string v = env;
  for (char& c : v) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return !(v == "0" || v == "off" || v == "no" || v == "false");
}

// A name no other process or thread uses at the same time: pid, a counter and the clock.
std::string uniqueName(const char* prefix) {
  static std::atomic<unsigned> counter{0};
  auto now = std::chrono::steady_clock::now().time_since_epoch();
  return std::string(prefix) + std::to_string(::getpid()) + "." + std::to_string(++counter) + "." +
         std::to_string(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() % 1000000000);
}

// True when some other character folds to c, so that a folded name does not tell the
// spelling it was created with.
bool isFoldOfCapital(wchar_t c) {
  for (long delta : {32L, 80L, 1L}) {
    long candidate = static_cast<long>(c) - delta;
    if (candidate > 0 && foldCase(static_cast<wchar_t>(candidate)) == c) return true;
  }
  return c == 0xFF;
}

bool spellingIsFolded(std::wstring_view name) {
  for (wchar_t c : name)
    if (isFoldOfCapital(c)) return false;
  return true;
}

bool isDirectoryEntry(int dirFd, const dirent* entry) {
  if (entry->d_type == DT_DIR) return true;
  if (entry->d_type != DT_UNKNOWN) return false;
  struct stat st;
  return ::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
}

std::wstring errnoText(int err) { return text::fromAnsi(std::strerror(err)); }

// True for a name made by uniqueName(prefix) in a process that no longer exists: what it
// left there is nobody's any more.
bool leftByEndedProcess(const std::string& name, std::string_view prefix) {
  if (name.compare(0, prefix.size(), prefix) != 0) return false;
  const char* digits = name.c_str() + prefix.size();
  char* end = nullptr;
  long pid = std::strtol(digits, &end, 10);
  if (end == digits || *end != '.' || pid <= 0 || pid == ::getpid()) return false;
  return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

// Removes the staging directories below a key that writers killed while they built a
// sub-key left behind, under the key's lock. A key whose lock is busy is swept another time.
void removeAbandonedStaging(int keyFd, const std::vector<std::string>& names) {
  if (::flock(keyFd, LOCK_EX | LOCK_NB) != 0) return;
  for (const std::string& name : names) fs::removeTree(keyFd, name);
  ::flock(keyFd, LOCK_UN);
}

}  // namespace

RegistryStore::RegistryStore(std::string directory)
    : directory_(std::move(directory)), sync_(syncFromEnvironment()) {}

RegistryStore RegistryStore::system() { return RegistryStore(sysroot::path("registry")); }

std::string RegistryStore::keyFilePath(const KeyPath& path) const {
  std::string p = directory_ + "/" + kHive;
  for (const std::wstring& part : path) p += "/" + directoryNameOf(part);
  return p + "/" + kKeyFileName;
}

StoreStatus RegistryStore::errnoStatus(int err, const KeyPath& path) const {
  std::wstring where = text::fromAnsi(keyFilePath(path));
  where.resize(where.size() - std::strlen(kKeyFileName) - 1);
  if (err == ENOENT) return {winerr::kFileNotFound, {}};
  if (err == ENOTDIR || err == ELOOP)
    return {kErrorRegistryCorrupt, L"'" + where + L"' is not a registry key directory"};
  return {winErrorFromErrno(err), errnoText(err) + L": '" + where + L"'"};
}

StoreStatus RegistryStore::makeKeyDirectory(int parentFd, const std::wstring& name, const std::string& dirName) const {
  if (foldCase(name) == name && !isHashedDirectoryName(dirName)) {
    if (::mkdirat(parentFd, dirName.c_str(), 0755) == 0) {
      if (sync_) ::fsync(parentFd);
    } else if (errno != EEXIST) {
      return {winErrorFromErrno(errno), errnoText(errno)};
    }
    return StoreStatus::success();
  }
  // The key is built under a hidden name with its ".key" (which keeps the spelling) and
  // then renamed into place, so no reader sees it without its name.
  std::string staging;
  for (int attempt = 0;; ++attempt) {
    staging = uniqueName(kStagingPrefix);
    if (::mkdirat(parentFd, staging.c_str(), 0755) == 0) break;
    if (errno != EEXIST || attempt > 8) return {winErrorFromErrno(errno), errnoText(errno)};
  }
  fs::Fd stagingFd;
  int err = fs::openDirectory(parentFd, staging, stagingFd);
  if (err == 0) err = fs::replaceFile(stagingFd.get(), kKeyTempName, kKeyFileName, KeyFile(name).text(), sync_);
  if (err == 0) {
    err = fs::renameNoReplace(parentFd, staging, parentFd, dirName);
    if (err == EEXIST) err = 0;  // made by someone else meanwhile: theirs stands
    else if (err == 0 && sync_) ::fsync(parentFd);
  }
  fs::removeTree(parentFd, staging);
  if (err != 0) return {winErrorFromErrno(err), errnoText(err)};
  return StoreStatus::success();
}

StoreStatus RegistryStore::openKey(const KeyPath& path, bool create, fs::Fd& out) const {
  std::string hive = directory_ + "/" + kHive;
  fs::Fd current(::open(hive.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!current.valid() && errno == ENOENT && create) {
    sysroot::ensureDirectory(hive);
    current.reset(::open(hive.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  }
  if (!current.valid()) return errnoStatus(errno, {});
  // A name the system refuses (it would end every enumeration of its parent) is refused
  // before anything of the path is made.
  if (create)
    for (const std::wstring& part : path)
      if (part.size() > kMaxKeyNameLength) return {winerr::kInvalidParameter, {}};
  KeyPath walked;
  for (const std::wstring& part : path) {
    walked.push_back(part);
    std::string dirName = directoryNameOf(part);
    fs::Fd next;
    int err = fs::openDirectory(current.get(), dirName, next);
    if (err == ENOENT && create) {
      StoreStatus made = makeKeyDirectory(current.get(), part, dirName);
      if (!made.ok()) return made;
      err = fs::openDirectory(current.get(), dirName, next);
    }
    if (err != 0) return errnoStatus(err, walked);
    current = std::move(next);
  }
  out = std::move(current);
  return StoreStatus::success();
}

StoreStatus RegistryStore::loadKeyFile(int keyFd, const KeyPath& path, KeyFile& out, KeyFile::Check check) const {
  std::string content;
  int err = fs::readFile(keyFd, kKeyFileName, kKeyFileLimit, content);
  if (err == ENOENT) {
    // Only keys whose name has no capitals live without a ".key": the folded name is
    // their spelling.
    out = KeyFile(path.empty() ? std::wstring() : foldCase(path.back()));
    return StoreStatus::success();
  }
  std::wstring file = text::fromAnsi(keyFilePath(path));
  if (err == EFBIG) return {kErrorRegistryCorrupt, L"Damaged registry key file '" + file + L"' (too large)"};
  if (err != 0) return errnoStatus(err, path);
  KeyFileError parseError;
  if (!KeyFile::parse(std::move(content), out, parseError, check)) {
    std::wstring where = parseError.line ? L"line " + std::to_wstring(parseError.line) + L": " : L"";
    return {kErrorRegistryCorrupt, L"Damaged registry key file '" + file + L"' (" + where + parseError.reason + L")"};
  }
  return StoreStatus::success();
}

StoreStatus RegistryStore::createKey(const KeyPath& path) {
  fs::Fd fd;
  return openKey(path, true, fd);
}

StoreStatus RegistryStore::keyExists(const KeyPath& path) const {
  fs::Fd fd;
  return openKey(path, false, fd);
}

StoreStatus RegistryStore::readKey(const KeyPath& path, KeyFile& out) const {
  fs::Fd fd;
  StoreStatus st = openKey(path, false, fd);
  if (!st.ok()) return st;
  return loadKeyFile(fd.get(), path, out, KeyFile::Check::Everything);
}

StoreStatus RegistryStore::updateKey(const KeyPath& path, bool createMissing,
                                     const std::function<StoreStatus(KeyFile&)>& change) {
  fs::Fd fd;
  StoreStatus st = openKey(path, createMissing, fd);
  if (!st.ok()) return st;
  // The lock is on the directory, whose inode stays while ".key" is replaced.
  if (int err = fs::lockExclusive(fd.get())) return errnoStatus(err, path);
  // The change needs the lines and names; the data of other values is kept as it is.
  KeyFile key;
  st = loadKeyFile(fd.get(), path, key, KeyFile::Check::Structure);
  if (!st.ok()) return st;
  st = change(key);
  if (!st.ok()) return st;
  if (int err = fs::replaceFile(fd.get(), kKeyTempName, kKeyFileName, key.text(), sync_))
    return errnoStatus(err, path);
  return StoreStatus::success();
}

StoreStatus RegistryStore::listSubKeys(const KeyPath& path, std::vector<std::wstring>& names) const {
  fs::Fd fd;
  StoreStatus st = openKey(path, false, fd);
  if (!st.ok()) return st;
  int dupFd = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, 0);
  DIR* dir = dupFd >= 0 ? ::fdopendir(dupFd) : nullptr;
  if (!dir) {
    int err = errno;
    if (dupFd >= 0) ::close(dupFd);
    return errnoStatus(err, path);
  }
  std::vector<std::pair<std::wstring, std::wstring>> found;  // folded, spelling
  std::vector<std::string> abandoned;
  std::string content;
  while (dirent* entry = ::readdir(dir)) {
    std::string dirName = entry->d_name;
    if (leftByEndedProcess(dirName, kStagingPrefix)) abandoned.push_back(dirName);
    if (dirName.empty() || dirName[0] == '.' || !isDirectoryEntry(fd.get(), entry)) continue;
    std::optional<std::wstring> folded = keyNameOfDirectory(dirName);
    bool hashed = isHashedDirectoryName(dirName);
    if (!folded && !hashed) continue;  // not made by the store
    if (folded && spellingIsFolded(*folded)) {
      found.emplace_back(*folded, *folded);
      continue;
    }
    std::wstring spelling;
    fs::Fd child;
    bool named = fs::openDirectory(fd.get(), dirName, child) == 0 &&
                 fs::readFile(child.get(), kKeyFileName, kKeyFileLimit, content) == 0 &&
                 KeyFile::parseName(content, spelling) && directoryNameOf(spelling) == dirName;
    if (named)
      found.emplace_back(foldCase(spelling), spelling);
    else if (folded)
      found.emplace_back(*folded, *folded);
    // A hashed directory without a readable name cannot be opened by any name: skipped.
  }
  ::closedir(dir);
  if (!abandoned.empty()) removeAbandonedStaging(fd.get(), abandoned);
  std::sort(found.begin(), found.end());
  names.clear();
  names.reserve(found.size());
  for (auto& f : found) names.push_back(std::move(f.second));
  return StoreStatus::success();
}

StoreStatus RegistryStore::deleteTree(const KeyPath& path) {
  if (path.empty()) return {winerr::kAccessDenied, L"the root key cannot be deleted"};
  KeyPath parent(path.begin(), path.end() - 1);
  fs::Fd parentFd;
  StoreStatus st = openKey(parent, false, parentFd);
  if (!st.ok()) return st;
  std::string trash = directory_ + "/" + kTrash;
  if (::mkdir(trash.c_str(), 0755) != 0 && errno != EEXIST) return errnoStatus(errno, path);
  fs::Fd trashFd(::open(trash.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!trashFd.valid()) return errnoStatus(errno, path);

  std::string dirName = directoryNameOf(path.back());
  std::string trashName;
  for (int attempt = 0;; ++attempt) {
    trashName = uniqueName("");
    int err = fs::renameNoReplace(parentFd.get(), dirName, trashFd.get(), trashName);
    if (err == 0) break;
    if (err != EEXIST || attempt > 8) return errnoStatus(err, path);
  }
  if (sync_) ::fsync(parentFd.get());
  // The key is gone for everyone now; what follows only frees the space.
  fs::removeTree(trashFd.get(), trashName);

  // Trees of processes that died while removing them.
  int dupFd = ::fcntl(trashFd.get(), F_DUPFD_CLOEXEC, 0);
  if (DIR* dir = dupFd >= 0 ? ::fdopendir(dupFd) : nullptr) {
    std::vector<std::string> stale;
    while (dirent* entry = ::readdir(dir)) {
      if (leftByEndedProcess(entry->d_name, "")) stale.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    for (const std::string& name : stale) fs::removeTree(trashFd.get(), name);
  } else if (dupFd >= 0) {
    ::close(dupFd);
  }
  return StoreStatus::success();
}

}  // namespace registry
