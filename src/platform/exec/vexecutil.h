#pragma once
// One launch of a program through the command interpreter (command_escaping.h) with its
// standard streams in pipes: the launcher under execUtil and execExtUtil.
//
//   vexecutil run(L"/opt/panel/admin/bin/viduza", L"--get-log-directory", vexecutil::kCaptureOutput);
//   run.start();
//   std::string out = run.readAllOutput();
//   uint32_t code = run.exitCode();
//
// Credentials, tokens, desktops and window or creation flags have no counterpart here, and
// the launcher takes none. A working directory is entered by the child itself, so the
// program's own current directory never changes. A stream that is not captured is the
// parent's own.
//
// A launcher serves one child. Destroying it closes the pipes; the child is not stopped.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/exec/child_spawn.h"

class vexecutil {
 public:
  enum Flags : unsigned {
    kCaptureOutput = 1,  // standard output into a pipe (readAllOutput)
    kFeedInput = 2,      // standard input from a pipe (writeInput)
    kCaptureError = 4,   // standard error into a pipe (errorOutput)
    kRaw = 8,            // the path is the whole command text (program and arguments)
  };

  // `path` is the program (executable form); with an empty path the arguments are the
  // whole command text, their first argument the program. Texts follow command_escaping.h.
  vexecutil(std::wstring path, std::wstring arguments, unsigned flags);
  ~vexecutil();
  vexecutil(vexecutil&& other) noexcept;
  vexecutil& operator=(vexecutil&&) = delete;
  vexecutil(const vexecutil&) = delete;
  vexecutil& operator=(const vexecutil&) = delete;

  void setWorkingDirectory(std::wstring directory) { workingDirectory_ = std::move(directory); }
  // "NAME=VALUE" entries that replace the parent's environment.
  void setEnvironment(std::vector<std::wstring> entries);

  const std::wstring& path() const { return path_; }
  const std::wstring& arguments() const { return arguments_; }
  // The command line given to the interpreter; set by start().
  const std::wstring& commandLine() const { return commandLine_; }
  pid_t pid() const { return pid_; }

  // Starts the child. Failure raises the OS error "CreateProcess '" + interpreter + " -c " +
  // command line + "'" (operation "vexecutil::start"), also for pipes that cannot be made.
  void start();

  // Queues bytes for the child's standard input (needs kFeedInput). They are written while
  // readAllOutput reads, so input and output of any size cannot deadlock; the input is
  // closed after them, and whatever the child does not read is dropped.
  void writeInput(std::string bytes);

  // Reads standard output to its end, writing the queued input and collecting standard
  // error meanwhile, and returns it (empty without kCaptureOutput). Raises the OS error
  // "Unable to read pipe" (operation "vexecutil::readAllOutput").
  std::string readAllOutput();
  // Standard error collected by readAllOutput (kCaptureError).
  const std::string& errorOutput() const { return errorOutput_; }

  // Waits for the child to end and returns its exit code (128 + the signal when a signal
  // ended it). A failed wait raises the OS error "GetExitCodeProcess" (operation
  // "vexecutil::exitCode").
  uint32_t exitCode();

 private:
  std::wstring path_;
  std::wstring arguments_;
  unsigned flags_;
  std::wstring workingDirectory_;
  bool useEnvironment_ = false;
  std::vector<std::wstring> environment_;
  std::wstring commandLine_;
  pid_t pid_ = -1;
  bool waited_ = false;
  uint32_t exitCode_ = 0;
  UniqueFd input_, output_, error_;
  std::string pendingInput_;
  std::string errorOutput_;
};
