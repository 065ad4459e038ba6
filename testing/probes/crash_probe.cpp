// Meets a processor exception after one report, for the tests of the handler.
//   cadro-crash-probe SIGNAL     (segv, bus, ill, fpe)
#include <csignal>
#include <cstring>

#include "platform/report/cancellation.h"
#include "platform/report/log_manager.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  cancellation::installHandlers();
  vreport(3, L"first report");
  int sig = std::strcmp(argv[1], "bus") == 0   ? SIGBUS
            : std::strcmp(argv[1], "ill") == 0 ? SIGILL
            : std::strcmp(argv[1], "fpe") == 0 ? SIGFPE
                                               : SIGSEGV;
  std::raise(sig);
  return 0;
}
