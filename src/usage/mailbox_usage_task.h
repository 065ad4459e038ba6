#pragma once
// The mailbox-usage step of a run: every selected domain in map order, each under its own
// "MailBoxUsageStatus" business lock, measured and then stored in one transaction.

#include "app/domain_info.h"
#include "traffic/mail_provider_loader.h"

class CDRDatabase;

// For each domain, wrapped so that its failure is reported (level 3, context "Calculate
// domain <name> mailbox usage") and the next domain follows: takes the domain's lock (a
// lock held by another live run fails the domain), reports "Mailbox usage for domain
// <name>", measures its mailboxes and stores the sizes between beginTransaction and
// commitTransaction (a failed store is rolled back, so every mailbox of the domain keeps
// its value). The lock is given back afterwards; a failure to give it back is ignored.
void calculateDomainsMailBoxUsage(CDRDatabase& db, const DomainMap& domains,
                                  mailmng::ProviderSource source = mailmng::standardProviderSource());
