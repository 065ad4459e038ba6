#pragma once
// The interface between the statistics program and its web statistics modules: plug-in
// libraries, named in the file "statistics.modules" beside the program, whose objects see
// every counted web and FTP log line and are finished once the logs have been read.
//
// A library exports one factory function per module kind (its name is the "ObjectFactory"
// attribute of the "Module" element). The program calls it once per key of its module set
// (domain, host, log file) and owns the object it returns: it calls processLogLine for each
// line of that key, then, at the end of the traffic task, isFinished and, when that is
// false, finish; it deletes the object before it unloads the library.
//
// The header uses the standard library only: a module is built against it alone and must
// not link the program's own libraries. Everything a module needs of the program (its log
// manager, the domains' statistics directories) comes through ModuleHost, so that a module
// reports under the program's one switch table ("Debug" and the rest) instead of a copy of
// its own.
//
// Threads: the program calls a module from one thread only.

#include <cstdint>
#include <string>
#include <string_view>

namespace Statistics {

// Version of this interface; a factory may refuse a host whose version it does not know.
inline constexpr uint32_t kModuleInterfaceVersion = 1;

// Kinds of lines handed to modules.
inline constexpr int kHttpLine = 0;
inline constexpr int kFtpLine = 1;            // FTP with a user's login
inline constexpr int kAnonymousFtpLine = 2;   // anonymous FTP

// Report levels of the program's log manager.
inline constexpr int kInformation = 0;
inline constexpr int kWarning = 1;
inline constexpr int kError = 3;

// The moment of a line as the traffic task handed it over (no time zone is implied).
struct LineTime {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int milliseconds = 0;
};

// The named fields of one log line (W3C field names such as "cs-uri-stem", "sc-bytes").
// Views stay valid only during the call they are handed to.
class LogLineFields {
 public:
  // The value of field `name` (case-sensitive); empty when the line has no such field. A
  // value the server wrote as "-" is returned as "-".
  virtual std::wstring_view get(std::wstring_view name) const = 0;
  // The whole line as read.
  virtual std::wstring_view line() const = 0;

 protected:
  ~LogLineFields() = default;
};

// What the program offers its modules. The object outlives every module it is handed to.
class ModuleHost {
 public:
  virtual uint32_t interfaceVersion() const noexcept = 0;
  // Reports `message` at `level` (kInformation, kWarning, kError) through the program's log
  // manager: the console and the event log "Cadro" under the program's switches. Never fails.
  virtual void report(int level, std::wstring_view message) noexcept = 0;
  // Creates or replaces the file `fileName` (a plain name, no directory part) in the
  // statistics directory of `domain` (the domain's directory under the web hosts root, then
  // "statistics") with `content`. The directory must exist; no symbolic link on the way
  // below the web hosts root is followed, and the file is replaced atomically. False with
  // the reason in `error` when it cannot be written.
  virtual bool writeStatisticsFile(std::wstring_view domain, std::wstring_view fileName, std::string_view content,
                                   std::wstring& error) noexcept = 0;

 protected:
  ~ModuleHost() = default;
};

// One module object. Its calls may throw a standard exception; the program reports it: a
// failing processLogLine is reported with the line, a failing finish ends the finishing of
// all modules for the run.
class Module {
 public:
  virtual ~Module() = default;
  // One counted line of `domain` addressed to `host` (the domain itself or a subdomain),
  // read from `logFile`. `kind` is kHttpLine, kFtpLine or kAnonymousFtpLine;
  // `defaultDocument` is the host's default documents separated by blanks ("index.html"
  // when the site has none); `hasWww` tells whether the domain has a "www" record.
  virtual void processLogLine(std::wstring_view domain, std::wstring_view host, std::wstring_view logFile, int kind,
                              std::wstring_view defaultDocument, bool hasWww, const LineTime& time,
                              const LogLineFields& fields) = 0;
  // True when the module has nothing left to finish (modules of one library may finish
  // together).
  virtual bool isFinished() const = 0;
  // Writes what the module gathered; called once at the end of the traffic task unless
  // isFinished is already true.
  virtual void finish() = 0;
};

// The factory function a library exports, with C linkage, under the name of the "Module"
// element's "ObjectFactory": a new object (owned by the caller) or null when the module
// declines. `objectType` is the element's "ObjectType" (possibly empty).
using ModuleFactoryFunction = Module* (*)(ModuleHost& host, const wchar_t* objectType);

}  // namespace Statistics

// Marks a factory function for export from a library built with hidden visibility.
#define CADRO_MODULE_EXPORT extern "C" __attribute__((visibility("default")))
