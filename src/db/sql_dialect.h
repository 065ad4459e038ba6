#pragma once
// SQL that differs between the engines: date literals, "this month", and the retention
// rules. Each helper reads the configured provider name ("CADRO_DATABASE_PROVIDER_NAME",
// "MySQL" by default) when it is called; the forms taking a provider name use that one.
// periodCondition compares the name exactly, the others without regard to case.

#include <cstdint>
#include <string>

class CDRDatabase;

// A date literal for "YYYY-MM-DD": "'date'" on MySQL and SQL Server, "CDate('date')" on
// Jet. Throws "Cadro database provider is not defined" for an empty name and "Cadro
// database provider '%s' is not supported" for an unknown one (operation "formatDate").
std::wstring formatDate(const std::wstring& date);
std::wstring formatDate(const std::wstring& date, const std::wstring& providerName);

// The condition that `tr.date` lies in the current month. Throws "Cadro database provider
// is not defined" or "Cadro database provider '%s' is unknown" (operation
// "getThisYaerAndThisMonthCondition").
std::wstring getThisYaerAndThisMonthCondition();
std::wstring getThisYaerAndThisMonthCondition(const std::wstring& providerName);

// Deletes the domain's DomainsTraffic rows older than `months` months. Nothing happens for
// months of 0 or less (retention unlimited). An empty or unknown provider name is logged at
// level 3 and nothing is executed; statement failures propagate. A domain id that is not a
// decimal integer raises ArgumentException "Invalid identifier '...'".
void deleteOldDomainTraffic(CDRDatabase& database, const std::wstring& domainId, int32_t months);

// Deletes the rows of `table` dated before the previous month. Provider names as above.
void deleteBeforePreviousMonth(CDRDatabase& database, const std::wstring& table);

// The condition that `date` lies more than `count` units ("day", "week", "month"; other
// words pass unchanged) in the past. Never fails: every name other than "MySQL" and "Jet"
// gets the SQL Server form.
std::wstring periodCondition(const std::wstring& unit, int32_t count);
std::wstring periodCondition(const std::wstring& unit, int32_t count, const std::wstring& providerName);
