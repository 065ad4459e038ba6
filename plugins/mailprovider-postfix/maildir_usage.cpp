#include "maildir_usage.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace postfix {

namespace {

constexpr int kDeepestFolder = 32;

[[noreturn]] void failed(const std::string& what, const std::string& path) {
  throw std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

void checkName(const std::string& name, const char* what) {
  bool safe = !name.empty() && name != "." && name != "..";
  for (char c : name) safe = safe && c != '/' && static_cast<unsigned char>(c) >= 0x20 && c != 0x7f;
  if (!safe) throw std::runtime_error(std::string("Unusable ") + what + " name \"" + name + "\" for a Maildir");
}

struct Fd {
  int fd = -1;
  explicit Fd(int value) : fd(value) {}
  ~Fd() {
    if (fd >= 0) close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

// Sums the regular files under the open directory `dir` (which it takes over).
int64_t directoryUsage(int dir, const std::string& path, int depth) {
  if (depth > kDeepestFolder) throw std::runtime_error("The Maildir " + path + " nests too deep");
  DIR* stream = fdopendir(dir);
  if (!stream) {
    close(dir);
    failed("Cannot read the Maildir", path);
  }
  int64_t sum = 0;
  try {
    errno = 0;
    while (const dirent* entry = readdir(stream)) {
      const char* name = entry->d_name;
      if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
      struct stat st{};
      // A message file may vanish between the listing and its measurement (moved or expunged).
      if (fstatat(dirfd(stream), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) continue;
        failed("Cannot measure", path + "/" + name);
      }
      if (S_ISREG(st.st_mode)) {
        sum += st.st_size;
      } else if (S_ISDIR(st.st_mode)) {
        const int child = openat(dirfd(stream), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (child < 0) {
          if (errno == ENOENT) continue;
          failed("Cannot open", path + "/" + name);
        }
        sum += directoryUsage(child, path + "/" + name, depth + 1);
      }
      errno = 0;
    }
    if (errno != 0) failed("Cannot read the Maildir", path);
  } catch (...) {
    closedir(stream);
    throw;
  }
  closedir(stream);
  return sum;
}

}  // namespace

std::string maildirPath(const std::string& pattern, const std::string& mailName, const std::string& domain) {
  checkName(mailName, "mailbox");
  checkName(domain, "domain");
  std::string path;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%') {
      path += pattern[i];
      continue;
    }
    const char code = i + 1 < pattern.size() ? pattern[++i] : '\0';
    if (code == 'd') {
      path += domain;
    } else if (code == 'n') {
      path += mailName;
    } else if (code == 'u') {
      path += mailName + "@" + domain;
    } else if (code == '%') {
      path += '%';
    } else {
      throw std::runtime_error("The Maildir pattern " + pattern + " holds an unknown \"%\" sequence");
    }
  }
  return path;
}

int64_t maildirUsage(const std::string& pattern, const std::string& mailName, const std::string& domain) {
  const std::string path = maildirPath(pattern, mailName, domain);
  // The administrator's directory: the pattern up to the last "/" before its first "%".
  const size_t fixedEnd = pattern.rfind('/', pattern.find('%'));
  const std::string fixed = fixedEnd == 0 || fixedEnd == std::string::npos ? "/" : pattern.substr(0, fixedEnd);
  Fd dir(open(fixed.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.fd < 0) failed("Cannot open the mail directory", fixed);
  // Each component below it is opened without following a link.
  size_t at = fixed.size() + (fixed == "/" ? 0 : 1);
  while (at < path.size()) {
    size_t next = path.find('/', at);
    if (next == std::string::npos) next = path.size();
    const std::string component = path.substr(at, next - at);
    at = next + 1;
    if (component.empty()) continue;
    const int child = openat(dir.fd, component.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (child < 0) {
      if (errno == ENOENT) return 0;  // nothing delivered yet
      if (errno == ELOOP || errno == ENOTDIR)
        throw std::runtime_error("The Maildir path " + path + " passes through a symbolic link or a file");
      failed("Cannot open", path);
    }
    close(dir.fd);
    dir.fd = child;
  }
  const int top = dir.fd;
  dir.fd = -1;
  return directoryUsage(top, path, 0);
}

}  // namespace postfix
