#include "cadrosrv/cadrosrv_main.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <optional>

#include "platform/service/cadrosrv_protocol.h"
#include "cadrosrv/cadrosrv_server.h"
#include "platform/system/system_root.h"
#include "platform/text/text_codec.h"
#include "platform/report/vexception.h"

namespace cadrosrv {

namespace {

constexpr const char* kUsage =
    "usage: cadrosrv [--config FILE] [--socket PATH] [--foreground]\n"
    "  --config FILE   settings, passwords and components (default: <system root>/service/cadrosrv.ini)\n"
    "  --socket PATH   socket to listen on (default: <system root>/run/pipe/cdrpipe)\n"
    "  --foreground    stay attached to the terminal instead of running as a daemon\n";

Server* volatile g_server = nullptr;
volatile sig_atomic_t g_stopRequested = 0;

void onStopSignal(int) {
  g_stopRequested = 1;
  if (Server* s = g_server) s->requestStop();
}

std::string absolute(const std::string& path) {
  if (path.empty() || path.front() == '/') return path;
  char cwd[PATH_MAX];
  if (!::getcwd(cwd, sizeof cwd)) return path;
  return std::string(cwd) + "/" + path;
}

void installSignals() {
  struct sigaction sa {};
  sa.sa_handler = onStopSignal;
  sigemptyset(&sa.sa_mask);
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGINT, &sa, nullptr);
  sa.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &sa, nullptr);
  ::sigaction(SIGHUP, &sa, nullptr);
}

bool writePidFile(const std::string& path) {
  std::string temp = path + ".tmp";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::string text = std::to_string(::getpid()) + "\n";
  bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ok = ::close(fd) == 0 && ok;
  return ok && ::rename(temp.c_str(), path.c_str()) == 0;
}

// Detaches; returns only in the daemon. The starting process exits once the daemon has
// written its pid file, 0 on success, so that a script can use the service right away.
bool daemonize(const std::string& pidFile) {
  int ready[2];
  if (::pipe2(ready, O_CLOEXEC) != 0) return false;
  pid_t first = ::fork();
  if (first < 0) return false;
  if (first > 0) {
    ::close(ready[1]);
    char c = 0;
    ssize_t n;
    do {
      n = ::read(ready[0], &c, 1);
    } while (n < 0 && errno == EINTR);
    int status = 0;
    ::waitpid(first, &status, 0);
    std::_Exit(n == 1 && c == '1' ? 0 : 1);
  }
  ::close(ready[0]);
  ::setsid();
  pid_t second = ::fork();
  if (second < 0) std::_Exit(1);
  if (second > 0) std::_Exit(0);

  if (::chdir("/") != 0) std::_Exit(1);
  int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null >= 0) {
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    if (null > 2) ::close(null);
  }
  char c = writePidFile(pidFile) ? '1' : '0';
  [[maybe_unused]] ssize_t n = ::write(ready[1], &c, 1);
  ::close(ready[1]);
  return c == '1';
}

}  // namespace

ServiceCommandLine parseServiceCommandLine(const std::vector<std::string>& args) {
  ServiceCommandLine out;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](const char* option) -> std::optional<std::string> {
      std::string prefix = std::string(option) + "=";
      if (a.rfind(prefix, 0) == 0) return a.substr(prefix.size());
      if (a != option) return std::nullopt;
      if (i + 1 >= args.size() || args[i + 1].empty())
        throw ArgumentException(text::fromUtf8(std::string("Option ") + option + " needs a value"));
      return args[++i];
    };
    if (a == "--foreground") {
      out.foreground = true;
    } else if (a == "--help" || a == "-h") {
      out.help = true;
    } else if (auto v = value("--config")) {
      out.configPath = *v;
    } else if (auto v = value("--socket")) {
      out.socketPath = *v;
    } else {
      throw ArgumentException(text::fromUtf8("Unknown option " + a));
    }
  }
  out.configPath = absolute(out.configPath.empty() ? sysroot::path("service/cadrosrv.ini") : out.configPath);
  out.socketPath = absolute(out.socketPath.empty() ? defaultSocketPath() : out.socketPath);
  return out;
}

int serviceMain(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  ServiceCommandLine cmd;
  try {
    cmd = parseServiceCommandLine(args);
  } catch (const vexception& e) {
    std::fprintf(stderr, "cadrosrv: %s\n%s", text::toUtf8(e.message()).c_str(), kUsage);
    return 2;
  }
  if (cmd.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }

  try {
    installSignals();
    FileStore store(cmd.configPath);
    std::optional<Server> server;
    server.emplace(Listener::bind(cmd.socketPath), store, Server::Options{});
    server->setLogger([](const std::string& line) { std::fprintf(stderr, "cadrosrv: %s\n", line.c_str()); });
    // A stop asked for while the socket was being set up still counts.
    g_server = &*server;
    if (g_stopRequested) server->requestStop();

    std::string pidFile;
    if (!cmd.foreground) {
      pidFile = sysroot::path("run/cadrosrv.pid");
      sysroot::ensureDirectory(sysroot::path("run"));
      if (!daemonize(pidFile)) return 1;
    }
    server->run();
    g_server = nullptr;
    server.reset();
    if (!pidFile.empty()) ::unlink(pidFile.c_str());
    return 0;
  } catch (const vexception& e) {
    std::fprintf(stderr, "cadrosrv: %s\n", text::toUtf8(e.message()).c_str());
    return 1;
  }
}

}  // namespace cadrosrv
