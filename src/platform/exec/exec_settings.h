#pragma once
// What starting programs needs to know about the installation: where the control panel
// lives, where its script interpreters are installed, and whether launches are traced.
// The system settings ask the management service and the registry; tests give their own.

#include <string>

class ExecSettings {
 public:
  virtual ~ExecSettings() = default;

  // The product root (the service's "PRODUCT_ROOT_D", normalised): utilities are
  // <root>/admin/bin/NAME, the control panel's PHP is <root>/admin/bin/php. Raises when it
  // cannot be asked.
  virtual std::wstring productRoot() = 0;

  // productRoot(), refused when it names no directory (empty, or only separators: the
  // service answered "", "/" or "//"), since every path built on it would then be taken
  // relative to the working directory. Raises "The product root directory is not set: the
  // setting PRODUCT_ROOT_D is empty" (operation "ExecSettings::requiredProductRoot").
  std::wstring requiredProductRoot();

  // The installation directory of the component package `package` ("perl", "python",
  // "php"), without trailing separators; empty when it is not installed (an empty answer
  // or a failing question). Never raises.
  virtual std::wstring componentDirectory(const std::wstring& package) = 0;

  // The trace file "<PRODUCT_ROOT_D>/tmp/util_exec.log", with the product root taken from
  // the registry value "PRODUCT_ROOT_D" under the configuration key, when "DebugUtilExec"
  // is "true"; empty when tracing is off or the root is unknown. Asked once per launch.
  // Never raises.
  virtual std::wstring traceFile() = 0;

  // The settings of the running system (management service, registry, log manager).
  static ExecSettings& system();
};
