#pragma once
// The host-name resolver: turns the host a web log line names (a hosted domain, one of its
// subdomains, a domain alias or a subdomain under an alias) into the pair (domain, site):
// the hosted domain that owns it and the full site name under that domain (the domain
// itself, or subdomain + "." + domain). It asks the control-panel database and keeps every
// answer, found or not, for its whole life, since a log names the same few hosts millions
// of times: after the first question about a host, resolve() answers from memory without
// querying and without allocating. Nothing is ever refreshed, so a database change is not
// seen by hosts already answered.
//
// Keys compare as exact wide strings: callers lower-case hosts and names before they ask.
// "Not found" is an answer; any other database failure leaves the call as the provider's
// exception and caches nothing for that question. One resolver serves one run (the
// application object owns it); it is not thread-safe.

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "db/db_client_class.h"

namespace Statistics {

class Domain2Subdomain : public virtual DBClientClass {
 public:
  // (domain name, site name); both empty for a host of no hosted domain.
  using HostInfo = std::pair<std::wstring, std::wstring>;

  Domain2Subdomain() = default;
  // A resolver over `database` (which must outlive it) instead of the process-wide one.
  explicit Domain2Subdomain(CDRDatabase& database) : DBClientClass(database) {}

  // The owner of `host`: the first split of the host at a "." (whole name first, then
  // without its first label, ...) whose remaining name is a domain or an alias and whose
  // cut-off prefix, when there is one, is a subdomain of that domain. Reports each split
  // tried ("Made name:%s prefix:%s names"), the answer ("Inserted host info name:%s
  // fullname:%s") or its absence ("Skipped %s host") at level 0, once per host. The
  // reference stays valid as long as the resolver.
  const HostInfo& resolve(std::wstring_view host);

  // The identifier text of the domain that `name` (a domain or an alias) stands for; empty
  // when it is neither. Found identifiers are cached.
  std::wstring baseDomainId(const std::wstring& name);
  // The domain `name` stands for: the aliased domain's name, lower-cased, for an alias; the
  // name itself for a domain; empty otherwise.
  std::wstring baseDomainName(const std::wstring& name);
  // The lower-cased names of the subdomains of the domain `name` (empty for a name that is
  // no domain), cached under the name. The reference stays valid as long as the resolver.
  const std::set<std::wstring>& subdomainNames(const std::wstring& name);

 private:
  const HostInfo& lookUp(std::wstring_view host);

  std::map<std::wstring, HostInfo, std::less<>> hosts_;
  std::set<std::wstring, std::less<>> unknownHosts_;
  std::map<std::wstring, std::wstring, std::less<>> baseDomainIds_;
  std::map<std::wstring, std::set<std::wstring>, std::less<>> subdomainNames_;
};

}  // namespace Statistics
