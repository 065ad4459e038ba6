#pragma once
// The limit check: each domain's and each client's disk usage and this month's traffic
// against the limits recorded in the control-panel database, with one event launched for
// every exceeded limit (limit_events.h).
//
// Limits come from `Limits` through the `limits_id` of a domain or client, one row per
// limit name ("disk_space", "max_traffic", "mysql_dbase_space", "mssql_dbase_space"); a
// missing or negative limit is unlimited, 0 is a real limit, and only strictly greater
// usage exceeds it. Domains count when they have a `disk_usage` row and at least one limit;
// a client's usage is the sum over those of its domains, and a client none of whose domains
// counted gets no event. Nothing is stored: an exceeded limit launches its event on every
// check while it stays exceeded.

#include <string>

class CDRDatabase;
class LimitEventLauncher;

// Which directions of traffic count against the traffic limits.
struct CountedTrafficDirections {
  bool incoming = true;
  bool outgoing = true;
};

// The control panel's setting "traffic_accounting" read as an integer T: incoming traffic
// counts when T AND 1 is set, outgoing when T AND 2 is; a value with neither bit (0, empty,
// not a number, 4) counts both.
CountedTrafficDirections trafficAccountingOf(const std::wstring& setting);

// The aggregated query over all domains: per domain its identifier, client, the four
// limits (disk, traffic, MySQL, SQL Server), real size, this month's traffic as
// `accounting` counts it, and its MySQL and SQL Server sizes. `monthCondition` is the
// dialect's condition on `tr.date`; `providerName` chooses the ordering by client.
std::wstring domainLimitsQuery(const CountedTrafficDirections& accounting, const std::wstring& monthCondition,
                               const std::wstring& providerName);

// The clients with at least one limit: identifier and the four limits.
extern const wchar_t kClientLimitsQuery[];

// Runs both queries on `db` and launches the events through `events`: per domain at most
// one traffic event and one size event (disk, MySQL or SQL Server size over its limit),
// then the same per client over its totals. A failing query raises; a failing event is
// reported by the launcher and the check goes on.
void checkLimits(CDRDatabase& db, LimitEventLauncher& events);
