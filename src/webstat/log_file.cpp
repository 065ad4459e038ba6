#include "webstat/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/files/vfile.h"
#include "platform/files/vfilename.h"
#include "platform/report/log_manager.h"
#include "platform/report/vexception.h"
#include "platform/system/system_root.h"

namespace {

constexpr const char* kWriteOperation = "statistics::LogForAnalyser::writeLineToLog";

// The temporary directory is created when it is missing; it may be shared with nobody.
void ensureTemporaryDirectory(const std::string& dir) {
  struct stat st;
  if (::stat(dir.c_str(), &st) == 0) return;
  const size_t slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0) sysroot::ensureDirectory(dir.substr(0, slash));
  ::mkdir(dir.c_str(), 0700);
}

}  // namespace

statistics::LogFile::~LogFile() {
  if (path_.empty()) return;
  try {
    flush();
  } catch (...) {
  }
  fd_.reset();
  try {
    removeFile(path_, false);
  } catch (...) {
    vreport(1, L"Unable to delete temporary log file %s", path_);
  }
}

void statistics::LogFile::create(const std::wstring& domainName) {
  if (fd_.isOpen()) return;
  const std::string dir = process::tempDirectory();
  ensureTemporaryDirectory(dir);
  std::string name = dir + "/tmpXXXXXX.tmp";
  // mkostemps creates with O_EXCL and mode 0600: never an existing entry, never a link.
  int fd = ::mkostemps(name.data(), 4, O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    raiseErrno(L"Can't create temp file " + VFileName::fromNative(name) + L" for log domain " + domainName, err,
               VCTX(L"", "statistics::LogFile::checkLogFile"), ExistsMeaning::FileExists);
  }
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  adopt(VFileName::fromNative(name), UniqueFd(fd));
}

void statistics::LogFile::adopt(std::wstring path, UniqueFd fd) {
  path_ = std::move(path);
  fd_ = std::move(fd);
  buffer_.clear();
  buffer_.reserve(kBufferSize);
  written_ = 0;
}

void statistics::LogFile::flush() {
  if (buffer_.empty()) return;
  // The buffer is emptied even when the write fails: one failure is reported once, and
  // the lines after it are not held back by it.
  try {
    writeOut(buffer_);
  } catch (...) {
    buffer_.clear();
    throw;
  }
  buffer_.clear();
}

void statistics::LogFile::writeOut(std::string_view bytes) {
  if (!fd_.isOpen()) raiseOsError(L"Write to file", winerr::kInvalidHandle, VCTX(L"", kWriteOperation));
  while (!bytes.empty()) {
    ssize_t n = ::write(fd_.get(), bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      raiseErrno(L"Write to file", errno, VCTX(L"", kWriteOperation));
    }
    if (n == 0) throw vexception(L"Can't write to file. Disk full?", VCTX(L"", kWriteOperation));
    written_ += n;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

int64_t statistics::LogFile::size() const { return written_ + static_cast<int64_t>(buffer_.size()); }
