#pragma once
// The catch convention of every wrapper. A wrapper catches, in this order, a standard
// exception (a new vexception from what(), plus the wrapper's record), a vexception (the
// wrapper's record is added to it), a _com_error (the COM error text with the wrapper's
// text), a cwrpexception ("C Exception: " + code, plus the record) and anything else
// ("Unexpected error", plus the record). A reporting wrapper then reports the result at its
// level and goes on; a passing wrapper throws it. While its body runs, a wrapper's record is
// the crash record's context (crash_context.h).

#include <exception>
#include <utility>

#include "platform/report/cancellation.h"
#include "platform/report/crash_context.h"
#include "platform/report/log_manager.h"
#include "platform/report/vexception.h"

namespace guard {

// Must be called inside a catch block. Gives `sink` the vexception the convention makes of
// the exception in flight: the caught object itself when it is a vexception (its dynamic
// type preserved), otherwise a new one.
void withCurrentFailure(const ContextRecord& record, void (*sink)(vexception&, bool original, void*), void* data);

// Inside a catch block: reports the failure in flight at `level` under `record`.
void reportCurrent(int level, const ContextRecord& record) noexcept;

// Inside a catch block: passes the failure in flight on with `record` added; a caught
// vexception is rethrown as itself (type preserved).
[[noreturn]] void rethrowCurrent(const ContextRecord& record);

// Inside a catch block: raises a new vexception `message` in place of the failure in flight.
// It keeps the cause's context records and adds `record` with the cause's message as its
// text, so the detailed text still tells what went wrong underneath.
[[noreturn]] void rethrowAs(std::wstring message, ContextRecord record);

namespace detail {
template <typename F>
bool wrapped(int level, const ContextRecord& record, F&& body, bool passCancellation) {
  try {
    CrashContextScope context(record);
    cancellation::point();
    std::forward<F>(body)();
    return true;
  } catch (...) {
    if (passCancellation && cancellation::requested()) throw;
    reportCurrent(level, record);
    return false;
  }
}
}  // namespace detail

// Runs `body` as a wrapped block: a cancellation point at its start; a failure is reported
// at `level` under `record` and the caller goes on. True when the body completed.
template <typename F>
bool report(int level, const ContextRecord& record, F&& body) noexcept {
  return detail::wrapped(level, record, std::forward<F>(body), false);
}

// As report, except that a pending cancellation request passes on instead of being
// reported: a loop over many items wrapped one by one ends at the request instead of
// reporting it once for every item left.
template <typename F>
bool reportUnlessCancelled(int level, const ContextRecord& record, F&& body) {
  return detail::wrapped(level, record, std::forward<F>(body), true);
}

// Runs `body`; a failure leaves with `record` added (see rethrowCurrent).
template <typename F>
decltype(auto) pass(const ContextRecord& record, F&& body) {
  try {
    CrashContextScope context(record);
    return std::forward<F>(body)();
  } catch (...) {
    rethrowCurrent(record);
  }
}

}  // namespace guard
