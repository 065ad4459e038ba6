#pragma once
// Records what the process reports through the log manager while a LogRecorder lives.

#include <memory>
#include <string>
#include <vector>

namespace testing_support {

struct LoggedMessage {
  int level;
  std::wstring text;  // the message, or the exception's message
  std::vector<std::wstring> contexts;  // an exception's context texts, innermost first
};

class LogRecorder {
 public:
  LogRecorder();
  ~LogRecorder();
  LogRecorder(const LogRecorder&) = delete;
  LogRecorder& operator=(const LogRecorder&) = delete;

  // Everything reported since construction (or the last take()).
  std::vector<LoggedMessage> take();
  // True when a report at `level` with exactly `text` has been recorded (and not taken).
  bool contains(int level, const std::wstring& text);
};

}  // namespace testing_support
