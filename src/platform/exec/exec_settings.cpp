#include "platform/exec/exec_settings.h"

#include "platform/service/cadrosrv_client.h"
#include "platform/report/guard.h"
#include "platform/report/log_manager.h"
#include "platform/service/product_paths.h"
#include "platform/registry/registry.h"
#include "platform/files/vfilename.h"
#include "platform/text/vformat.h"

namespace {

// The kind of componentInfo that answers with the installation directory.
constexpr int32_t kComponentDirectory = 2;

class SystemExecSettings : public ExecSettings {
 public:
  std::wstring productRoot() override { return getProductPath(L"PRODUCT_ROOT_D"); }

  std::wstring componentDirectory(const std::wstring& package) override {
    try {
      return VFileName::withoutTrailingSeparators(
          CadroSrvClient::getInstance().componentInfo(package, kComponentDirectory));
    } catch (...) {
      // Not installed, as far as the caller is concerned; the reason helps in debug mode.
      guard::reportCurrent(0, VCTX(vformat(L"Component %s is not available", package),
                                   "ExecSettings::componentDirectory"));
      return {};
    }
  }

  std::wstring traceFile() override {
    if (!LogManager::instance().debugUtilExec()) return {};
    try {
      std::wstring root;
      if (registry::lookup(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"PRODUCT_ROOT_D", root, REG_SZ, 0) != 0 ||
          root.empty())
        return {};
      return VFileName::combine(VFileName::withoutTrailingSeparators(root), L"tmp/util_exec.log");
    } catch (...) {
      return {};
    }
  }
};

}  // namespace

std::wstring ExecSettings::requiredProductRoot() {
  std::wstring root = productRoot();
  if (root.find_first_not_of(L"/\\") == std::wstring::npos)
    throw vexception(L"The product root directory is not set: the setting PRODUCT_ROOT_D is empty",
                     VCTX(L"", "ExecSettings::requiredProductRoot"));
  return root;
}

ExecSettings& ExecSettings::system() {
  static SystemExecSettings settings;
  return settings;
}
