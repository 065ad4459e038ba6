#include "platform/exec/child_spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/report/cancellation.h"

extern char** environ;

namespace {

// Moves `fd` above the standard streams when it landed on one of them (the parent may run
// with a standard stream closed). Returns the descriptor to use, or -1 with errno set.
int aboveStandardStreams(int fd) {
  if (fd > 2) return fd;
  int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  int err = errno;
  ::close(fd);
  errno = err;
  return moved;
}

// In the child between fork and exec: only async-signal-safe calls from here on.
[[noreturn]] void failInChild(int reportFd, int err) {
  ssize_t ignored = ::write(reportFd, &err, sizeof err);
  (void)ignored;
  _exit(127);
}

[[noreturn]] void runChild(const SpawnRequest& r, char* const* argv, char* const* envp, int reportFd,
                           int descriptorLimit) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigaction(SIGPIPE, &dfl, nullptr);

  const int sources[3] = {r.stdinFd, r.stdoutFd, r.stderrFd};
  for (int target = 0; target < 3; ++target) {
    if (sources[target] >= 0 && dup2(sources[target], target) < 0) failInChild(reportFd, errno);
  }
  if (!r.workingDirectory.empty() && chdir(r.workingDirectory.c_str()) < 0) failInChild(reportFd, errno);

  // The report pipe is close-on-exec already, so it closes exactly when exec succeeds.
  if (close_range(3, ~0u, CLOSE_RANGE_CLOEXEC) != 0) {
    for (int fd = 3; fd < descriptorLimit; ++fd) {
      int flags = fcntl(fd, F_GETFD);
      if (flags >= 0 && !(flags & FD_CLOEXEC)) fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
  }
  execve(r.program.c_str(), argv, envp);
  failInChild(reportFd, errno);
}

}  // namespace

int makePipe(Pipe& pipe) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return errno;
  UniqueFd read(aboveStandardStreams(fds[0]));
  if (!read.isOpen()) {
    int err = errno;
    if (fds[1] >= 0) ::close(fds[1]);
    return err;
  }
  UniqueFd write(aboveStandardStreams(fds[1]));
  if (!write.isOpen()) return errno;
  pipe.read = std::move(read);
  pipe.write = std::move(write);
  return 0;
}

int setNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return errno;
  return 0;
}

int spawnChild(const SpawnRequest& request, pid_t& pid) {
  // A NUL inside an argument would silently cut it short (and with it the quoting of a
  // command line): refuse instead.
  for (const auto* list : {&request.argv, &request.environment})
    for (const std::string& s : *list)
      if (s.find('\0') != std::string::npos) return EINVAL;
  if (request.program.find('\0') != std::string::npos || request.workingDirectory.find('\0') != std::string::npos)
    return EINVAL;

  // Everything the child needs is built before the fork: it must not allocate.
  std::vector<char*> argv;
  for (const std::string& a : request.argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  if (request.useEnvironment) {
    for (const std::string& e : request.environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
  }
  rlimit limit{};
  int descriptorLimit = 65536;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < 65536u)
    descriptorLimit = static_cast<int>(limit.rlim_cur);

  Pipe report;
  if (int err = makePipe(report)) return err;

  pid_t child = fork();
  if (child < 0) return errno;
  if (child == 0) {
    report.read.reset();
    runChild(request, argv.data(), request.useEnvironment ? envp.data() : environ, report.write.get(),
             descriptorLimit);
  }
  report.write.reset();

  int childError = 0;
  ssize_t n;
  do {
    n = ::read(report.read.get(), &childError, sizeof childError);
  } while (n < 0 && errno == EINTR);
  if (n == static_cast<ssize_t>(sizeof childError)) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return childError != 0 ? childError : ENOEXEC;
  }
  pid = child;
  return 0;
}

int waitForChild(pid_t pid, int& status) {
  for (;;) {
    if (waitpid(pid, &status, 0) >= 0) return 0;
    if (errno != EINTR) return errno;
    cancellation::point();
  }
}

bool reapIfEnded(pid_t pid, int& status) { return waitpid(pid, &status, WNOHANG) == pid; }

uint32_t exitCodeOf(int status) {
  if (WIFEXITED(status)) return static_cast<uint32_t>(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return 128u + static_cast<uint32_t>(WTERMSIG(status));
  return 0;
}
