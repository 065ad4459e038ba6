#pragma once
// A stand-in for the management service whose every byte the test decides: it listens on a
// Unix socket and hands each accepted connection to the test's script, on a thread of its
// own. For tests of the client's handling of broken and misbehaving services.

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

class ScriptedService {
 public:
  // `script(fd, n)` runs for the n-th connection (from 0) on a thread of its own; the
  // connection is closed when it returns. Scripts that wait must watch stopping().
  using Script = std::function<void(int fd, int connection)>;

  ScriptedService(std::string socketPath, Script script);
  ~ScriptedService();
  ScriptedService(const ScriptedService&) = delete;
  ScriptedService& operator=(const ScriptedService&) = delete;

  int connections() const { return connections_.load(); }
  // True once the test is over: long-running scripts should return.
  bool stopping() const { return stop_.load(); }

 private:
  std::string path_;
  Script script_;
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::mutex mutex_;
  std::vector<std::thread> workers_;
  std::vector<int> open_;
  std::thread thread_;
};

// A listener whose backlog is full, so that every connection attempt finds it busy. The
// test may accept() on fd() to free it.
class BusyListener {
 public:
  explicit BusyListener(std::string socketPath);
  ~BusyListener();
  BusyListener(const BusyListener&) = delete;
  BusyListener& operator=(const BusyListener&) = delete;
  int fd() const { return fd_; }

 private:
  std::string path_;
  int fd_ = -1;
  std::vector<int> fillers_;
};

// The payload of the next frame, nullopt at end of file (or on a broken frame).
std::optional<std::string> readFrame(int fd);
void writeBytes(int fd, const std::string& bytes);
// A frame: the 4-byte little-endian count, then the payload.
std::string frame(const std::string& payload);

}  // namespace testing_support
