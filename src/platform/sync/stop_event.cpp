#include "platform/sync/stop_event.h"

#include <poll.h>
#include <sys/eventfd.h>

#include <cerrno>
#include <cstdint>

#include "platform/report/vexception.h"

StopEvent::StopEvent() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (!fd_.isOpen()) raiseErrno(L"Unable to create event", errno, VCTX(L"", "StopEvent::StopEvent"));
}

void StopEvent::set() noexcept {
  uint64_t one = 1;
  ssize_t ignored = ::write(fd_.get(), &one, sizeof one);
  (void)ignored;
}

void StopEvent::reset() {
  uint64_t value = 0;
  if (::read(fd_.get(), &value, sizeof value) < 0 && errno != EAGAIN)
    raiseErrno(L"Unable to reset event", errno, VCTX(L"", "StopEvent::reset"));
}

bool StopEvent::isSet() const noexcept {
  pollfd p{fd_.get(), POLLIN, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}
