#pragma once
// Sets (or removes) environment variables for one test and restores them afterwards.

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  ~ScopedEnvironment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->value)
        ::setenv(it->name.c_str(), it->value->c_str(), 1);
      else
        ::unsetenv(it->name.c_str());
    }
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  void set(const std::string& name, const std::string& value) {
    save(name);
    ::setenv(name.c_str(), value.c_str(), 1);
  }
  void unset(const std::string& name) {
    save(name);
    ::unsetenv(name.c_str());
  }

 private:
  struct Saved {
    std::string name;
    std::optional<std::string> value;
  };
  void save(const std::string& name) {
    const char* current = std::getenv(name.c_str());
    saved_.push_back({name, current ? std::optional<std::string>(current) : std::nullopt});
  }
  std::vector<Saved> saved_;
};

}  // namespace testing_support
