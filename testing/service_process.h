#pragma once
// The real management service (build/bin/cadrosrv --foreground) for the running test, in
// the current system root unless told otherwise. The test executable must depend on the
// cadrosrv target (see tools/cadrosrv/CMakeLists.txt).

#include <sys/types.h>

#include <string>
#include <vector>

namespace testing_support {

class ServiceProcess {
 public:
  // Writes `config` to the configuration file (service/cadrosrv.ini under the system root
  // unless `configPath` is given) and starts the service on the default socket (or
  // `socketPath`); returns once the socket accepts connections. Throws std::runtime_error.
  explicit ServiceProcess(const std::string& config, std::string configPath = {}, std::string socketPath = {});
  // Stops the service (SIGTERM) and waits for it.
  ~ServiceProcess();
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  // Sends SIGTERM and returns the exit status as waitpid reports it.
  int stop();
  pid_t pid() const { return pid_; }
  const std::string& configPath() const { return configPath_; }
  const std::string& socketPath() const { return socketPath_; }

 private:
  pid_t pid_ = -1;
  std::string configPath_;
  std::string socketPath_;
};

// True when something accepts connections on the Unix socket at `path`.
bool socketAccepts(const std::string& path);

}  // namespace testing_support
