#pragma once
// ExecSettings with answers set by the test: product root, component directories and the
// trace file, with no management service or registry behind them.

#include <map>
#include <string>

#include "platform/exec/exec_settings.h"

namespace testing_support {

class FakeExecSettings : public ExecSettings {
 public:
  std::wstring root;
  std::map<std::wstring, std::wstring> components;  // package -> directory
  std::wstring trace;                               // empty: tracing off

  std::wstring productRoot() override { return root; }
  std::wstring componentDirectory(const std::wstring& package) override {
    auto it = components.find(package);
    return it == components.end() ? std::wstring() : it->second;
  }
  std::wstring traceFile() override { return trace; }
};

}  // namespace testing_support
