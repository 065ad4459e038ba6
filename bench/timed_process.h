#pragma once
// The benchmarks' way of timing a command as a process of its own: the wall time and the
// child's peak resident set.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

struct Timed {
  double seconds = 0;
  double userSeconds = 0;
  double systemSeconds = 0;
  long peakKb = 0;
  int status = 0;
};

// Runs `argv` (argv[0] a path) with its standard output into the file `output`, and its
// standard error there too when `errorsToo` is set.
inline Timed timedProcess(const std::vector<std::string>& argv, const std::string& output, bool errorsToo) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (!std::freopen(output.c_str(), "w", stdout)) _exit(126);
    if (errorsToo) dup2(fileno(stdout), 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  Timed t;
  struct rusage usage {};
  wait4(pid, &t.status, 0, &usage);
  t.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  t.peakKb = usage.ru_maxrss;
  t.userSeconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6;
  t.systemSeconds = usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
  return t;
}
