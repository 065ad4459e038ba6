#pragma once
// Whole writes and copies on file descriptors.

#include <string_view>

namespace fdio {

// Writes all of `data`, going on after interrupted and partial writes; 0 or the errno of
// the failed write.
int writeAll(int fd, std::string_view data);

// Copies what is left of `in` into `out` in 64 KB pieces, going on after interrupted and
// partial calls; 0 or the errno of the failed call. `readFailed`, when given, tells
// whether that call was the read.
int copyAll(int in, int out, bool* readFailed = nullptr);

}  // namespace fdio
