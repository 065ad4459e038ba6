#pragma once
// FTP attribution of a run: which domain and site an FTP log line belongs to, and whether
// it is the traffic of a known FTP user (log type 2) or anonymous FTP (log type 1). The FTP
// server's log is shared by every domain on its addresses, so each line is attributed by its
// login, else as anonymous FTP by the server address it was served on.
//
// The application owns one instance for the run; it keeps the run's caches (login to site,
// address to anonymous-FTP domain, address to the domain at the address), so that each
// question reaches the database once per run, and it reads the run's host map and domain
// maps, which log collection and domain selection fill. Database failures propagate to the
// caller, which reports the line and goes on.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>

#include "app/domain_info.h"
#include "traffic/host_map.h"
#include "traffic/servu_record.h"
#include "traffic/w3c_record.h"

class CDRDatabase;

namespace Statistics {

class FtpAttribution {
 public:
  static constexpr int kAnonymousFtpLogType = 1;
  static constexpr int kFtpLogType = 2;

  // All four must outlive the object; the maps may change between calls.
  FtpAttribution(CDRDatabase& db, const HostMap& hosts, const DomainMap& domains, const DomainNameMap& domainNames);
  FtpAttribution(const FtpAttribution&) = delete;
  FtpAttribution& operator=(const FtpAttribution&) = delete;

  // Attributes an FTP line. `domain` holds on entry the domain of the log directory (empty
  // for the FTP server's shared directory) and receives the line's domain, `host` its site;
  // both are empty when the line belongs to no domain, and then the caller drops it. By the
  // login's site through the host map; else as anonymous FTP at the line's server address
  // ("s-ip", or the directory domain's address), else the domain at that address. Prints
  // "Anonymous FTP host %s" once per address and run.
  void attributeFtpLine(const W3CRecord& line, std::wstring& domain, std::wstring& host);
  void attributeFtpLine(const ServURecord& line, std::wstring& domain, std::wstring& host);

  // kFtpLogType when the line's login ("cs-username") is a known user at its address
  // ("cs-host" when it is an address, else "s-ip"; without one, when the login has a site),
  // printing "FTP user '%s' is FTP user"; else kAnonymousFtpLogType, printing "FTP user '%s'
  // is not FTP user".
  int classifyFtpLine(const W3CRecord& line);
  int classifyFtpLine(const ServURecord& line);

  // The site of an FTP login (compared lower-cased): "sub.domain" for a subdomain's own FTP
  // account, else the domain whose system, web or FTP user it is, else empty. Cached for the
  // run, empty answers too. The reference stays valid while the object lives.
  const std::wstring& getSiteByLogin(std::wstring_view login);

 private:
  // The fields attribution and classification read, whatever the record kind.
  struct FtpLine {
    std::wstring_view login;
    std::wstring_view serverAddress;
    std::wstring_view host;
  };
  template <class Record>
  static FtpLine fieldsOf(const Record& line) {
    return FtpLine{line.get(L"cs-username"), line.get(L"s-ip"), line.get(L"cs-host")};
  }
  void attribute(const FtpLine& line, std::wstring& domain, std::wstring& host);
  int classify(const FtpLine& line);
  bool isKnownUserAt(std::wstring_view address, std::wstring_view login);
  uint32_t addressOfDomain(const std::wstring& name) const;
  // The anonymous-FTP domain at the address, else the domain at it; each answer cached.
  const std::wstring& domainAtAddress(uint32_t address);

  CDRDatabase& db_;
  const HostMap& hosts_;
  const DomainMap& domains_;
  const DomainNameMap& domainNames_;

  std::map<std::wstring, std::wstring, std::less<>> sites_;
  std::unordered_map<uint32_t, std::wstring> anonymousDomains_;
  std::unordered_map<uint32_t, std::wstring> addressDomains_;

  // Per-line scratch, kept so that answers from the caches cost no allocation.
  std::wstring key_;
  std::wstring setAside_;
  std::wstring address_;
  std::wstring login_;
};

}  // namespace Statistics
