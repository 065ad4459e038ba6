#include "cadrosrv/cadrosrv_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/service/cadrosrv_protocol.h"
#include "platform/system/system_root.h"
#include "platform/text/text_codec.h"
#include "platform/text/vformat.h"

namespace cadrosrv {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBacklog = 16;
constexpr size_t kReadChunk = 65536;

sockaddr_un socketAddress(const std::string& path, const ContextRecord& ctx) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path)
    raiseErrno(L"bind socket '" + text::fromUtf8(path) + L"'", ENAMETOOLONG, ctx);
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return addr;
}

// True when a service accepts (or queues) connections at the socket.
bool someoneListens(const sockaddr_un& addr) {
  int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (s < 0) return false;
  int rc = ::connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  int err = errno;
  ::close(s);
  return rc == 0 || err == EAGAIN || err == EINPROGRESS;
}

std::string parentDirectory(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

Listener Listener::bind(const std::string& path) {
  const ContextRecord ctx = VCTX(L"", "cadrosrv::Listener::bind");
  const std::wstring op = L"bind socket '" + text::fromUtf8(path) + L"'";
  sockaddr_un addr = socketAddress(path, ctx);

  std::string dir = parentDirectory(path);
  if (!dir.empty() && !sysroot::ensureDirectory(dir))
    raiseErrno(L"create directory '" + text::fromUtf8(dir) + L"'", errno ? errno : ENOTDIR, ctx);

  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) raiseErrno(op, EEXIST, ctx);
    if (someoneListens(addr))
      throw vexception(L"A service is already listening on '" + text::fromUtf8(path) + L"'", ctx);
    // A socket nobody answers on is what a killed service leaves behind.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) raiseErrno(op, errno, ctx);
  }

  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) raiseErrno(op, errno, ctx);
  // The socket file gets its mode at bind time from the umask: with 0177 it is never
  // accessible to anyone but the owner, not even for a moment.
  mode_t previous = ::umask(0177);
  int rc = ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  int err = errno;
  ::umask(previous);
  if (rc != 0 || ::listen(fd, kBacklog) != 0 || ::lstat(path.c_str(), &st) != 0) {
    if (rc == 0) err = errno;
    ::close(fd);
    raiseErrno(op, err, ctx);
  }
  return Listener(fd, path, st.st_dev, st.st_ino);
}

Listener::Listener(Listener&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)), dev_(other.dev_), ino_(other.ino_) {
  other.fd_ = -1;
}

Listener::~Listener() {
  if (fd_ < 0) return;
  ::close(fd_);
  // A successor may have replaced the socket already; only our own file goes.
  struct stat st;
  if (::lstat(path_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_) ::unlink(path_.c_str());
}

struct Server::Connection {
  int fd = -1;
  std::string in;
  std::string out;
  size_t outPos = 0;
  bool closeAfterWrite = false;
  bool closed = false;
  Clock::time_point lastActivity;

  ~Connection() {
    if (fd >= 0) ::close(fd);
  }
  bool writing() const { return outPos < out.size(); }
  void close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
    closed = true;
  }
};

Server::Server(Listener listener, ServiceStore& store, Options options)
    : listener_(std::move(listener)), store_(store), options_(options) {
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0)
    raiseErrno(L"create wake-up pipe", errno, VCTX(L"", "cadrosrv::Server::Server"));
}

Server::~Server() {
  for (int fd : wake_)
    if (fd >= 0) ::close(fd);
}

void Server::requestStop() noexcept {
  char c = 's';
  [[maybe_unused]] ssize_t n = ::write(wake_[1], &c, 1);
}

void Server::run() {
  std::vector<std::unique_ptr<Connection>> clients;
  const auto now = [] { return Clock::now(); };

  // Sends what is pending; false when the connection had to be closed.
  auto flush = [](Connection& c) {
    while (c.writing()) {
      ssize_t n = ::send(c.fd, c.out.data() + c.outPos, c.out.size() - c.outPos, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        c.outPos += static_cast<size_t>(n);
        c.lastActivity = Clock::now();
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
      c.close();
      return false;
    }
    c.out.clear();
    c.outPos = 0;
    if (c.closeAfterWrite) {
      c.close();
      return false;
    }
    return true;
  };

  // Answers buffered requests one after the other while their replies leave at once.
  auto serve = [&](Connection& c) {
    while (!c.closed && !c.writing() && c.in.size() >= kFrameHeaderSize) {
      uint32_t size = parseFrameHeader(c.in.data());
      std::string reply;
      if (size > kMaxRequestBytes) {
        // The rest of such a frame cannot be skipped safely: answer and hang up.
        vserializer::writer error;
        error.writeError(vformat(L"Request of %u bytes exceeds the limit of %u bytes", size, kMaxRequestBytes));
        reply = error.bytes();
        c.in.clear();
        c.closeAfterWrite = true;
      } else {
        if (c.in.size() - kFrameHeaderSize < size) return;
        reply = handleRequest(std::string_view(c.in).substr(kFrameHeaderSize, size), store_);
        c.in.erase(0, kFrameHeaderSize + size);
      }
      c.out = frameHeader(static_cast<uint32_t>(reply.size())) + reply;
      c.outPos = 0;
      flush(c);
    }
  };

  auto receive = [&](Connection& c) {
    char buf[kReadChunk];
    ssize_t n;
    do {
      n = ::recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
      c.in.append(buf, static_cast<size_t>(n));
      c.lastActivity = Clock::now();
      serve(c);
    } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
      c.close();
    }
  };

  auto acceptClients = [&] {
    while (clients.size() < options_.maxClients) {
      int fd = ::accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK && logger_)
          logger_(std::string("accept failed: ") + std::strerror(errno));
        return;
      }
      auto c = std::make_unique<Connection>();
      c->fd = fd;
      c->lastActivity = Clock::now();
      clients.push_back(std::move(c));
    }
  };

  for (;;) {
    std::vector<pollfd> fds;
    fds.reserve(clients.size() + 2);
    fds.push_back({wake_[0], POLLIN, 0});
    fds.push_back({clients.size() < options_.maxClients ? listener_.fd() : -1, POLLIN, 0});
    int timeout = -1;
    Clock::time_point t = now();
    for (const auto& c : clients) {
      fds.push_back({c->fd, static_cast<short>(c->writing() ? POLLOUT : POLLIN), 0});
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(c->lastActivity + options_.idleTimeout - t);
      int ms = static_cast<int>(std::clamp<int64_t>(left.count() + 1, 0, 3600000));
      timeout = timeout < 0 ? ms : std::min(timeout, ms);
    }

    int n = ::poll(fds.data(), fds.size(), timeout);
    if (n < 0) {
      if (errno == EINTR) continue;
      raiseErrno(L"poll", errno, VCTX(L"", "cadrosrv::Server::run"));
    }
    if (fds[0].revents) {
      char drain[64];
      while (::read(wake_[0], drain, sizeof drain) > 0) {
      }
      break;
    }

    for (size_t i = 0; i < clients.size(); ++i) {
      Connection& c = *clients[i];
      short ev = fds[i + 2].revents;
      if (ev == 0) continue;
      if (c.writing()) {
        if (flush(c)) serve(c);
      } else {
        receive(c);
      }
    }
    t = now();
    for (auto& c : clients)
      if (!c->closed && t - c->lastActivity >= options_.idleTimeout) c->close();
    std::erase_if(clients, [](const std::unique_ptr<Connection>& c) { return c->closed; });

    if (fds[1].revents & POLLIN) acceptClients();
  }
  clients.clear();
}

}  // namespace cadrosrv
