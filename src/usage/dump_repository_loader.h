#pragma once
// The backup component's dump repository, found through the registry: the default value of
// Packages\cdr.bu names a provider entry, and that entry's value "provider" names the
// shared library, which exports "getDumpRepository" (include/cadro/dump_repository.h).
// The library is loaded at the first request and kept, with its repository, for the life
// of the loader (the run sequence keeps one for the whole run).

#include <memory>

#include "cadro/dump_repository.h"
#include "platform/modules/vlibrary.h"

class DumpRepositoryLoader {
 public:
  DumpRepositoryLoader() = default;
  DumpRepositoryLoader(const DumpRepositoryLoader&) = delete;
  DumpRepositoryLoader& operator=(const DumpRepositoryLoader&) = delete;

  // The repository; null when the registry names none (the entry empty or "none", its
  // provider empty or "legacy", without regard to case) or the library offers none. That
  // answer is kept. A library that cannot be loaded or lacks the export raises, and is
  // tried again at the next call.
  cadro::IDumpRepository* get();

 private:
  bool resolved_ = false;
  std::unique_ptr<VLibrary> library_;
  cadro::IDumpRepository* repository_ = nullptr;
};
