#include "traffic/log_window.h"

#include "platform/registry/registry.h"

namespace {

std::wstring storedText(const std::wstring& key, const wchar_t* valueName) {
  std::wstring text;
  if (registry::lookup(HKEY_LOCAL_MACHINE, key, valueName, text, REG_SZ, 0) != 0) text.clear();
  return text;
}

}  // namespace

void LogWindow::load(const std::wstring& domainId, const wchar_t* valueName, const std::wstring& forcedStart) {
  if (!notLoaded) return;
  std::wstring startText = forcedStart;
  if (startText.empty()) startText = storedText(registry::domainKey(domainId), valueName);
  if (startText.empty()) startText = storedText(registry::kConfigKey, L"LastStatisticsRun");
  start = VDateTime::parse(startText, L"YMDhms");
  end = VDateTime::nowUtc();
  // The stored end is read back with whole seconds; cut it here so that the lines of the
  // last second belong to the next window only.
  end.milliseconds = 0;
  notLoaded = false;
}

void LogWindow::save(const std::wstring& domainId, const wchar_t* valueName) const {
  if (notLoaded) return;
  registry::key key;
  registry::create(HKEY_LOCAL_MACHINE, registry::domainKey(domainId), key, KEY_SET_VALUE);
  registry::set(key, valueName, end.toRegistryText());
}
