#include "platform/service/pipe_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <thread>

#include "platform/service/cadrosrv_protocol.h"
#include "platform/report/guard.h"
#include "platform/report/log_manager.h"
#include "platform/registry/registry.h"
#include "platform/text/vformat.h"

namespace Con {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kBusyWait = std::chrono::milliseconds(1000);
constexpr auto kBusyRetryStep = std::chrono::milliseconds(10);
constexpr auto kAfterFailedWait = std::chrono::milliseconds(50);

constexpr const char* kCreateOperation = "Con::ClientOverlappedPipe::create";

enum class ConnectResult { Connected, Busy, Failed };

// One non-blocking connection attempt. On Connected `fd` holds the socket; on Failed
// `err` holds the errno.
ConnectResult tryConnect(const std::string& socketPath, int& fd, int& err) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (socketPath.size() >= sizeof addr.sun_path) {
    err = ENAMETOOLONG;
    return ConnectResult::Failed;
  }
  std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);

  int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (s < 0) {
    err = errno;
    return ConnectResult::Failed;
  }
  // Non-blocking, so that a full backlog shows as EAGAIN (a busy pipe) instead of a wait.
  int rc;
  do {
    rc = ::connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  } while (rc < 0 && errno == EINTR);
  if (rc == 0) {
    fd = s;
    return ConnectResult::Connected;
  }
  err = errno;
  if (err == EINPROGRESS) {
    // Unix sockets complete at once or refuse; a pending connection is given the busy wait.
    pollfd p{s, POLLOUT, 0};
    int soErr = 0;
    socklen_t len = sizeof soErr;
    if (::poll(&p, 1, static_cast<int>(kBusyWait.count())) == 1 &&
        ::getsockopt(s, SOL_SOCKET, SO_ERROR, &soErr, &len) == 0 && soErr == 0) {
      fd = s;
      return ConnectResult::Connected;
    }
    err = soErr ? soErr : ETIMEDOUT;
  }
  ::close(s);
  return err == EAGAIN ? ConnectResult::Busy : ConnectResult::Failed;
}

// Waits up to kBusyWait for the busy pipe to accept; the socket when it did, -1 otherwise.
int waitForPipe(const std::string& socketPath) {
  auto deadline = Clock::now() + kBusyWait;
  while (Clock::now() < deadline) {
    std::this_thread::sleep_for(kBusyRetryStep);
    int fd = -1, err = 0;
    switch (tryConnect(socketPath, fd, err)) {
      case ConnectResult::Connected: return fd;
      case ConnectResult::Busy: continue;
      case ConnectResult::Failed: return -1;
    }
  }
  return -1;
}

// The connected socket becomes blocking with send and receive timeouts.
bool setPipeMode(int fd, std::chrono::milliseconds ioTimeout) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) return false;
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(ioTimeout.count() / 1000);
  tv.tv_usec = static_cast<suseconds_t>((ioTimeout.count() % 1000) * 1000);
  return ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0 &&
         ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
}

}  // namespace

ClientOverlappedPipe ClientOverlappedPipe::create(const std::wstring& pipeName, const std::string& socketPath,
                                                  int attempts, std::chrono::milliseconds ioTimeout) {
  int fd = -1;
  for (int attempt = 0; attempt < std::max(attempts, 1) && fd < 0; ++attempt) {
    int err = 0;
    ConnectResult r = tryConnect(socketPath, fd, err);
    if (r == ConnectResult::Failed)
      raiseErrno(L"Unable to connect to pipe " + pipeName, err, VCTX(L"", kCreateOperation));
    if (r == ConnectResult::Busy) {
      fd = waitForPipe(socketPath);
      if (fd < 0) std::this_thread::sleep_for(kAfterFailedWait);
    }
  }
  if (fd < 0) throw vexception(L"Unable to connect to pipe " + pipeName, VCTX(L"", kCreateOperation));
  if (!setPipeMode(fd, ioTimeout)) {
    int err = errno;
    ::close(fd);
    raiseErrno(L"Unable to set mode of pipe " + pipeName, err, VCTX(L"", kCreateOperation));
  }
  return ClientOverlappedPipe(fd, pipeName);
}

ClientOverlappedPipe::ClientOverlappedPipe(ClientOverlappedPipe&& other) noexcept
    : fd_(other.fd_), finished_(other.finished_), name_(std::move(other.name_)) {
  other.fd_ = -1;
}

ClientOverlappedPipe& ClientOverlappedPipe::operator=(ClientOverlappedPipe&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    finished_ = other.finished_;
    name_ = std::move(other.name_);
    other.fd_ = -1;
  }
  return *this;
}

ClientOverlappedPipe::~ClientOverlappedPipe() {
  if (fd_ >= 0) ::close(fd_);
}

size_t ClientOverlappedPipe::transfer(char* data, size_t size, bool reading) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = reading ? ::recv(fd_, data + done, size - done, 0)
                        : ::send(fd_, data + done, size - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n == 0) {
      finished_ = true;
      break;
    }
    int err = errno;
    if (err == EINTR) continue;
    if (err == EPIPE || err == ECONNRESET) {
      finished_ = true;
      break;
    }
    // SO_RCVTIMEO and SO_SNDTIMEO end a silent transfer with EAGAIN.
    if (err == EAGAIN || err == EWOULDBLOCK) err = ETIMEDOUT;
    raiseErrno(L"Unable to complete pipe operation", err,
               VCTX(name_, reading ? "Con::ClientOverlappedPipe::read" : "Con::ClientOverlappedPipe::write"));
  }
  return done;
}

void ClientOverlappedPipe::writeAll(std::string_view bytes) {
  size_t done = transfer(const_cast<char*>(bytes.data()), bytes.size(), false);
  if (done != bytes.size())
    throw vexception(vformat(L"Completed only %d of %d bytes", done, bytes.size()),
                     VCTX(name_, "Con::ClientOverlappedPipe::write"));
}

void ClientOverlappedPipe::readAll(char* out, size_t size) {
  size_t done = transfer(out, size, true);
  if (done != size)
    throw vexception(vformat(L"Completed only %d of %d bytes", done, size),
                     VCTX(name_, "Con::ClientOverlappedPipe::read"));
}

bool ClientOverlappedPipe::hasUnreadData() const {
  char c;
  return fd_ >= 0 && ::recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

}  // namespace Con

namespace vpipechannel {

namespace {

class ConnectAttemptsSetting {
 public:
  int get(int callerCount) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!readFailed_ && (connections_++ % 16) == 0) {
      try {
        uint32_t value = 0;
        value_ = registry::lookup(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"PipeConnectTryCount", value, 0) == 0
                     ? value
                     : 0;
      } catch (...) {
        readFailed_ = true;
        value_ = 0;
      }
    }
    if (value_ == 0) return callerCount;
    return value_ > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(value_);
  }

  void reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    connections_ = 0;
    value_ = 0;
    readFailed_ = false;
  }

 private:
  std::mutex mutex_;
  unsigned connections_ = 0;
  uint32_t value_ = 0;
  bool readFailed_ = false;
};

ConnectAttemptsSetting& connectAttemptsSetting() {
  static ConnectAttemptsSetting setting;
  return setting;
}

// A reply is read in steps, so that a count announcing more than ever arrives costs no more
// memory than what did arrive.
constexpr size_t kReadStep = 1u << 20;

}  // namespace

int connectAttempts(int callerCount) { return connectAttemptsSetting().get(callerCount); }
void resetConnectAttempts() { connectAttemptsSetting().reset(); }

client::client(Options options) : options_(std::move(options)) {
  pipe_.emplace(Con::ClientOverlappedPipe::create(options_.pipeName, options_.socketPath,
                                                  connectAttempts(options_.connectAttempts), options_.ioTimeout));
}

client::~client() = default;

void client::reconnect() {
  pipe_.reset();
  pipe_.emplace(Con::ClientOverlappedPipe::create(options_.pipeName, options_.socketPath,
                                                  connectAttempts(options_.connectAttempts), options_.ioTimeout));
}

vserializer::reader client::exchange(const std::string& request) {
  Con::ClientOverlappedPipe& pipe = *pipe_;
  pipe.writeAll(cadrosrv::frameHeader(static_cast<uint32_t>(request.size())));
  pipe.writeAll(request);

  char header[cadrosrv::kFrameHeaderSize];
  pipe.readAll(header, sizeof header);
  uint32_t size = cadrosrv::parseFrameHeader(header);
  if (size > cadrosrv::kMaxReplyBytes)
    throw vserializer::invalidprotocol(
        vformat(L"Reply of %u bytes exceeds the limit of %u bytes", size, cadrosrv::kMaxReplyBytes));
  std::string reply;
  while (reply.size() < size) {
    size_t chunk = std::min<size_t>(kReadStep, size - reply.size());
    size_t at = reply.size();
    reply.resize(at + chunk);
    pipe.readAll(reply.data() + at, chunk);
  }
  return vserializer::reader(std::move(reply));
}

vserializer::reader client::query(const vserializer::guid& command, const vserializer::writer& arguments) {
  return guard::pass(VCTX(L"query " + command.toString(), "vpipechannel::client::query"), [&] {
    std::lock_guard<std::mutex> lock(mutex_);
    if (pipe_ && pipe_->finished()) {
      vreport(1, L"Connection to Cadro Management service is broken: Pipe is finished");
      // The failure is reported once; a finished pipe is of no further use, so the next
      // query connects anew instead of failing for the rest of the process.
      pipe_.reset();
      throw vexception(L"Pipe is finished");
    }

    vserializer::writer request;
    request.writeGuid(command);
    request.appendRaw(arguments.bytes());

    std::optional<vserializer::reader> reply;
    if (pipe_) {
      try {
        reply = exchange(request.bytes());
      } catch (...) {
      }
    }
    if (!reply) {
      try {
        reconnect();
      } catch (const vexception& e) {
        pipe_.reset();
        throw vexception(L"Can't connect cadro service", VCTX(e.message(), "vpipechannel::client::reconnect"));
      }
      try {
        reply = exchange(request.bytes());
      } catch (...) {
        // A finished pipe is kept, so that the next query reports it; any other failure
        // leaves the connection out of step (a late reply would answer the next request).
        if (!pipe_->finished()) pipe_.reset();
        throw;
      }
    }
    // Bytes beyond the announced reply would be taken for the next reply: start that one on
    // a fresh connection.
    if (pipe_->hasUnreadData()) pipe_.reset();
    return std::move(*reply);
  });
}

}  // namespace vpipechannel
