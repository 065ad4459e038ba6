#pragma once
// Where the run is, for the crash record: the context records of the wrappers running on
// this thread, kept in fixed buffers so that the handler of a processor exception can
// write them without allocating.
//
// Every wrapper (guard::report, guard::pass, the application's run with its masked
// command line) holds a CrashContextScope for its record while its body runs. The record
// is rendered at once as a detailed text shows it, "\n   at TEXT(OPERATION line N)", in
// UTF-8 and escaped for an event-log field; setting and clearing it allocate nothing.
// Records beyond the buffers' room (16 KiB, 32 levels) are cut or left out.

#include <cstddef>

#include "platform/report/vexception.h"

class CrashContextScope {
 public:
  explicit CrashContextScope(const ContextRecord& record) noexcept;
  ~CrashContextScope();
  CrashContextScope(const CrashContextScope&) = delete;
  CrashContextScope& operator=(const CrashContextScope&) = delete;

  // The records of the scopes open on this thread, innermost first, as one text (not
  // terminated; as many records as fit whole into `capacity` bytes); the number of bytes
  // written. Async-signal-safe.
  static size_t write(char* out, size_t capacity) noexcept;
};
