#include "platform/exec/process_runner.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/report/cancellation.h"
#include "platform/text/text_codec.h"
#include "platform/report/vexception.h"
#include "testing/fake_exec_settings.h"
#include "testing/temp_dir.h"

namespace {

using testing_support::FakeExecSettings;
using testing_support::TempDir;
using testing_support::writeFile;
using Clock = std::chrono::steady_clock;

std::wstring w(const std::string& s) { return text::fromUtf8(s); }

// Arguments that would be damaged by any shell expansion or operator on the way.
const std::wstring kHostileArguments = L"\"a b\" \"q\\\"uote\" \"x&y>z|w\" \"$HOME `id`\" plain";
const std::string kHostileSeen = "a b|q\"uote|x&y>z|w|$HOME `id`|plain";

class ProcessRunnerTest : public ::testing::Test {
 protected:
  ProcessRunnerTest() {
    // The machine's interpreters, as the management service would report them.
    settings.components = {{L"perl", L"/usr"}, {L"python", L"/usr/bin"}, {L"php", L"/usr/bin"}};
    settings.root = w(dir.file("root"));
  }

  std::wstring script(const std::string& name, const std::string& content, mode_t mode = 0644) {
    writeFile(dir.file(name), content);
    chmod(dir.file(name).c_str(), mode);
    return w(dir.file(name));
  }

  // Runs to the end and gives standard output; standard error goes to `error`.
  std::string run(const std::wstring& program, const std::wstring& args, ProcessRunner::Options options = {},
                  std::string* error = nullptr, uint32_t* code = nullptr) {
    ProcessRunner runner(settings);
    runner.start(program, args, options);
    std::string out, err;
    EXPECT_TRUE(runner.waitAndCollect(out, err, nullptr, 20000));
    uint32_t exit = runner.exitCode();
    if (code) *code = exit;
    else EXPECT_EQ(exit, 0u) << err;
    if (error) *error = err;
    return out;
  }

  TempDir dir;
  FakeExecSettings settings;
};

}  // namespace

TEST_F(ProcessRunnerTest, RealInterpretersFoundByExtensionInterpreterLineAndContent) {
  std::string err;
  EXPECT_EQ(run(script("args.pl", "print join('|', @ARGV), \"\\n\"; print STDERR \"to stderr\\n\";"), kHostileArguments,
                {}, &err),
            kHostileSeen + "\n");
  EXPECT_EQ(err, "to stderr\n");
  EXPECT_EQ(run(script("tool.cgi", "#!/usr/bin/env python3\nimport sys\nprint('|'.join(sys.argv[1:]))\n"),
                kHostileArguments),
            kHostileSeen + "\n");
  EXPECT_EQ(run(script("page.txt", "<?php echo implode('|', array_slice($argv, 1)), \"\\n\";\n"), kHostileArguments),
            kHostileSeen + "\n");
  EXPECT_EQ(run(script("plain.sh", "printf '%s|' \"$@\"\n", 0755), L"\"1 2\" 3"), "1 2|3|");
}

TEST_F(ProcessRunnerTest, PanelPhpRunsWithItsOptionsInTheAdminDirectory) {
  writeFile(dir.file("root/admin/php.ini"), "auto_prepend_file=/nonexistent\n");
  writeFile(dir.file("root/admin/bin/.keep"), "");
  ASSERT_EQ(symlink("/usr/bin/php", dir.file("root/admin/bin/php").c_str()), 0);
  std::wstring event = script("root/admin/plib/actionlog/actionlog.php",
                              "<?php echo getcwd(), '|', php_ini_loaded_file(), '|', $argv[1], \"\\n\";");
  ProcessRunner::Options options;
  options.panelPhp = true;
  EXPECT_EQ(run(event, L"--domain-limit-traffic-reached --domain-id 7", options),
            dir.file("root/admin") + "|" + dir.file("root/admin/php.ini") + "|--domain-limit-traffic-reached\n");
}

TEST_F(ProcessRunnerTest, OutputIsCappedWhileTheChildWritesOnAndFinishes) {
  std::wstring flood = script("flood.pl", "print 'o' x 5000000; print STDERR 'e' x 5000000; print 'END';");
  ProcessRunner runner(settings);
  runner.start(flood, L"", {});
  std::string out, err;
  ASSERT_TRUE(runner.waitAndCollect(out, err, nullptr, 30000));
  EXPECT_EQ(out.size() + err.size(), ProcessRunner::kOutputCap);
  EXPECT_EQ(out.find("END"), std::string::npos);
  EXPECT_EQ(runner.exitCode(), 0u);

  // One text for both streams counts once against the cap.
  ProcessRunner shared(settings);
  shared.start(flood, L"", {});
  std::string both;
  ASSERT_TRUE(shared.waitAndCollect(both, both, nullptr, 30000));
  EXPECT_EQ(both.size(), ProcessRunner::kOutputCap);
  EXPECT_EQ(shared.exitCode(), 0u);
}

TEST_F(ProcessRunnerTest, TimeOutAndStopReturnWhileTheChildRunsAndALaterWaitGoesOn) {
  std::wstring slow = script("slow.pl", "$| = 1; print \"begun\\n\"; sleep 1; print \"done\\n\";");
  ProcessRunner runner(settings);
  runner.start(slow, L"", {});
  std::string out, err;
  auto started = Clock::now();
  EXPECT_FALSE(runner.waitAndCollect(out, err, nullptr, 150));
  EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(900));
  EXPECT_EQ(out, "begun\n");
  EXPECT_TRUE(runner.waitAndCollect(out, err, nullptr, ProcessRunner::kInfinite));
  EXPECT_EQ(out, "done\n");
  EXPECT_EQ(runner.exitCode(), 0u);

  ProcessRunner stopped(settings);
  stopped.start(slow, L"", {});
  StopEvent stop;
  stop.set();  // reset by the wait: only a stop during the wait counts
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop.set();
  });
  started = Clock::now();
  EXPECT_FALSE(stopped.waitAndCollect(out, err, &stop, 20000));
  setter.join();
  EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(90));
  EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(900));
  EXPECT_EQ(stopped.exitCode(), 0u);
}

TEST_F(ProcessRunnerTest, CancellationRequestEndsAnUnlimitedWait) {
  // The program's SIGTERM handling, without its processor-exception handlers.
  struct sigaction request {}, previous {};
  request.sa_handler = [](int) { cancellation::request(); };
  sigaction(SIGTERM, &request, &previous);
  ProcessRunner runner(settings);
  runner.start(script("slow.pl", "sleep 1;"), L"", {});
  const pthread_t waiter = pthread_self();
  std::thread interrupter([waiter] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pthread_kill(waiter, SIGTERM);
  });
  std::string out, err;
  auto started = Clock::now();
  try {
    runner.waitAndCollect(out, err, nullptr, ProcessRunner::kInfinite);
    ADD_FAILURE();
  } catch (const vexception& e) {
    EXPECT_EQ(e.message(), L"Operation cancelled");
  }
  interrupter.join();
  sigaction(SIGTERM, &previous, nullptr);
  cancellation::reset();
  EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(900));
  EXPECT_EQ(runner.exitCode(), 0u);
}

TEST_F(ProcessRunnerTest, ExitCodesAndAnInputAtItsEnd) {
  uint32_t code = 0;
  // Standard input is at its end at once: the read fails instead of waiting.
  EXPECT_EQ(run(script("reads.pl", "my $l = <STDIN>; print defined $l ? 'line' : 'eof'; exit 3;"), L"", {}, nullptr,
                &code),
            "eof");
  EXPECT_EQ(code, 3u);
  run(script("killed.pl", "kill 'TERM', $$; sleep 5;"), L"", {}, nullptr, &code);
  EXPECT_EQ(code, 128u + 15u);

  ProcessRunner::Options options;
  options.workingDirectory = w(dir.file("wd"));
  writeFile(dir.file("wd/marker"), "");
  EXPECT_EQ(run(script("cwd.py", "import os\nprint(os.listdir('.'))\n"), L"", options), "['marker']\n");
  options.environment = {L"ONLY=this", L"PATH=/usr/bin:/bin"};
  EXPECT_EQ(run(script("env.pl", "print join(',', sort grep { $_ ne 'PWD' } keys %ENV);"), L"", options), "ONLY,PATH");
}

TEST_F(ProcessRunnerTest, StartFailures) {
  ProcessRunner runner(settings);
  try {
    runner.start(w(dir.file("absent.pl")), L"", {});
    ADD_FAILURE();
  } catch (const vexception& e) {
    EXPECT_EQ(e.message(), L"'" + w(dir.file("absent.pl")) +
                               L"' is not recognized as an internal or external command, operable program or batch file.");
  }

  std::wstring ok = script("ok.pl", "print 1;");
  ProcessRunner::Options options;
  options.workingDirectory = w(dir.file("no-such-directory"));
  try {
    ProcessRunner(settings).start(ok, L"", options);
    ADD_FAILURE();
  } catch (const vosexception& e) {
    EXPECT_EQ(e.code(), 2u);
    EXPECT_NE(e.message().find(L"at Unable to start ('/usr/bin/perl' '" + ok + L"')"), std::wstring::npos)
        << text::toUtf8(e.message());
  }

  setenv("COMSPEC", dir.file("no-shell").c_str(), 1);
  EXPECT_THROW(ProcessRunner(settings).start(ok, L"", {}), vosexception);
  setenv("COMSPEC", "/bin/bash", 1);
  EXPECT_EQ(run(ok, L""), "1");
  unsetenv("COMSPEC");
}
