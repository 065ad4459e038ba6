#include "testing/service_process.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "testing/temp_dir.h"

namespace testing_support {

namespace {

std::string underRoot(const std::string& relative) {
  const char* root = std::getenv("CADRO_SYSTEM_ROOT");
  if (!root || !*root) throw std::runtime_error("no private system root");
  return std::string(root) + "/" + relative;
}

}  // namespace

bool socketAccepts(const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return false;
  bool ok = ::connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
  ::close(s);
  return ok;
}

ServiceProcess::ServiceProcess(const std::string& config, std::string configPath, std::string socketPath)
    : configPath_(configPath.empty() ? underRoot("service/cadrosrv.ini") : std::move(configPath)),
      socketPath_(socketPath.empty() ? underRoot("run/pipe/cdrpipe") : std::move(socketPath)) {
  writeFile(configPath_, config);
  std::string binary = binaryPath("cadrosrv");
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    ::execl(binary.c_str(), binary.c_str(), "--foreground", "--config", configPath_.c_str(), "--socket",
            socketPath_.c_str(), static_cast<char*>(nullptr));
    std::_Exit(127);
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!socketAccepts(socketPath_)) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      throw std::runtime_error("cadrosrv ended before it listened");
    }
    if (std::chrono::steady_clock::now() > deadline) {
      stop();
      throw std::runtime_error("cadrosrv did not listen in time");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

ServiceProcess::~ServiceProcess() { stop(); }

int ServiceProcess::stop() {
  if (pid_ < 0) return -1;
  ::kill(pid_, SIGTERM);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  return status;
}

}  // namespace testing_support
