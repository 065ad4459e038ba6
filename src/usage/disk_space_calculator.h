#pragma once
// The measurement of one domain's disk usage: its directory tree under HTTPD_VHOSTS_D, its
// MySQL and SQL Server databases, its backup dumps, its mailboxes (as the `mail` table
// holds them) and its Tomcat applications. Every step but the directory scan and the
// Tomcat step reports its own failure and lets the next step run.

#include <functional>
#include <memory>
#include <string>

#include "app/domain_info.h"
#include "db/ado/engine.h"
#include "usage/database_sizes.h"
#include "usage/disk_space_usage.h"
#include "usage/dump_repository_loader.h"

class CDRDatabase;

// Where the measurement reaches what lies outside the control-panel database. The defaults
// are the program's own; tests put their fakes in their place.
struct DiskUsageSources {
  // A product path by name ("HTTPD_VHOSTS_D", "CATALINA_HOME"), asked at each use.
  std::function<std::wstring(const std::wstring&)> productPath;
  // A provider for the default MySQL server.
  MySQLServerFactory mysqlServer;
  // The ADO engines the SQL Server sizes are read through (null: the platform's).
  std::shared_ptr<const ado::EngineCatalog> adoEngines;

  // The program's own: getProductPath, IDatabaseProvider::Create("MySQL"), the platform's
  // ADO engines.
  static DiskUsageSources standard();
};

class DiskSpaceCalculator {
 public:
  // `db` answers the control-panel queries and must outlive the calculator.
  explicit DiskSpaceCalculator(CDRDatabase& db, DiskUsageSources sources = DiskUsageSources::standard());

  // Measures `domain` (its identifier is pasted into SQL as it stands). The database, dump
  // and mailbox steps report their failures ("Count MySQL databases sizes", "Count MSSQL
  // databases sizes", "Count Backup dump disk space" at level 3, "Count mailboxes sizes for
  // domain <name>" at level 0) and go on; a failure of the directory scan or of the Tomcat
  // step raises "calculateDiskSpace domainName=<name>, domainId=<id>" around it.
  DiskSpaceUsage calculateDiskSpace(const DomainInfo& domain);

 private:
  void countDirectories(const std::wstring& name, DiskSpaceUsage& usage);
  void countDumps(const std::wstring& guid, DiskSpaceUsage& usage);
  void countMailboxes(const std::wstring& id, DiskSpaceUsage& usage);
  void countTomcat(const std::wstring& name, const std::wstring& id, DiskSpaceUsage& usage);

  CDRDatabase& db_;
  DiskUsageSources sources_;
  DumpRepositoryLoader dumps_;
};

// The setting `name` of the control panel's `misc` table is exactly "true".
bool diskUsageSettingOn(CDRDatabase& db, const wchar_t* name);
