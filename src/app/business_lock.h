#pragma once
// Business locks: pessimistic offline locks whose state is a number in the registry (the
// process identifier of the holder, 0 when free), with every read-modify-write of that
// number done under one machine-wide mutex. A state left by a process that has ended
// counts as free; a state held by another live process makes lock() fail at once instead
// of waiting.

#include <mutex>
#include <optional>
#include <string>

#include "platform/registry/registry.h"
#include "platform/report/vexception.h"
#include "platform/sync/vsync_object.h"

namespace BusinessLock {

// The name of the mutex every lock of the program uses.
inline constexpr const wchar_t* kBusinessLockMutex = L"Global\\CadroStatisticsBusinessLock";

// Abstract lock state.
template <typename T>
class OfflineLockStatus {
 public:
  virtual ~OfflineLockStatus() = default;
  virtual T getStatus() = 0;
  virtual T lockedValue() = 0;
  virtual void setStatus(T value) = 0;
  virtual T unlockedValue() = 0;
  // True when the stored state may be overridden.
  virtual bool isExpired() = 0;
};

// A lock state kept as a DWORD registry value.
class RegistryOfflineLockStatus : public OfflineLockStatus<unsigned long> {
 public:
  RegistryOfflineLockStatus(HKEY root, std::wstring keyPath, std::wstring valueName)
      : root_(root), keyPath_(std::move(keyPath)), valueName_(std::move(valueName)) {}

  // The stored DWORD; 0 when the key or value is absent (a value of another type raises).
  unsigned long getStatus() override;
  // This process's identifier.
  unsigned long lockedValue() override;
  // Writes the DWORD, creating the key; the result code is ignored.
  void setStatus(unsigned long value) override;
  unsigned long unlockedValue() override { return 0; }
  // 0, or the identifier of a process that no longer exists.
  bool isExpired() override;

  const std::wstring& keyPath() const { return keyPath_; }
  const std::wstring& valueName() const { return valueName_; }

 private:
  HKEY root_;
  std::wstring keyPath_;
  std::wstring valueName_;
};

// True when a process with this identifier exists (kill(pid, 0) succeeds, or fails only
// for want of permission: another user's process) and has not ended (a zombie waiting for
// its parent counts as ended).
bool processExists(unsigned long pid);

template <typename T, typename Status>
class PessimisticOfflinelLock;

template <>
class PessimisticOfflinelLock<unsigned long, RegistryOfflineLockStatus> {
 public:
  PessimisticOfflinelLock(const RegistryOfflineLockStatus& status, const std::wstring& mutexName);
  // Releases a held lock; failures are swallowed.
  ~PessimisticOfflinelLock();
  PessimisticOfflinelLock(const PessimisticOfflinelLock&) = delete;
  PessimisticOfflinelLock& operator=(const PessimisticOfflinelLock&) = delete;

  // Takes the lock, or raises LockException "Object has been already locked" (another live
  // process holds it) or SyncronizationException "Concurrency syncronization error" (this
  // process holds it through another lock object). Taking a held lock again succeeds.
  void lock();
  // Gives it back; SyncronizationException "Object has not been locked" when not held.
  void unlock();
  bool locked() const { return locked_; }
  RegistryOfflineLockStatus& status() { return status_; }

 private:
  bool locked_ = false;
  std::mutex section_;
  RegistryOfflineLockStatus status_;
  VMutex mutex_;
};

using RegistryLock = PessimisticOfflinelLock<unsigned long, RegistryOfflineLockStatus>;

}  // namespace BusinessLock
