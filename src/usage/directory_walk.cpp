#include "usage/directory_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "usage/saturated_add.h"

namespace dirwalk {

namespace {

constexpr size_t kListingBuffer = 64 * 1024;
// Levels that keep their descriptor open while a child is walked; below them a level lets
// its descriptor go and finds its directory again through the child's "..".
constexpr size_t kHeldLevels = 48;
constexpr int kOpenDirectory = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

bool isDotOrDotDot(const char* name) { return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)); }

// Reads every listing of `fd` into `buffer`, handing each entry to `visit`. 0 or the errno.
template <typename Visit>
int listEntries(int fd, std::vector<char>& buffer, Visit&& visit) {
  for (;;) {
    ssize_t n = ::getdents64(fd, buffer.data(), buffer.size());
    if (n == 0) return 0;
    if (n < 0) return errno;
    for (ssize_t at = 0; at < n;) {
      const auto* e = reinterpret_cast<const struct dirent64*>(buffer.data() + at);
      visit(e->d_name, e->d_type);
      at += e->d_reclen;
    }
  }
}

class TreeWalk {
 public:
  // Walks the tree of the open directory `top` and closes it.
  int64_t run(int top) {
    frames_.push_back(Frame{top, 0, 0, 0, 0, 0});
    list(frames_.back());
    while (!frames_.empty()) {
      Frame& frame = frames_.back();
      if (frame.next == frame.end) {
        finish();
        continue;
      }
      const char* name = pending_.data() + frame.next;
      frame.next += std::strlen(name) + 1;
      descend(frame, name);
    }
    return total_;
  }

 private:
  struct Frame {
    int fd;        // -1 while let go for a deep child (or lost)
    size_t begin;  // this level's subdirectory names in pending_: [begin, end)
    size_t next;
    size_t end;
    dev_t device;  // identity, to find the directory again through ".."
    ino_t inode;
  };

  // Adds the sizes of the files of `frame`'s directory and queues its subdirectories.
  void list(Frame& frame) {
    frame.begin = frame.next = pending_.size();
    listEntries(frame.fd, buffer_, [&](const char* name, unsigned char type) {
      if (isDotOrDotDot(name)) return;
      if (type != DT_DIR) {
        Entry e = examine(frame.fd, name, type);
        if (e.kind != Entry::Directory) {
          addSaturated(total_, e.size);
          return;
        }
      }
      pending_.append(name, std::strlen(name) + 1);
    });
    frame.end = pending_.size();
  }

  void descend(Frame& frame, const char* name) {
    int child = ::openat(frame.fd, name, kOpenDirectory | O_NOFOLLOW);
    if (child < 0) {
      // Replaced by something else since it was listed: count what it is now.
      if (errno == ENOTDIR || errno == ELOOP) addSaturated(total_, examine(frame.fd, name, DT_UNKNOWN).size);
      return;
    }
    if (frames_.size() >= kHeldLevels) {
      struct stat self;
      if (::fstat(frame.fd, &self) == 0) {
        frame.device = self.st_dev;
        frame.inode = self.st_ino;
        ::close(std::exchange(frame.fd, -1));
      }
    }
    frames_.push_back(Frame{child, 0, 0, 0, 0, 0});
    list(frames_.back());
  }

  // Leaves the finished top frame and gets its parent's descriptor back when it was let go.
  void finish() {
    Frame done = frames_.back();
    frames_.pop_back();
    pending_.resize(done.begin);
    if (!frames_.empty() && frames_.back().fd < 0) {
      Frame& parent = frames_.back();
      int back = done.fd < 0 ? -1 : ::openat(done.fd, "..", kOpenDirectory);
      struct stat st;
      if (back >= 0 && ::fstat(back, &st) == 0 && st.st_dev == parent.device && st.st_ino == parent.inode) {
        parent.fd = back;
      } else {
        // The tree was moved under the walk: the rest of that directory is out of reach.
        if (back >= 0) ::close(back);
        parent.next = parent.end;
      }
    }
    if (done.fd >= 0) ::close(done.fd);
  }

  std::vector<char> buffer_ = std::vector<char>(kListingBuffer);
  std::string pending_;
  std::vector<Frame> frames_;
  int64_t total_ = 0;
};

}  // namespace

std::optional<int64_t> treeSize(int parentFd, const char* name, bool followTop) {
  int top = ::openat(parentFd, name, kOpenDirectory | (followTop ? 0 : O_NOFOLLOW));
  if (top < 0) return std::nullopt;
  return TreeWalk().run(top);
}

int forEachEntry(int directoryFd, const std::function<void(const char*, unsigned char)>& visit) {
  std::vector<char> buffer(kListingBuffer);
  return listEntries(directoryFd, buffer, visit);
}

Entry examine(int directoryFd, const char* name, unsigned char type) {
  struct stat st;
  if (::fstatat(directoryFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return Entry{Entry::Gone, 0};
    // Listed but not examinable (a directory readable without search permission).
    return Entry{type == DT_DIR ? Entry::Directory : Entry::Other, 0};
  }
  if (S_ISDIR(st.st_mode)) return Entry{Entry::Directory, 0};
  return Entry{Entry::Other, static_cast<int64_t>(st.st_size)};
}

}  // namespace dirwalk
