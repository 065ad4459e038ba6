#pragma once
// All reporting goes through the one log manager of the process. A report has a level
// (0 information, 1 warning, 3 error; 0..5 in all) and goes, under the switch table, to the
// console (standard output, UTF-8) and to the event log "Cadro".
//
// Switch table (13 entries): 0..5 print level 0..5 on the console (defaults 0,0,1,1,1,1);
// 6..11 write level 0..5 to the event log (levels 0..2: the "Debug" switch when the table is
// set, levels 3..5: 1); 12: a console message has been printed already.
//
// Reporting never raises.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/report/vexception.h"
#include "platform/text/vformat.h"

// Receives every message and every reported exception (the program registers none).
class LogListener {
 public:
  virtual ~LogListener() = default;
  virtual void onMessage(int level, std::wstring_view message) = 0;
  virtual void onException(int level, const vexception& error) = 0;
  // Whether the listener wants reports now; one that does not lets wouldReport() skip
  // composing them.
  virtual bool listening() const { return true; }
};

// A registered event source: writes one event.
class EventSource {
 public:
  virtual ~EventSource() = default;
  // Reports one event with the given level's type, category 0, identifier 1 and the two
  // strings (text, executable path); false when reporting failed.
  virtual bool report(int level, std::wstring_view text, std::wstring_view executablePath) = 0;
};

// What the log manager needs of the machine: the registry switches and the event-log
// registration. The registry-backed implementation is the default; tests may install
// their own.
class LogBackend {
 public:
  virtual ~LogBackend() = default;
  // The DWORD "Debug" under the configuration key; nullopt when absent. Throws on failure
  // (a value of the wrong type).
  virtual std::optional<uint32_t> readDebug() = 0;
  // The REG_SZ "DebugUtilExec"; throws when absent or unreadable.
  virtual std::wstring readDebugUtilExec() = 0;
  // The REG_SZ "CadroService" (the event message file); throws when absent.
  virtual std::wstring readEventMessageFile() = 0;
  // Registers the event source of the event log "Cadro" for the program `sourceName` as
  // the registration algorithm says (under eventSourceName); throws when the event log is
  // unavailable.
  virtual std::unique_ptr<EventSource> registerEventSource(const std::wstring& sourceName,
                                                           const std::wstring& messageFile) = 0;
  // The source name the program's records carry: "Cadro:  " + `programName` when that name
  // is taken in the Application log, else `programName`. Throws when it cannot be told.
  virtual std::wstring eventSourceName(const std::wstring& programName) { return programName; }
};

// The registry-backed backend. The registry room defines it (registry_log_backend.cpp), so
// that reporting, which sits below the registry, needs none of the registry's headers.
std::unique_ptr<LogBackend> makeDefaultLogBackend();
// A backend without registry: no switches, no event log (the console only).
std::unique_ptr<LogBackend> makeConsoleOnlyLogBackend();

class LogManager {
 public:
  static constexpr int kSwitchCount = 13;
  static constexpr int kConsolePrinted = 12;

  // The process's log manager, created on first use.
  static LogManager& instance();

  void report(int level, std::wstring_view message) noexcept;
  void report(int level, const vexception& error) noexcept;

  // Whether a report at `level` goes anywhere (a console or event-log switch is on, or a
  // listener listens): lets a hot path skip composing a message nobody would receive.
  bool wouldReport(int level) noexcept;

  // The "Debug" switch: read on the first check and on every 16th check after it; a failed
  // read means off for that check.
  bool debugMode() noexcept;
  // "DebugUtilExec" is "true"; read on each use, any failure means off.
  bool debugUtilExec() noexcept;

  void addListener(std::shared_ptr<LogListener> listener);
  // The message file used at registration; empty means the "CadroService" registry string.
  void setEventMessageFile(std::wstring file);

  // Replaces the backend and resets the switch table to its defaults (tests).
  void setBackend(std::unique_ptr<LogBackend> backend);
  // Sets the switch table to its defaults, reading "Debug" once.
  void resetSwitches() noexcept;
  uint8_t switchValue(int index) const;
  void setSwitch(int index, uint8_t value);

  // For the processor-exception handler: precomputes what the report needs (the event log
  // file, the registered source name, the executable), so that reportProcessorException()
  // does not allocate. The record it writes is the detailed text of "C Exception: " + code
  // with the context records open at the time (crash_context.h).
  static void prepareProcessorExceptionReport() noexcept;
  static void reportProcessorException(uint32_t code) noexcept;

 private:
  LogManager();
  ~LogManager();
  void print(std::wstring_view text) noexcept;
  bool writeEvent(int level, std::wstring_view text) noexcept;
  void prepareCrashRecord() noexcept;

  std::recursive_mutex mutex_;
  std::unique_ptr<LogBackend> backend_;
  std::unique_ptr<EventSource> eventSource_;
  std::wstring messageFile_;
  std::vector<std::shared_ptr<LogListener>> listeners_;
  uint8_t switches_[kSwitchCount] = {};
  unsigned debugChecks_ = 0;
  bool debugCached_ = false;
};

// Report (level, format, arguments): formats the message and reports it; never raises.
template <typename... A>
void vreport(int level, std::wstring_view format, const A&... args) noexcept {
  try {
    LogManager::instance().report(level, vformat(format, args...));
  } catch (...) {
  }
}

inline void vreport(int level, const vexception& error) noexcept { LogManager::instance().report(level, error); }
