#pragma once
// What the generator runs of the analyser writers need to know of the installation and of
// the run: where the generators, Perl and the domains' directories are, whether the run is
// verbose, the host names AWStats is to count for a host, and the run's list of files
// deleted at its end. The system settings ask the management service and the
// control-panel database; tests give their own.

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/domain_info.h"
#include "traffic/domain2subdomain.h"

class CDRDatabase;

class AnalyserRunSettings {
 public:
  virtual ~AnalyserRunSettings() = default;

  // The product paths (normalised, "/"-separated): HTTPD_VHOSTS_D, AWStatsPath,
  // WebalizerPath, PRODUCT_ROOT_D. Raise when they cannot be asked.
  virtual std::wstring vhostsRoot() = 0;
  virtual std::wstring awstatsRoot() = 0;
  virtual std::wstring webalizerProgram() = 0;
  virtual std::wstring productRoot() = 0;
  // The installation directory of the "perl" component; empty when it is not installed.
  virtual std::wstring perlDirectory() = 0;
  // Whether the run was asked for "--verbose".
  virtual bool verbose() = 0;

  // The names of the aliases of the domain `domainName`.
  virtual std::vector<std::wstring> domainAliases(const std::wstring& domainName) = 0;
  // Whether the host `hostName` has a "www" record: the selected domain's flag, and true
  // for a host that is not one of the selected domains.
  virtual bool hasWwwRecord(const std::wstring& hostName) = 0;
  // The lower-cased names of the domain's subdomains, in ascending order (labels, as the
  // control panel stores them).
  virtual std::set<std::wstring> subdomainNames(const std::wstring& domainName) = 0;

  // Adds `path` to the run's list of files deleted at the end of the run.
  virtual void deleteAtEndOfRun(const std::wstring& path) = 0;
};

// The settings of a running program: the management service for the paths, `db` for the
// aliases and (through a resolver of its own, asked once per domain) the subdomains, the
// run's selected domains for the "www" flags; each path is asked once and kept for the run.
// The references must outlive the object.
class SystemAnalyserRunSettings : public AnalyserRunSettings {
 public:
  SystemAnalyserRunSettings(CDRDatabase& db, const DomainMap& domains, const DomainNameMap& domainNames, bool verbose,
                            std::vector<std::wstring>& deleteList);

  std::wstring vhostsRoot() override;
  std::wstring awstatsRoot() override;
  std::wstring webalizerProgram() override;
  std::wstring productRoot() override;
  std::wstring perlDirectory() override;
  bool verbose() override { return verbose_; }
  std::vector<std::wstring> domainAliases(const std::wstring& domainName) override;
  bool hasWwwRecord(const std::wstring& hostName) override;
  std::set<std::wstring> subdomainNames(const std::wstring& domainName) override;
  void deleteAtEndOfRun(const std::wstring& path) override { deleteList_.push_back(path); }

 private:
  // The kept answer for the product path `name`, asked the first time; a failure is not kept.
  static const std::wstring& keptPath(std::optional<std::wstring>& kept, const wchar_t* name);

  CDRDatabase& db_;
  std::optional<std::wstring> vhostsRoot_, awstatsRoot_, webalizerProgram_;
  Statistics::Domain2Subdomain resolver_;
  const DomainMap& domains_;
  const DomainNameMap& domainNames_;
  bool verbose_;
  std::vector<std::wstring>& deleteList_;
};
