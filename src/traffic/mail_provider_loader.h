#pragma once
// The program's side of the mail provider (include/cadro/mail_provider.h): loading the
// library named by "MAIL_PROVIDERW_DLL", and owners that give provider and mailbox objects
// back through their release() however the caller's block ends.

#include <functional>
#include <memory>
#include <string>

#include "cadro/mail_provider.h"

namespace mailmng {

// Gives an object of the provider back with its release().
struct Releaser {
  template <typename T>
  void operator()(T* object) const noexcept {
    object->release();
  }
};
using ProviderHandle = std::unique_ptr<imailmngprovider, Releaser>;
using MailboxHandle = std::unique_ptr<imailbox, Releaser>;

// Where the tasks get their provider objects: imailmngprovider::load by default; tests put
// a provider of their own in its place.
using ProviderSource = std::function<ProviderHandle()>;
ProviderSource standardProviderSource();

// A new provider object of the library at `path`, loaded once per process and kept loaded
// until the process ends. Raises "LoadLibrary(<path>)failed" (the loader's reason as a
// context record) when the library cannot be loaded, and "Library <path> is corrupt" when
// it lacks the export "getMailMngProviderInstance", the export returns null, or the object
// is of another interface version (that object is released first). A failure of the
// export itself passes on.
imailmngprovider* loadProviderLibrary(const std::wstring& path);

}  // namespace mailmng
