#include "platform/system/system_root.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace sysroot {

std::string root() {
  const char* env = std::getenv("CADRO_SYSTEM_ROOT");
  std::string r = (env && *env) ? env : kDefaultRoot;
  while (r.size() > 1 && r.back() == '/') r.pop_back();
  return r;
}

std::string path(std::string_view relative) {
  std::string p = root();
  p += '/';
  p += relative;
  return p;
}

bool ensureDirectory(const std::string& dir) {
  if (dir.empty()) return false;
  struct stat st;
  if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0) ensureDirectory(dir.substr(0, slash));
  if (::mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST) return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  return false;
}

}  // namespace sysroot

namespace process {

const std::string& executablePath() {
  static const std::string path = [] {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string("statistics");
  }();
  return path;
}

std::string executableName() {
  const std::string& p = executablePath();
  size_t slash = p.find_last_of('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string tempDirectory() {
  const char* env = std::getenv("TMPDIR");
  return (env && *env) ? env : "/tmp";
}

}  // namespace process
