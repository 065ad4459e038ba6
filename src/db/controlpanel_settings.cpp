// The control panel's own settings (table misc) and the database servers it manages.
#include "db/cdr_database.h"
#include "db/first_value.h"
#include "db/text_number.h"
#include "platform/report/log_manager.h"

std::wstring CDRDatabase::getMiscParam(const std::wstring& name, const std::wstring& defaultValue) {
  VRecordSet rows = queryFormat(L"SELECT val FROM misc WHERE (param = '%s')", escape(name));
  return rows.next() ? rows.get(0, defaultValue, true) : defaultValue;
}

void CDRDatabase::setMiscParam(const std::wstring& name, const std::wstring& value) {
  const std::wstring escapedName = escape(name);
  provider().replace(vformat(L"DELETE FROM misc WHERE param = '%s'", escapedName),
                     vformat(L"INSERT INTO misc (param, val) VALUES ('%s', '%s')", escapedName, escape(value)));
}

int32_t CDRDatabase::getDefaultServerId(const std::wstring& type) {
  return wcrt::wtoi(getMiscParam(L"default_server_" + type, L""));
}

bool CDRDatabase::getAdminEmail(std::wstring& name, std::wstring& email) {
  name = getMiscParam(L"admin_pname", L"");
  email = getMiscParam(L"admin_email", L"");
  if (!email.empty()) return true;
  vreport(1, L"Admin email is not set.");
  const std::wstring hostName = getMiscParam(L"FullHostName", L"");
  email = hostName.empty() ? std::wstring(L"<Administrator of Cadro server>") : L"root@" + hostName;
  return false;
}

void CDRDatabase::getDatabaseServer(const std::wstring& type, std::wstring& host, std::wstring& login,
                                    std::wstring& password, int32_t& port) {
  // The callers measure database servers in the middle of their own work on this
  // connection; a connection of its own keeps this lookup out of their record sets and
  // transactions.
  CDRDatabase own(true, settings_);
  const int32_t serverId = own.getDefaultServerId(type);
  if (serverId > 0) {
    VRecordSet rows = own.queryFormat(
        L"SELECT `host`, `admin_login`, `admin_password`, `port`  FROM DatabaseServers  WHERE `id`=%d AND `type`='%s'",
        serverId, own.escape(type));
    if (rows.next()) {
      host = rows.get(0, {}, true);
      login = rows.get(1, {}, true);
      password = rows.get(2, {}, true);
      port = wcrt::wtol(rows.get(3, {}, true));
    }
  } else {
    host = own.getMiscParam(type + L"_data_source", L"");
    login = own.getMiscParam(type + L"_admin_login", L"");
    password = own.getMiscParam(type + L"_admin_passwd", L"");
    port = wcrt::wtol(own.getMiscParam(type + L"_port", L""));
  }
  own.provider().disconnect();
}

void CDRDatabase::getMySQLServer(std::wstring& host, std::wstring& login, std::wstring& password, int32_t& port) {
  getDatabaseServer(L"mysql", host, login, password, port);
  if (login.empty()) login = L"root";
  if (host.empty()) host = L"localhost";
  if (port == 0) port = 3306;
}

void CDRDatabase::getMSSQLServer(std::wstring& host, std::wstring& login, std::wstring& password, int32_t& port) {
  getDatabaseServer(L"mssql", host, login, password, port);
  if (login.empty()) login = L"sa";
  if (host.empty()) host = L"localhost";
  // 1443, not SQL Server's usual 1433: the control panel's own default, kept so that both
  // name the same server.
  if (port == 0) port = 1443;
}
