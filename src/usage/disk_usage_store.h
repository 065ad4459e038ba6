#pragma once
// Storing one domain's disk usage: its one row of `disk_usage` and the chargeable total
// `domains.real_size`, computed under the control panel's include settings (`misc`,
// each on only when exactly "true", read afresh for every domain).

#include <string>

#include "usage/disk_space_usage.h"

class CDRDatabase;

// Reports the measured values, then replaces the domain's `disk_usage` row and sets its
// `real_size`. With "not_count_mail_disk_usage" on, the stored `mailboxes` and `maillists`
// are those of the domain's previous row (0 without one); otherwise `mailboxes` is the
// measured value and `maillists` 0. `real_size` is httpdocs + anonftp + web_users plus each
// component whose include setting is on. Runs inside the caller's transaction; statement
// failures raise. `domainId` is pasted into SQL as it stands.
void saveDiskSpaceUsage(CDRDatabase& db, const std::wstring& domainName, const std::wstring& domainId,
                        const DiskSpaceUsage& usage);
