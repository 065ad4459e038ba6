#pragma once
// The trace of started programs, on when "DebugUtilExec" is "true": execUtil and
// execExtUtil append one tab-separated line when a program starts and one when it ends,
//   <local time>\t<operation>(Start)\t<module path>\t<program>\t<arguments>\n
//   <local time>\t<operation>(End)\t<module path>\t<program>\t<arguments>\t<elapsed ms>\n
// with the time as "%04d-%02d-%02d %02d:%02d:%02d" and the module path of this program.
// Each line is one append to the file, so traces of several processes do not mix within a
// line. Tracing never fails a launch: a file that cannot be written is passed over.

#include <cstdint>
#include <string>

class ExecTrace {
 public:
  // `file` empty: tracing off. `operation` is "execUtil" or "execExtUtil".
  ExecTrace(std::wstring file, std::wstring operation);

  bool enabled() const { return !file_.empty(); }
  void start(const std::wstring& program, const std::wstring& arguments) const noexcept;
  void end(const std::wstring& program, const std::wstring& arguments, int64_t elapsedMs) const noexcept;

 private:
  void append(const std::wstring& line) const noexcept;
  std::wstring file_;
  std::wstring operation_;
};

// A millisecond tick count (monotonic) for the elapsed times.
int64_t tickCountMs();
