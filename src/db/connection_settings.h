#pragma once
// Where the control-panel database is: resolved from the environment, then the management
// service, then the defaults, anew for every connection.

#include <cstdint>
#include <string>

class ServiceSettings;

struct ConnectionSettings {
  std::wstring host;
  std::wstring database;
  std::wstring login;
  std::wstring password;
  int32_t port = 0;
  // MySQL socket (or named pipe) name; empty when unused.
  std::wstring socket;
};

// Resolves the settings. Environment variables count only when set and not empty:
//   host     "CADRO_DB_HOST" (only when `host` is empty, else `host` itself),
//            else setting "MySQL_DB_HOST", else "localhost";
//   login    "CADRO_DB_LOGIN", else setting "CADRO_DATABASE_LOGIN", else "admin";
//   database "CADRO_DB_NAME", else setting "mySQLDBName", else "cdr";
//   password "CADRO_DB_PASSWD", else the stored password "pwd" (its failure propagates);
//   port     "CADRO_DB_PORT", else setting "MySQL_DB_PORT", else "8306" (as _wtol);
//   socket   "CADRO_DB_SOCK", else empty.
ConnectionSettings resolveConnectionSettings(const std::wstring& host, ServiceSettings& settings);
