#include "platform/exec/process_runner.h"

#include <cerrno>

#include "platform/exec/child_spawn.h"
#include "platform/exec/command_escaping.h"
#include "platform/report/log_manager.h"
#include "platform/exec/pipe_pump.h"
#include "platform/exec/script_resolver.h"
#include "platform/report/vexception.h"
#include "platform/files/vfilename.h"
#include "platform/text/vformat.h"

ProcessRunner::ProcessRunner(ExecSettings& settings) : settings_(settings) {}

ProcessRunner::~ProcessRunner() {
  int status = 0;
  if (pid_ > 0 && !waited_) reapIfEnded(pid_, status);
}

std::wstring ProcessRunner::resolveCommandLine(const std::wstring& program, const std::wstring& arguments,
                                               const Options& options) {
  ScriptStartOptions how;
  how.forceExecutable = options.forceExecutable;
  how.panelPhp = options.panelPhp;
  return resolveScriptCommandLine(program, arguments, options.environment, how, settings_);
}

void ProcessRunner::start(const std::wstring& program, const std::wstring& arguments, const Options& options) {
  Pipe out, err, in;
  for (Pipe* p : {&out, &err}) {
    if (int e = makePipe(*p)) raiseErrno(L"Unable to create pipe", e, VCTX(L"", "ProcessRunner::start"));
  }
  if (!options.inheritInput) {
    if (int e = makePipe(in)) raiseErrno(L"Unable to create pipe", e, VCTX(L"", "ProcessRunner::start"));
  }

  commandLine_ = resolveCommandLine(program, arguments, options);
  std::wstring workingDirectory = options.workingDirectory;
  if (options.panelPhp && workingDirectory.empty())
    workingDirectory = VFileName::combine(settings_.requiredProductRoot(), L"admin");

  SpawnRequest request;
  request.program = VFileName::toNative(commandInterpreter());
  request.argv = {request.program, "-c", VFileName::toNative(commandLine_)};
  request.useEnvironment = !options.environment.empty();
  for (const std::wstring& e : options.environment) request.environment.push_back(VFileName::toNative(e));
  request.workingDirectory = VFileName::toNative(workingDirectory);
  request.stdinFd = in.read.get();
  request.stdoutFd = out.write.get();
  request.stderrFd = err.write.get();
  if (int e = spawnChild(request, pid_))
    raiseErrno(vformat(L"Unable to start (%s)", commandLine_), e, VCTX(L"", "ProcessRunner::start"));

  // Nothing is ever written to the child's input: closing our end gives it end of file at
  // once instead of a read that waits for the time-out.
  output_ = std::move(out.read);
  error_ = std::move(err.read);
  vreport(0, L"path: %s, args: %s, cmdLine %s", program, arguments, commandLine_);
}

bool ProcessRunner::waitAndCollect(std::string& output, std::string& error, StopEvent* stop, int64_t timeoutMs) {
  output.clear();
  error.clear();
  if (stop) {
    try {
      stop->reset();
    } catch (vexception& e) {
      e.addContext(VCTX(L"", "ProcessRunner::waitAndCollect"));
      throw;
    }
  }
  PipePump pump;
  pump.setCap(kOutputCap);
  pump.addReader(&output_, &output);
  pump.addReader(&error_, &error);
  const PipePump::Result result =
      pump.run(timeoutMs, stop ? stop->fd() : -1, L"Unable to read pipe", "ProcessRunner::waitAndCollect");
  return result == PipePump::Result::Finished;
}

uint32_t ProcessRunner::exitCode() {
  if (!waited_) {
    int status = 0;
    if (pid_ <= 0) raiseErrno(L"Unable to wait process", ECHILD, VCTX(L"", "ProcessRunner::exitCode"));
    if (int e = waitForChild(pid_, status))
      raiseErrno(L"Unable to wait process", e, VCTX(L"", "ProcessRunner::exitCode"));
    waited_ = true;
    exitCode_ = exitCodeOf(status);
  }
  return exitCode_;
}
