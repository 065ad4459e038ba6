#include "webstat/backup_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <functional>

#include "app/statistics.h"
#include "platform/files/vfilename.h"
#include "platform/report/vexception.h"
#include "platform/text/vformat.h"
#include "webstat/owner_directory.h"

namespace {

constexpr int kAttempts = 16;

// The thread and the time in seconds (its low 32 bits), in decimal.
std::wstring backupSuffix() {
  const auto thread = static_cast<long>(::syscall(SYS_gettid));
  const auto seconds = static_cast<int32_t>(static_cast<uint32_t>(std::time(nullptr)));
  return vformat(L"%d%d", static_cast<int>(thread), seconds);
}

// Tries `rename(suffix)` with fresh suffixes while it answers EEXIST; the suffix used.
std::wstring moveAside(const std::wstring& path, const std::function<int(const std::wstring& suffix)>& rename) {
  int err = EEXIST;
  for (int attempt = 0; attempt < kAttempts && err == EEXIST; ++attempt) {
    const std::wstring suffix = backupSuffix();
    err = rename(suffix);
    if (err == 0) return suffix;
  }
  raiseErrno(L"Can't create backup file " + path, err, VCTX(L"", "statistics::backupFile"));
}

}  // namespace

std::wstring statistics::backupFile(const std::wstring& path) {
  return path + moveAside(path, [&](const std::wstring& suffix) {
           const std::string from = VFileName::toNative(path);
           const std::string to = VFileName::toNative(path + suffix);
           return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0 ? 0 : errno;
         });
}

std::wstring backupFileIn(const OwnerDirectory& dir, const std::wstring& name) {
  return name + moveAside(dir.pathOf(name),
                          [&](const std::wstring& suffix) { return dir.renameNoReplace(name, name + suffix); });
}
