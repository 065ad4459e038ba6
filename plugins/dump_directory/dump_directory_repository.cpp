// A dump repository for a backup component that keeps each domain's dumps in a directory
// of their own: <dump directory>/<domain GUID>/, any files in any layout below it. The size
// of a domain's dumps is the total size of those files (links count as themselves and are
// never followed; nothing is opened but directories).
//
// Settings: the file backup/dump_directory.conf under the system root ($CADRO_SYSTEM_ROOT,
// or /var/lib/cadro/system) holds the dump directory, its whole content with the blanks
// and line ends around it removed. Without the file (or with an empty one) the library
// offers no repository and the program charges no dumps.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "cadro/dump_repository.h"
#include "usage/directory_walk.h"

namespace {

constexpr const char* kSettingsFile = "backup/dump_directory.conf";

std::string systemRoot() {
  const char* root = std::getenv("CADRO_SYSTEM_ROOT");
  return root && *root ? root : "/var/lib/cadro/system";
}

std::string errorText(const std::string& what, int err) { return what + ": " + std::strerror(err); }

// The settings file's content; nullopt when there is no such file.
std::optional<std::string> readSettings(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return std::nullopt;
    throw std::runtime_error(errorText("Unable to read '" + path + "'", errno));
  }
  std::string content;
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = n < 0 ? errno : 0;
      ::close(fd);
      if (err) throw std::runtime_error(errorText("Unable to read '" + path + "'", err));
      return content;
    }
    content.append(buffer, static_cast<size_t>(n));
  }
}

std::string trimmed(const std::string& text) {
  const char* blanks = " \t\r\n";
  size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// A GUID as the control panel writes them: letters, digits, "-", "_" and braces. Anything
// else (a "/", "..") could name a directory outside the dump directory.
bool isGuid(std::string_view guid) {
  if (guid.empty() || guid.size() > 64) return false;
  for (char c : guid) {
    bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '_' ||
              c == '{' || c == '}';
    if (!ok) return false;
  }
  return true;
}

class DirectoryDumpRepository final : public cadro::IDumpRepository {
 public:
  explicit DirectoryDumpRepository(std::string directory) : directory_(std::move(directory)) {}

  int64_t getDomainDumpsSize(const char* domainGuid, const char*) override {
    const std::string guid = domainGuid;
    if (!isGuid(guid)) throw std::invalid_argument("Invalid domain GUID for the dump directory");
    int base = ::open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (base < 0) throw std::runtime_error(errorText("Unable to open the dump directory '" + directory_ + "'", errno));
    std::optional<int64_t> size = dirwalk::treeSize(base, guid.c_str(), false);
    const int err = errno;
    ::close(base);
    if (size) return *size;
    if (err == ENOENT) return 0;  // a domain without dumps
    throw std::runtime_error(errorText("Unable to read the dumps of domain " + guid + " in '" + directory_ + "'", err));
  }

 private:
  std::string directory_;
};

}  // namespace

extern "C" __attribute__((visibility("default"))) cadro::IDumpRepository* getDumpRepository() {
  static std::optional<DirectoryDumpRepository> repository;
  std::optional<std::string> settings = readSettings(systemRoot() + "/" + kSettingsFile);
  std::string directory = settings ? trimmed(*settings) : std::string();
  if (directory.empty()) return nullptr;
  repository.emplace(std::move(directory));
  return &*repository;
}
