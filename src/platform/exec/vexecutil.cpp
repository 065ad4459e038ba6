#include "platform/exec/vexecutil.h"

#include <cerrno>
#include <utility>

#include "platform/exec/command_escaping.h"
#include "platform/exec/pipe_pump.h"
#include "platform/report/vexception.h"
#include "platform/files/vfilename.h"

vexecutil::vexecutil(std::wstring path, std::wstring arguments, unsigned flags)
    : path_(std::move(path)), arguments_(std::move(arguments)), flags_(flags) {}

vexecutil::vexecutil(vexecutil&& other) noexcept
    : path_(std::move(other.path_)),
      arguments_(std::move(other.arguments_)),
      flags_(other.flags_),
      workingDirectory_(std::move(other.workingDirectory_)),
      useEnvironment_(other.useEnvironment_),
      environment_(std::move(other.environment_)),
      commandLine_(std::move(other.commandLine_)),
      pid_(std::exchange(other.pid_, -1)),
      waited_(other.waited_),
      exitCode_(other.exitCode_),
      input_(std::move(other.input_)),
      output_(std::move(other.output_)),
      error_(std::move(other.error_)),
      pendingInput_(std::move(other.pendingInput_)),
      errorOutput_(std::move(other.errorOutput_)) {}

vexecutil::~vexecutil() {
  // A child that has ended is collected now rather than left behind until the program ends.
  int status = 0;
  if (pid_ > 0 && !waited_) reapIfEnded(pid_, status);
}

void vexecutil::setEnvironment(std::vector<std::wstring> entries) {
  environment_ = std::move(entries);
  useEnvironment_ = true;
}

void vexecutil::start() {
  const std::wstring interpreter = commandInterpreter();
  if (flags_ & kRaw) commandLine_ = escapeCommandArguments(path_);
  else if (!path_.empty()) commandLine_ = executableCommandLine(path_, escapeCommandArguments(arguments_));
  else commandLine_ = escapeCommandArguments(arguments_);
  const std::wstring failure = L"CreateProcess '" + interpreter + L" -c " + commandLine_ + L"'";

  Pipe in, out, err;
  for (auto [flag, pipe] : {std::pair{kFeedInput, &in}, {kCaptureOutput, &out}, {kCaptureError, &err}}) {
    if (!(flags_ & flag)) continue;
    if (int e = makePipe(*pipe)) raiseErrno(failure, e, VCTX(L"", "vexecutil::start"));
  }

  SpawnRequest request;
  request.program = VFileName::toNative(interpreter);
  request.argv = {request.program, "-c", VFileName::toNative(commandLine_)};
  request.useEnvironment = useEnvironment_;
  for (const std::wstring& e : environment_) request.environment.push_back(VFileName::toNative(e));
  request.workingDirectory = VFileName::toNative(workingDirectory_);
  request.stdinFd = in.read.get();
  request.stdoutFd = out.write.get();
  request.stderrFd = err.write.get();
  if (int e = spawnChild(request, pid_)) raiseErrno(failure, e, VCTX(L"", "vexecutil::start"));

  // The child's ends close here, so end of file arrives when the child (and whatever it
  // started) lets go of them.
  input_ = std::move(in.write);
  output_ = std::move(out.read);
  error_ = std::move(err.read);
}

void vexecutil::writeInput(std::string bytes) { pendingInput_ += bytes; }

std::string vexecutil::readAllOutput() {
  std::string output;
  PipePump pump;
  if (input_.isOpen()) pump.setInput(&input_, std::move(pendingInput_));
  pendingInput_.clear();
  pump.addReader(&output_, &output);
  pump.addReader(&error_, &errorOutput_);
  pump.run(-1, -1, L"Unable to read pipe", "vexecutil::readAllOutput");
  return output;
}

uint32_t vexecutil::exitCode() {
  if (!waited_) {
    int status = 0;
    if (pid_ <= 0) raiseErrno(L"GetExitCodeProcess", ECHILD, VCTX(L"", "vexecutil::exitCode"));
    if (int e = waitForChild(pid_, status)) raiseErrno(L"GetExitCodeProcess", e, VCTX(L"", "vexecutil::exitCode"));
    waited_ = true;
    exitCode_ = exitCodeOf(status);
  }
  return exitCode_;
}
