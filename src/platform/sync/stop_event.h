#pragma once
// A manual-reset event another thread can set to end a wait early (ProcessRunner's
// wait-and-collect): set until reset, observable as a readable descriptor.

#include "platform/system/unique_fd.h"

class StopEvent {
 public:
  // Raises the OS error "Unable to create event" (operation "StopEvent::StopEvent").
  StopEvent();
  StopEvent(const StopEvent&) = delete;
  StopEvent& operator=(const StopEvent&) = delete;

  // Thread-safe; never raises.
  void set() noexcept;
  // Raises the OS error "Unable to reset event" (operation "StopEvent::reset").
  void reset();
  bool isSet() const noexcept;
  // Readable while the event is set.
  int fd() const { return fd_.get(); }

 private:
  UniqueFd fd_;
};
