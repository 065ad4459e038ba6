#include "platform/files/file_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include <cerrno>

#include "platform/files/vfilename.h"

namespace filesupport {

std::wstring operationText(std::wstring_view call, std::wstring_view path) {
  std::wstring text(call);
  text += L" '";
  text += path;
  text += L"'";
  return text;
}

void raise(std::wstring_view call, std::wstring_view path, int err, ContextRecord record,
           ExistsMeaning exists) {
  raiseErrno(operationText(call, path), err, std::move(record), exists);
}

std::string nativePath(std::wstring_view path, std::wstring_view call, const ContextRecord& record) {
  if (path.empty() || path.find(L'\0') != std::wstring_view::npos)
    raiseOsError(operationText(call, path), winerr::kInvalidName, record);
  return VFileName::toNative(path);
}

UniqueFd openDirectoryAt(int parentFd, const std::string& name, bool followLink) {
  const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
  return UniqueFd(::openat(parentFd, name.c_str(), flags));
}

int openError(int err, const std::string& native) {
  if (err != ENOENT) return err;
  size_t slash = native.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return err;
  struct stat st;
  return ::stat(native.substr(0, slash).c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? err : ENOTDIR;
}

VDateTime timeOf(const struct timespec& stamp) {
  static const int64_t first = VDateTime(1601, 1, 1).toUnixTime();
  static const int64_t last = VDateTime(30827, 12, 31, 23, 59, 59).toUnixTime();
  if (stamp.tv_sec < first || stamp.tv_sec > last) return VDateTime();
  return VDateTime::fromUnixTime(stamp.tv_sec, static_cast<int>(stamp.tv_nsec / 1'000'000));
}

}  // namespace filesupport
