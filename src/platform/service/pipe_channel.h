#pragma once
// The client end of the management service's pipe. The pipe is a Unix stream socket; its
// Windows states map onto the socket as follows:
//   no socket, or nobody listening   -> "Unable to connect to pipe NAME" with the OS error;
//   the listener's backlog is full   -> the pipe is busy: the attempt waits up to 1000 ms for
//                                       it to take a connection, otherwise sleeps 50 ms and
//                                       the next attempt follows;
//   end of file or a reset           -> the pipe is finished;
//   no progress within the I/O timeout -> "Unable to complete pipe operation" (timed out).
// Every message names the pipe by its Windows name.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/service/vserializer.h"

namespace Con {

// A connected client end of the pipe. Move-only; the socket is closed with the object.
class ClientOverlappedPipe {
 public:
  // Connects in at most `attempts` attempts (at least one). Throws vosexception
  // "Unable to connect to pipe NAME" for a missing or refused pipe, a vexception of the same
  // text when every attempt found it busy, and "Unable to set mode of pipe NAME" when the
  // connected socket cannot be given its timeouts (operation "Con::ClientOverlappedPipe::create").
  static ClientOverlappedPipe create(const std::wstring& pipeName, const std::string& socketPath, int attempts,
                                     std::chrono::milliseconds ioTimeout);

  ClientOverlappedPipe(ClientOverlappedPipe&& other) noexcept;
  ClientOverlappedPipe& operator=(ClientOverlappedPipe&& other) noexcept;
  ClientOverlappedPipe(const ClientOverlappedPipe&) = delete;
  ClientOverlappedPipe& operator=(const ClientOverlappedPipe&) = delete;
  ~ClientOverlappedPipe();

  // Transfer all of the bytes, or throw "Completed only %d of %d bytes" when the pipe
  // finished first. Other failures throw "Unable to complete pipe operation" with the OS
  // error (a timeout as the Windows timeout code).
  void writeAll(std::string_view bytes);
  void readAll(char* out, size_t size);

  // The peer closed or reset the connection during a transfer.
  bool finished() const { return finished_; }
  // Bytes are waiting that no reply announced (the peer is out of step).
  bool hasUnreadData() const;

 private:
  ClientOverlappedPipe(int fd, std::wstring name) : fd_(fd), name_(std::move(name)) {}
  size_t transfer(char* data, size_t size, bool reading);
  int fd_ = -1;
  bool finished_ = false;
  std::wstring name_;
};

}  // namespace Con

namespace vpipechannel {

// The longest a reply may be silent before the service counts as dead. The service answers
// from its configuration file, so anything near a minute means it hangs.
inline constexpr std::chrono::milliseconds kDefaultIoTimeout{60000};
// Attempts of the pipe connection when the registry does not say otherwise.
inline constexpr int kDefaultConnectAttempts = 5;

// The number of connection attempts: "PipeConnectTryCount" under the configuration key
// when present and not 0, otherwise `callerCount`. The value is read on the first
// connection and on every 16th after it; once a read fails (a value of the wrong type) it is
// not read again in this process. Thread-safe.
int connectAttempts(int callerCount);
// Forgets the kept value and the read counter (tests).
void resetConnectAttempts();

// A request/reply channel over the pipe, shared by the threads of a process: requests are
// serialised, so frames never interleave.
class client {
 public:
  struct Options {
    std::wstring pipeName;
    std::string socketPath;
    int connectAttempts = kDefaultConnectAttempts;
    std::chrono::milliseconds ioTimeout = kDefaultIoTimeout;
  };

  // Connects at once; connection failures propagate (see ClientOverlappedPipe::create).
  explicit client(Options options);
  virtual ~client();

  // Sends the command with its encoded argument blocks and returns the reply. A transport
  // failure reconnects and repeats the request once ("Can't connect cadro service" when
  // the pipe cannot be reopened; a second failure propagates). A pipe that finished on the
  // repeated request fails the next query with "Pipe is finished" (a warning is logged);
  // the query after that connects anew.
  vserializer::reader query(const vserializer::guid& command, const vserializer::writer& arguments);

 private:
  vserializer::reader exchange(const std::string& request);
  void reconnect();

  Options options_;
  std::mutex mutex_;
  std::optional<Con::ClientOverlappedPipe> pipe_;
};

}  // namespace vpipechannel
