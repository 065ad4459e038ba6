#include "usage/dump_repository_loader.h"

#include "platform/service/product_paths.h"
#include "platform/text/text_codec.h"

namespace {
constexpr const wchar_t* kBackupComponent = L"cdr.bu";
}

cadro::IDumpRepository* DumpRepositoryLoader::get() {
  if (resolved_) return repository_;
  const std::wstring entry = getComponentValue(kBackupComponent);
  std::wstring file;
  if (!entry.empty() && !text::equalsNoCase(entry, L"none")) file = getComponentValue(kBackupComponent, entry, L"provider");
  if (file.empty() || text::equalsNoCase(file, L"legacy")) {
    resolved_ = true;
    return nullptr;
  }
  auto library = std::make_unique<VLibrary>(file);
  auto create = reinterpret_cast<cadro::GetDumpRepositoryFunction>(
      VModule::getProcAddress(*library, cadro::kGetDumpRepositoryExport));
  repository_ = create();
  // The library stays loaded only while it has a repository in use.
  if (repository_) library_ = std::move(library);
  resolved_ = true;
  return repository_;
}
