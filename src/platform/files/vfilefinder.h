#pragma once
// The listing of one directory by a wildcard mask.
//
//   for (VFileFinder f(dir, L"*.*"); f.next();) use(f.entry());
//
// Entries come in name order (byte order of the stored names); "." and ".." are never
// listed. A symbolic link is listed as itself: isSymlink set, isDirectory clear, its own
// size, so a walk over the listing never leaves the tree through a link.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/dates/vdatetime.h"

class VFileFinder {
 public:
  struct Entry {
    std::wstring name;  // the entry's name
    std::wstring path;  // the directory joined with the name
    bool isDirectory = false;
    bool isSymlink = false;
    int64_t size = 0;
    VDateTime lastWriteTime;  // UTC
  };

  // Lists the entries of `directory` whose names match `mask` (VFileName::matchesMask).
  // A directory that cannot be listed raises "FindFirstFile '<directory>/<mask>'"
  // (operation "VFileFinder::VFileFinder"): code 3 when it is missing or not a directory,
  // 5 without permission. A directory without matching entries is no failure.
  VFileFinder(const std::wstring& directory, const std::wstring& mask);
  // The same with a pattern "<directory>/<mask>" ("/var/log/*.log"; a pattern without a
  // separator lists the current directory).
  static VFileFinder forPattern(const std::wstring& pattern);
  ~VFileFinder();
  VFileFinder(VFileFinder&& other) noexcept;
  VFileFinder& operator=(VFileFinder&& other) noexcept;
  VFileFinder(const VFileFinder&) = delete;
  VFileFinder& operator=(const VFileFinder&) = delete;

  // Advances to the next entry; false when there is none. An entry removed since the
  // listing was read is passed over.
  bool next();
  // The current entry; valid after next() returned true.
  const Entry& entry() const { return entry_; }

 private:
  struct Name {
    std::string native;
    unsigned char type;  // dirent d_type, the fallback when the entry cannot be examined
  };
  std::wstring directory_;
  int fd_ = -1;
  std::vector<Name> names_;
  size_t nextIndex_ = 0;
  Entry entry_;
};
