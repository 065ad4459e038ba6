#include "platform/exec/command_arguments.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <random>

#include "platform/exec/vexecutil.h"
#include "platform/text/text_codec.h"
#include "testing/temp_dir.h"

namespace {

using testing_support::TempDir;

std::wstring w(const std::string& s) { return text::fromUtf8(s); }

class CommandArgumentsTest : public ::testing::Test {
 protected:
  CommandArgumentsTest() {
    testing_support::writeFile(printer, "#!/bin/sh\nprintf '%s\\0' \"$@\"\n");
    chmod(printer.c_str(), 0755);
    mkdir(work.c_str(), 0755);
  }

  // What the printer receives, run in the empty directory `work`.
  std::vector<std::wstring> received(const CommandArguments& args) {
    vexecutil run(w(printer), args.text(), vexecutil::kCaptureOutput | vexecutil::kCaptureError);
    run.setWorkingDirectory(w(work));
    run.start();
    const std::string out = run.readAllOutput();
    EXPECT_EQ(run.exitCode(), 0u) << run.errorOutput();
    std::vector<std::wstring> words;
    for (size_t begin = 0, end; (end = out.find('\0', begin)) != std::string::npos; begin = end + 1)
      words.push_back(w(out.substr(begin, end - begin)));
    return words;
  }

  std::vector<std::string> filesInWork() {
    std::vector<std::string> names;
    if (DIR* d = opendir(work.c_str())) {
      while (dirent* e = readdir(d))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
      closedir(d);
    }
    return names;
  }

  TempDir dir;
  const std::string printer = dir.file("print-args");
  const std::string work = dir.file("work");
};

}  // namespace

TEST_F(CommandArgumentsTest, RandomOutsideValuesArriveExactlyAndRunNothing) {
  const std::vector<std::wstring> pieces = {
      L"&", L"|", L"<", L">", L"(", L")", L"^", L"\"", L";", L"$", L"\\", L"`", L"'", L"*", L"?", L"~",
      L" ", L"\t", L"a", L"Z", L"\u00e9", L"touch X", L"&touch X", L"|touch X", L">X", L"$(touch X)", L"`touch X`",
      L"^&", L"\\\"", L"\"\"", L"%PATH%", L"-config=", L"2>X"};
  std::mt19937 random(7);
  for (int round = 0; round < 300; ++round) {
    std::vector<std::wstring> values(1 + random() % 4);
    for (auto& v : values)
      for (size_t n = random() % 8; n > 0; --n) v += pieces[random() % pieces.size()];
    CommandArguments args;
    for (const auto& v : values) args.add(v);
    ASSERT_EQ(received(args), values) << "round " << round << ": " << text::toUtf8(args.text());
  }
  EXPECT_EQ(filesInWork(), std::vector<std::string>{});
}

TEST_F(CommandArgumentsTest, OptionsFixedTextAndRedirection) {
  CommandArguments args;
  args.addFixed(L"-update -dir=\"a b\"").addOption(L"-config=", L"a&touch X").addOption(L"-host=", L"b|touch X");
  EXPECT_EQ(received(args), (std::vector<std::wstring>{L"-update", L"-dir=a b", L"-config=a&touch X", L"-host=b|touch X"}));

  const std::string target = dir.file("report \"1\" $x & (y).html");
  args.redirectOutputTo(w(target));
  EXPECT_EQ(received(args), std::vector<std::wstring>{});
  using namespace std::string_literals;
  EXPECT_EQ(testing_support::readFile(target), "-update\0-dir=a b\0-config=a&touch X\0-host=b|touch X\0"s);
  EXPECT_EQ(filesInWork(), std::vector<std::string>{});
}
