#pragma once
// The program's exception family. Every failure of the program's own code is a vexception
// (or becomes one in a wrapper, see guard.h) that gathers context records on its way out:
// each record names the operation it passed through, so the detailed text reads from the
// innermost operation outwards.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One frame of an error's path: free text, the qualified name of the operation that added
// it (for example "statistics::start") and a position in that operation's source.
struct ContextRecord {
  std::wstring text;
  std::string operation;
  int line = 0;
};

// A context record for the current source line: VCTX(L"Calculate domain(s) traffic",
// "statistics::start").
#define VCTX(text, operation) (ContextRecord{std::wstring(text), std::string(operation), __LINE__})

class vexception {
 public:
  explicit vexception(std::wstring message);
  vexception(std::wstring message, ContextRecord record);
  virtual ~vexception() = default;

  const std::wstring& message() const { return message_; }
  const std::vector<ContextRecord>& contexts() const { return contexts_; }
  // Appends a record at the end: used when a caught failure is passed on or reported.
  void addContext(ContextRecord record);
  // The message, then "\n   at " + text + "(" + operation + " line " + line + ")" per record.
  std::wstring detailedText() const;

 private:
  std::wstring message_;
  std::vector<ContextRecord> contexts_;
};

// Failure of an operating-system call; the code is the Windows error code of the failure
// (errno values are mapped, see winErrorFromErrno).
class vosexception : public vexception {
 public:
  vosexception(std::wstring message, uint32_t code, ContextRecord record);
  vosexception(std::wstring message, uint32_t code);
  uint32_t code() const { return code_; }

 private:
  uint32_t code_;
};

#define CADRO_OS_EXCEPTION(Name)                   \
  class Name : public vosexception {               \
   public:                                         \
    using vosexception::vosexception;              \
  }

CADRO_OS_EXCEPTION(VFileNotFoundException);         // 2
CADRO_OS_EXCEPTION(VPathNotFoundException);         // 3
CADRO_OS_EXCEPTION(VAccessDeniedException);         // 5
CADRO_OS_EXCEPTION(VOutOfMemoryException);          // 14
CADRO_OS_EXCEPTION(VSharingViolationException);     // 32
CADRO_OS_EXCEPTION(VEOFException);                  // 38
CADRO_OS_EXCEPTION(VFileExistsException);           // 80
CADRO_OS_EXCEPTION(VInsufficientBufferException);   // 122
CADRO_OS_EXCEPTION(VAlreadyExistsException);        // 183
CADRO_OS_EXCEPTION(VServiceDoesNotExistException);  // 1060
CADRO_OS_EXCEPTION(VPasswordTooShortException);     // 2245
#undef CADRO_OS_EXCEPTION

#define CADRO_PLAIN_EXCEPTION(Name)  \
  class Name : public vexception {   \
   public:                           \
    using vexception::vexception;    \
  }

CADRO_PLAIN_EXCEPTION(ArgumentException);
namespace BusinessLock {
CADRO_PLAIN_EXCEPTION(LockException);
CADRO_PLAIN_EXCEPTION(SyncronizationException);
}  // namespace BusinessLock
namespace Statistics {
CADRO_PLAIN_EXCEPTION(WrongConfigurationException);
}  // namespace Statistics
namespace VDatabase {
CADRO_PLAIN_EXCEPTION(ConnectException);
}  // namespace VDatabase
namespace vserializer {
CADRO_PLAIN_EXCEPTION(invalidprotocol);
}  // namespace vserializer
#undef CADRO_PLAIN_EXCEPTION

// Thrown in place of a processor exception (see signals.h: on this platform the signal
// handler reports and ends the process instead, since continuing is not safe).
class cwrpexception {
 public:
  explicit cwrpexception(uint32_t code) : code_(code) {}
  uint32_t code() const { return code_; }

 private:
  uint32_t code_;
};

// Windows error codes the program names.
namespace winerr {
inline constexpr uint32_t kSuccess = 0;
inline constexpr uint32_t kFileNotFound = 2;
inline constexpr uint32_t kPathNotFound = 3;
inline constexpr uint32_t kTooManyOpenFiles = 4;
inline constexpr uint32_t kAccessDenied = 5;
inline constexpr uint32_t kInvalidHandle = 6;
inline constexpr uint32_t kNotEnoughMemory = 8;
inline constexpr uint32_t kOutOfMemory = 14;
inline constexpr uint32_t kNotSameDevice = 17;
inline constexpr uint32_t kWriteProtect = 19;
inline constexpr uint32_t kSharingViolation = 32;
inline constexpr uint32_t kHandleEof = 38;
inline constexpr uint32_t kNotSupported = 50;
inline constexpr uint32_t kFileExists = 80;
inline constexpr uint32_t kInvalidParameter = 87;
inline constexpr uint32_t kBrokenPipe = 109;
inline constexpr uint32_t kDiskFull = 112;
inline constexpr uint32_t kInsufficientBuffer = 122;
inline constexpr uint32_t kInvalidName = 123;
inline constexpr uint32_t kDirNotEmpty = 145;
inline constexpr uint32_t kAlreadyExists = 183;
inline constexpr uint32_t kFilenameExcedRange = 206;
inline constexpr uint32_t kPipeBusy = 231;
inline constexpr uint32_t kNoData = 232;
inline constexpr uint32_t kPipeNotConnected = 233;
inline constexpr uint32_t kMoreData = 234;
inline constexpr uint32_t kWaitTimeout = 258;
inline constexpr uint32_t kNoMoreItems = 259;
inline constexpr uint32_t kDirectory = 267;
inline constexpr uint32_t kModNotFound = 126;
inline constexpr uint32_t kProcNotFound = 127;
inline constexpr uint32_t kOperationAborted = 995;
inline constexpr uint32_t kIoPending = 997;
inline constexpr uint32_t kServiceDoesNotExist = 1060;
inline constexpr uint32_t kBadFormat = 11;
inline constexpr uint32_t kRegistryCorrupt = 1015;
inline constexpr uint32_t kKeyDeleted = 1018;
inline constexpr uint32_t kCancelled = 1223;
inline constexpr uint32_t kConnectionRefused = 1225;
inline constexpr uint32_t kTimeout = 1460;
inline constexpr uint32_t kPasswordTooShort = 2245;
}  // namespace winerr

// Which Windows code EEXIST stands for depends on the call: creating a file gives 80,
// creating a directory or a named object gives 183.
enum class ExistsMeaning { FileExists, AlreadyExists };

uint32_t winErrorFromErrno(int err, ExistsMeaning exists = ExistsMeaning::AlreadyExists);

// The system message for a Windows error code (strerror's text for the errno it stands
// for), empty when the system has none.
std::wstring systemMessage(uint32_t code);

// " (Error code %d)" with the code, " at " + operation text when one is given, and the
// system message (or "Unknown error") in front.
std::wstring osErrorText(uint32_t code, std::wstring_view operationText);

// Throws the exception type of the code (vosexception for a code without its own type).
[[noreturn]] void raiseOsError(std::wstring_view operationText, uint32_t code, ContextRecord record);
// The same for an errno value.
[[noreturn]] void raiseErrno(std::wstring_view operationText, int err, ContextRecord record,
                             ExistsMeaning exists = ExistsMeaning::AlreadyExists);
// vexception whose message is the system text for code 14 without an operation text.
[[noreturn]] void raiseOutOfMemory();
