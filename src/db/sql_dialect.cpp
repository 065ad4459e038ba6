#include "db/sql_dialect.h"

#include "db/cdr_database.h"
#include "db/service_settings.h"
#include "db/sql_id.h"
#include "platform/report/log_manager.h"
#include "platform/text/text_codec.h"
#include "platform/report/vexception.h"
#include "platform/text/vformat.h"

namespace {

enum class Engine { Undefined, MySQL, MSSQL, Jet, Unknown };

Engine engineOf(const std::wstring& providerName) {
  if (providerName.empty()) return Engine::Undefined;
  if (text::equalsNoCase(providerName, L"MySQL")) return Engine::MySQL;
  if (text::equalsNoCase(providerName, L"MSSQL")) return Engine::MSSQL;
  if (text::equalsNoCase(providerName, L"Jet")) return Engine::Jet;
  return Engine::Unknown;
}

constexpr const wchar_t* kNotDefined = L"Cadro database provider is not defined";

// The retention statements skip their work on an unusable provider name, with an error
// report instead of a failure.
bool usableForDelete(Engine engine, const std::wstring& providerName) {
  if (engine == Engine::Undefined) {
    vreport(3, kNotDefined);
    return false;
  }
  if (engine == Engine::Unknown) {
    vreport(3, L"Cadro database engine type '%s' is not supported", providerName);
    return false;
  }
  return true;
}

std::wstring configuredName() { return configuredProviderName(managementServiceSettings()); }

}  // namespace

std::wstring formatDate(const std::wstring& date) { return formatDate(date, configuredName()); }

std::wstring formatDate(const std::wstring& date, const std::wstring& providerName) {
  switch (engineOf(providerName)) {
    case Engine::MySQL:
    case Engine::MSSQL:
      return L"'" + date + L"'";
    case Engine::Jet:
      return L"CDate('" + date + L"')";
    case Engine::Undefined:
      throw vexception(kNotDefined, VCTX(L"", "formatDate"));
    case Engine::Unknown:
      break;
  }
  throw vexception(vformat(L"Cadro database provider '%s' is not supported", providerName), VCTX(L"", "formatDate"));
}

std::wstring getThisYaerAndThisMonthCondition() { return getThisYaerAndThisMonthCondition(configuredName()); }

std::wstring getThisYaerAndThisMonthCondition(const std::wstring& providerName) {
  switch (engineOf(providerName)) {
    case Engine::MySQL:
      return L" YEAR(tr.date) = YEAR(NOW()) AND MONTH(tr.date) = MONTH(NOW()) ";
    case Engine::MSSQL:
      return L" YEAR(tr.date) = YEAR(GETDATE()) AND MONTH(tr.date) = MONTH(GETDATE()) ";
    case Engine::Jet:
      return L" YEAR(tr.date) = YEAR(DATE()) AND MONTH(tr.date) = MONTH(DATE()) ";
    case Engine::Undefined:
      throw vexception(kNotDefined, VCTX(L"", "getThisYaerAndThisMonthCondition"));
    case Engine::Unknown:
      break;
  }
  throw vexception(vformat(L"Cadro database provider '%s' is unknown", providerName),
                   VCTX(L"", "getThisYaerAndThisMonthCondition"));
}

void deleteOldDomainTraffic(CDRDatabase& database, const std::wstring& domainId, int32_t months) {
  // A negative retention would reach into the future and delete every row of the domain.
  if (months <= 0) return;
  const std::wstring providerName = configuredProviderName(database.settings());
  const Engine engine = engineOf(providerName);
  if (!usableForDelete(engine, providerName)) return;
  const wchar_t* format =
      engine == Engine::MySQL
          ? L"delete from DomainsTraffic    where (dom_id=%s) and (date_sub(CURDATE(), interval %d month)>`date`)"
      : engine == Engine::MSSQL
          ? L"delete from DomainsTraffic    where (dom_id=%s) and (dateadd( m, -%d, GETDATE())>`date`)"
          : L"delete from DomainsTraffic    where (dom_id=%s) and (dateadd( 'm', -%d, DATE())>`date`)";
  database.executeFormat(format, sqlId(domainId, "deleteOldDomainTraffic"), months);
}

void deleteBeforePreviousMonth(CDRDatabase& database, const std::wstring& table) {
  const std::wstring providerName = configuredProviderName(database.settings());
  const Engine engine = engineOf(providerName);
  if (!usableForDelete(engine, providerName)) return;
  const wchar_t* condition =
      engine == Engine::MySQL
          ? L"(DATE_SUB(DATE_SUB(CURDATE(), INTERVAL DAYOFMONTH(CURDATE()) DAY), INTERVAL 1 MONTH)) > `date`"
      : engine == Engine::MSSQL ? L"(DATEADD(m, -1, DATEADD(d, -(DAY(GETDATE()) - 1), GETDATE()))) > `date`"
                                : L"(DATEADD('m', -1, DATEADD('d', -(DAY(DATE()) - 1), DATE()))) > `date`";
  database.execute(vformat(L"DELETE FROM `%s` WHERE ", table) + condition);
}

std::wstring periodCondition(const std::wstring& unit, int32_t count) {
  return periodCondition(unit, count, configuredName());
}

std::wstring periodCondition(const std::wstring& unit, int32_t count, const std::wstring& providerName) {
  if (providerName == L"MySQL") {
    // Weeks as days: the count is widened so that a large setting cannot overflow.
    int64_t amount = count;
    std::wstring mysqlUnit = unit;
    if (unit == L"day") {
      mysqlUnit = L"DAY";
    } else if (unit == L"week") {
      mysqlUnit = L"DAY";
      amount *= 7;
    } else if (unit == L"month") {
      mysqlUnit = L"MONTH";
    }
    return vformat(L"`date` < DATE_SUB(CURRENT_DATE(),INTERVAL %I64d %s)", amount, mysqlUnit);
  }
  std::wstring otherUnit = unit;
  if (unit == L"day")
    otherUnit = L"d";
  else if (unit == L"week")
    otherUnit = L"ww";
  else if (unit == L"month")
    otherUnit = L"m";
  if (providerName == L"Jet") return vformat(L" `date` < DATEADD( \"%s\", -%d, DATE() ) ", otherUnit, count);
  return vformat(L" `date` < DATEADD( %s, -%d, GETDATE() ) ", otherUnit, count);
}
