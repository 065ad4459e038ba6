// getDirectorySize against `du -sb --apparent-size` on the same tree in the same run.
//
// bench_disk_usage [ROUNDS] (default 5) builds, in a temporary directory, a tree of 200
// directories of 99 subdirectories each (20,000 directories in all) holding 10 files each
// (200,000 files, sparse, sizes fixed by their number), walks it once with each to warm
// the caches, then times ROUNDS walks of each, alternating, and prints the best and the
// median of both. du also counts the directories' own sizes; the figures agree when our
// total plus those sizes equals du's.

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/files/vfilename.h"
#include "usage/directory_size.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kTopDirectories = 200;
constexpr int kSubdirectories = 99;
constexpr int kFilesPerDirectory = 10;

[[noreturn]] void die(const std::string& what) {
  std::perror(what.c_str());
  std::exit(1);
}

// Makes the directory and its files; adds their sizes to `files`.
void fillDirectory(const std::string& dir, int& fileNumber, int64_t& files) {
  if (::mkdir(dir.c_str(), 0755) != 0) die("mkdir " + dir);
  for (int f = 0; f < kFilesPerDirectory; ++f, ++fileNumber) {
    std::string path = dir + "/f" + std::to_string(f) + ".dat";
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) die("open " + path);
    const off_t size = static_cast<off_t>((static_cast<int64_t>(fileNumber) * 7919) % 65536);
    if (::ftruncate(fd, size) != 0) die("ftruncate " + path);
    ::close(fd);
    files += size;
  }
}

int64_t directorySelfSizes(const std::string& top) {
  static int64_t sum;
  sum = 0;
  ::nftw(
      top.c_str(),
      [](const char*, const struct stat* st, int type, struct FTW*) {
        if (type == FTW_D || type == FTW_DP) sum += st->st_size;
        return 0;
      },
      64, FTW_PHYS);
  return sum;
}

void removeTree(const std::string& top) {
  ::nftw(
      top.c_str(), [](const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }, 64,
      FTW_DEPTH | FTW_PHYS);
}

int64_t duApparentSize(const std::string& dir) {
  std::string command = "du -sb --apparent-size '" + dir + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) die("popen du");
  long long total = -1;
  if (std::fscanf(pipe, "%lld", &total) != 1) total = -1;
  ::pclose(pipe);
  return total;
}

template <typename F>
double seconds(F&& body) {
  Clock::time_point start = Clock::now();
  body();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Figures {
  std::vector<double> times;
  double best() const { return *std::min_element(times.begin(), times.end()); }
  double median() const {
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    return sorted[sorted.size() / 2];
  }
};

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const char* tmp = std::getenv("TMPDIR");
  std::string base = std::string(tmp && *tmp ? tmp : "/tmp") + "/cadro-disk-bench-XXXXXX";
  if (!::mkdtemp(base.data())) die("mkdtemp");
  const std::string top = base + "/vhost";

  int64_t files = 0;
  int fileNumber = 0;
  double built = seconds([&] {
    if (::mkdir(top.c_str(), 0755) != 0) die("mkdir " + top);
    for (int d = 0; d < kTopDirectories; ++d) {
      const std::string dir = top + "/d" + std::to_string(d);
      fillDirectory(dir, fileNumber, files);
      for (int s = 1; s <= kSubdirectories; ++s)
        fillDirectory(dir + "/s" + std::to_string(s), fileNumber, files);
    }
  });
  const int64_t directories = directorySelfSizes(top);
  std::printf("tree: %d directories, %d files, %lld bytes in files (built in %.2f s) under %s\n",
              kTopDirectories * (kSubdirectories + 1), fileNumber, static_cast<long long>(files), built, top.c_str());

  const std::wstring wideTop = VFileName::fromNative(top);
  int64_t ours = getDirectorySize(wideTop);
  int64_t du = duApparentSize(top);
  Figures oursTimes, duTimes;
  for (int r = 0; r < rounds; ++r) {
    oursTimes.times.push_back(seconds([&] { ours = getDirectorySize(wideTop); }));
    duTimes.times.push_back(seconds([&] { du = duApparentSize(top); }));
  }

  std::printf("getDirectorySize: %lld bytes, best %.3f s, median %.3f s\n", static_cast<long long>(ours),
              oursTimes.best(), oursTimes.median());
  std::printf("du -sb --apparent-size: %lld bytes, best %.3f s, median %.3f s\n", static_cast<long long>(du),
              duTimes.best(), duTimes.median());
  std::printf("du / getDirectorySize time (best): %.2f; totals agree (files %s, plus directories %s)\n",
              duTimes.best() / oursTimes.best(), ours == files ? "yes" : "NO",
              ours + directories == du ? "yes" : "NO");

  removeTree(base);
  return ours == files ? 0 : 1;
}
