#pragma once
// Starting a child process and waiting for it: the POSIX core under the launcher
// (vexecutil.h) and the script runner (process_runner.h).
//
// Descriptor hygiene: the program opens its descriptors with O_CLOEXEC, and the child also
// marks every descriptor above 2 close-on-exec before it executes the program, so the
// program inherits its three standard streams (the pipe ends meant for it, or the parent's
// own streams) and nothing else: no lock file, socket or other child's pipe. The child
// starts with an empty signal mask and SIGPIPE at its default action.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/system/unique_fd.h"

struct Pipe {
  UniqueFd read;
  UniqueFd write;
};

// A pipe with both ends close-on-exec and numbered above 2, so that setting up a child's
// standard streams never overwrites one of them. 0 or the errno of the failure.
int makePipe(Pipe& pipe);

// Sets O_NONBLOCK on `fd`; 0 or the errno.
int setNonBlocking(int fd);

struct SpawnRequest {
  std::string program;                   // the file to execute (no PATH search)
  std::vector<std::string> argv;         // argv[0] first
  bool useEnvironment = false;           // false: the parent's environment
  std::vector<std::string> environment;  // "NAME=VALUE" entries when useEnvironment
  std::string workingDirectory;          // empty: the parent's
  int stdinFd = -1;                      // -1: the parent's own stream
  int stdoutFd = -1;
  int stderrFd = -1;
};

// Starts the child. Returns 0 and sets `pid`, or returns the errno of the failure; a
// working directory that cannot be entered or a program that cannot be executed count as
// failures (the child reports them before it ends and is reaped here), as does a NUL
// character in any of the texts (EINVAL).
int spawnChild(const SpawnRequest& request, pid_t& pid);

// Waits for the child to end and stores its wait status. A signal that interrupts the wait
// passes through a cancellation point (so a cancellation request raises "Operation
// cancelled" and leaves the child running); 0 or the errno of a failed wait.
int waitForChild(pid_t pid, int& status);

// Collects the child's status if it has ended, without waiting; true when it was collected.
bool reapIfEnded(pid_t pid, int& status);

// The exit code of a wait status: the code the program exited with, or 128 + the signal
// that ended it (the shells' convention).
uint32_t exitCodeOf(int status);
