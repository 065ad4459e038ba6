#pragma once
// What the file helpers share. Their failure convention: every failed call raises the OS
// exception of its errno with the operation text "<Call> '<path>'" (for example
// "DeleteFile '/a/b'") and a context record naming the helper.

#include <string>
#include <string_view>

#include "platform/dates/vdatetime.h"
#include "platform/report/vexception.h"
#include "platform/system/unique_fd.h"

struct timespec;

namespace filesupport {

// "<call> '<path>'"
std::wstring operationText(std::wstring_view call, std::wstring_view path);

[[noreturn]] void raise(std::wstring_view call, std::wstring_view path, int err, ContextRecord record,
                        ExistsMeaning exists = ExistsMeaning::AlreadyExists);

// The system bytes of `path`; an empty path or one holding a NUL character (which the
// system would silently cut short) raises OS error 123 (invalid name).
std::string nativePath(std::wstring_view path, std::wstring_view call, const ContextRecord& record);

// The errno to report for a failed open of `native`: a missing directory on the way is a
// missing path (ENOTDIR, code 3) rather than a missing file (ENOENT, code 2).
int openError(int err, const std::string& native);

// The directory `name` below the open directory `parentFd` (AT_FDCWD: a path), read-only;
// a link under the name is followed only when `followLink`. Closed, with errno set, when
// it cannot be opened.
UniqueFd openDirectoryAt(int parentFd, const std::string& name, bool followLink);

// A file time stamp as a UTC VDateTime; the zero value for a stamp outside the range of
// file times (before 1601 or after 30827).
VDateTime timeOf(const struct timespec& stamp);

}  // namespace filesupport
