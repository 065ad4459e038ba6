#include "app/vconsoleapp.h"

#include "platform/text/white_space.h"

#include "platform/report/guard.h"
#include "platform/report/log_manager.h"
#include "platform/text/windows_command_line.h"

namespace {
vconsoleapp* g_current = nullptr;
}  // namespace

vconsoleapp::vconsoleapp() { g_current = this; }

vconsoleapp::~vconsoleapp() {
  if (g_current == this) g_current = nullptr;
}

vconsoleapp* vconsoleapp::current() { return g_current; }

std::wstring vconsoleapp::quoteForReport(const std::wstring& arg) {
  static const std::wstring special = L"\"&<>[]{}^=;!'+,`~|";
  bool quote = false;
  for (wchar_t c : arg) {
    if (text::isWhiteSpace(c) || special.find(c) != std::wstring::npos) {
      quote = true;
      break;
    }
  }
  return quote ? cmdline::enclose(arg) : arg;
}

std::wstring vconsoleapp::maskedCommandLine(const std::vector<std::wstring>& args) {
  // The arguments as the command-line text gives them back.
  std::vector<std::wstring> split = cmdline::split(cmdline::join(args));
  std::wstring out;
  for (const std::wstring& arg : split) {
    std::wstring shown = arg;
    size_t eq = arg.find(L'=');
    if (eq != std::wstring::npos && arg.substr(0, eq).find(L"password") != std::wstring::npos) {
      shown = arg.substr(0, eq);
      for (size_t p = eq; p != std::wstring::npos; p = arg.find(L'=', p + 1)) shown += L"=*";
    }
    out += quoteForReport(shown);
    out += L' ';
  }
  return out;
}

int vconsoleapp::run(Args args) {
  std::vector<std::wstring> argv(args.begin(), args.end());
  std::wstring masked = maskedCommandLine(argv);
  // The start is reported with the masked command line, so that a password given as an
  // option never reaches the event log.
  vreport(0, L"start %s", masked);
  const ContextRecord record{vformat(L"execute %s", masked), "vconsoleapp::run", __LINE__};
  int result = 1;
  try {
    CrashContextScope context(record);
    cancellation::point();
    result = start(args);
  } catch (...) {
    guard::reportCurrent(3, record);
  }
  state_ = false;
  // A run that was asked to stop (SIGINT, SIGTERM) has not done its work, whatever its
  // wrappers made of the cancellation.
  if (cancellation::requested()) result = 1;
  return result;
}

int vconsoleapp::go(Args) {
  throw vexception(L"Invalid command " + commandName_, VCTX(L"", "vconsoleapp::go"));
}

int vconsoleapp::start(Args args) {
  Args rest;
  if (args.size() > 1) {
    commandName_ = args[1];
    rest = args.subspan(2);
  } else if (commandName_.empty()) {
    throw vexception(L"Missing command parameter", VCTX(L"", "vconsoleapp::start"));
  }
  return guard::pass(ContextRecord{vformat(L"execute console command %s", commandName_), "vconsoleapp::start", __LINE__},
                     [&] { return go(rest); });
}
