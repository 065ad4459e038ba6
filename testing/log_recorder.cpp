#include "testing/log_recorder.h"

#include <atomic>
#include <mutex>
#include <utility>

#include "platform/report/log_manager.h"

namespace testing_support {

namespace {

// The log manager keeps its listeners for the life of the process, so one listener is
// installed once and records only while a LogRecorder is active.
class RecordingListener : public LogListener {
 public:
  void onMessage(int level, std::wstring_view message) override { add(level, std::wstring(message)); }
  void onException(int level, const vexception& error) override {
    std::vector<std::wstring> contexts;
    for (const ContextRecord& record : error.contexts()) contexts.push_back(record.text);
    add(level, error.message(), std::move(contexts));
  }

  bool listening() const override { return active_; }

  void setActive(bool active) {
    std::lock_guard<std::mutex> lock(mutex_);
    active_ = active;
    messages_.clear();
  }
  std::vector<LoggedMessage> take() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(messages_, {});
  }
  std::vector<LoggedMessage> snapshot() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }

 private:
  void add(int level, std::wstring text, std::vector<std::wstring> contexts = {}) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (active_) messages_.push_back({level, std::move(text), std::move(contexts)});
  }
  std::mutex mutex_;
  std::atomic<bool> active_ = false;
  std::vector<LoggedMessage> messages_;
};

RecordingListener& listener() {
  static std::shared_ptr<RecordingListener> installed = [] {
    auto created = std::make_shared<RecordingListener>();
    LogManager::instance().addListener(created);
    return created;
  }();
  return *installed;
}

}  // namespace

LogRecorder::LogRecorder() { listener().setActive(true); }
LogRecorder::~LogRecorder() { listener().setActive(false); }

std::vector<LoggedMessage> LogRecorder::take() { return listener().take(); }

bool LogRecorder::contains(int level, const std::wstring& text) {
  for (const LoggedMessage& m : listener().snapshot()) {
    if (m.level == level && m.text == text) return true;
  }
  return false;
}

}  // namespace testing_support
