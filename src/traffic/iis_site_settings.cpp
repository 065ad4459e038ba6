#include "traffic/iis_site_settings.h"

#include <unistd.h>

#include <climits>
#include <exception>

#include "db/text_number.h"
#include "platform/files/vfile.h"
#include "platform/files/vfilename.h"
#include "platform/registry/registry.h"
#include "platform/report/guard.h"
#include "platform/system/system_root.h"
#include "platform/text/text_codec.h"
#include "platform/text/vformat.h"

namespace {

constexpr const wchar_t* kMachineKey = L"SOFTWARE\\CADRO\\CDR Config\\Config";
constexpr const wchar_t* kDefaultSite = L"1";
constexpr const wchar_t* kVirtualDirClass = L"IIsWebVirtualDir";

std::wstring thisHostName() {
  char buffer[HOST_NAME_MAX + 1] = {};
  if (::gethostname(buffer, sizeof buffer - 1) != 0) return {};
  return VFileName::fromNative(buffer);
}

// A failure named `message` that keeps the records of `cause`.
vexception carrying(const vexception& cause, std::wstring message) {
  vexception outer(std::move(message));
  for (const ContextRecord& inner : cause.contexts()) outer.addContext(inner);
  return outer;
}

}  // namespace

std::wstring iisMachineName() {
  std::wstring name;
  try {
    if (registry::lookup(HKEY_LOCAL_MACHINE, kMachineKey, L"IIsMachineName", name, REG_SZ, 0) != 0) name.clear();
  } catch (const vexception&) {
    name.clear();  // a value of another type cannot be read either
  }
  return name.empty() ? std::wstring(L"localhost") : name;
}

std::string metabaseFileOf(const std::wstring& machine) {
  if (text::equalsNoCase(machine, L"localhost") || text::equalsNoCase(machine, thisHostName()))
    return sysroot::path("iis/metabase.xml");
  if (machine.empty() || machine == L"." || machine == L".." || machine.find_first_of(L"/\\") != std::wstring::npos ||
      machine.find(L'\0') != std::wstring::npos)
    throw vexception(L"The machine name '" + machine + L"' names no metabase", VCTX(L"", "metabaseFileOf"));
  return sysroot::path("iis/" + VFileName::toNative(machine) + "/metabase.xml");
}

void IIsSiteSettings::bindOnce() {
  if (bindTried_) {
    if (bindFailure_) throw *bindFailure_;
    return;
  }
  bindTried_ = true;
  const std::wstring machine = iisMachineName();
  containerPath_ = L"IIS://" + machine + L"/W3SVC";
  try {
    metabase_ = IIsMetabase::parse(VFile::readAll(VFileName::fromNative(metabaseFileOf(machine))));
  } catch (const vexception& cause) {
    bindFailure_ = carrying(cause, L"Unable to bind " + containerPath_ + L": " + cause.message());
    bindFailure_->addContext(VCTX(L"", "IIsSiteSettings::bind"));
    throw *bindFailure_;
  }
  // A later duplicate comment replaces an earlier one, as the enumeration would leave it.
  for (const IIsSite& site : metabase_.sites())
    if (site.serverComment) siteNumbers_[text::toLower(*site.serverComment)] = wcrt::wtoi(site.name);
}

std::wstring IIsSiteSettings::sitePath(int32_t number) const {
  return containerPath_ + L"/" + std::to_wstring(number);
}

std::optional<IIsSiteSettings::FoundSite> IIsSiteSettings::findSite(const std::wstring& name) {
  bindOnce();
  int32_t number = 1;
  const IIsSite* site = nullptr;
  if (name.empty()) {
    site = metabase_.child(kDefaultSite);
  } else {
    auto found = siteNumbers_.find(text::toLower(name));
    if (found == siteNumbers_.end()) return std::nullopt;
    number = found->second;
    site = metabase_.child(std::to_wstring(number));
  }
  if (!site)
    throw vexception(L"The web site " + sitePath(number) + L" does not exist", VCTX(L"", "IIsSiteSettings::findSite"));
  return FoundSite{*site, number};
}

std::wstring IIsSiteSettings::getDomainLogDirectory(const std::wstring& name) {
  try {
    std::optional<FoundSite> found = findSite(name);
    if (!found) return {};
    if (!found->site.logFileDirectory)
      throw vexception(L"The property LogFileDirectory of " + sitePath(found->number) + L" is not set",
                       VCTX(L"", "IIsSiteSettings::getDomainLogDirectory"));
    std::wstring directory = VFileName::expandEnvironmentStrings(*found->site.logFileDirectory);
    if (directory.empty() || directory.back() != L'/') directory += L'/';
    return directory + L"W3SVC" + std::to_wstring(found->number);
  } catch (...) {
    guard::rethrowAs(vformat(L"getDomainLogDirectory for domain = %s", name), VCTX(L"", "getDomainLogDirectory"));
  }
}

std::wstring IIsSiteSettings::getDomainDefaultDoc(const std::wstring& name) {
  try {
    std::optional<FoundSite> found = findSite(name);
    if (!found) return {};
    const std::wstring rootPath = sitePath(found->number) + L"/Root";
    const std::optional<IIsRootDirectory>& root = found->site.root;
    const char* operation = "IIsSiteSettings::getDomainDefaultDoc";
    if (!root) throw vexception(L"The directory " + rootPath + L" does not exist", VCTX(L"", operation));
    if (root->className != kVirtualDirClass)
      throw vexception(L"The directory " + rootPath + L" is of class '" + root->className + L"', not " +
                           kVirtualDirClass,
                       VCTX(L"", operation));
    if (!root->defaultDoc)
      throw vexception(L"The property DefaultDoc of " + rootPath + L" is not set", VCTX(L"", operation));
    std::wstring documents = *root->defaultDoc;
    for (wchar_t& c : documents)
      if (c == L',') c = L' ';
    return documents;
  } catch (...) {
    guard::rethrowAs(vformat(L"getDomainDefaultDoc for domain = %s", name), VCTX(L"", "getDomainDefaultDoc"));
  }
}
