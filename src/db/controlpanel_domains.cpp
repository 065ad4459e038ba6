// Domains, their subdomains, aliases and DNS host records.
#include "db/cdr_database.h"
#include "db/first_value.h"
#include "db/sql_id.h"
#include "db/text_number.h"
#include "platform/report/idn_name.h"
#include "platform/report/vexception.h"

bool CDRDatabase::existSubdomain(const std::wstring& domainId, const std::wstring& name) {
  VRecordSet rows = query(L"SELECT COUNT(*) FROM subdomains s, domains d WHERE s.dom_id = d.id AND (d.id = " + sqlId(domainId, "CDRDatabase::existSubdomain") +
                          L") AND (s.name = '" + escape(name) + L"')");
  return wcrt::wtoi(firstValue(rows)) > 0;
}

VRecordSet CDRDatabase::getSubdomains(const std::wstring& domainId) {
  return query(
      L"SELECT s.id, s.dom_id, s.sys_user_type, s.name, s.displayName, s.server_id, u.login, a.password, "
      L"s.coldfusion, s.ssi, s.ssi_html, s.php, s.php_handler_type, s.php_version, s.cgi, s.perl, s.python, s.asp, "
      L"s.asp_dot_net, s.managed_runtime_version, s.miva, s.fp, s.fp_enable, s.fp_no_index, s.htype, s.www_root, "
      L"s.webstat FROM ( subdomains s INNER JOIN sys_users u ON u.id = s.sys_user_id ) LEFT OUTER JOIN accounts a "
      L"ON a.id = u.account_id WHERE (s.dom_id = " +
      sqlId(domainId, "CDRDatabase::getSubdomains") + L")");
}

VRecordSet CDRDatabase::getDomainAliases(const std::wstring& domainId) {
  return query(L"SELECT da.id, da.name, da.displayName, da.web, da.mail, da.status FROM domain_aliases da WHERE (da.dom_id = " +
               sqlId(domainId, "CDRDatabase::getDomainAliases") + L")");
}

bool CDRDatabase::existDomainAlias(const std::wstring& name) {
  VRecordSet rows = query(L"SELECT COUNT(*) FROM domain_aliases da WHERE (da.name = '" + escape(name) + L"')");
  return wcrt::wtoi(firstValue(rows)) > 0;
}

bool CDRDatabase::hasDnsHostWithoutSubdomain(const std::wstring& domainId, const std::wstring& label) {
  // The label is a fixed host name of the callers; escaping keeps any other one harmless.
  const std::wstring escapedLabel = escape(label);
  const std::wstring condition = provider().providerName() == L"MySQL"
                                     ? L"(dns.host = CONCAT('" + escapedLabel + L".', d.name, '.'))"
                                     : L"(dns.host = ('" + escapedLabel + L".' + d.name + '.'))";
  VRecordSet rows = query(
      L"SELECT COUNT(*) FROM domains d, dns_recs dns WHERE d.dns_zone_id = dns.dns_zone_id AND (d.id = " +
      sqlId(domainId, "CDRDatabase::hasDnsHostWithoutSubdomain") + L") AND ((dns.type = 'A') OR (dns.type = 'CNAME')) AND " + condition);
  return wcrt::wtoi(firstValue(rows)) > 0 && !existSubdomain(domainId, label);
}

std::wstring CDRDatabase::getBaseDomainName(const std::wstring& name) {
  const std::wstring escaped = escape(name);
  VRecordSet aliased =
      query(L"SELECT d.name FROM domain_aliases da, domains d WHERE da.dom_id = d.id AND (da.name = '" + escaped + L"')");
  if (aliased.next()) return aliased.get(0, {}, true);
  VRecordSet count = query(L"SELECT COUNT(*) FROM domains d WHERE (d.name = '" + escaped + L"')");
  if (wcrt::wtoi(firstValue(count)) > 0) return name;
  throw vexception(L"Cannot find base domain for '" + name + L"'", VCTX(L"", "CDRDatabase::getBaseDomainName"));
}

std::wstring CDRDatabase::getBaseDomainID(const std::wstring& name) {
  const std::wstring escaped = escape(name);
  VRecordSet aliased = query(L"SELECT da.dom_id FROM domain_aliases da WHERE (da.name = '" + escaped + L"')");
  if (aliased.next()) return aliased.get(0, {}, true);
  VRecordSet domain = query(L"SELECT d.id FROM domains d WHERE (d.name = '" + escaped + L"')");
  if (domain.next()) return domain.get(0, {}, true);
  throw ArgumentException(L"Cannot find base domain for '" + idn::toUnicode(name) + L"'",
                          VCTX(L"", "CDRDatabase::getBaseDomainID"));
}
