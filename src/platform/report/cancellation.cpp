#include "platform/report/cancellation.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

#include "platform/report/log_manager.h"
#include "platform/report/vexception.h"

namespace cancellation {
namespace {

volatile std::sig_atomic_t g_requested = 0;
std::atomic<bool> g_installed{false};

extern "C" void onCancelSignal(int) { g_requested = 1; }

extern "C" void onProcessorSignal(int sig) {
  LogManager::reportProcessorException(exceptionCodeOf(sig));
  ::_exit(1);
}

}  // namespace

uint32_t exceptionCodeOf(int sig) {
  switch (sig) {
    case SIGSEGV: return 0xC0000005u;
    case SIGBUS: return 0x80000002u;
    case SIGILL: return 0xC000001Du;
    case SIGFPE: return 0xC0000094u;
    default: return 0xC0000005u;
  }
}

void installHandlers() {
  if (g_installed.exchange(true)) return;
  struct sigaction cancel {};
  cancel.sa_handler = onCancelSignal;
  sigemptyset(&cancel.sa_mask);
  cancel.sa_flags = 0;  // no SA_RESTART: blocking calls return EINTR and reach a cancellation point
  sigaction(SIGINT, &cancel, nullptr);
  sigaction(SIGTERM, &cancel, nullptr);

  // The processor-exception handler runs on its own stack so that a stack overflow
  // can still be reported.
  static char altStack[64 * 1024];
  stack_t ss{};
  ss.ss_sp = altStack;
  ss.ss_size = sizeof altStack;
  sigaltstack(&ss, nullptr);
  struct sigaction crash {};
  crash.sa_handler = onProcessorSignal;
  sigemptyset(&crash.sa_mask);
  crash.sa_flags = SA_ONSTACK | SA_RESETHAND;
  for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE}) sigaction(sig, &crash, nullptr);
  LogManager::prepareProcessorExceptionReport();
}

bool requested() { return g_requested != 0; }
void request() { g_requested = 1; }
void reset() { g_requested = 0; }

void point() {
  if (g_requested) throw vexception(L"Operation cancelled");
}

}  // namespace cancellation
