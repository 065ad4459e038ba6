#include "platform/exec/pipe_pump.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <chrono>

#include "platform/report/cancellation.h"
#include "platform/exec/child_spawn.h"
#include "platform/report/vexception.h"

namespace {

constexpr size_t kReadBlock = 65536;

// A write to a pipe whose reader is gone raises SIGPIPE in the writing thread; block it for
// the call and consume the one the call raised, so the program sees only EPIPE.
ssize_t writeWithoutSigpipe(int fd, const char* data, size_t size) {
  sigset_t pipeSet, previous, pending;
  sigemptyset(&pipeSet);
  sigaddset(&pipeSet, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSet, &previous);
  sigemptyset(&pending);
  sigpending(&pending);
  const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
  ssize_t n = ::write(fd, data, size);
  int err = errno;
  if (n < 0 && err == EPIPE && !alreadyPending) {
    timespec zero{};
    while (sigtimedwait(&pipeSet, nullptr, &zero) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  errno = err;
  return n;
}

}  // namespace

void PipePump::setInput(UniqueFd* fd, std::string bytes) {
  input_ = fd;
  inputBytes_ = std::move(bytes);
  inputOffset_ = 0;
  if (input_ && input_->isOpen()) setNonBlocking(input_->get());
}

void PipePump::addReader(UniqueFd* fd, std::string* text) {
  if (!fd || !fd->isOpen() || readerCount_ == 2) return;
  readers_[readerCount_++] = Reader{fd, text};
}

size_t PipePump::keptBytes() const {
  size_t total = 0;
  for (int i = 0; i < readerCount_; ++i) {
    bool counted = false;
    for (int j = 0; j < i; ++j) counted = counted || readers_[j].text == readers_[i].text;
    if (!counted) total += readers_[i].text->size();
  }
  return total;
}

void PipePump::writeInput() {
  while (inputOffset_ < inputBytes_.size()) {
    ssize_t n = writeWithoutSigpipe(input_->get(), inputBytes_.data() + inputOffset_,
                                    inputBytes_.size() - inputOffset_);
    if (n > 0) {
      inputOffset_ += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    // The child closed its input (or the pipe failed): what it did not take is dropped.
    break;
  }
  input_->reset();
  inputBytes_.clear();
}

void PipePump::readFrom(Reader& reader, const std::wstring& failureText, const char* operation) {
  char buffer[kReadBlock];
  ssize_t n = ::read(reader.fd->get(), buffer, sizeof buffer);
  if (n > 0) {
    size_t kept = keptBytes();
    if (kept < cap_) reader.text->append(buffer, std::min(static_cast<size_t>(n), cap_ - kept));
    return;
  }
  if (n == 0 || errno == EPIPE) {
    reader.fd->reset();
    return;
  }
  if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) return;
  raiseErrno(failureText, errno, VCTX(L"", operation));
}

PipePump::Result PipePump::run(int64_t timeoutMs, int stopFd, const std::wstring& failureText,
                               const char* operation) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    cancellation::point();
    if (input_ && input_->isOpen() && inputOffset_ >= inputBytes_.size()) input_->reset();
    pollfd fds[4];
    Reader* owners[4] = {};
    nfds_t count = 0;
    int inputSlot = -1, stopSlot = -1;
    if (input_ && input_->isOpen()) {
      inputSlot = static_cast<int>(count);
      fds[count++] = pollfd{input_->get(), POLLOUT, 0};
    }
    for (int i = 0; i < readerCount_; ++i) {
      if (!readers_[i].fd->isOpen()) continue;
      owners[count] = &readers_[i];
      fds[count++] = pollfd{readers_[i].fd->get(), POLLIN, 0};
    }
    if (count == 0) return Result::Finished;
    if (stopFd >= 0) {
      stopSlot = static_cast<int>(count);
      fds[count++] = pollfd{stopFd, POLLIN, 0};
    }

    int wait = -1;
    if (timeoutMs >= 0) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return Result::TimedOut;
      wait = left > 1000000 ? 1000000 : static_cast<int>(left);
    }
    int ready = poll(fds, count, wait);
    if (ready < 0) {
      if (errno == EINTR) continue;
      raiseErrno(failureText, errno, VCTX(L"", operation));
    }
    if (ready == 0) continue;  // the deadline check above decides

    for (nfds_t i = 0; i < count; ++i) {
      if (!fds[i].revents) continue;
      if (static_cast<int>(i) == inputSlot) {
        if (fds[i].revents & POLLOUT) writeInput();
        else input_->reset();  // POLLERR/POLLHUP: nobody reads it any more
      } else if (owners[i]) {
        readFrom(*owners[i], failureText, operation);
      }
    }
    if (stopSlot >= 0 && (fds[stopSlot].revents & POLLIN)) return Result::Stopped;
  }
}
