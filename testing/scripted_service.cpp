#include "testing/scripted_service.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace testing_support {

namespace {

sockaddr_un addressOf(const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) throw std::runtime_error("socket path too long");
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return addr;
}

int listenAt(const std::string& path, int backlog) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  ::unlink(path.c_str());
  sockaddr_un addr = addressOf(path);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, backlog) != 0)
    throw std::runtime_error(std::string("listen failed: ") + std::strerror(errno));
  return fd;
}

bool readExactly(int fd, char* out, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::recv(fd, out + done, size - done, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

ScriptedService::ScriptedService(std::string socketPath, Script script)
    : path_(std::move(socketPath)), script_(std::move(script)) {
  fd_ = listenAt(path_, 8);
  thread_ = std::thread([this] {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 20) != 1) continue;
      int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      int n = connections_++;
      std::lock_guard<std::mutex> lock(mutex_);
      open_.push_back(c);
      workers_.emplace_back([this, c, n] {
        script_(c, n);
        // Closed by the destructor: a script blocked on its connection is freed by shutdown.
        ::shutdown(c, SHUT_RDWR);
      });
    }
  });
}

ScriptedService::~ScriptedService() {
  stop_ = true;
  thread_.join();
  for (int c : open_) ::shutdown(c, SHUT_RDWR);
  for (std::thread& t : workers_) t.join();
  for (int c : open_) ::close(c);
  ::close(fd_);
  ::unlink(path_.c_str());
}

BusyListener::BusyListener(std::string socketPath) : path_(std::move(socketPath)) {
  // With a backlog of 0 the queue holds one connection; the next attempt is refused with
  // EAGAIN, which is what a busy pipe looks like.
  fd_ = listenAt(path_, 0);
  sockaddr_un addr = addressOf(path_);
  for (int i = 0; i < 64; ++i) {
    int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      int err = errno;
      ::close(s);
      if (err == EAGAIN) return;
      throw std::runtime_error(std::string("filling the backlog failed: ") + std::strerror(err));
    }
    fillers_.push_back(s);
  }
  throw std::runtime_error("the backlog never filled");
}

BusyListener::~BusyListener() {
  for (int s : fillers_) ::close(s);
  ::close(fd_);
  ::unlink(path_.c_str());
}

std::optional<std::string> readFrame(int fd) {
  char header[4];
  if (!readExactly(fd, header, 4)) return std::nullopt;
  uint32_t size = 0;
  for (int i = 3; i >= 0; --i) size = (size << 8) | static_cast<unsigned char>(header[i]);
  if (size > (1u << 24)) return std::nullopt;
  std::string payload(size, '\0');
  if (!readExactly(fd, payload.data(), size)) return std::nullopt;
  return payload;
}

void writeBytes(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

std::string frame(const std::string& payload) {
  std::string out(4, '\0');
  uint32_t size = static_cast<uint32_t>(payload.size());
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>(size >> (8 * i));
  return out + payload;
}

}  // namespace testing_support
