#include "platform/files/vfilefinder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/text/text_codec.h"
#include "platform/report/vexception.h"
#include "platform/files/vfile.h"
#include "platform/files/vfilename.h"
#include "testing/temp_dir.h"

using testing_support::TempDir;
using testing_support::writeFile;

namespace {

std::wstring W(const std::string& s) { return text::fromUtf8(s); }

std::vector<std::wstring> names(const std::wstring& dir, const std::wstring& mask) {
  std::vector<std::wstring> out;
  for (VFileFinder f(dir, mask); f.next();) out.push_back(f.entry().name);
  return out;
}

// The size of a tree as the disk-usage walk adds it up: files from the listing, directories
// descended into, links counted as themselves.
int64_t treeSize(const std::wstring& dir) {
  int64_t total = 0;
  for (VFileFinder f(dir, L"*.*"); f.next();)
    total += f.entry().isDirectory ? treeSize(f.entry().path) : f.entry().size;
  return total;
}

// A domain-like tree with links that point out of it.
struct Tree {
  TempDir dir;
  std::string root = dir.file("example.com");
  Tree() {
    writeFile(dir.file("outside/big.bin"), std::string(100000, 'b'));
    writeFile(root + "/a.log", "12345");
    writeFile(root + "/B.LOG", "123");
    writeFile(root + "/notes.txt", "1");
    writeFile(root + "/README", "12");
    writeFile(root + "/httpdocs/index.html", "1234567");
    symlinkOrFail(dir.file("outside"), root + "/escape");
    symlinkOrFail(dir.file("outside/big.bin"), root + "/httpdocs/big-link.bin");
    symlinkOrFail("nowhere", root + "/dangling");
  }
  static void symlinkOrFail(const std::string& target, const std::string& link) {
    if (::symlink(target.c_str(), link.c_str()) != 0) ADD_FAILURE() << "symlink " << link;
  }
};

}  // namespace

TEST(VFileFinder, ListsInNameOrderWithoutDotEntries) {
  Tree t;
  EXPECT_EQ(names(W(t.root), L"*.*"),
            (std::vector<std::wstring>{L"B.LOG", L"README", L"a.log", L"dangling", L"escape", L"httpdocs",
                                       L"notes.txt"}));
  EXPECT_EQ(names(W(t.root), L"*.log"), (std::vector<std::wstring>{L"B.LOG", L"a.log"}));
  EXPECT_EQ(names(W(t.root), L"*.zip"), std::vector<std::wstring>{});

  std::vector<std::wstring> viaPattern;
  for (VFileFinder f = VFileFinder::forPattern(W(t.root + "/*.TXT")); f.next();)
    viaPattern.push_back(f.entry().path);
  EXPECT_EQ(viaPattern, std::vector<std::wstring>{W(t.root + "/notes.txt")});
}

TEST(VFileFinder, EntriesDescribeLinksAsThemselves) {
  Tree t;
  struct stat st;
  ASSERT_EQ(::lstat((t.root + "/escape").c_str(), &st), 0);
  const struct timespec stamp[2] = {{1204288496, 0}, {1204288496, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (t.root + "/a.log").c_str(), stamp, 0), 0);
  for (VFileFinder f(W(t.root), L"*"); f.next();) {
    const VFileFinder::Entry& e = f.entry();
    if (e.name == L"escape" || e.name == L"dangling") {
      EXPECT_TRUE(e.isSymlink);
      EXPECT_FALSE(e.isDirectory);
    } else {
      EXPECT_FALSE(e.isSymlink);
    }
    if (e.name == L"escape") {
      EXPECT_EQ(e.size, st.st_size);
    }
    if (e.name == L"httpdocs") {
      EXPECT_TRUE(e.isDirectory);
    }
    if (e.name == L"a.log") {
      EXPECT_EQ(e.size, 5);
      EXPECT_EQ(e.lastWriteTime, VDateTime(2008, 2, 29, 12, 34, 56));
    }
  }
  // A walk over the listing stays inside: the 100000 bytes outside are never counted.
  const int64_t linkSizes = st.st_size + static_cast<int64_t>(std::string(t.dir.file("outside/big.bin")).size()) +
                            static_cast<int64_t>(std::string("nowhere").size());
  EXPECT_EQ(treeSize(W(t.root)), 5 + 3 + 1 + 2 + 7 + linkSizes);
}

TEST(VFileFinder, UndecodableNamesCanBeOpenedAgain) {
  TempDir dir;
  const std::string latin1 = dir.file("caf\xe9.log");
  writeFile(latin1, "bytes");
  VFileFinder f(W(dir.path()), L"*.log");
  ASSERT_TRUE(f.next());
  EXPECT_EQ(f.entry().size, 5);
  EXPECT_EQ(VFile::readAll(f.entry().path), "bytes");
  VFile::remove(f.entry().path);
  EXPECT_FALSE(testing_support::fileExists(latin1));
}

TEST(VFileFinder, DirectoriesThatCannotBeListed) {
  TempDir dir;
  writeFile(dir.file("file"), "x");
  for (const std::string& bad : {dir.file("missing"), dir.file("file")}) {
    try {
      VFileFinder f(W(bad), L"*.*");
      ADD_FAILURE() << "listed " << bad;
    } catch (const VPathNotFoundException& e) {
      EXPECT_EQ(e.code(), 3u);
      EXPECT_NE(e.message().find(L"at FindFirstFile '" + W(bad) + L"/*.*'"), std::wstring::npos);
      EXPECT_EQ(e.contexts().front().operation, "VFileFinder::VFileFinder");
    }
  }
}
