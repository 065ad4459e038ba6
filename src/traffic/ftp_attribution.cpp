#include "traffic/ftp_attribution.h"

#include "db/cdr_database.h"
#include "db/ip_address.h"
#include "platform/report/log_manager.h"
#include "platform/text/text_codec.h"
#include "traffic/ip_address_text.h"

namespace Statistics {

namespace {

// No log line carries a NUL (it ends the file), and the Jet engine refuses statements that
// hold one: such a text is no login nor address of the control panel.
bool holdsNul(std::wstring_view text) { return text.find(L'\0') != std::wstring_view::npos; }

const std::wstring kNone;

}  // namespace

FtpAttribution::FtpAttribution(CDRDatabase& db, const HostMap& hosts, const DomainMap& domains,
                               const DomainNameMap& domainNames)
    : db_(db), hosts_(hosts), domains_(domains), domainNames_(domainNames) {}

void FtpAttribution::attributeFtpLine(const W3CRecord& line, std::wstring& domain, std::wstring& host) {
  attribute(fieldsOf(line), domain, host);
}

void FtpAttribution::attributeFtpLine(const ServURecord& line, std::wstring& domain, std::wstring& host) {
  attribute(fieldsOf(line), domain, host);
}

int FtpAttribution::classifyFtpLine(const W3CRecord& line) { return classify(fieldsOf(line)); }

int FtpAttribution::classifyFtpLine(const ServURecord& line) { return classify(fieldsOf(line)); }

void FtpAttribution::attribute(const FtpLine& line, std::wstring& domain, std::wstring& host) {
  setAside_.assign(domain);
  domain.clear();
  host.assign(getSiteByLogin(line.login));
  text::assignLower(host, key_);
  if (auto known = hosts_.find(key_); known != hosts_.end()) domain.assign(known->second);
  if (!domain.empty() && domain != L"-") return;

  // An anonymous or unknown login: the domain served at the line's address.
  uint32_t address = 0;
  if (!line.serverAddress.empty() && line.serverAddress != L"-")
    address = parseIPAddress(line.serverAddress);
  else
    address = addressOfDomain(setAside_);
  domain.assign(domainAtAddress(address));
  if (domain == L"-") domain.clear();
  host.assign(domain);
}

uint32_t FtpAttribution::addressOfDomain(const std::wstring& name) const {
  auto id = domainNames_.find(name);
  if (id == domainNames_.end()) return 0;
  auto info = domains_.find(id->second);
  return info == domains_.end() || !info->second ? 0 : info->second->ipAddress();
}

const std::wstring& FtpAttribution::domainAtAddress(uint32_t address) {
  auto anonymous = anonymousDomains_.find(address);
  if (anonymous == anonymousDomains_.end()) {
    // The answer is kept when it names nothing as well: an address without anonymous FTP
    // is not asked again for every line of the run.
    std::wstring name;
    db_.getAnonFtpDomainByIP(address, &name);
    if (!name.empty()) vreport(0, L"Anonymous FTP host %s", name);
    anonymous = anonymousDomains_.emplace(address, std::move(name)).first;
  }
  if (!anonymous->second.empty()) return anonymous->second;

  auto hosted = addressDomains_.find(address);
  if (hosted == addressDomains_.end()) {
    std::wstring name;
    db_.getDomainByIP(address, &name);
    hosted = addressDomains_.emplace(address, std::move(name)).first;
  }
  return hosted->second;
}

const std::wstring& FtpAttribution::getSiteByLogin(std::wstring_view login) {
  if (holdsNul(login)) return kNone;
  text::assignLower(login, key_);
  if (auto cached = sites_.find(key_); cached != sites_.end()) return cached->second;

  std::wstring site;
  VRecordSet rows = db_.query(
      L"SELECT s.name, d.name FROM `subdomains` s, `domains` d, `sys_users` su WHERE su.id = s.sys_user_id AND "
      L"s.dom_id = d.id AND s.sys_user_type = 'native' AND su.login = '" +
      db_.escape(key_) + L"'");
  if (rows.next())
    site = rows.get(0, {}, true) + L"." + rows.get(1, {}, true);  // the login of a subdomain's own account
  else
    site = db_.getDomainNameByLogin(key_);
  return sites_.emplace(key_, std::move(site)).first->second;
}

int FtpAttribution::classify(const FtpLine& line) {
  const std::wstring_view address = looksLikeIPAddress(line.host) ? line.host : line.serverAddress;
  const bool known =
      address.empty() ? !getSiteByLogin(line.login).empty() : isKnownUserAt(address, line.login);
  if (known) {
    vreport(0, L"FTP user '%s' is FTP user", line.login);
    return kFtpLogType;
  }
  vreport(0, L"FTP user '%s' is not FTP user", line.login);
  return kAnonymousFtpLogType;
}

bool FtpAttribution::isKnownUserAt(std::wstring_view address, std::wstring_view login) {
  if (holdsNul(address) || holdsNul(login)) return false;
  address_.assign(address);
  login_.assign(login);
  return db_.existFtpUserInDomain(address_, login_, true) || db_.existFtpUserInSubDomain(address_, login_, true) ||
         db_.existWebUserInDomain(address_, login_, true) || db_.existSubFtpUserInDomain(address_, login_, true);
}

}  // namespace Statistics
