#include "platform/files/vdirectory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/text/text_codec.h"
#include "platform/report/vexception.h"
#include "testing/temp_dir.h"

using testing_support::fileExists;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {
std::wstring W(const std::string& s) { return text::fromUtf8(s); }
}  // namespace

TEST(VDirectory, CreatesParentsAndAcceptsAnExistingDirectory) {
  TempDir dir;
  const std::wstring deep = W(dir.file("statistics/webstat/AWStats/cgi-bin"));
  VDirectory::createDirectory(deep);
  EXPECT_TRUE(VDirectory::exists(deep));
  EXPECT_NO_THROW(VDirectory::createDirectory(deep + L"/"));
  EXPECT_FALSE(VDirectory::exists(W(dir.file("none"))));
  writeFile(dir.file("file"), "x");
  EXPECT_FALSE(VDirectory::exists(W(dir.file("file"))));
  ASSERT_EQ(::symlink(dir.file("statistics").c_str(), dir.file("link").c_str()), 0);
  EXPECT_TRUE(VDirectory::exists(W(dir.file("link"))));
  EXPECT_TRUE(VDirectory::isSymlink(W(dir.file("link"))));
  EXPECT_FALSE(VDirectory::isSymlink(W(dir.file("statistics"))));
}

TEST(VDirectory, CreationFailures) {
  TempDir dir;
  for (const std::wstring& bad : {std::wstring(), std::wstring(L"a\0b", 3)}) {
    try {
      VDirectory::createDirectory(bad);
      ADD_FAILURE() << "accepted a bad name";
    } catch (const ArgumentException& e) {
      EXPECT_EQ(e.message(), L"Unable to create directory with wrong name");
    }
  }
  writeFile(dir.file("file"), "x");
  try {
    VDirectory::createDirectory(W(dir.file("file")));
    ADD_FAILURE() << "a file passed for a directory";
  } catch (const VAlreadyExistsException& e) {
    EXPECT_EQ(e.code(), 183u);
    EXPECT_NE(e.message().find(L"at CreateDirectory '" + W(dir.file("file")) + L"'"), std::wstring::npos);
  }
  EXPECT_THROW(VDirectory::createDirectory(W(dir.file("file/below"))), VPathNotFoundException);
}

TEST(VDirectory, RemoveTakesOnlyEmptyDirectories) {
  TempDir dir;
  writeFile(dir.file("full/a"), "x");
  try {
    VDirectory::remove(W(dir.file("full")));
    ADD_FAILURE() << "removed a full directory";
  } catch (const vosexception& e) {
    EXPECT_EQ(e.code(), winerr::kDirNotEmpty);
  }
  EXPECT_THROW(VDirectory::remove(W(dir.file("none"))), VPathNotFoundException);
  VDirectory::createDirectory(W(dir.file("empty")));
  VDirectory::remove(W(dir.file("empty")));
  EXPECT_FALSE(fileExists(dir.file("empty")));
}

TEST(VDirectory, RemoveTreeNeverFollowsLinksOutOfTheTree) {
  TempDir dir;
  writeFile(dir.file("outside/keep.txt"), "keep");
  writeFile(dir.file("tree/a/b/c.txt"), "x");
  writeFile(dir.file("tree/top.txt"), "x");
  ::chmod(dir.file("tree/top.txt").c_str(), 0444);
  ASSERT_EQ(::symlink(dir.file("outside").c_str(), dir.file("tree/a/dirlink").c_str()), 0);
  ASSERT_EQ(::symlink(dir.file("outside/keep.txt").c_str(), dir.file("tree/filelink").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere", dir.file("tree/dangling").c_str()), 0);
  VDirectory::removeTree(W(dir.file("tree")));
  EXPECT_FALSE(fileExists(dir.file("tree")));
  EXPECT_EQ(readFile(dir.file("outside/keep.txt")), "keep");

  // A link at the top is removed itself.
  ASSERT_EQ(::symlink(dir.file("outside").c_str(), dir.file("toplink").c_str()), 0);
  VDirectory::removeTree(W(dir.file("toplink")));
  EXPECT_FALSE(fileExists(dir.file("toplink")));
  EXPECT_EQ(readFile(dir.file("outside/keep.txt")), "keep");
  EXPECT_NO_THROW(VDirectory::removeTree(W(dir.file("never-existed"))));
}

TEST(VDirectory, CopyWithAndWithoutSubdirectories) {
  TempDir dir;
  writeFile(dir.file("src/awstats.pl"), "#!perl");
  writeFile(dir.file("src/lib/x.pm"), "1;");
  ASSERT_EQ(::symlink("awstats.pl", dir.file("src/link.pl").c_str()), 0);
  writeFile(dir.file("flat/awstats.pl"), "old");

  VDirectory::copy(W(dir.file("src")), W(dir.file("flat")), false);
  EXPECT_EQ(readFile(dir.file("flat/awstats.pl")), "#!perl");
  EXPECT_FALSE(fileExists(dir.file("flat/lib")));
  char target[64] = {};
  ASSERT_GT(::readlink(dir.file("flat/link.pl").c_str(), target, sizeof target - 1), 0);
  EXPECT_STREQ(target, "awstats.pl");

  VDirectory::copy(W(dir.file("src")), W(dir.file("deep/copy")), true);
  EXPECT_EQ(readFile(dir.file("deep/copy/lib/x.pm")), "1;");
  EXPECT_THROW(VDirectory::copy(W(dir.file("none")), W(dir.file("x")), true), VPathNotFoundException);
}
