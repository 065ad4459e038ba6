#pragma once
// The interface a backup component implements so that the statistics program can charge
// each domain for its backup dumps. The component is a shared library; the program finds
// it through the registry (HKLM\SOFTWARE\Cadro\CDR Config\Config\Packages\cdr.bu: the
// default value names a provider entry, whose value "provider" is the library's path),
// loads it once per process and calls its export "getDumpRepository".
//
// Build a provider against this header alone: it needs nothing else of the program.
// Failures are reported by throwing a standard exception (std::runtime_error and the like);
// the program reports the text and charges the domain nothing for its dumps.

#include <cstdint>

namespace cadro {

class IDumpRepository {
 public:
  // The total size in bytes of the dumps of the domain whose GUID is `domainGuid` (text in
  // the system's narrow character set, never null). `reserved` is always passed empty.
  // A domain without dumps has 0. Throws on failure.
  virtual int64_t getDomainDumpsSize(const char* domainGuid, const char* reserved) = 0;

 protected:
  // The repository belongs to its library: the program never deletes it, and keeps the
  // library loaded for as long as it uses the repository.
  ~IDumpRepository() = default;
};

// The export the program looks up, by this name, in the library.
inline constexpr const char* kGetDumpRepositoryExport = "getDumpRepository";

// Its type: no arguments; the library's repository, or null when the library has none to
// offer (then the program charges no dumps).
using GetDumpRepositoryFunction = IDumpRepository* (*)();

}  // namespace cadro

// A provider defines:  extern "C" cadro::IDumpRepository* getDumpRepository();
