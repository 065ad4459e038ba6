#pragma once
// The disk-usage step of a run: every selected domain in map order, each under its own
// "DiskUsageStatus" business lock, measured and then stored in one transaction.

#include "app/domain_info.h"
#include "usage/disk_space_calculator.h"

class CDRDatabase;

// For each domain, wrapped so that its failure is reported (level 3, context "Calculate
// domain <name> disk space") and the next domain follows: takes the domain's lock (a lock
// held by another live run fails the domain), reports "Disk space for domain <name>",
// measures it, and stores the result between beginTransaction and commitTransaction (a
// failed store is rolled back, so the previous row and real_size stay). The lock is given
// back afterwards; a failure to give it back is ignored.
void calculateDomainsDiskSpace(CDRDatabase& db, const DomainMap& domains,
                               DiskUsageSources sources = DiskUsageSources::standard());
