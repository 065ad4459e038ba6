#include "platform/exec/exec_util.h"

#include "platform/report/guard.h"
#include "platform/report/log_manager.h"
#include "platform/text/text_codec.h"
#include "platform/files/vfilename.h"
#include "platform/text/vformat.h"

vexecutil startUtilInternal(const std::wstring& utility, const std::wstring& arguments, const std::string* input,
                            const ExecTrace& trace, ExecSettings& settings) {
  const std::wstring path = VFileName::combine(settings.requiredProductRoot(), L"admin/bin/" + utility);
  vexecutil launcher(path, arguments, vexecutil::kCaptureOutput | (input ? vexecutil::kFeedInput : 0u));
  trace.start(path, arguments);
  vreport(0, L"Execute %s %s", path, arguments);
  launcher.start();
  if (input) launcher.writeInput(*input);
  return launcher;
}

uint32_t execUtil(const std::wstring& utility, const std::wstring& arguments, std::wstring* output,
                  const std::string* input, ExecSettings& settings) {
  if (output) output->clear();
  const ExecTrace trace(settings.traceFile(), L"execUtil");
  const int64_t started = tickCountMs();
  vexecutil launcher = startUtilInternal(utility, arguments, input, trace, settings);
  const std::string bytes = launcher.readAllOutput();
  if (output) *output = text::fromUtf8(bytes);
  const uint32_t code = launcher.exitCode();
  if (code != 0) {
    throw vexception(L"Execute " + utility + L" " + arguments + L" failed: " + text::fromAnsi(bytes),
                     VCTX(L"", "execUtil"));
  }
  trace.end(launcher.path(), arguments, tickCountMs() - started);
  return code;
}

std::wstring execExtUtil(const std::wstring& path, const std::wstring& arguments, ExecErrorPolicy policy,
                         uint32_t* exitCode, ExecSettings& settings) {
  const ContextRecord context = VCTX(vformat(L"Execute %s %s", path, arguments), "execExtUtil");
  try {
    vexecutil launcher(path, arguments, vexecutil::kCaptureOutput);
    const int64_t started = tickCountMs();
    const ExecTrace trace(settings.traceFile(), L"execExtUtil");
    trace.start(path, arguments);
    vreport(0, L"Execute %s %s", path, arguments);
    launcher.start();
    const std::string bytes = launcher.readAllOutput();
    const uint32_t code = launcher.exitCode();
    if (exitCode) *exitCode = code;
    trace.end(path, arguments, tickCountMs() - started);
    std::wstring result = text::fromAnsi(bytes);
    vreport(0, L"Execute %s %s result: %s", path, arguments, result);
    return result;
  } catch (...) {
    if (policy == ExecErrorPolicy::Raise) guard::rethrowCurrent(context);
    guard::reportCurrent(0, context);
    return {};
  }
}
