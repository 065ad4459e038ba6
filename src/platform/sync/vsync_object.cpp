#include "platform/sync/vsync_object.h"

#include <chrono>

#include "platform/report/cancellation.h"
#include "platform/report/vexception.h"

namespace {
constexpr uint32_t kErrorNotOwner = 288;
}  // namespace

VSyncObject::WaitResult VSyncObject::waitForSingleObject(VSyncObject& object, long timeoutMs) {
  using clock = std::chrono::steady_clock;
  const bool unlimited = timeoutMs < 0;
  const auto deadline = clock::now() + std::chrono::milliseconds(unlimited ? 0 : timeoutMs);
  for (;;) {
    cancellation::point();
    long remaining = -1;
    if (!unlimited) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
      remaining = left < 0 ? 0 : static_cast<long>(left);
    }
    WaitResult r = object.wait(remaining);
    if (r == WaitResult::IoCompletion) continue;  // woken by a completion callback: wait again
    if (r == WaitResult::Failed)
      raiseOsError(L"Wait for single object", winerr::kInvalidHandle, VCTX(L"", "VSyncObject::waitForSingleObject"));
    return r;
  }
}

bool VSyncObject::lock(long timeoutMs) {
  switch (waitForSingleObject(*this, timeoutMs)) {
    case WaitResult::Signaled:
    case WaitResult::Abandoned: return true;
    case WaitResult::Timeout:
    case WaitResult::IoCompletion: return false;
    case WaitResult::Failed: break;
  }
  raiseOsError(L"Lock object", winerr::kInvalidHandle, VCTX(L"", "VSyncObject::lock"));
}

VMutex::VMutex(const std::optional<std::wstring>& name, bool initialOwner) {
  if (name) {
    try {
      named_ = std::make_unique<NamedMutex>(*name);
    } catch (const vosexception& e) {
      raiseOsError(L"Create mutex with name '" + *name + L"'", e.code(), VCTX(L"", "VMutex::VMutex"));
    }
  } else {
    local_ = std::make_unique<std::recursive_timed_mutex>();
  }
  if (initialOwner) lock(-1);
}

VMutex::~VMutex() {
  if (local_) {
    while (localDepth_ > 0) {
      local_->unlock();
      --localDepth_;
    }
  }
}

VSyncObject::WaitResult VMutex::wait(long timeoutMs) {
  if (named_) {
    switch (named_->lock(timeoutMs)) {
      case NamedMutex::Wait::Acquired: return WaitResult::Signaled;
      case NamedMutex::Wait::Abandoned: return WaitResult::Abandoned;
      case NamedMutex::Wait::Timeout: return WaitResult::Timeout;
    }
    return WaitResult::Failed;
  }
  if (!local_) return WaitResult::Failed;
  bool ok = timeoutMs < 0 ? (local_->lock(), true) : local_->try_lock_for(std::chrono::milliseconds(timeoutMs));
  if (!ok) return WaitResult::Timeout;
  ++localDepth_;
  return WaitResult::Signaled;
}

void VMutex::unlock() {
  bool released = false;
  if (named_) {
    released = named_->unlock();
  } else if (local_ && localDepth_ > 0) {
    local_->unlock();
    --localDepth_;
    released = true;
  }
  if (!released) raiseOsError(L"ReleaseMutex", kErrorNotOwner, VCTX(L"", "VMutex::unlock"));
}

ExclusiveTask::~ExclusiveTask() {
  if (mutex_ && owned_) mutex_->unlock();
}

void ExclusiveTask::Initialize(const std::wstring& name, long timeoutMs) {
  try {
    mutex_ = std::make_unique<NamedMutex>(name);
  } catch (const vosexception& e) {
    raiseOsError(L"create mutex", e.code(), VCTX(L"", "ExclusiveTask::Initialize"));
  }
  NamedMutex::Wait w;
  try {
    w = mutex_->lock(timeoutMs);
  } catch (const vosexception& e) {
    mutex_.reset();
    raiseOsError(L"WaitForSingleObject failed for mutex " + name, e.code(), VCTX(L"", "ExclusiveTask::Initialize"));
  }
  owned_ = w != NamedMutex::Wait::Timeout;
  timedOut_ = !owned_;
}
