// Meets a processor exception inside a task wrapper of a console application, after one
// report, for the tests of the handler and of its record.
//   cadro-crash-probe SIGNAL [ARGUMENT...]     (segv, bus, ill, fpe)
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "app/vconsoleapp.h"
#include "platform/report/cancellation.h"
#include "platform/report/guard.h"
#include "platform/report/log_manager.h"
#include "platform/text/text_codec.h"

namespace {

class CrashingApp : public vconsoleapp {
 public:
  explicit CrashingApp(int signal) : signal_(signal) {}
  int start(Args) override {
    guard::report(3, VCTX(L"Calculate domain(s) traffic", "statistics::start"), [&] { std::raise(signal_); });
    return 0;
  }

 private:
  int signal_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  cancellation::installHandlers();
  vreport(3, L"first report");
  int sig = std::strcmp(argv[1], "bus") == 0   ? SIGBUS
            : std::strcmp(argv[1], "ill") == 0 ? SIGILL
            : std::strcmp(argv[1], "fpe") == 0 ? SIGFPE
                                               : SIGSEGV;
  std::vector<std::wstring> args;
  for (int i = 0; i < argc; ++i) args.push_back(text::fromAnsi(argv[i]));
  CrashingApp app(sig);
  return app.run(args);
}
