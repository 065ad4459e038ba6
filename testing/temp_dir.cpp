#include "testing/temp_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testing_support {

TempDir::TempDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/cadro-test-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() { removeTree(path_); }

std::string TempDir::file(const std::string& relative) const { return path_ + "/" + relative; }

void writeFile(const std::string& path, const std::string& content) {
  std::filesystem::path p(path);
  if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out << content;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool fileExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

void removeTree(const std::string& path) {
  std::error_code ec;
  // Directories made read-only by a test must become writable again to be emptied.
  for (auto it = std::filesystem::recursive_directory_iterator(
           path, std::filesystem::directory_options::skip_permission_denied, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) ::chmod(it->path().c_str(), 0755);
  }
  ::chmod(path.c_str(), 0755);
  std::filesystem::remove_all(path, ec);
}

ScopedSystemRoot::ScopedSystemRoot() {
  const char* prev = std::getenv("CADRO_SYSTEM_ROOT");
  if (prev) {
    hadPrevious_ = true;
    previous_ = prev;
  }
  setenv("CADRO_SYSTEM_ROOT", dir_.path().c_str(), 1);
}

ScopedSystemRoot::~ScopedSystemRoot() {
  if (hadPrevious_)
    setenv("CADRO_SYSTEM_ROOT", previous_.c_str(), 1);
  else
    unsetenv("CADRO_SYSTEM_ROOT");
}

std::string binaryPath(const std::string& name) { return std::string(CADRO_BIN_DIR) + "/" + name; }

}  // namespace testing_support
