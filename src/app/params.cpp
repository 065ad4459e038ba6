#include "app/params.h"

#include <algorithm>

#include "platform/report/vexception.h"

namespace {

bool isEmptyList(const OptionList& list) { return list.empty() || list.front().empty(); }

// The names of a list up to its first empty one (the end of a multi-string).
std::span<const std::wstring> names(const OptionList& list) {
  auto end = std::find(list.begin(), list.end(), std::wstring());
  return {list.data(), static_cast<size_t>(end - list.begin())};
}

bool contains(const OptionList& list, const std::wstring& name) {
  auto n = names(list);
  return std::find(n.begin(), n.end(), name) != n.end();
}

}  // namespace

ParamMap buildParamMap(std::span<const std::wstring> args) {
  ParamMap map;
  for (const std::wstring& arg : args) {
    size_t eq = arg.find(L'=');
    if (eq == std::wstring::npos)
      map[arg] = std::wstring();
    else
      map[arg.substr(0, eq)] = arg.substr(eq + 1);
  }
  return map;
}

std::wstring Params::value(const std::wstring& name, bool required, const std::wstring& defaultValue) const {
  auto it = map_.find(name);
  if (it != map_.end()) return it->second;
  if (required) reportMissingParameter(name, {}, {});
  return defaultValue;
}

std::wstring Params::usageText(const OptionList& required, const OptionList& allowed) {
  std::wstring out;
  if (!isEmptyList(required)) {
    out = L"Possible parameters is:\n";
    bool first = true;
    for (const std::wstring& n : names(required)) {
      if (!first) out += L"\n";
      out += L"    " + n;
      first = false;
    }
  }
  if (!isEmptyList(allowed)) {
    if (out.empty())
      out = L"Possible parameters is:\n";
    else
      out += L"\n";
    bool first = true;
    for (const std::wstring& n : names(allowed)) {
      if (!first) out += L"\n";
      out += L"    [" + n + L"]";
      first = false;
    }
  }
  return out;
}

void Params::reportMissingParameter(const std::wstring& name, const OptionList& required, const OptionList& allowed) {
  throw vexception(L"Missing required parameter " + name + L". " + usageText(required, allowed),
                   VCTX(L"", "Params::reportMissingParameter"));
}

void Params::check(const OptionList& required, const OptionList& allowed) const {
  for (const std::wstring& name : names(required)) {
    if (!map_.count(name))
      throw vexception(L"Missing required parameter " + name + L". " + usageText(required, allowed),
                       VCTX(L"", "Params::check"));
  }
  for (const auto& [name, value] : map_) {
    if (name == L"--internal-package-name") continue;
    if (contains(required, name) || contains(allowed, name)) continue;
    throw vexception(L"Unexpected parameter " + name + L". " + usageText(required, allowed),
                     VCTX(L"", "Params::check"));
  }
}
