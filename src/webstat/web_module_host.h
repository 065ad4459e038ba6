#pragma once
// What the program offers its web statistics modules (see <cadro/statistics_module.h>):
// reports go to the program's one log manager, under its switch table, and files go into a
// domain's statistics directory, <web hosts root>/<domain>/statistics, a tree the domain's
// owner controls: no symbolic link below the web hosts root is followed on the way there,
// and the file is replaced by a rename, never written through whatever stands under its
// name.

#include <functional>
#include <string>

#include <cadro/statistics_module.h>

class WebModuleHost : public Statistics::ModuleHost {
 public:
  // The web hosts root (HTTPD_VHOSTS_D). May raise.
  using VhostsRoot = std::function<std::wstring()>;

  // Without `vhostsRoot` the root is asked from the management service at each write.
  explicit WebModuleHost(VhostsRoot vhostsRoot = {});

  uint32_t interfaceVersion() const noexcept override { return Statistics::kModuleInterfaceVersion; }
  void report(int level, std::wstring_view message) noexcept override;
  bool writeStatisticsFile(std::wstring_view domain, std::wstring_view fileName, std::string_view content,
                           std::wstring& error) noexcept override;

 private:
  VhostsRoot vhostsRoot_;
};

// The modules configuration of the running program: "statistics.modules" in the directory
// of its executable.
std::wstring webModulesConfigurationPath();
