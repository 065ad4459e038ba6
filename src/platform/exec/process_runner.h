#pragma once
// The script runner: starts a script (or program) through the command interpreter with the
// interpreter it needs (script_resolver.h), collects its standard output and standard error
// within a time limit, and gives its exit code.
//
//   ProcessRunner runner;
//   ProcessRunner::Options options;
//   options.panelPhp = true;
//   runner.start(L"/opt/panel/admin/plib/actionlog/actionlog.php", L"--domain-id 5", options);
//   std::string output;
//   if (!runner.waitAndCollect(output, output, nullptr, 120000)) { ... still running ... }
//   uint32_t code = runner.exitCode();
//
// Desktops and Windows creation flags have no counterpart here. A runner serves one child;
// destroying it closes the pipes, and the child is never stopped by the program.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/exec/exec_settings.h"
#include "platform/sync/stop_event.h"
#include "platform/system/unique_fd.h"

class ProcessRunner {
 public:
  // Bytes of standard output and standard error kept together; the rest is read and dropped.
  static constexpr size_t kOutputCap = 102400;
  static constexpr int64_t kInfinite = -1;

  struct Options {
    bool forceExecutable = false;  // start the file itself, whatever it holds
    bool panelPhp = false;         // PHP through the control panel's own PHP
    bool inheritInput = false;     // the child reads the program's standard input
    // "NAME=VALUE" entries; empty: the program's own environment (and its PATH for the search).
    std::vector<std::wstring> environment;
    // Empty: the program's own; with panelPhp, <product root>/admin.
    std::wstring workingDirectory;
  };

  explicit ProcessRunner(ExecSettings& settings = ExecSettings::system());
  ~ProcessRunner();
  ProcessRunner(const ProcessRunner&) = delete;
  ProcessRunner& operator=(const ProcessRunner&) = delete;

  // Starts `program` with `arguments` (the Windows argument convention, see
  // command_escaping.h). Without inheritInput the child's standard input is at its end.
  // Raises the failures of resolveCommandLine, the OS error "Unable to create pipe", and the
  // OS error "Unable to start (%s)" with the command line (operation "ProcessRunner::start").
  // Reports "path: %s, args: %s, cmdLine %s" at level 0.
  void start(const std::wstring& program, const std::wstring& arguments, const Options& options);

  // The command line that runs `program` (script_resolver.h, with the options' forced
  // executable, control panel's PHP and environment).
  std::wstring resolveCommandLine(const std::wstring& program, const std::wstring& arguments,
                                  const Options& options);

  // Clears both texts and resets `stop` (when given), then collects standard output and
  // standard error (the same text may receive both) until both pipes reach their end: true.
  // After `timeoutMs` (kInfinite: no limit), or once `stop` is set, it returns false with
  // the child still running; a later call goes on reading. Raises the OS error "Unable to
  // read pipe" or "Unable to reset event" (operation "ProcessRunner::waitAndCollect").
  bool waitAndCollect(std::string& output, std::string& error, StopEvent* stop, int64_t timeoutMs);

  // Waits without limit for the child to end; its exit code (128 + the signal when a
  // signal ended it). Raises the OS error "Unable to wait process" (operation
  // "ProcessRunner::exitCode").
  uint32_t exitCode();

  pid_t pid() const { return pid_; }
  const std::wstring& commandLine() const { return commandLine_; }

 private:
  ExecSettings& settings_;
  std::wstring commandLine_;
  pid_t pid_ = -1;
  bool waited_ = false;
  uint32_t exitCode_ = 0;
  UniqueFd output_, error_;
};
