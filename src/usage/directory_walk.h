#pragma once
// Sizes of directory trees that their owners control (a domain's files, a backup
// directory), read from the listings alone: files are never opened, so a FIFO or a device
// node counts as itself and a walk never blocks on one.
//
// Below the directory it starts from, the walk opens every name relative to its parent's
// descriptor with O_NOFOLLOW: a symbolic link counts as the link itself (the length of its
// target) and never leads out of the tree, whatever its owner plants. A hard-linked file
// counts once per name. Parts that cannot be read (no permission, removed during the walk)
// count as far as they could be read; nothing below the top is reported. The walk holds
// at most a few dozen descriptors and no path, however deep the tree: deeper directories
// are found again through "..", checked against the device and inode they had.
//
// This file uses nothing of the program but POSIX, so that plug-ins can build it too.

#include <cstdint>
#include <functional>
#include <optional>

namespace dirwalk {

// The total logical size of every entry that is not a directory in the tree of the
// directory `name`, relative to the open directory `parentFd` (AT_FDCWD: `name` is a path).
// The top directory is reached through a symbolic link only when `followTop`; nothing
// below ever is. nullopt, with errno set, when the top directory cannot be opened.
std::optional<int64_t> treeSize(int parentFd, const char* name, bool followTop);

// Calls visit(name, type) for every entry of the open directory `directoryFd`, "." and
// ".." included, in listing order; `type` is the dirent d_type (DT_UNKNOWN when the file
// system does not tell). Returns 0, or the errno that ended the listing early.
int forEachEntry(int directoryFd, const std::function<void(const char* name, unsigned char type)>& visit);

// What an entry listed in `directoryFd` is now, examined without following a link.
struct Entry {
  enum Kind { Directory, Other, Gone } kind = Gone;
  int64_t size = 0;  // of an Other; 0 when it exists but cannot be examined
};
Entry examine(int directoryFd, const char* name, unsigned char type);

}  // namespace dirwalk
