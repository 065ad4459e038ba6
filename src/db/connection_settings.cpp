#include "db/connection_settings.h"

#include <cstdlib>
#include <optional>

#include "db/service_settings.h"
#include "db/text_number.h"
#include "platform/text/text_codec.h"

namespace {

std::optional<std::wstring> environmentValue(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) return std::nullopt;
  return text::fromAnsi(value);
}

std::wstring environmentOrSetting(const char* variable, ServiceSettings& settings, const wchar_t* setting,
                                  const wchar_t* defaultValue) {
  if (auto value = environmentValue(variable)) return *value;
  return settings.configString(setting, defaultValue);
}

}  // namespace

ConnectionSettings resolveConnectionSettings(const std::wstring& host, ServiceSettings& settings) {
  ConnectionSettings resolved;
  resolved.host = !host.empty() ? host : environmentOrSetting("CADRO_DB_HOST", settings, L"MySQL_DB_HOST", L"localhost");
  resolved.login = environmentOrSetting("CADRO_DB_LOGIN", settings, L"CADRO_DATABASE_LOGIN", L"admin");
  resolved.database = environmentOrSetting("CADRO_DB_NAME", settings, L"mySQLDBName", L"cdr");
  if (auto password = environmentValue("CADRO_DB_PASSWD"))
    resolved.password = *password;
  else
    resolved.password = settings.password(L"pwd");
  resolved.port = wcrt::wtol(environmentOrSetting("CADRO_DB_PORT", settings, L"MySQL_DB_PORT", L"8306"));
  if (auto socket = environmentValue("CADRO_DB_SOCK")) resolved.socket = *socket;
  return resolved;
}
