#pragma once
// The events of exceeded limits: the control panel's action-log event script
// <product root>/admin/plib/actionlog/actionlog.php, run under the control panel's own PHP
// with one event's arguments, which does whatever the control panel has configured for
// that event.
//
//   LimitEventLauncher events;
//   events.limitReached(7, limit_event::kDomainTraffic);
//   // runs actionlog.php --domain-limit-traffic-reached --domain-id 7
//
// The launcher reports a failed event and returns, so that the next one still follows.
// Events run one at a time and are waited for, at most waitMilliseconds() each.

#include <cstdint>
#include <string>

#include "platform/exec/exec_settings.h"

namespace limit_event {
// Event types, as the control panel numbers them.
constexpr int32_t kClientTraffic = 0;  // --client-limit-traffic-reached --client-id ID
constexpr int32_t kClientSize = 1;     // --client-limit-size-reached --client-id ID
constexpr int32_t kDomainTraffic = 2;  // --domain-limit-traffic-reached --domain-id ID
constexpr int32_t kDomainSize = 3;     // --domain-limit-size-reached --domain-id ID
}  // namespace limit_event

class LimitEventLauncher {
 public:
  // How long an event script may run before its event counts as failed.
  static constexpr int64_t kEventWaitMs = 120000;

  // `settings` (the product root, the trace) must outlive the launcher; `waitMs` is the
  // wait for each script, kEventWaitMs but for tests.
  explicit LimitEventLauncher(ExecSettings& settings = ExecSettings::system(), int64_t waitMs = kEventWaitMs);

  // Runs the event script for the client or domain `id` and the event `type`, and waits for
  // it. A failure is reported at level 3 under "Unable to execute event" (operation
  // "statistics::limitReached") and not passed on: an unknown type ("Unable to execute
  // event: Unknown event type"), a script that cannot be started, one still running after
  // the wait ("Unable to execute event " + script + " " + arguments; it is left running),
  // and one that exits with a code other than 0 (the same text + ": " + its standard output
  // and standard error, decoded from UTF-8).
  void limitReached(int64_t id, int32_t type) noexcept;

  // The arguments of the event `type` for `id`. Raises "Unable to execute event: Unknown
  // event type" for another type.
  static std::wstring eventArguments(int64_t id, int32_t type);

  // <product root without trailing separators>/admin/plib/actionlog/actionlog.php. Raises
  // when the product root is not set.
  std::wstring scriptPath();

  int64_t waitMilliseconds() const { return waitMs_; }

 private:
  void launch(int64_t id, int32_t type);

  ExecSettings& settings_;
  int64_t waitMs_;
};
