#pragma once
// The management service's side of the commands: decoding a request, answering it from the
// configuration, encoding the reply. Settings come from [settings], passwords from and to
// [passwords], installation directories of components (componentInfo kind 2) from
// [components].

#include <string>
#include <string_view>

#include "cadrosrv/ini_file.h"

namespace cadrosrv {

// Where the answers come from. The service reads the configuration anew for every request.
class ServiceStore {
 public:
  virtual ~ServiceStore() = default;
  // The current configuration; throws vexception when it cannot be read.
  virtual IniFile load() = 0;
  // Stores `value` as the password of `key`, keeping everything else; throws vexception.
  virtual void storePassword(const std::string& key, const std::string& value) = 0;
};

// The configuration file of the service (read on every load, written back atomically).
class FileStore : public ServiceStore {
 public:
  explicit FileStore(std::string path) : path_(std::move(path)) {}
  IniFile load() override;
  void storePassword(const std::string& key, const std::string& value) override;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A configuration held in memory (tests and fuzzing).
class MemoryStore : public ServiceStore {
 public:
  explicit MemoryStore(std::string_view text) : file_(IniFile::parse(text)) {}
  IniFile load() override { return file_; }
  void storePassword(const std::string& key, const std::string& value) override;
  std::string text() const { return file_.text(); }

 private:
  IniFile file_;
};

// Answers the bytes of one request frame with the bytes of the reply frame's content. Any
// failure, malformed input included, becomes an error reply; never throws except for
// running out of memory.
std::string handleRequest(std::string_view request, ServiceStore& store);

}  // namespace cadrosrv
