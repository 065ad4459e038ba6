#include "platform/files/vstdfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/files/file_support.h"

VStdFile::VStdFile(const std::wstring& path, Mode mode) : path_(path), codec_(text::NarrowCodec::system()) {
  const ContextRecord where = VCTX(L"", "VStdFile::VStdFile");
  const std::string native = filesupport::nativePath(path, L"CreateFile", where);
  int flags = O_CLOEXEC;
  const char* fmode = "r";
  switch (mode) {
    case Mode::Read: flags |= O_RDONLY; break;
    case Mode::Write:
      flags |= O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW;
      fmode = "w";
      break;
    case Mode::Append:
      flags |= O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW;
      fmode = "a";
      break;
  }
  int fd;
  do {
    fd = ::open(native.c_str(), flags, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) filesupport::raise(L"CreateFile", path,
                                 errno == ELOOP && mode != Mode::Read ? EACCES : filesupport::openError(errno, native),
                                 where);
  file_ = ::fdopen(fd, fmode);
  if (!file_) {
    const int err = errno;
    ::close(fd);
    filesupport::raise(L"CreateFile", path, err, where);
  }
}

VStdFile::~VStdFile() {
  if (file_) std::fclose(file_);
  std::free(lineBuffer_);
}

VStdFile::VStdFile(VStdFile&& other) noexcept
    : path_(std::move(other.path_)),
      file_(other.file_),
      codec_(std::move(other.codec_)),
      lineBuffer_(other.lineBuffer_),
      lineCapacity_(other.lineCapacity_) {
  other.file_ = nullptr;
  other.lineBuffer_ = nullptr;
  other.lineCapacity_ = 0;
}

void VStdFile::writeBytes(std::string_view bytes) {
  if (!file_) filesupport::raise(L"WriteFile", path_, EBADF, VCTX(L"", "VStdFile::write"));
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size())
    filesupport::raise(L"WriteFile", path_, errno ? errno : EIO, VCTX(L"", "VStdFile::write"));
}

void VStdFile::write(std::wstring_view text) { writeBytes(codec_.encode(text)); }

void VStdFile::writeLine(std::wstring_view line) {
  std::string bytes = codec_.encode(line);
  bytes.push_back('\n');
  writeBytes(bytes);
}

bool VStdFile::readLine(std::wstring& line) {
  line.clear();
  if (!file_) filesupport::raise(L"ReadFile", path_, EBADF, VCTX(L"", "VStdFile::readLine"));
  errno = 0;
  ssize_t n = ::getline(&lineBuffer_, &lineCapacity_, file_);
  if (n < 0) {
    if (std::ferror(file_))
      filesupport::raise(L"ReadFile", path_, errno ? errno : EIO, VCTX(L"", "VStdFile::readLine"));
    return false;
  }
  codec_.appendDecoded(std::string_view(lineBuffer_, static_cast<size_t>(n)), line);
  return true;
}

void VStdFile::flush() {
  if (file_ && std::fflush(file_) != 0)
    filesupport::raise(L"WriteFile", path_, errno, VCTX(L"", "VStdFile::flush"));
}

void VStdFile::close() {
  if (!file_) return;
  FILE* f = file_;
  file_ = nullptr;
  if (std::fclose(f) != 0) filesupport::raise(L"CloseHandle", path_, errno, VCTX(L"", "VStdFile::close"));
}

std::vector<std::wstring> VStdFile::readLines(const std::wstring& path) {
  VStdFile file(path, Mode::Read);
  std::vector<std::wstring> lines;
  std::wstring line;
  while (file.readLine(line)) lines.push_back(line);
  return lines;
}

void VStdFile::writeLines(const std::wstring& path, const std::vector<std::wstring>& lines) {
  VStdFile file(path, Mode::Write);
  for (const std::wstring& line : lines) file.write(line);
  file.close();
}
