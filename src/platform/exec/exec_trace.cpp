#include "platform/exec/exec_trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>

#include "platform/system/system_root.h"
#include "platform/text/text_codec.h"
#include "platform/dates/vdatetime.h"
#include "platform/files/vfilename.h"
#include "platform/text/vformat.h"

namespace {

std::wstring localTimeText() {
  VDateTime t = VDateTime::nowLocal();
  return vformat(L"%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
}

std::wstring modulePath() { return VFileName::fromNative(process::executablePath()); }

}  // namespace

ExecTrace::ExecTrace(std::wstring file, std::wstring operation)
    : file_(std::move(file)), operation_(std::move(operation)) {}

void ExecTrace::start(const std::wstring& program, const std::wstring& arguments) const noexcept {
  if (!enabled()) return;
  try {
    append(vformat(L"%s\t%s(Start)\t%s\t%s\t%s\n", localTimeText(), operation_, modulePath(), program, arguments));
  } catch (...) {
  }
}

void ExecTrace::end(const std::wstring& program, const std::wstring& arguments, int64_t elapsedMs) const noexcept {
  if (!enabled()) return;
  try {
    append(vformat(L"%s\t%s(End)\t%s\t%s\t%s\t%s\n", localTimeText(), operation_, modulePath(), program, arguments,
                   std::to_wstring(elapsedMs)));
  } catch (...) {
  }
}

void ExecTrace::append(const std::wstring& line) const noexcept {
  try {
    const std::string native = VFileName::toNative(file_);
    int fd = ::open(native.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    const std::string bytes = text::toAnsi(line);
    ssize_t ignored = ::write(fd, bytes.data(), bytes.size());
    (void)ignored;
    ::close(fd);
  } catch (...) {
  }
}

int64_t tickCountMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
