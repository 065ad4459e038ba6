#include "maintenance/action_log_rotation.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <string>

#include "db/cdr_database.h"
#include "db/mysql_provider.h"
#include "db/service_settings.h"
#include "db/sql_dialect.h"
#include "db/text_number.h"
#include "platform/report/log_manager.h"

namespace {

constexpr const char* kOperation = "rotateActionLog";
constexpr const wchar_t* kMySQL = L"MySQL";

// The type setting; a failure to read it means no rotation.
std::wstring rotationType(CDRDatabase& database) {
  try {
    return database.getMiscParam(L"actionlog_rot_type", L"");
  } catch (...) {
    return {};
  }
}

// The cut-off condition of "by_number", or nothing when no action is to go.
std::optional<std::wstring> byNumberCondition(CDRDatabase& database, const std::wstring& providerName) {
  const uint64_t keep = wcrt::wcstoui64(database.getMiscParam(L"actionlog_rot_num_records", L""));
  if (keep == 0) return std::nullopt;

  VRecordSet rows;
  if (providerName == kMySQL) {
    // The limit is a 32-bit number; a larger count is held at its largest value, which no
    // table reaches, instead of wrapping to a small or negative limit.
    const auto limit = static_cast<int32_t>(std::min<uint64_t>(keep, std::numeric_limits<int32_t>::max()));
    rows = database.queryFormat(L"SELECT `date` FROM log_actions ORDER BY `date` DESC LIMIT %ld", limit);
    if (static_cast<uint64_t>(rows.rowCount()) < keep) return std::nullopt;
    if (!rows.last()) {
      vreport(3, vexception(L"Unable to get last record from query", VCTX(L"", kOperation)));
      return std::nullopt;
    }
  } else {
    VRecordSet count = database.query(L"SELECT count(*) FROM log_actions");
    if (!count.next() || wcrt::wcstoui64(count.get(0)) < keep) return std::nullopt;
    rows = database.query(L"SELECT `date` FROM log_actions ORDER BY `date` DESC ");
    for (uint64_t i = 0; i < keep; ++i) rows.next();
    if (!rows.next()) return std::nullopt;
  }
  // The value comes from the table and goes back into a statement between quotes.
  return L"`date` < " + formatDate(database.escape(rows.get(0, L"", true)), providerName);
}

void deleteActions(CDRDatabase& database, const std::wstring& providerName, const std::wstring& condition) {
  if (providerName == kMySQL && compareDottedVersions(database.provider().version(), L"4.0.0") < 0) {
    VRecordSet ids = database.query(L"SELECT id FROM log_actions WHERE " + condition);
    while (ids.next())
      database.execute(L"DELETE FROM log_components WHERE action_id = " +
                       std::to_wstring(wcrt::wtoi64(ids.get(0))));
  } else if (providerName == kMySQL) {
    database.execute(
        L" DELETE FROM log_components    USING log_components, log_actions    WHERE log_components.action_id = "
        L"log_actions.id AND (" +
        condition + L")");
  } else {
    database.executeFormat(
        L"delete from log_components WHERE exists( SELECT log_actions.id FROM log_actions WHERE "
        L"log_components.action_id = log_actions.id AND (%s) )",
        condition);
  }
  database.execute(L"DELETE FROM log_actions WHERE " + condition);
}

}  // namespace

void rotateActionLog(CDRDatabase& database) {
  const std::wstring type = rotationType(database);
  const std::wstring providerName = configuredProviderName(database.settings());
  std::optional<std::wstring> condition;
  if (type == L"by_period") {
    condition = periodCondition(database.getMiscParam(L"actionlog_rot_period", L""),
                                wcrt::wtol(database.getMiscParam(L"actionlog_rot_num_periods", L"")), providerName);
  } else if (type == L"by_number") {
    condition = byNumberCondition(database, providerName);
  }
  // "forever" and every other value keep the whole log.
  if (condition) deleteActions(database, providerName, *condition);
}

void rotateActionLog() { rotateActionLog(CDRDatabase::shared()); }
