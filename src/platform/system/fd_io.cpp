#include "platform/system/fd_io.h"

#include <unistd.h>

#include <cerrno>

namespace fdio {

int writeAll(int fd, std::string_view data) {
  const char* p = data.data();
  size_t left = data.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return 0;
}

int copyAll(int in, int out, bool* readFailed) {
  char buffer[64 * 1024];
  if (readFailed) *readFailed = false;
  for (;;) {
    const ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (readFailed) *readFailed = true;
      return errno;
    }
    if (n == 0) return 0;
    if (int err = writeAll(out, std::string_view(buffer, static_cast<size_t>(n)))) return err;
  }
}

}  // namespace fdio
