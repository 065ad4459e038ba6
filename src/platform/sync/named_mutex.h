#pragma once
// A machine-wide named mutex: an flock on a file under run/mutex/ of the system root.
// A holder that dies releases it; the next waiter acquires it (what Windows reports as an
// abandoned mutex, which the program counts as acquired). Like a Windows mutex it is
// recursive for its owning thread: every object of one name in this process shares one
// lock file description, so a second object of the same name does not deadlock its owner.
// Lock files are opened close-on-exec, so a child process never inherits a held mutex.

#include <memory>
#include <string>

class NamedMutex {
 public:
  enum class Wait { Acquired, Abandoned, Timeout };

  // Creates or opens the mutex; an OS error is raised as "Create mutex with name '...'"
  // by the callers that own the message (this throws vosexception with errno mapped).
  explicit NamedMutex(const std::wstring& name);
  ~NamedMutex();
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  // Waits for ownership; timeoutMs < 0 waits without limit. The wait is a cancellation
  // point: a pending cancellation request raises "Operation cancelled".
  Wait lock(long timeoutMs);
  // Gives up one level of ownership; false when this thread does not own it.
  bool unlock();
  bool ownedByCaller() const;

  const std::wstring& name() const { return name_; }
  // The lock file of a mutex name (for tools and tests).
  static std::string lockFilePath(const std::wstring& name);

  struct Shared;

 private:
  std::wstring name_;
  std::shared_ptr<Shared> shared_;
  int heldLevels_ = 0;
};
