#include "platform/report/log_manager.h"

#include <unistd.h>
#include <fcntl.h>

#include <cstring>
#include <ctime>

#include "platform/text/civil_calendar.h"
#include "platform/report/console.h"
#include "platform/report/crash_context.h"
#include "platform/report/event_log_file.h"
#include "platform/system/system_root.h"
#include "platform/text/text_codec.h"

namespace {

class NoRegistryBackend : public LogBackend {
 public:
  std::optional<uint32_t> readDebug() override { return std::nullopt; }
  std::wstring readDebugUtilExec() override { throw vexception(L"DebugUtilExec is not set"); }
  std::wstring readEventMessageFile() override { throw vexception(L"CadroService is not set"); }
  std::unique_ptr<EventSource> registerEventSource(const std::wstring&, const std::wstring&) override {
    throw vexception(L"The event log is not available");
  }
};

}  // namespace

std::unique_ptr<LogBackend> makeConsoleOnlyLogBackend() { return std::make_unique<NoRegistryBackend>(); }

LogManager& LogManager::instance() {
  // Created on first use, destroyed at process exit.
  static LogManager manager;
  return manager;
}

namespace {
// The handler of processor exceptions reads the switches of an existing manager only.
LogManager* volatile g_instance = nullptr;
}  // namespace

LogManager::LogManager() : backend_(makeDefaultLogBackend()) {
  resetSwitches();
  g_instance = this;
}

LogManager::~LogManager() { g_instance = nullptr; }

void LogManager::setBackend(std::unique_ptr<LogBackend> backend) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  backend_ = std::move(backend);
  eventSource_.reset();
  debugChecks_ = 0;
  resetSwitches();
}

void LogManager::resetSwitches() noexcept {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  bool debug = debugMode();
  const uint8_t console[6] = {0, 0, 1, 1, 1, 1};
  for (int i = 0; i < 6; ++i) switches_[i] = console[i];
  for (int i = 0; i < 3; ++i) switches_[6 + i] = debug ? 1 : 0;
  for (int i = 3; i < 6; ++i) switches_[6 + i] = 1;
  switches_[kConsolePrinted] = 0;
}

uint8_t LogManager::switchValue(int index) const {
  return index >= 0 && index < kSwitchCount ? switches_[index] : 0;
}

void LogManager::setSwitch(int index, uint8_t value) {
  if (index >= 0 && index < kSwitchCount) switches_[index] = value;
}

bool LogManager::wouldReport(int level) noexcept {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (level < 0) level = 0;
  if (level > 5) level = 5;
  if (switches_[level] || switches_[6 + level]) return true;
  for (const auto& listener : listeners_)
    if (listener->listening()) return true;
  return false;
}

bool LogManager::debugMode() noexcept {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if ((debugChecks_++ & 0xF) == 0) {
    try {
      std::optional<uint32_t> v = backend_->readDebug();
      debugCached_ = v && *v != 0;
    } catch (...) {
      debugCached_ = false;
    }
  }
  return debugCached_;
}

bool LogManager::debugUtilExec() noexcept {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  try {
    return backend_->readDebugUtilExec() == L"true";
  } catch (...) {
    return false;
  }
}

void LogManager::addListener(std::shared_ptr<LogListener> listener) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  listeners_.push_back(std::move(listener));
}

void LogManager::setEventMessageFile(std::wstring file) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  messageFile_ = std::move(file);
}

void LogManager::print(std::wstring_view textIn) noexcept {
  try {
    if (switches_[kConsolePrinted])
      console::print(L"\n");
    else
      switches_[kConsolePrinted] = 1;
    console::print(textIn);
  } catch (...) {
  }
}

bool LogManager::writeEvent(int level, std::wstring_view textIn) noexcept {
  try {
    if (!eventSource_) {
      std::wstring messageFile = messageFile_;
      if (messageFile.empty()) {
        try {
          messageFile = backend_->readEventMessageFile();
        } catch (...) {
          messageFile.clear();
        }
      }
      std::wstring source = text::fromAnsi(process::executableName());
      eventSource_ = backend_->registerEventSource(source, messageFile);
      if (!eventSource_) return false;
      // The source name may have been taken since the crash record was prepared.
      prepareCrashRecord();
    }
    if (eventSource_->report(level, textIn, text::fromAnsi(process::executablePath()))) return true;
    // A failed report forgets the source; the next write registers again.
    eventSource_.reset();
    return false;
  } catch (...) {
    eventSource_.reset();
    return false;
  }
}

void LogManager::report(int level, std::wstring_view message) noexcept {
  try {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (level < 0) level = 0;
    if (level > 5) level = 5;
    if (switches_[6 + level]) writeEvent(level, message);
    if (switches_[level]) print(message);
    for (auto& listener : listeners_) {
      try {
        listener->onMessage(level, message);
      } catch (...) {
      }
    }
  } catch (...) {
  }
}

void LogManager::report(int level, const vexception& error) noexcept {
  try {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (level < 0) level = 0;
    if (level > 5) level = 5;
    bool debug = debugMode();
    if (switches_[6 + level]) {
      if (!writeEvent(level, error.detailedText())) debug = true;
    }
    if (switches_[level]) print(debug ? error.detailedText() : error.message());
    for (auto& listener : listeners_) {
      try {
        listener->onException(level, error);
      } catch (...) {
      }
    }
  } catch (...) {
  }
}

// --- processor exceptions -------------------------------------------------------------
// The handler may run with the heap in any state, so everything it writes is prepared here
// into fixed buffers, and the report itself uses only write(), open() and time().

namespace {

struct CrashReport {
  char eventLogPath[4096] = {};
  char recordTail[8192] = {};  // "\tERROR\t<source>\t1\t0\t", the message follows
  char exeField[4096] = {};    // "\t<exe>\n"
  bool prepared = false;
};

CrashReport g_crash;
// The record being written: the handler runs once, and on its own small stack.
char g_crashLine[48 * 1024];

size_t copyInto(char* dst, size_t cap, const std::string& src) {
  size_t n = src.size() < cap - 1 ? src.size() : cap - 1;
  std::memcpy(dst, src.data(), n);
  dst[n] = 0;
  return n;
}

void putDigits(char*& p, unsigned long v, int width) {
  char tmp[24];
  int n = 0;
  do {
    tmp[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0 || n < width);
  while (n > 0) *p++ = tmp[--n];
}

void putText(char*& p, const char* s) {
  while (*s) *p++ = *s++;
}

}  // namespace

void LogManager::prepareCrashRecord() noexcept {
  try {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    const std::wstring program = text::fromAnsi(process::executableName());
    std::wstring source = program;
    try {
      source = backend_->eventSourceName(program);
    } catch (...) {
      // The registry cannot tell: the program's own name, as a bare registration would use.
    }
    copyInto(g_crash.eventLogPath, sizeof g_crash.eventLogPath, sysroot::path("eventlog/Cadro.log"));
    std::string tail = "\tERROR\t";
    EventLogFile::appendEscaped(source, tail);
    tail += "\t1\t0\t";
    copyInto(g_crash.recordTail, sizeof g_crash.recordTail, tail);
    std::string exe = "\t";
    EventLogFile::appendEscaped(text::fromAnsi(process::executablePath()), exe);
    exe += "\n";
    copyInto(g_crash.exeField, sizeof g_crash.exeField, exe);
    g_crash.prepared = true;
  } catch (...) {
  }
}

void LogManager::prepareProcessorExceptionReport() noexcept {
  try {
    instance().prepareCrashRecord();
  } catch (...) {
  }
}

void LogManager::reportProcessorException(uint32_t code) noexcept {
  char message[64];
  char* p = message;
  putText(p, "C Exception: ");
  putDigits(p, code, 1);
  *p = 0;
  size_t messageLength = static_cast<size_t>(p - message);

  // Console: level 3 is printed by default, after a line feed when something was printed;
  // the message alone, as a task failure shows outside debug mode.
  LogManager* manager = g_instance;
  if (manager == nullptr || manager->switches_[3]) {
    if (manager && manager->switches_[kConsolePrinted]) (void)!::write(1, "\n", 1);
    if (manager) manager->switches_[kConsolePrinted] = 1;
    (void)!::write(1, message, messageLength);
  }

  if (!g_crash.prepared) return;
  char* q = g_crashLine;
  std::time_t now = std::time(nullptr);
  long secs = static_cast<long>(now % 86400);
  const civil::Date date = civil::civilFromDays(static_cast<int64_t>(now / 86400));
  putDigits(q, static_cast<unsigned long>(date.year), 4);
  *q++ = '-';
  putDigits(q, static_cast<unsigned long>(date.month), 2);
  *q++ = '-';
  putDigits(q, static_cast<unsigned long>(date.day), 2);
  *q++ = 'T';
  putDigits(q, static_cast<unsigned long>(secs / 3600), 2);
  *q++ = ':';
  putDigits(q, static_cast<unsigned long>(secs / 60 % 60), 2);
  *q++ = ':';
  putDigits(q, static_cast<unsigned long>(secs % 60), 2);
  *q++ = 'Z';
  putText(q, g_crash.recordTail);
  putText(q, message);
  // The event log receives the detailed text: which task and which command line crashed.
  const size_t room = sizeof g_crashLine - static_cast<size_t>(q - g_crashLine) - sizeof g_crash.exeField;
  q += CrashContextScope::write(q, room);
  putText(q, g_crash.exeField);
  int fd = ::open(g_crash.eventLogPath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd >= 0) {
    (void)!::write(fd, g_crashLine, static_cast<size_t>(q - g_crashLine));
    ::close(fd);
  }
}
