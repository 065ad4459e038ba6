#include "app/business_lock.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>

namespace BusinessLock {
namespace {

constexpr const char* kLockOperation =
    "BusinessLock::PessimisticOfflinelLock<unsigned long,class BusinessLock::RegistryOfflineLockStatus>::lock";
constexpr const char* kUnlockOperation =
    "BusinessLock::PessimisticOfflinelLock<unsigned long,class BusinessLock::RegistryOfflineLockStatus>::unlock";

// Releases the machine-wide mutex when a lock operation leaves, also by an exception.
class MutexHold {
 public:
  explicit MutexHold(VMutex& m) : m_(m) { m_.lock(-1); }
  ~MutexHold() {
    try {
      m_.unlock();
    } catch (...) {
    }
  }
  MutexHold(const MutexHold&) = delete;
  MutexHold& operator=(const MutexHold&) = delete;

 private:
  VMutex& m_;
};

}  // namespace

bool processExists(unsigned long pid) {
  if (pid == 0 || pid > static_cast<unsigned long>(INT32_MAX)) return false;
  // EPERM: the process exists but belongs to another user, a holder as live as any.
  if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return false;
  // A zombie has ended; only its exit status waits for the parent.
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string content;
  if (!std::getline(stat, content)) return true;
  size_t paren = content.rfind(')');
  if (paren != std::string::npos && paren + 2 < content.size()) {
    char state = content[paren + 2];
    if (state == 'Z' || state == 'X') return false;
  }
  return true;
}

unsigned long RegistryOfflineLockStatus::getStatus() {
  uint32_t value = static_cast<uint32_t>(unlockedValue());
  registry::lookup(root_, keyPath_, valueName_, value, 0);
  return value;
}

unsigned long RegistryOfflineLockStatus::lockedValue() { return static_cast<unsigned long>(::getpid()); }

void RegistryOfflineLockStatus::setStatus(unsigned long value) {
  registry::write(root_, keyPath_, valueName_, static_cast<uint32_t>(value));
}

bool RegistryOfflineLockStatus::isExpired() {
  unsigned long s = getStatus();
  if (s == 0) return true;
  return !processExists(s);
}

PessimisticOfflinelLock<unsigned long, RegistryOfflineLockStatus>::PessimisticOfflinelLock(
    const RegistryOfflineLockStatus& status, const std::wstring& mutexName)
    : status_(status), mutex_(mutexName) {}

PessimisticOfflinelLock<unsigned long, RegistryOfflineLockStatus>::~PessimisticOfflinelLock() {
  try {
    std::lock_guard<std::mutex> g(section_);
    if (locked_) {
      MutexHold hold(mutex_);
      status_.setStatus(status_.unlockedValue());
      locked_ = false;
    }
  } catch (...) {
  }
}

void PessimisticOfflinelLock<unsigned long, RegistryOfflineLockStatus>::lock() {
  std::lock_guard<std::mutex> g(section_);
  if (locked_) return;
  MutexHold hold(mutex_);
  unsigned long s = status_.getStatus();
  if (s != status_.unlockedValue() && !status_.isExpired()) {
    if (s == status_.lockedValue())
      throw SyncronizationException(L"Concurrency syncronization error", VCTX(L"", kLockOperation));
    throw LockException(L"Object has been already locked", VCTX(L"", kLockOperation));
  }
  status_.setStatus(status_.lockedValue());
  locked_ = true;
}

void PessimisticOfflinelLock<unsigned long, RegistryOfflineLockStatus>::unlock() {
  std::lock_guard<std::mutex> g(section_);
  if (!locked_) throw SyncronizationException(L"Object has not been locked", VCTX(L"", kUnlockOperation));
  MutexHold hold(mutex_);
  status_.setStatus(status_.unlockedValue());
  locked_ = false;
}

}  // namespace BusinessLock
