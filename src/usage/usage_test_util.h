#pragma once
// Test support for the disk-usage tests: trees described as tables of nodes, and bodies run
// in a child process (without root's privileges, or under a descriptor limit), so that file
// permissions and resource limits apply as they would to an ordinary run.

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "testing/temp_dir.h"

namespace usage_testing {

enum class Kind { File, Directory, Link, HardLink, Fifo, Device };

// One node of a tree: `path` relative to the tree's root; a file's `size`; the `target` of
// a link (as written) or of a hard link (relative to the root).
struct Node {
  std::string path;
  Kind kind;
  int64_t size = 0;
  std::string target = {};
};

// Creates the nodes under `root`, parents as needed. A device node that cannot be made
// (no privilege for it) is left out: like a FIFO it has size 0.
inline void build(const std::string& root, const std::vector<Node>& nodes) {
  std::filesystem::create_directories(root);
  for (const Node& n : nodes) {
    const std::string path = root + "/" + n.path;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    switch (n.kind) {
      case Kind::File: testing_support::writeFile(path, std::string(static_cast<size_t>(n.size), 'x')); break;
      case Kind::Directory: std::filesystem::create_directories(path); break;
      case Kind::Link: std::filesystem::create_symlink(n.target, path); break;
      case Kind::HardLink: std::filesystem::create_hard_link(root + "/" + n.target, path); break;
      case Kind::Fifo: ::mkfifo(path.c_str(), 0644); break;
      case Kind::Device: ::mknod(path.c_str(), S_IFCHR | 0644, makedev(1, 3)); break;
    }
  }
}

// What a walk that counts every name as itself finds in the nodes: files and hard links by
// their size, links by the length of their target, the rest 0.
inline int64_t sizeOf(const std::vector<Node>& nodes) {
  int64_t total = 0;
  for (const Node& n : nodes) {
    if (n.kind == Kind::File || n.kind == Kind::HardLink) total += n.size;
    if (n.kind == Kind::Link) total += static_cast<int64_t>(n.target.size());
  }
  return total;
}

// Runs `body` in a child process and returns what it returned. `unprivileged`: as the user
// nobody when the test runs as root (then the files it reads and the directories above
// them must be open to others). `descriptorLimit` > 0: with RLIMIT_NOFILE that many
// descriptors above those open now. A child that has not finished after a minute (a
// walk gone round a loop) is ended and returns "". One that cannot be set up returns
// "cannot set up the child".
inline std::string inChild(const std::function<std::string()>& body, bool unprivileged, int descriptorLimit = 0) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return "cannot set up the child";
  pid_t pid = ::fork();
  if (pid < 0) {
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    return "cannot set up the child";
  }
  if (pid == 0) {
    ::close(pipeFds[0]);
    ::alarm(60);
    std::string out;
    bool ready = true;
    if (unprivileged && ::geteuid() == 0)
      ready = ::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 65534) == 0 &&
              ::setresuid(65534, 65534, 65534) == 0;
    if (ready && descriptorLimit > 0) {
      int open = 0;
      for (int fd = 0; fd < 4096; ++fd) open += ::fcntl(fd, F_GETFD) >= 0 ? 1 : 0;
      struct rlimit limit = {static_cast<rlim_t>(open + descriptorLimit), static_cast<rlim_t>(open + descriptorLimit)};
      ready = ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
    }
    try {
      out = ready ? body() : "cannot set up the child";
    } catch (const std::exception& e) {
      out = std::string("exception: ") + e.what();
    }
    for (size_t at = 0; at < out.size();) {
      ssize_t n = ::write(pipeFds[1], out.data() + at, out.size() - at);
      if (n <= 0) break;
      at += static_cast<size_t>(n);
    }
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  std::string out;
  char buffer[4096];
  for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<size_t>(n));
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return out;
}

}  // namespace usage_testing
