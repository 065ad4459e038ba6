#include "usage/disk_usage_store.h"

#include "db/cdr_database.h"
#include "db/text_number.h"
#include "platform/report/log_manager.h"
#include "usage/disk_space_calculator.h"
#include "usage/saturated_add.h"

void saveDiskSpaceUsage(CDRDatabase& db, const std::wstring& domainName, const std::wstring& domainId,
                        const DiskSpaceUsage& usage) {
  vreport(0,
          L"Results calculateDiskSpace for domain %s: httpdocs=%I64d, anonftp=%I64d, logs=%I64d, mysql_dbases=%I64d, "
          L"mssql_dbases=%I64d, mailboxes=%I64d, webapps=%I64d, webusers=%I64d",
          domainName, usage.httpdocs, usage.anonftp, usage.logs, usage.mysql_dbases, usage.mssql_dbases,
          usage.mailboxes, usage.webapps, usage.web_users);
  vreport(0, L"Save disk_usage results...");

  int64_t mailboxes = usage.mailboxes;
  int64_t maillists = 0;
  if (diskUsageSettingOn(db, L"not_count_mail_disk_usage")) {
    mailboxes = 0;
    VRecordSet previous = db.queryFormat(L"SELECT mailboxes, maillists FROM `disk_usage` where dom_id=%s", domainId);
    if (previous.next()) {
      mailboxes = wcrt::wtoi64(previous.get(0, L"0"));
      maillists = wcrt::wtoi64(previous.get(1, L"0"));
    }
  }

  const std::wstring insert = vformat(
      L"insert into disk_usage ( dom_id, httpdocs, anonftp, logs, mysql_dbases, mssql_dbases, mailboxes, webapps, "
      L"maillists, domaindumps, web_users ) VALUES( '%s', '%I64d',  '%I64d', '%I64d', '%I64d', '%I64d', '%I64d',  "
      L"'%I64d', '%I64d', '%I64d', '%I64d' )",
      domainId, usage.httpdocs, usage.anonftp, usage.logs, usage.mysql_dbases, usage.mssql_dbases, mailboxes,
      usage.webapps, maillists, usage.domaindumps, usage.web_users);
  const std::wstring remove = vformat(L"delete from disk_usage where disk_usage.dom_id = %s", domainId);
  db.provider().replace(remove, insert);

  int64_t realSize = usage.httpdocs;
  addSaturated(realSize, usage.anonftp);
  addSaturated(realSize, usage.web_users);
  const std::pair<const wchar_t*, int64_t> included[] = {
      {L"include_mysql_databases", usage.mysql_dbases}, {L"include_mssql_databases", usage.mssql_dbases},
      {L"include_logs", usage.logs},                    {L"include_mailboxes", mailboxes},
      {L"include_maillists", maillists},                {L"include_webapps", usage.webapps},
      {L"include_domaindumps", usage.domaindumps},
  };
  for (const auto& [setting, value] : included)
    if (diskUsageSettingOn(db, setting)) addSaturated(realSize, value);

  const std::wstring update = vformat(L"update domains set real_size=%I64d where id=%s", realSize, domainId);
  vreport(0, L"%s", update);
  db.execute(update);
}
