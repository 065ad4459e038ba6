#pragma once
// Cancellation and processor exceptions.
//
// SIGINT and SIGTERM are cancellation requests: the handler only records the request, and
// the next cancellation point raises vexception "Operation cancelled"; the wrappers report
// it, owners release their locks and temporary files while the exception travels, and the
// run ends with exit code 1.
//
// SIGSEGV, SIGBUS, SIGILL and SIGFPE are processor exceptions. Continuing after one is not
// safe here, so the handler reports "C Exception: " + the Windows exception code at level 3
// (console and event log, without allocating) and ends the process with exit code 1.

#include <cstdint>

namespace cancellation {

// Installs the handlers of both kinds (idempotent).
void installHandlers();
bool requested();
// Records a cancellation request (what the SIGINT/SIGTERM handler does).
void request();
// Forgets a request (tests only).
void reset();
// Raises vexception "Operation cancelled" when a request is pending.
void point();

// Windows exception code of a processor signal: SIGSEGV 0xC0000005, SIGBUS 0x80000002,
// SIGILL 0xC000001D, SIGFPE 0xC0000094.
uint32_t exceptionCodeOf(int signal);

}  // namespace cancellation
