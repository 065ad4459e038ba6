#include "platform/report/vexception.h"

#include <cerrno>
#include <cstring>

#include "platform/text/text_codec.h"
#include "platform/text/vformat.h"

vexception::vexception(std::wstring message) : message_(std::move(message)) {}

vexception::vexception(std::wstring message, ContextRecord record) : message_(std::move(message)) {
  contexts_.push_back(std::move(record));
}

void vexception::addContext(ContextRecord record) { contexts_.push_back(std::move(record)); }

std::wstring vexception::detailedText() const {
  std::wstring out = message_;
  for (const ContextRecord& r : contexts_) {
    out += L"\n   at ";
    out += r.text;
    out += L"(";
    out += text::fromAnsi(r.operation);
    out += L" line ";
    out += std::to_wstring(r.line);
    out += L")";
  }
  return out;
}

vosexception::vosexception(std::wstring message, uint32_t code, ContextRecord record)
    : vexception(std::move(message), std::move(record)), code_(code) {}

vosexception::vosexception(std::wstring message, uint32_t code)
    : vexception(std::move(message)), code_(code) {}

namespace {

struct ErrnoMapping {
  int err;
  uint32_t code;
};

// errno -> Windows code. The first row for a code is also the way back to a system text.
constexpr ErrnoMapping kErrnoMap[] = {
    {ENOENT, winerr::kFileNotFound},
    {ENOTDIR, winerr::kPathNotFound},
    {EMFILE, winerr::kTooManyOpenFiles},
    {ENFILE, winerr::kTooManyOpenFiles},
    {EACCES, winerr::kAccessDenied},
    {EPERM, winerr::kAccessDenied},
    {EISDIR, winerr::kAccessDenied},
    {EBADF, winerr::kInvalidHandle},
    {ENOMEM, winerr::kOutOfMemory},
    {EXDEV, winerr::kNotSameDevice},
    {EROFS, winerr::kWriteProtect},
    {EBUSY, winerr::kSharingViolation},
    {ETXTBSY, winerr::kSharingViolation},
    {ENOSYS, winerr::kNotSupported},
    {EOPNOTSUPP, winerr::kNotSupported},
    {EINVAL, winerr::kInvalidParameter},
    {EPIPE, winerr::kBrokenPipe},
    {ENOSPC, winerr::kDiskFull},
    {EDQUOT, winerr::kDiskFull},
    {ERANGE, winerr::kInsufficientBuffer},
    {EILSEQ, winerr::kInvalidName},
    {ENOTEMPTY, winerr::kDirNotEmpty},
    {EEXIST, winerr::kAlreadyExists},
    {ENAMETOOLONG, winerr::kFilenameExcedRange},
    {EAGAIN, winerr::kPipeBusy},
    {ENOTCONN, winerr::kPipeNotConnected},
    {ECANCELED, winerr::kOperationAborted},
    {ENOEXEC, winerr::kBadFormat},
    {ECONNREFUSED, winerr::kConnectionRefused},
    {ETIMEDOUT, winerr::kTimeout},
    {ECONNRESET, winerr::kBrokenPipe},
    {ELOOP, winerr::kInvalidName},
};

struct WindowsText {
  uint32_t code;
  const wchar_t* text;
};

// Codes the program raises itself that have no errno counterpart.
constexpr WindowsText kWindowsTexts[] = {
    {winerr::kSuccess, L"The operation completed successfully."},
    {winerr::kInvalidParameter, L"The parameter is incorrect."},
    {winerr::kFileExists, L"The file exists."},
    {winerr::kHandleEof, L"Reached the end of the file."},
    {winerr::kMoreData, L"More data is available."},
    {winerr::kWaitTimeout, L"The wait operation timed out."},
    {winerr::kNoMoreItems, L"No more data is available."},
    {winerr::kDirectory, L"The directory name is invalid."},
    {288, L"Attempt to release mutex not owned by caller."},
    {winerr::kModNotFound, L"The specified module could not be found."},
    {winerr::kProcNotFound, L"The specified procedure could not be found."},
    {winerr::kNoData, L"The pipe is being closed."},
    {winerr::kIoPending, L"Overlapped I/O operation is in progress."},
    {winerr::kServiceDoesNotExist, L"The specified service does not exist as an installed service."},
    {winerr::kCancelled, L"The operation was canceled by the user."},
    {winerr::kPasswordTooShort,
     L"The password does not meet the password policy requirements. Check the minimum password "
     L"length, password complexity and password history requirements."},
    {winerr::kNotEnoughMemory, L"Not enough memory resources are available to process this command."},
    {winerr::kRegistryCorrupt,
     L"The registry is corrupted. The structure of one of the files containing registry data is corrupted, or "
     L"the system's memory image of the file is corrupted, or the file could not be recovered because the "
     L"alternate copy or log was absent or corrupted."},
    {winerr::kKeyDeleted, L"Illegal operation attempted on a registry key that has been marked for deletion."},
};

}  // namespace

uint32_t winErrorFromErrno(int err, ExistsMeaning exists) {
  if (err == 0) return winerr::kSuccess;
  if (err == EEXIST)
    return exists == ExistsMeaning::FileExists ? winerr::kFileExists : winerr::kAlreadyExists;
  for (const ErrnoMapping& m : kErrnoMap)
    if (m.err == err) return m.code;
  // An errno without a Windows counterpart keeps its own number above the Windows range
  // of the codes the program types, so that its text can still be found.
  return 0x20000000u | static_cast<uint32_t>(err);
}

std::wstring systemMessage(uint32_t code) {
  for (const WindowsText& t : kWindowsTexts)
    if (t.code == code) return t.text;
  int err = 0;
  if (code & 0x20000000u) {
    err = static_cast<int>(code & ~0x20000000u);
  } else {
    for (const ErrnoMapping& m : kErrnoMap)
      if (m.code == code) {
        err = m.err;
        break;
      }
  }
  if (err == 0) return {};
  char buf[256];
  const char* msg = strerror_r(err, buf, sizeof buf);
  return text::fromAnsi(msg ? msg : "");
}

std::wstring osErrorText(uint32_t code, std::wstring_view operationText) {
  std::wstring tail = vformat(L" (Error code %d)", code);
  if (!operationText.empty()) {
    tail += L" at ";
    tail += operationText;
  }
  std::wstring message = systemMessage(code);
  while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n')) message.pop_back();
  if (message.empty()) message = L"Unknown error";
  return message + tail;
}

void raiseOsError(std::wstring_view operationText, uint32_t code, ContextRecord record) {
  std::wstring message = osErrorText(code, operationText);
  switch (code) {
    case winerr::kFileNotFound: throw VFileNotFoundException(std::move(message), code, std::move(record));
    case winerr::kPathNotFound: throw VPathNotFoundException(std::move(message), code, std::move(record));
    case winerr::kAccessDenied: throw VAccessDeniedException(std::move(message), code, std::move(record));
    case winerr::kOutOfMemory: throw VOutOfMemoryException(std::move(message), code, std::move(record));
    case winerr::kSharingViolation:
      throw VSharingViolationException(std::move(message), code, std::move(record));
    case winerr::kHandleEof: throw VEOFException(std::move(message), code, std::move(record));
    case winerr::kFileExists: throw VFileExistsException(std::move(message), code, std::move(record));
    case winerr::kInsufficientBuffer:
      throw VInsufficientBufferException(std::move(message), code, std::move(record));
    case winerr::kAlreadyExists: throw VAlreadyExistsException(std::move(message), code, std::move(record));
    case winerr::kServiceDoesNotExist:
      throw VServiceDoesNotExistException(std::move(message), code, std::move(record));
    case winerr::kPasswordTooShort:
      throw VPasswordTooShortException(std::move(message), code, std::move(record));
    default: throw vosexception(std::move(message), code, std::move(record));
  }
}

void raiseErrno(std::wstring_view operationText, int err, ContextRecord record, ExistsMeaning exists) {
  raiseOsError(operationText, winErrorFromErrno(err, exists), std::move(record));
}

void raiseOutOfMemory() { throw vexception(osErrorText(winerr::kOutOfMemory, {})); }
