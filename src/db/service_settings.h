#pragma once
// What the database layer asks of the control panel's management service: named settings
// and the stored database password. The management-service implementation is the one the
// program uses; tests install their own to simulate the service's answers and failures.

#include <string>

class ServiceSettings {
 public:
  virtual ~ServiceSettings() = default;
  // The setting `name`, or `defaultValue` when the service cannot answer for any reason.
  // Never throws.
  virtual std::wstring configString(const std::wstring& name, const std::wstring& defaultValue) = 0;
  // The stored password under `key`; throws when the service cannot answer.
  virtual std::wstring password(const std::wstring& key) = 0;
  // Stores a password under `key`; throws on failure.
  virtual void setPassword(const std::wstring& key, const std::wstring& value) = 0;
};

// The settings of the management service (getConfigString and CadroSrvClient). Lives as
// long as the process.
ServiceSettings& managementServiceSettings();

// The configured database engine: "CADRO_DATABASE_PROVIDER_NAME", "MySQL" by default.
// Read anew on every call.
std::wstring configuredProviderName(ServiceSettings& settings);
