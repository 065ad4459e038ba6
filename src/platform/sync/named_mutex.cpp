#include "platform/sync/named_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "platform/report/cancellation.h"
#include "platform/system/system_root.h"
#include "platform/text/text_codec.h"
#include "platform/report/vexception.h"

// One lock file description per name and process; ownership is counted per thread.
struct NamedMutex::Shared {
  int fd = -1;
  std::mutex guard;
  std::thread::id owner;
  int depth = 0;
  ~Shared() {
    if (fd >= 0) ::close(fd);
  }
};

namespace {

std::mutex& registryGuard() {
  static std::mutex m;
  return m;
}

std::map<std::string, std::weak_ptr<NamedMutex::Shared>>& openMutexes() {
  static std::map<std::string, std::weak_ptr<NamedMutex::Shared>> m;
  return m;
}

// File name of a mutex: the "Global\" or "Local\" namespace prefix is dropped (one session
// here), and '/', '\', '%' and control characters are percent-encoded.
std::string fileNameFor(const std::wstring& name) {
  std::wstring n = name;
  for (const wchar_t* prefix : {L"Global\\", L"Local\\"}) {
    std::wstring p = prefix;
    if (n.size() >= p.size() && text::equalsNoCase(n.substr(0, p.size()), p)) {
      n = n.substr(p.size());
      break;
    }
  }
  std::string utf8 = text::toUtf8(n);
  std::string out;
  static const char* hex = "0123456789ABCDEF";
  for (unsigned char c : utf8) {
    if (c == '/' || c == '\\' || c == '%' || c < 0x20) {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  if (out.empty() || out == "." || out == "..") out = "%00" + out;
  return out;
}

}  // namespace

std::string NamedMutex::lockFilePath(const std::wstring& name) {
  return sysroot::path("run/mutex/" + fileNameFor(name));
}

NamedMutex::NamedMutex(const std::wstring& name) : name_(name) {
  std::string path = lockFilePath(name);
  std::lock_guard<std::mutex> lock(registryGuard());
  auto& table = openMutexes();
  auto it = table.find(path);
  if (it != table.end()) shared_ = it->second.lock();
  if (!shared_) {
    sysroot::ensureDirectory(sysroot::path("run/mutex"));
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) raiseErrno(L"open " + text::fromAnsi(path), errno, VCTX(L"", "NamedMutex::NamedMutex"));
    shared_ = std::make_shared<Shared>();
    shared_->fd = fd;
    table[path] = shared_;
  }
}

NamedMutex::~NamedMutex() {
  while (heldLevels_ > 0 && unlock()) {
  }
  std::lock_guard<std::mutex> lock(registryGuard());
  shared_.reset();
}

bool NamedMutex::ownedByCaller() const {
  std::lock_guard<std::mutex> g(shared_->guard);
  return shared_->depth > 0 && shared_->owner == std::this_thread::get_id();
}

NamedMutex::Wait NamedMutex::lock(long timeoutMs) {
  cancellation::point();
  {
    std::lock_guard<std::mutex> g(shared_->guard);
    if (shared_->depth > 0 && shared_->owner == std::this_thread::get_id()) {
      ++shared_->depth;
      ++heldLevels_;
      return Wait::Acquired;
    }
  }
  // Another thread of this process may own it: threads of one process wait on the
  // in-process state first, then on the file lock.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    std::unique_lock<std::mutex> g(shared_->guard);
    if (shared_->depth == 0) {
      int r = ::flock(shared_->fd, LOCK_EX | LOCK_NB);
      if (r == 0) {
        shared_->owner = std::this_thread::get_id();
        shared_->depth = 1;
        ++heldLevels_;
        return Wait::Acquired;
      }
      if (errno != EWOULDBLOCK && errno != EINTR)
        raiseErrno(L"flock", errno, VCTX(L"", "NamedMutex::lock"));
    }
    g.unlock();
    if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline) return Wait::Timeout;
    cancellation::point();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

bool NamedMutex::unlock() {
  std::lock_guard<std::mutex> g(shared_->guard);
  if (shared_->depth == 0 || shared_->owner != std::this_thread::get_id() || heldLevels_ == 0) return false;
  --heldLevels_;
  if (--shared_->depth == 0) {
    ::flock(shared_->fd, LOCK_UN);
    shared_->owner = std::thread::id();
  }
  return true;
}
