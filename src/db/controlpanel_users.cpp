// Which domain a system, web or FTP login belongs to.
#include "db/cdr_database.h"
#include "db/first_value.h"
#include "platform/report/vexception.h"

namespace {

// The statements share their tail; `fixedPart` ends with "AND ".
bool countUsers(CDRDatabase& db, const wchar_t* fixedPart, const std::wstring& ip, const std::wstring& login,
                bool activeOnly, const char* operation) {
  std::wstring sql = fixedPart;
  if (activeOnly) sql += L"(d.status = 0) AND ";
  // The address comes from log lines as well; escaping leaves a real address unchanged.
  sql += L"(u.login = '" + db.escape(login) + L"') AND (ip.ip_address = '" + db.escape(ip) + L"')";
  VRecordSet rows = db.query(sql);
  if (!rows.next()) throw vexception(L"Unexpected behavior MySQL", VCTX(L"", operation));
  return rows.get(0, {}, true) != L"0";
}

}  // namespace

bool CDRDatabase::existFtpUserInDomain(const std::wstring& ip, const std::wstring& login, bool activeOnly) {
  return countUsers(*this,
                    L"SELECT COUNT(*) FROM sys_users u, domains d, hosting h, IP_Addresses ip WHERE h.sys_user_id = u.id "
                    L"AND d.id = h.dom_id AND h.ip_address_id = ip.id AND (d.htype = 'vrt_hst') AND ",
                    ip, login, activeOnly, "CDRDatabase::existFtpUserInDomain");
}

bool CDRDatabase::existFtpUserInSubDomain(const std::wstring& ip, const std::wstring& login, bool activeOnly) {
  return countUsers(*this,
                    L"SELECT COUNT(*) FROM hosting h, domains d, IP_Addresses ip, subdomains s, sys_users u WHERE "
                    L"h.dom_id = d.id AND h.ip_address_id = ip.id AND d.id = s.dom_id AND s.sys_user_id = u.id AND "
                    L"(s.sys_user_type = 'native') AND (d.htype = 'vrt_hst') AND ",
                    ip, login, activeOnly, "CDRDatabase::existFtpUserInSubDomain");
}

bool CDRDatabase::existWebUserInDomain(const std::wstring& ip, const std::wstring& login, bool activeOnly) {
  return countUsers(*this,
                    L"SELECT COUNT(*) FROM hosting h, domains d, IP_Addresses ip, web_users w, sys_users u WHERE "
                    L"h.dom_id = d.id AND h.ip_address_id = ip.id AND d.id = w.dom_id AND w.sys_user_id = u.id AND "
                    L"(d.htype = 'vrt_hst') AND ",
                    ip, login, activeOnly, "CDRDatabase::existWebUserInDomain");
}

bool CDRDatabase::existSubFtpUserInDomain(const std::wstring& ip, const std::wstring& login, bool activeOnly) {
  return countUsers(*this,
                    L"SELECT COUNT(*) FROM hosting h, domains d, IP_Addresses ip, ftp_users f, sys_users u WHERE "
                    L"h.dom_id = d.id AND h.ip_address_id = ip.id AND d.id = f.dom_id AND f.sys_user_id = u.id AND "
                    L"(d.htype = 'vrt_hst') AND ",
                    ip, login, activeOnly, "CDRDatabase::existSubFtpUserInDomain");
}

std::wstring CDRDatabase::getDomainNameByLogin(const std::wstring& login) {
  const std::wstring escaped = escape(login);
  static const wchar_t* const kStatements[] = {
      L"SELECT d.name FROM domains d, hosting h, sys_users u WHERE h.dom_id = d.id AND h.sys_user_id = u.id AND "
      L"(u.login = '%s')",
      L"SELECT d.name FROM domains d, web_users w, sys_users u WHERE w.dom_id = d.id AND w.sys_user_id = u.id AND "
      L"(u.login = '%s')",
      L"SELECT d.name FROM domains d, ftp_users f, sys_users u WHERE f.dom_id = d.id AND f.sys_user_id = u.id AND "
      L"(u.login = '%s')",
  };
  for (const wchar_t* statement : kStatements) {
    VRecordSet rows = queryFormat(statement, escaped);
    std::wstring name;
    if (rows.next() && rows.lookup(0, name, true)) return name;
  }
  return {};
}
