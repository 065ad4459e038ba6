// Domains by IP address and addresses by domain.
#include "db/cdr_database.h"
#include "db/first_value.h"
#include "db/ip_address.h"
#include "db/sql_id.h"
#include "platform/report/log_manager.h"

namespace {

constexpr const char* kIPByDomainId = "CDRDatabase::getIPByDomainId";
constexpr const char* kDomainByIP = "CDRDatabase::getDomainByIP";

}  // namespace

std::wstring CDRDatabase::getAnonFtpDomainByIP(uint32_t address, std::wstring* name) {
  VRecordSet rows = query(
      L"SELECT d.id, d.name FROM domains d, hosting h, ip_addresses ip, anon_ftp af WHERE (ip_address = '" +
      escape(formatIPAddress(address)) +
      L"') AND h.ip_address_id = ip.id AND (d.htype = 'vrt_hst') AND (af.status = 'true') AND af.dom_id = d.id AND "
      L"h.dom_id = d.id");
  std::wstring domainId;
  std::wstring domainName;
  if (rows.next()) {
    domainId = rows.get(0, {}, true);
    domainName = rows.get(1, {}, true);
  }
  if (name) *name = domainName;
  return domainId;
}

uint32_t CDRDatabase::getIPByDomainId(const std::wstring& domainId, std::wstring* addressText) {
  uint32_t address = 0;
  VRecordSet domains = query(L"SELECT id, name, htype FROM domains WHERE id = " + sqlId(domainId, kIPByDomainId));
  while (address == 0 && domains.next()) {
    std::wstring id;
    if (!domains.lookup(0, id, true)) continue;
    std::wstring htype;
    if (!domains.lookup(2, htype, false)) {
      vreport(1, L"getIPByDomainId: domain %s was found but htype in table domains is null", domainId);
      continue;
    }
    const wchar_t* table = nullptr;
    if (htype == L"vrt_hst")
      table = L"hosting";
    else if (htype == L"std_fwd")
      table = L"forwarding";
    if (!table) {
      vreport(1, L"getIPByDomainId: domain %s was found but htype in table domains wrong(%s)", domainId, htype);
      continue;
    }
    // A record without an address is no better than none, and would not make a statement.
    const std::wstring addressId =
        firstValue(query(std::wstring(L"SELECT ip_address_id FROM ") + table + L" WHERE dom_id = " + sqlId(id, kIPByDomainId)));
    if (addressId.empty()) {
      vreport(1, L"getIPByDomainId: domain %s was found but can't find the appropriate record in table %s", domainId,
              table);
      continue;
    }
    VRecordSet addresses = query(L"SELECT ip_address FROM ip_addresses WHERE id = " + sqlId(addressId, kIPByDomainId));
    if (!addresses.next()) {
      vreport(1,
              L"getIPByDomainId: ipAddressId(%s) for domain %s was found but can't find the appropriate record in "
              L"table ip_addresses",
              addressId, domainId);
      continue;
    }
    std::wstring text;
    if (!addresses.lookup(0, text, false)) {
      vreport(1,
              L"getIPByDomainId: ipAddressId(%s) for domain %s was found but field ip_address in the ip_addresses is "
              L"null",
              addressId, domainId);
      continue;
    }
    address = parseIPAddress(text);
  }
  if (addressText) *addressText = address == 0 ? std::wstring() : formatIPAddress(address);
  return address;
}

std::wstring CDRDatabase::getDomainByIP(uint32_t address, std::wstring* name) {
  if (name) name->clear();
  std::wstring domainId;
  VRecordSet addresses =
      query(L"SELECT id FROM ip_addresses WHERE ip_address = '" + escape(formatIPAddress(address)) + L"'");
  std::wstring addressId;
  while (addresses.next()) {
    if (!addresses.lookup(0, addressId, true)) continue;

    VRecordSet hosted = query(L"SELECT dom_id FROM hosting WHERE ip_address_id = " + sqlId(addressId, kDomainByIP));
    std::wstring hostedId;
    while (hosted.next()) {
      if (!hosted.lookup(0, hostedId, true)) continue;
      // The id and the name always describe the same domain: a later row without a name
      // must not keep the name of an earlier one.
      domainId = hostedId;
      if (name)
        *name = firstNonEmptyValue(query(L"SELECT name FROM domains WHERE htype = 'vrt_hst' and id = " + sqlId(hostedId, kDomainByIP)));
    }

    // A forwarding on the address takes its traffic, whatever is hosted there.
    std::wstring forwardedId = firstNonEmptyValue(query(L"SELECT dom_id FROM forwarding WHERE ip_address_id = " + sqlId(addressId, kDomainByIP)));
    if (!forwardedId.empty()) {
      if (name)
        *name = firstNonEmptyValue(query(L"SELECT name FROM domains WHERE htype = 'std_fwd' and id = " + sqlId(forwardedId, kDomainByIP)));
      return forwardedId;
    }
  }
  return domainId;
}
