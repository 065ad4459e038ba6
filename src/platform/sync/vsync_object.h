#pragma once
// Waitable objects: the mutex primitives under the business locks and the exclusive-task
// guard. A named mutex is machine-wide (named_mutex.h); an unnamed one is local to the
// process. Both are recursive for their owning thread, as Windows mutexes are.

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/sync/named_mutex.h"

class VSyncObject {
 public:
  enum class WaitResult { Signaled, Abandoned, Timeout, IoCompletion, Failed };

  virtual ~VSyncObject() = default;
  // Waits for the object (timeoutMs -1: no limit). Signaled and abandoned return true,
  // a timeout false; any other result raises the OS error "Lock object"
  // (operation "VSyncObject::lock").
  bool lock(long timeoutMs);
  virtual void unlock() = 0;
  // True when the object has a handle.
  virtual bool isSet() const = 0;

  // Waits for `object` with the time that remains, as a cancellation point; a failed wait
  // raises the OS error "Wait for single object" (operation "VSyncObject::waitForSingleObject").
  static WaitResult waitForSingleObject(VSyncObject& object, long timeoutMs);

 protected:
  // One wait attempt of at most timeoutMs (-1: no limit).
  virtual WaitResult wait(long timeoutMs) = 0;
};

class VMutex : public VSyncObject {
 public:
  // Creates or opens the mutex `name` (none: a mutex of this process only). A failure
  // raises the OS error "Create mutex with name '<name>'" (or "Create mutex"; operation
  // "VMutex::VMutex"). With initialOwner the caller owns it at once.
  explicit VMutex(const std::optional<std::wstring>& name, bool initialOwner = false);
  ~VMutex() override;

  // Releases one level of ownership; raises the OS error "ReleaseMutex" (operation
  // "VMutex::unlock") when the caller does not own it.
  void unlock() override;
  bool isSet() const override { return named_ != nullptr || local_ != nullptr; }

 protected:
  WaitResult wait(long timeoutMs) override;

 private:
  std::unique_ptr<NamedMutex> named_;
  std::unique_ptr<std::recursive_timed_mutex> local_;
  int localDepth_ = 0;
};

// Runs a task at most once at a time on this machine: waits up to a timeout for the named
// mutex and keeps it until destruction.
class ExclusiveTask {
 public:
  ExclusiveTask() = default;
  ~ExclusiveTask();
  ExclusiveTask(const ExclusiveTask&) = delete;
  ExclusiveTask& operator=(const ExclusiveTask&) = delete;

  // Creates or opens the mutex ("create mutex" on failure) and waits for it: acquired or
  // abandoned clears the timed-out flag, a timeout sets it; any other result raises
  // "WaitForSingleObject failed for mutex <name>" (operation "ExclusiveTask::Initialize").
  void Initialize(const std::wstring& name, long timeoutMs);
  bool timedOut() const { return timedOut_; }

 private:
  std::unique_ptr<NamedMutex> mutex_;
  bool owned_ = false;
  bool timedOut_ = false;
};
