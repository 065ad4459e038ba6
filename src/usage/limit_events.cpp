#include "usage/limit_events.h"

#include "platform/exec/command_arguments.h"
#include "platform/exec/process_runner.h"
#include "platform/files/vfilename.h"
#include "platform/report/guard.h"
#include "platform/report/vexception.h"
#include "platform/text/text_codec.h"

namespace {

constexpr const char* kOperation = "statistics::limitReached";
constexpr const wchar_t* kFailure = L"Unable to execute event";

// The option text of each event type, indexed by the type.
constexpr const wchar_t* kEventOptions[] = {
    L"--client-limit-traffic-reached --client-id",
    L"--client-limit-size-reached --client-id",
    L"--domain-limit-traffic-reached --domain-id",
    L"--domain-limit-size-reached --domain-id",
};

}  // namespace

LimitEventLauncher::LimitEventLauncher(ExecSettings& settings, int64_t waitMs) : settings_(settings), waitMs_(waitMs) {}

std::wstring LimitEventLauncher::eventArguments(int64_t id, int32_t type) {
  if (type < 0 || type >= static_cast<int32_t>(std::size(kEventOptions)))
    throw vexception(std::wstring(kFailure) + L": Unknown event type");
  // The identifier is a number formatted here, never text taken from a row: it holds only
  // digits and a sign, nothing the command interpreter would read as syntax.
  CommandArguments arguments;
  arguments.addFixed(kEventOptions[type]).addFixed(std::to_wstring(id));
  return arguments.text();
}

std::wstring LimitEventLauncher::scriptPath() {
  std::wstring root = settings_.requiredProductRoot();
  root.erase(root.find_last_not_of(L"\\/") + 1);
  return VFileName::combine(root, L"admin/plib/actionlog/actionlog.php");
}

void LimitEventLauncher::limitReached(int64_t id, int32_t type) noexcept {
  guard::report(3, ContextRecord{kFailure, kOperation, __LINE__}, [&] { launch(id, type); });
}

void LimitEventLauncher::launch(int64_t id, int32_t type) {
  const std::wstring arguments = eventArguments(id, type);
  const std::wstring script = scriptPath();

  ProcessRunner runner(settings_);
  ProcessRunner::Options options;
  options.panelPhp = true;
  runner.start(script, arguments, options);

  std::string output;
  const std::wstring command = std::wstring(kFailure) + L" " + script + L" " + arguments;
  if (!runner.waitAndCollect(output, output, nullptr, waitMs_)) throw vexception(command);
  if (runner.exitCode() != 0) throw vexception(command + L": " + text::fromUtf8(output));
}
