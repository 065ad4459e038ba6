#pragma once
// The disk usage of one domain, split into the components the control panel charges
// separately: byte counts, all zero at the start and only ever added to while the domain
// is measured (so a step that fails part-way keeps what it had counted).

#include <cstdint>

struct DiskSpaceUsage {
  int64_t httpdocs = 0;      // web content, and everything not claimed by another component
  int64_t anonftp = 0;       // anonymous FTP area and the "bin" directory
  int64_t logs = 0;          // configuration, statistics and log directories
  int64_t mysql_dbases = 0;  // data and index length of the domain's MySQL databases
  int64_t mssql_dbases = 0;  // sizes of the domain's SQL Server databases
  int64_t mailboxes = 0;     // the domain's mailbox usage as stored in the `mail` table
  int64_t webapps = 0;       // the domain's Tomcat web-application directory
  int64_t web_users = 0;     // the web users' directories
  int64_t domaindumps = 0;   // the domain's backup dumps, as the backup component reports them

  bool operator==(const DiskSpaceUsage&) const = default;
};

// One of the components, as a member of the record.
using DiskSpaceComponent = int64_t DiskSpaceUsage::*;
