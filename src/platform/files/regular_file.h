#pragma once
// Opening a log file for reading: only regular files are accepted, so that a directory, a
// FIFO or a device left under a log name can neither block the program nor be read as a log.

#include <string>

#include "platform/system/unique_fd.h"

namespace filesupport {

// Opens `path` read-only (O_CLOEXEC) when it names a regular file, following symbolic
// links as any open does. On failure returns a closed descriptor and sets `err` to the
// errno to report: the open's own (a missing directory on the way is ENOTDIR), EISDIR for
// a directory, EINVAL for any other kind of file or a path the system cannot take.
UniqueFd openRegularFileForReading(const std::wstring& path, int& err);

// Raises vexception "Can't open file " + path for the errno `err` of a failed open, with a
// context record of `operation` whose text is the system's reason.
[[noreturn]] void raiseCannotOpenLog(const std::wstring& path, int err, const char* operation);

}  // namespace filesupport
