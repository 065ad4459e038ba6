#include "traffic/mail_provider_loader.h"

#include <map>

#include "platform/modules/vlibrary.h"
#include "platform/report/guard.h"
#include "platform/service/cadrosrv_client.h"
#include "platform/text/vformat.h"

namespace mailmng {

namespace {

constexpr const char* kOperation = "mailmng::imailmngprovider::load";

// The libraries loaded so far, by path. They are never unloaded: provider objects and the
// mailboxes they hand out may live in them until the process ends.
VLibrary& libraryAt(const std::wstring& path) {
  static auto* loaded = new std::map<std::wstring, std::unique_ptr<VLibrary>>();
  auto found = loaded->find(path);
  if (found != loaded->end()) return *found->second;
  auto library = std::make_unique<VLibrary>();
  try {
    // An empty name would give the program itself.
    if (path.empty()) throw vexception(L"The setting MAIL_PROVIDERW_DLL is empty");
    library->load(path);
  } catch (const vexception& e) {
    vexception failed(L"LoadLibrary(" + path + L")failed");
    for (const ContextRecord& record : e.contexts()) failed.addContext(record);
    if (e.contexts().empty()) failed.addContext(ContextRecord{e.message(), kOperation, __LINE__});
    throw failed;
  }
  return *loaded->emplace(path, std::move(library)).first->second;
}

[[noreturn]] void corrupt(const std::wstring& path, const std::wstring& reason) {
  throw vexception(L"Library " + path + L" is corrupt", ContextRecord{reason, kOperation, __LINE__});
}

}  // namespace

imailmngprovider* loadProviderLibrary(const std::wstring& path) {
  return guard::pass(ContextRecord{L"", kOperation, __LINE__}, [&] {
    VLibrary& library = libraryAt(path);
    GetMailMngProviderInstanceFunction create = nullptr;
    try {
      create = reinterpret_cast<GetMailMngProviderInstanceFunction>(
          VModule::getProcAddress(library, kGetMailMngProviderInstanceExport));
    } catch (const vexception& e) {
      corrupt(path, e.message());
    }
    imailmngprovider* provider = create();
    if (!provider) corrupt(path, L"getMailMngProviderInstance returned no provider");
    const uint32_t version = provider->interfaceVersion();
    if (version != kInterfaceVersion) {
      provider->release();
      corrupt(path, vformat(L"mail provider interface version %u, this program's %u", version, kInterfaceVersion));
    }
    return provider;
  });
}

imailmngprovider* imailmngprovider::load() {
  std::wstring path = guard::pass(ContextRecord{L"", kOperation, __LINE__}, [] {
    return CadroSrvClient::getInstance().getString(L"MAIL_PROVIDERW_DLL");
  });
  return loadProviderLibrary(path);
}

ProviderSource standardProviderSource() {
  return [] { return ProviderHandle(imailmngprovider::load()); };
}

}  // namespace mailmng
