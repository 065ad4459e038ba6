#include "traffic/domain2subdomain.h"

#include "platform/report/log_manager.h"
#include "platform/report/vexception.h"
#include "platform/text/text_codec.h"

namespace Statistics {

namespace {

const Domain2Subdomain::HostInfo kNoHost;

}  // namespace

const Domain2Subdomain::HostInfo& Domain2Subdomain::resolve(std::wstring_view host) {
  if (host.empty()) return kNoHost;
  if (auto found = hosts_.find(host); found != hosts_.end()) return found->second;
  if (unknownHosts_.contains(host)) return kNoHost;
  return lookUp(host);
}

const Domain2Subdomain::HostInfo& Domain2Subdomain::lookUp(std::wstring_view asked) {
  const std::wstring host(asked);
  CDRDatabase& db = database();
  // No domain name holds a NUL, and some engines would cut the statement there.
  const bool nameable = host.find(L'\0') == std::wstring::npos;
  // Split i keeps the labels from i on as the name and the labels before it as the prefix.
  for (size_t start = 0; nameable;) {
    const std::wstring name = host.substr(start);
    const std::wstring prefix = start == 0 ? std::wstring() : host.substr(0, start - 1);
    vreport(0, L"Made name:%s prefix:%s names", name, prefix);
    const std::wstring id = baseDomainId(name);
    if (!id.empty()) {
      const std::wstring domain = baseDomainName(name);
      if (!domain.empty() && (prefix.empty() || db.existSubdomain(id, prefix))) {
        const HostInfo& info =
            hosts_.emplace(host, HostInfo(domain, prefix.empty() ? domain : prefix + L"." + domain)).first->second;
        vreport(0, L"Inserted host info name:%s fullname:%s", info.first, info.second);
        return info;
      }
    }
    const size_t dot = host.find(L'.', start);
    if (dot == std::wstring::npos) break;
    start = dot + 1;
  }
  unknownHosts_.insert(host);
  vreport(0, L"Skipped %s host", host);
  return kNoHost;
}

std::wstring Domain2Subdomain::baseDomainId(const std::wstring& name) {
  if (auto found = baseDomainIds_.find(name); found != baseDomainIds_.end()) return found->second;
  try {
    std::wstring id = database().getBaseDomainID(name);
    baseDomainIds_.emplace(name, id);
    return id;
  } catch (const ArgumentException&) {
    return {};  // neither a domain nor an alias
  }
}

std::wstring Domain2Subdomain::baseDomainName(const std::wstring& name) {
  CDRDatabase& db = database();
  if (db.existDomainAlias(name)) {
    try {
      return text::toLower(db.getBaseDomainName(name));
    } catch (const vexception& e) {
      // An alias whose domain row is gone stands for no domain: an answer like any other
      // "not found", not a failure to report for every line that names it.
      if (e.message() == L"Cannot find base domain for '" + name + L"'") return {};
      throw;
    }
  }
  return baseDomainId(name).empty() ? std::wstring() : name;
}

const std::set<std::wstring>& Domain2Subdomain::subdomainNames(const std::wstring& name) {
  if (auto found = subdomainNames_.find(name); found != subdomainNames_.end()) return found->second;
  std::set<std::wstring> names;
  const std::wstring id = baseDomainId(name);
  if (!id.empty()) {
    VRecordSet rows = database().getSubdomains(id);
    while (rows.next()) names.insert(text::toLower(rows.get(L"name")));
  }
  return subdomainNames_.emplace(name, std::move(names)).first->second;
}

}  // namespace Statistics
