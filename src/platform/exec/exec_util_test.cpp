#include "platform/exec/exec_util.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>

#include "platform/system/system_root.h"
#include "platform/text/text_codec.h"
#include "platform/report/vexception.h"
#include "testing/fake_exec_settings.h"
#include "testing/temp_dir.h"

namespace {

using testing_support::FakeExecSettings;
using testing_support::TempDir;
using testing_support::writeFile;

std::wstring w(const std::string& s) { return text::fromUtf8(s); }

class ExecUtilTest : public ::testing::Test {
 protected:
  ExecUtilTest() { settings.root = w(dir.file("root")); }

  // A utility of the control panel: <root>/admin/bin/NAME.
  std::wstring utility(const std::string& name, const std::string& body) {
    const std::string path = dir.file("root/admin/bin/" + name);
    writeFile(path, "#!/bin/sh\n" + body);
    chmod(path.c_str(), 0755);
    return w(path);
  }

  TempDir dir;
  FakeExecSettings settings;
};

}  // namespace

TEST_F(ExecUtilTest, NonZeroExitOfAUtilityFailsWithItsOutputWhileExecExtUtilReturnsIt) {
  const std::wstring path = utility("viduza", "echo \"log dir for $2\"\nexit \"$1\"\n");
  std::wstring output = L"stale";
  EXPECT_EQ(execUtil(L"viduza", L"0 --ip-address=10.0.0.1", &output, nullptr, settings), 0u);
  EXPECT_EQ(output, L"log dir for --ip-address=10.0.0.1\n");

  try {
    execUtil(L"viduza", L"1 x", &output, nullptr, settings);
    ADD_FAILURE();
  } catch (const vexception& e) {
    EXPECT_EQ(e.message(), L"Execute viduza 1 x failed: log dir for x\n");
    ASSERT_FALSE(e.contexts().empty());
    EXPECT_EQ(e.contexts().front().operation, "execUtil");
  }

  uint32_t code = 0;
  EXPECT_EQ(execExtUtil(path, L"1 x", ExecErrorPolicy::Raise, &code, settings), L"log dir for x\n");
  EXPECT_EQ(code, 1u);
}

TEST_F(ExecUtilTest, LargeOutputAndInputNeverDeadlock) {
  // The utility answers while it is still being fed: neither side may block the other.
  utility("echo-back", "exec cat\n");
  std::string input(3 * 1024 * 1024, 'i');
  for (size_t i = 0; i < input.size(); i += 4096) input[i] = static_cast<char>('a' + (i / 4096) % 26);
  std::wstring output;
  EXPECT_EQ(execUtil(L"echo-back", L"", &output, &input, settings), 0u);
  EXPECT_EQ(text::toUtf8(output), input);

  // A utility that ignores its input still finishes.
  utility("ignores-input", "echo done\n");
  EXPECT_EQ(execUtil(L"ignores-input", L"", &output, &input, settings), 0u);
  EXPECT_EQ(output, L"done\n");

  const std::wstring flood = utility("flood", "head -c 5000000 /dev/zero | tr '\\0' x\n");
  EXPECT_EQ(execExtUtil(flood, L"", ExecErrorPolicy::Raise, nullptr, settings).size(), 5000000u);
}

TEST_F(ExecUtilTest, ChildInheritsOnlyItsStandardStreams) {
  // A descriptor of the program left inheritable by mistake stays with the program.
  int leaked = dup2(open("/dev/null", O_RDONLY), 200);
  ASSERT_EQ(leaked, 200);
  const std::wstring lister = utility("fds", "ls /proc/self/fd\n");
  std::wstring listing = execExtUtil(lister, L"", ExecErrorPolicy::Raise, nullptr, settings);
  close(leaked);
  // ls itself holds one more descriptor for the listing.
  EXPECT_TRUE(std::regex_match(text::toUtf8(listing), std::regex("0\n1\n2\n3\n"))) << text::toUtf8(listing);
}

TEST_F(ExecUtilTest, FailuresOfExecExtUtilFollowThePolicy) {
  setenv("COMSPEC", dir.file("no-shell").c_str(), 1);
  const std::wstring path = w(dir.file("tool"));
  EXPECT_EQ(execExtUtil(path, L"-x", ExecErrorPolicy::ReturnEmpty, nullptr, settings), L"");
  try {
    execExtUtil(path, L"-x", ExecErrorPolicy::Raise, nullptr, settings);
    ADD_FAILURE();
  } catch (const vosexception& e) {
    EXPECT_EQ(e.code(), 2u);
    EXPECT_NE(e.message().find(L"CreateProcess '" + w(dir.file("no-shell")) + L" -c '" + path + L"' '-x''"),
              std::wstring::npos);
    ASSERT_EQ(e.contexts().size(), 2u);
    EXPECT_EQ(e.contexts().back().text, L"Execute " + path + L" -x");
    EXPECT_EQ(e.contexts().back().operation, "execExtUtil");
  }
  unsetenv("COMSPEC");

  // A NUL would cut the command line short behind its quoting: the launch is refused.
  const std::wstring echo = utility("echo", "echo \"$@\"\n");
  try {
    execExtUtil(echo, std::wstring(L"\"a\0b\" ; x", 10), ExecErrorPolicy::Raise, nullptr, settings);
    ADD_FAILURE();
  } catch (const vosexception& e) {
    EXPECT_EQ(e.code(), 87u);
  }
}

TEST_F(ExecUtilTest, AProductRootThatNamesNoDirectoryIsRefused) {
  // Otherwise admin/bin/NAME would be looked for relative to the working directory.
  for (const wchar_t* root : {L"", L"/", L"//"}) {
    settings.root = root;
    try {
      execUtil(L"viduza", L"--get-log-directory", nullptr, nullptr, settings);
      ADD_FAILURE() << text::toUtf8(root);
    } catch (const vexception& e) {
      EXPECT_EQ(e.message(), L"The product root directory is not set: the setting PRODUCT_ROOT_D is empty");
    }
  }
}

TEST_F(ExecUtilTest, TraceLinesWhenTracingIsOn) {
  const std::wstring path = utility("tool", "echo out\nexit \"$1\"\n");
  EXPECT_EQ(execUtil(L"tool", L"0", nullptr, nullptr, settings), 0u);
  EXPECT_FALSE(testing_support::fileExists(dir.file("root/tmp/util_exec.log")));

  writeFile(dir.file("root/tmp/.keep"), "");
  settings.trace = w(dir.file("root/tmp/util_exec.log"));
  EXPECT_EQ(execUtil(L"tool", L"0", nullptr, nullptr, settings), 0u);
  EXPECT_THROW(execUtil(L"tool", L"1", nullptr, nullptr, settings), vexception);
  execExtUtil(path, L"2", ExecErrorPolicy::Raise, nullptr, settings);

  const std::string time = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)";
  const std::string module = std::regex_replace(process::executablePath(), std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
  const std::string tool = dir.file("root/admin/bin/tool");
  // No end line for the failed run.
  const std::regex expected(time + "\texecUtil\\(Start\\)\t" + module + "\t" + tool + "\t0\n" +  //
                            time + "\texecUtil\\(End\\)\t" + module + "\t" + tool + "\t0\t\\d+\n" +  //
                            time + "\texecUtil\\(Start\\)\t" + module + "\t" + tool + "\t1\n" +  //
                            time + "\texecExtUtil\\(Start\\)\t" + module + "\t" + tool + "\t2\n" +
                            time + "\texecExtUtil\\(End\\)\t" + module + "\t" + tool + "\t2\t\\d+\n");
  const std::string trace = testing_support::readFile(dir.file("root/tmp/util_exec.log"));
  EXPECT_TRUE(std::regex_match(trace, expected)) << trace;

  // A trace file that cannot be written does not stop the launch.
  settings.trace = w(dir.file("no-such-dir/util_exec.log"));
  EXPECT_EQ(execUtil(L"tool", L"0", nullptr, nullptr, settings), 0u);
}
