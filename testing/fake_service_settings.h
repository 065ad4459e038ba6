#pragma once
// Service settings for tests: answers from a map, a password that can be missing (the
// service failing), and a record of stored passwords.

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "db/service_settings.h"
#include "platform/report/vexception.h"

namespace testing_support {

class FakeServiceSettings : public ServiceSettings {
 public:
  std::map<std::wstring, std::wstring> values;
  // nullopt: getPassword fails as with an unreachable service.
  std::optional<std::wstring> storedPassword;
  bool failSetPassword = false;
  std::vector<std::pair<std::wstring, std::wstring>> passwordsSet;

  std::wstring configString(const std::wstring& name, const std::wstring& defaultValue) override {
    auto it = values.find(name);
    return it == values.end() ? defaultValue : it->second;
  }
  std::wstring password(const std::wstring& key) override {
    if (!storedPassword) throw vexception(L"getPassword('" + key + L"')", VCTX(L"", "CadroSrvClient::getPassword"));
    return *storedPassword;
  }
  void setPassword(const std::wstring& key, const std::wstring& value) override {
    if (failSetPassword) throw vexception(L"setPassword('" + key + L"')", VCTX(L"", "CadroSrvClient::setPassword"));
    passwordsSet.emplace_back(key, value);
  }
};

}  // namespace testing_support
