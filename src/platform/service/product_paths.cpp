#include "platform/service/product_paths.h"

#include <mutex>
#include <optional>
#include <string_view>

#include "platform/service/cadrosrv_client.h"
#include "platform/registry/registry.h"

namespace {

std::mutex& rootMutex() {
  static std::mutex m;
  return m;
}

std::optional<std::wstring>& keptRoot() {
  static std::optional<std::wstring> root;
  return root;
}

std::wstring askProductPath(const std::wstring& name) {
  return registry::normalizeProductPath(CadroSrvClient::getInstance().getString(name));
}

std::wstring readComponentValue(const std::wstring& key, const std::wstring& valueName) {
  std::wstring value;
  if (registry::lookup(HKEY_LOCAL_MACHINE, key, valueName, value, REG_SZ, 0) != 0) return {};
  return value;
}

}  // namespace

std::wstring getProductPath(const std::wstring& name) {
  if (name != L"PRODUCT_ROOT_D") return askProductPath(name);
  std::lock_guard<std::mutex> lock(rootMutex());
  std::optional<std::wstring>& root = keptRoot();
  if (!root) root = askProductPath(name);
  return *root;
}

void resetProductPathCache() {
  std::lock_guard<std::mutex> lock(rootMutex());
  keptRoot().reset();
}

std::wstring getComponentValue(const std::wstring& component) {
  return readComponentValue(std::wstring(registry::kPackagesKey) + L"\\" + component, L"");
}

std::wstring getComponentValue(const std::wstring& component, const std::wstring& subEntry,
                               const std::wstring& valueName) {
  return readComponentValue(std::wstring(registry::kPackagesKey) + L"\\" + component + L"\\" + subEntry, valueName);
}
