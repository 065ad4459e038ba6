// Directory trees as their owners may shape them: links planted to lead elsewhere or round
// in a loop, FIFOs and device nodes, hostile names, trees deeper than the path limit,
// unreadable parts and files that vanish while the walk runs.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/files/vfilename.h"
#include "testing/scoped_environment.h"
#include "testing/temp_dir.h"
#include "usage/directory_size.h"
#include "usage/directory_walk.h"
#include "usage/usage_test_util.h"

using namespace testing_support;
using namespace usage_testing;

namespace {

int64_t sizeOfPath(const std::string& path) { return getDirectorySize(VFileName::fromNative(path)); }

}  // namespace

TEST(DirectoryTreeSize, CountsEveryNameAsItselfAndNeverFollowsALink) {
  TempDir dir;
  // What a link that is followed would add: far more than the tree itself.
  writeFile(dir.file("outside/big"), std::string(1000000, 'x'));
  const std::vector<Node> tree = {
      {"a.txt", Kind::File, 100},
      {"sub/b", Kind::File, 200},
      {"sub/deeper/c", Kind::File, 300},
      {"sub/b-again", Kind::HardLink, 200, "sub/b"},
      {"to-outside", Kind::Link, 0, "../outside"},
      {"sub/deeper/to-big", Kind::Link, 0, dir.file("outside/big")},
      {"sub/loop", Kind::Link, 0, "."},
      {"sub/deeper/up", Kind::Link, 0, "../.."},
      {"dangling", Kind::Link, 0, "nowhere"},
      {"fifo", Kind::Fifo},
      {"null-device", Kind::Device},
      {"line\nbreak\r", Kind::File, 7},
      {"\xff\xfe not UTF-8 \xc3", Kind::File, 11},
      {"empty", Kind::Directory},
  };
  build(dir.file("top"), tree);
  // In a child: a walk that follows the loops would never end.
  EXPECT_EQ(inChild([&] { return std::to_string(sizeOfPath(dir.file("top"))); }, false), std::to_string(sizeOf(tree)));

  // The path itself is reached through a link when it is one; a walk that starts below a
  // descriptor does not follow it.
  ASSERT_EQ(::symlink(dir.file("top").c_str(), dir.file("top-link").c_str()), 0);
  EXPECT_EQ(inChild([&] { return std::to_string(sizeOfPath(dir.file("top-link"))); }, false),
            std::to_string(sizeOf(tree)));
  EXPECT_FALSE(dirwalk::treeSize(AT_FDCWD, dir.file("top-link").c_str(), false));
  EXPECT_EQ(sizeOfPath(dir.file("missing")), 0);
  EXPECT_EQ(sizeOfPath(dir.file("top/a.txt")), 0);
}

TEST(DirectoryTreeSize, DeepTreesBeyondThePathLimitNeedFewDescriptors) {
  // In memory where there is a memory file system: some disks take seconds to remove a
  // chain this deep.
  ScopedEnvironment env;
  if (::access("/dev/shm", W_OK) == 0) env.set("TMPDIR", "/dev/shm");
  TempDir dir;
  // 1,990 levels of "d": paths of about 4,000 bytes below the top. A file at every 50th
  // level, a side branch deep down, and a sibling of the whole chain after it.
  constexpr int kLevels = 1990;
  int64_t expected = 0;
  int fd = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(::mkdirat(fd, "top", 0755), 0);
  for (int level = 0; level <= kLevels; ++level) {
    int next = ::openat(fd, level == 0 ? "top" : "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::close(fd);
    fd = next;
    ASSERT_GE(fd, 0) << level;
    if (level % 50 == 0) {
      int file = ::openat(fd, "f", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
      ASSERT_EQ(::ftruncate(file, level + 1), 0);
      ::close(file);
      expected += level + 1;
    }
    if (level == 1000) {
      ASSERT_EQ(::mkdirat(fd, "side", 0755), 0);
      int file = ::openat(fd, "side/s", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
      ASSERT_EQ(::ftruncate(file, 7), 0);
      ::close(file);
      expected += 7;
    }
    if (level < kLevels) {
      ASSERT_EQ(::mkdirat(fd, "d", 0755), 0);
    }
  }
  ::close(fd);
  writeFile(dir.file("top/z/last"), "12345");
  expected += 5;

  // Holding one descriptor per level would run out long before the bottom.
  const std::string top = dir.file("top");
  EXPECT_EQ(inChild([&] { return std::to_string(sizeOfPath(top)); }, false, 60), std::to_string(expected));
}

TEST(DirectoryTreeSize, UnreadablePartsCountAsFarAsTheyCanBeRead) {
  TempDir dir;
  ::chmod(dir.path().c_str(), 0755);
  build(dir.file("top"), {{"open/x", Kind::File, 10},
                          {"locked/a", Kind::File, 20},
                          {"list-only/y", Kind::File, 30},
                          {"list-only/inner/w", Kind::File, 5},
                          {"search-only/z", Kind::File, 40}});
  const std::pair<const char*, mode_t> modes[] = {{"top/locked", 0}, {"top/list-only", 0444}, {"top/search-only", 0111}};
  for (const auto& [path, mode] : modes) ::chmod(dir.file(path).c_str(), mode);

  std::string got = inChild(
      [&] {
        return std::to_string(sizeOfPath(dir.file("top"))) + " " + std::to_string(sizeOfPath(dir.file("top/locked")));
      },
      true);
  for (const auto& [path, mode] : modes) ::chmod(dir.file(path).c_str(), 0755);
  EXPECT_EQ(got, "10 0");
}

TEST(DirectoryTreeSize, FilesVanishingDuringTheWalkAreNoFailure) {
  TempDir dir;
  std::vector<Node> stable;
  for (int i = 0; i < 100; ++i) stable.push_back({"stable/f" + std::to_string(i), Kind::File, 10});
  build(dir.file("top"), stable);

  // A second thread keeps making and removing a directory of two files while the walks run.
  std::atomic<bool> done{false};
  std::thread churn([&] {
    for (int round = 0; !done; ++round) {
      const std::string d = dir.file("top/churn" + std::to_string(round % 4));
      ::mkdir(d.c_str(), 0755);
      writeFile(d + "/a", std::string(100, 'a'));
      writeFile(d + "/b", std::string(100, 'b'));
      ::unlink((d + "/a").c_str());
      ::unlink((d + "/b").c_str());
      ::rmdir(d.c_str());
    }
  });
  int64_t lowest = INT64_MAX, highest = 0;
  for (int walk = 0; walk < 300; ++walk) {
    int64_t size = sizeOfPath(dir.file("top"));
    lowest = std::min(lowest, size);
    highest = std::max(highest, size);
  }
  done = true;
  churn.join();
  EXPECT_EQ(lowest, 1000);
  EXPECT_LE(highest, 1200);
}
