#include "db/service_settings.h"

#include "platform/service/cadrosrv_client.h"

namespace {

class ManagementServiceSettings : public ServiceSettings {
 public:
  std::wstring configString(const std::wstring& name, const std::wstring& defaultValue) override {
    return getConfigString(name, defaultValue);
  }
  std::wstring password(const std::wstring& key) override { return CadroSrvClient::getInstance().getPassword(key); }
  void setPassword(const std::wstring& key, const std::wstring& value) override {
    CadroSrvClient::getInstance().setPassword(key, value);
  }
};

}  // namespace

ServiceSettings& managementServiceSettings() {
  static ManagementServiceSettings settings;
  return settings;
}

std::wstring configuredProviderName(ServiceSettings& settings) {
  return settings.configString(L"CADRO_DATABASE_PROVIDER_NAME", L"MySQL");
}
