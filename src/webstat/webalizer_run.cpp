// The Webalizer run of a domain's writer: the program over the type's temporary log, its
// pages into the statistics directory, and the tidy-up there.
#include <optional>

#include "platform/exec/child_spawn.h"
#include "platform/files/vfilename.h"
#include "platform/report/guard.h"
#include "platform/report/log_manager.h"
#include "platform/system/system_root.h"
#include "platform/text/windows_command_line.h"
#include "webstat/analyser_run_settings.h"
#include "webstat/backup_file.h"
#include "webstat/log_for_webalizer.h"
#include "webstat/owner_directory.h"

namespace {

constexpr const char* kOperation = "statistics::LogForWebalizer::run";

// Starts the program directly, its command line split by the Windows rules, with the
// program's own standard streams, and waits for it. Raises "CreateProcess " + program +
// arguments with the system error when it cannot be started.
void startAndWait(const std::wstring& program, const std::wstring& arguments) {
  SpawnRequest request;
  request.program = VFileName::toNative(program);
  for (const std::wstring& arg : cmdline::split(cmdline::enclose(program) + L" " + arguments))
    request.argv.push_back(VFileName::toNative(arg));
  pid_t pid = -1;
  if (int err = spawnChild(request, pid)) raiseErrno(L"CreateProcess " + program + arguments, err, VCTX(L"", kOperation));
  int status = 0;
  if (int err = waitForChild(pid, status)) raiseErrno(L"CreateProcess " + program + arguments, err, VCTX(L"", kOperation));
}

// Removes the private AWStats copy an earlier AWStats setting left behind.
void removeAWStatsCopy(const OwnerDirectory& t) {
  guard::pass(VCTX(L"Unable to delete reparse point", kOperation), [&] {
    if (t.isDirectory(L"AWStats") && t.child(L"AWStats", false).isSymlink(L"cgi-bin"))
      t.child(L"AWStats", false).removeFile(L"cgi-bin");
  });
  guard::pass(VCTX(L"Unable to delete AWStats folder", kOperation), [&] {
    t.touch(L"CopyAWStats.lock");
    if (t.status(L"AWStats")) t.removeTree(L"AWStats");
    t.removeFile(L"CopyAWStats.lock");
  });
}

}  // namespace

std::wstring statistics::LogForWebalizer::commandArguments(int logType, const std::wstring& statisticsPath) {
  AnalyserRunSettings& s = runSettings();
  const std::wstring program = s.webalizerProgram();
  const std::wstring root = VFileName::directory(VFileName::directory(program));
  std::wstring args = s.verbose() ? L" -c " : L" -Q -c ";
  args += cmdline::enclose(VFileName::combine(root, L"conf/webalizer.conf"));
  args += L" -n " + cmdline::enclose(domainName());
  args += L" -D " + cmdline::enclose(VFileName::combine(s.productRoot(), L"tmp/webalizer.cache"));
  args += L" -N 15 -p ";
  args += logType == 0 ? L" -F clf " : L" -F ftp ";
  args += L" -o " + cmdline::enclose(statisticsPath);
  args += L" " + cmdline::enclose(getLogFile(logType).path());
  return args;
}

void statistics::LogForWebalizer::run(int logType) {
  AnalyserRunSettings& s = runSettings();
  vreport(0, L"Execute Webalizer for domain %s", domainName());
  getLogFile(logType).flush();
  const OwnerDirectory t =
      OwnerDirectory::open(s.vhostsRoot(), {domainName(), L"statistics", statisticsDirectoryName(logType)}, 1);

  std::optional<std::wstring> backup;
  if (t.status(L"index.html")) backup = backupFileIn(t, L"index.html");
  try {
    const std::wstring program = s.webalizerProgram();
    const std::wstring args = commandArguments(logType, t.path());
    // The DNS cache lives in the product's temporary directory, made when missing.
    sysroot::ensureDirectory(VFileName::toNative(VFileName::combine(s.productRoot(), L"tmp")));
    vreport(0, L"execute %s %s", program, args);
    startAndWait(program, args);
  } catch (...) {
    if (backup && t.renameNoReplace(*backup, L"index.html") != 0)
      vreport(1, L"Unable to restore %s", t.pathOf(*backup));
    throw;
  }

  guard::report(1, VCTX(L"Remove Awstats files", kOperation), [&] { removeAWStatsCopy(t); });
  if (backup)
    guard::report(1, VCTX(L"Unable to delete backup index html", kOperation), [&] { t.removeFile(*backup); });
  // The pages are for the web server to serve and the owner to read.
  guard::report(1, VCTX(L"Unable to fix permissions", kOperation), [&] { t.setPermissions(0755, 0644); });
  vreport(0, L"Webalizer finished");
}
