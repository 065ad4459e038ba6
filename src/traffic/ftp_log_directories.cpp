#include "traffic/ftp_log_directories.h"

#include "platform/exec/command_arguments.h"
#include "platform/exec/exec_util.h"
#include "platform/report/guard.h"

FtpLogDirectories::FtpLogDirectories(ExecSettings& settings) : settings_(settings) {}

std::wstring dottedAddress(uint32_t address) {
  return vformat(L"%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFF, (address >> 8) & 0xFF, address & 0xFF);
}

const std::wstring& FtpLogDirectories::getLogDirectory(uint32_t address) {
  const std::wstring dotted = dottedAddress(address);
  if (auto found = directories_.find(dotted); found != directories_.end()) return found->second;
  std::wstring output;
  try {
    CommandArguments args;
    args.addFixed(L"--get-log-directory").addOption(L"--ip-address=", dotted);
    execUtil(L"viduza", args.text(), &output, nullptr, settings_);
  } catch (...) {
    guard::rethrowAs(vformat(L"getLogDirectory for ip = %s", dotted), VCTX(L"", "getLogDirectory"));
  }
  while (!output.empty() && (output.back() == L'\n' || output.back() == L'\r')) output.pop_back();
  return directories_.emplace(dotted, std::move(output)).first->second;
}
