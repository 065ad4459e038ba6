#include "platform/files/vstdfile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/text/text_codec.h"
#include "platform/report/vexception.h"
#include "testing/temp_dir.h"

using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {
std::wstring W(const std::string& s) { return text::fromUtf8(s); }
}  // namespace

TEST(VStdFile, LinesKeepTheirEndingsBothWays) {
  TempDir dir;
  const std::wstring path = W(dir.file("awstats.model.conf"));
  {
    VStdFile f(path, VStdFile::Mode::Write);
    f.write(L"LogFormat=\"%host\"\r\n");
    f.writeLine(L"SiteDomain=\"m\u00fcller.example\"");
    f.write(L"# last line without end");
    f.close();
  }
  EXPECT_EQ(readFile(text::toUtf8(path)),
            "LogFormat=\"%host\"\r\nSiteDomain=\"m\xc3\xbcller.example\"\n# last line without end");
  std::vector<std::wstring> lines = VStdFile::readLines(path);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], L"LogFormat=\"%host\"\r\n");
  EXPECT_EQ(lines[1], L"SiteDomain=\"m\u00fcller.example\"\n");
  EXPECT_EQ(lines[2], L"# last line without end");

  VStdFile::writeLines(path, lines);
  EXPECT_EQ(VStdFile::readLines(path), lines);
  { VStdFile(path, VStdFile::Mode::Append).writeLine(L"more"); }
  EXPECT_EQ(VStdFile::readLines(path).back(), L"# last line without endmore\n");
}

TEST(VStdFile, HostileContentReadsWithoutLossOfLines) {
  TempDir dir;
  std::string huge(1 << 20, 'x');
  writeFile(dir.file("in"), std::string("a\0b\n", 4) + "\xff\xfe bad\n" + huge + "\n");
  std::vector<std::wstring> lines = VStdFile::readLines(W(dir.file("in")));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], std::wstring(L"a\0b\n", 4));
  EXPECT_EQ(lines[1], L"\uFFFD\uFFFD bad\n");
  EXPECT_EQ(lines[2].size(), huge.size() + 1);
}

TEST(VStdFile, OpenFailuresAndPlantedLinks) {
  TempDir dir;
  EXPECT_THROW(VStdFile(W(dir.file("missing")), VStdFile::Mode::Read), VFileNotFoundException);
  EXPECT_THROW(VStdFile(W(dir.file("no/dir")), VStdFile::Mode::Write), VPathNotFoundException);
  writeFile(dir.file("victim"), "keep");
  ASSERT_EQ(::symlink(dir.file("victim").c_str(), dir.file("conf").c_str()), 0);
  try {
    VStdFile(W(dir.file("conf")), VStdFile::Mode::Write);
    ADD_FAILURE() << "wrote through a link";
  } catch (const VAccessDeniedException& e) {
    EXPECT_EQ(e.message(), L"Permission denied (Error code 5) at CreateFile '" + W(dir.file("conf")) + L"'");
  }
  EXPECT_EQ(readFile(dir.file("victim")), "keep");
}
