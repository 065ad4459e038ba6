#pragma once
// Whole writes on a file descriptor.

#include <string_view>

namespace fdio {

// Writes all of `data`, going on after interrupted and partial writes; 0 or the errno of
// the failed write.
int writeAll(int fd, std::string_view data);

}  // namespace fdio
