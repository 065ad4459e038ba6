#include "platform/files/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/files/file_support.h"
#include "platform/files/vfilename.h"

namespace filesupport {

UniqueFd openRegularFileForReading(const std::wstring& path, int& err) {
  const std::string native = VFileName::toNative(path);
  // A NUL inside the path would open a shorter one.
  if (native.empty() || native.find('\0') != std::string::npos) {
    err = EINVAL;
    return UniqueFd();
  }
  // O_NONBLOCK only so that opening a FIFO cannot hang; it is rejected below and regular
  // files ignore the flag.
  UniqueFd fd(::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd.isOpen()) {
    err = openError(errno, native);
    return fd;
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) {
    err = errno;
    return UniqueFd();
  }
  if (!S_ISREG(st.st_mode)) {
    err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return UniqueFd();
  }
  ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
  ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  err = 0;
  return fd;
}

void raiseCannotOpenLog(const std::wstring& path, int err, const char* operation) {
  vexception e(L"Can't open file " + path);
  e.addContext(ContextRecord{osErrorText(winErrorFromErrno(err), operationText(L"CreateFile", path)), operation,
                             __LINE__});
  throw e;
}

}  // namespace filesupport
