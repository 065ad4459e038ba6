#pragma once
// The registry state of domains that no longer exist: each per-domain key under
// "DomainIds" holds a domain's log windows and lock states, and outlives the domain when
// the control panel deletes it.

class CDRDatabase;

// Deletes every subkey of the domain state key whose name is a decimal number that is no
// identifier in the domains table, with all its values. Every domain the table still holds
// keeps its key, whatever its status: a domain that is not selected today (suspended,
// filtered out) must find its windows again when it is, or its old logs would be counted
// twice. Failures pass to the caller with the context "Remove old domain states"
// (operation "statistics::cleanDomainStats"); a key that cannot be deleted is reported at
// level 1 and the next one follows.
void cleanDomainStats(CDRDatabase& db);
