#include "usage/directory_size.h"

#include <fcntl.h>

#include "platform/files/vfilename.h"
#include "usage/directory_walk.h"

int64_t getDirectorySize(const std::wstring& path) {
  const std::string native = VFileName::toNative(path);
  return dirwalk::treeSize(AT_FDCWD, native.c_str(), true).value_or(0);
}
