#pragma once
// The command line and the life of the management service daemon:
//   cadrosrv [--config FILE] [--socket PATH] [--foreground]
// The defaults come from the system root (service/cadrosrv.ini, run/pipe/cdrpipe). Without
// --foreground the service detaches (double fork, new session, standard streams on
// /dev/null) once its socket listens, and keeps its process id in run/cadrosrv.pid.
// SIGTERM (and SIGINT) stop it cleanly: the socket and the pid file are removed.

#include <string>
#include <vector>

namespace cadrosrv {

struct ServiceCommandLine {
  std::string configPath;
  std::string socketPath;
  bool foreground = false;
  bool help = false;
};

// Parses the arguments (without the program name); throws ArgumentException for an
// unknown option or a missing value. Relative paths are made absolute, since the daemon
// leaves its working directory.
ServiceCommandLine parseServiceCommandLine(const std::vector<std::string>& args);

// The program: 0 after a clean stop (or --help), 1 when the service cannot start, 2 for a
// bad command line.
int serviceMain(int argc, char** argv);

}  // namespace cadrosrv
