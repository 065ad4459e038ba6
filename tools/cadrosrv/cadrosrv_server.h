#pragma once
// The management service's socket server: one thread polls the listening socket and every
// connected client, answers each client's requests in order (one request at a time per
// connection) and so never lets a slow or silent client hold up the others. Idle
// connections are closed; when the client limit is reached, new connections wait in the
// listener's backlog, which a client sees as a busy pipe.

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

#include "cadrosrv/cadrosrv_requests.h"

namespace cadrosrv {

// The listening socket at a path, created with mode 0600. The socket file is removed with
// the object when it is still the one this object created.
class Listener {
 public:
  // Binds and listens. A stale socket (nobody answers) is replaced; a socket where a
  // service answers, or a path that is not a socket, is refused. Throws vosexception.
  static Listener bind(const std::string& path);

  Listener(Listener&& other) noexcept;
  Listener& operator=(Listener&&) = delete;
  Listener(const Listener&) = delete;
  ~Listener();

  int fd() const { return fd_; }
  const std::string& path() const { return path_; }

 private:
  Listener(int fd, std::string path, dev_t dev, ino_t ino) : fd_(fd), path_(std::move(path)), dev_(dev), ino_(ino) {}
  int fd_ = -1;
  std::string path_;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
};

class Server {
 public:
  struct Options {
    std::chrono::milliseconds idleTimeout{300000};
    size_t maxClients = 64;
  };

  // The server answers from `store`, which must outlive it. Throws vosexception when its
  // wake-up pipe cannot be made.
  Server(Listener listener, ServiceStore& store, Options options);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Serves until requestStop(); closes every client connection before it returns.
  void run();
  // Makes run() return soon. Async-signal-safe and callable from any thread.
  void requestStop() noexcept;

  // Receives a line about failures of the server itself (accept, poll); none by default.
  void setLogger(std::function<void(const std::string&)> logger) { logger_ = std::move(logger); }

  const Listener& listener() const { return listener_; }

 private:
  struct Connection;
  Listener listener_;
  ServiceStore& store_;
  Options options_;
  int wake_[2] = {-1, -1};
  std::function<void(const std::string&)> logger_;
};

}  // namespace cadrosrv
