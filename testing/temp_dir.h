#pragma once
// A temporary directory removed with its content when the object goes away.

#include <string>

namespace testing_support {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + relative
  std::string file(const std::string& relative) const;

 private:
  std::string path_;
};

// Writes `content` to `path`, creating missing parent directories.
void writeFile(const std::string& path, const std::string& content);
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);
// Removes a tree (like rm -rf), giving the owner write permission where needed.
void removeTree(const std::string& path);

// A private system root for the running test: sets CADRO_SYSTEM_ROOT to a fresh directory
// and restores the previous value afterwards.
class ScopedSystemRoot {
 public:
  ScopedSystemRoot();
  ~ScopedSystemRoot();
  const std::string& path() const { return dir_.path(); }
  std::string file(const std::string& relative) const { return dir_.file(relative); }

 private:
  TempDir dir_;
  std::string previous_;
  bool hadPrevious_ = false;
};

// Full path of a program built by this project (build/bin/NAME).
std::string binaryPath(const std::string& name);

}  // namespace testing_support
