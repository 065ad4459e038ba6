#pragma once
// Command-line options: an ordered map from option name to value, built from the arguments
// after the program name. An option is its name alone (value empty) or name "=" value, the
// value being everything after the first "=". Names compare exactly (case-sensitive,
// ordinal order); a later argument of the same name replaces the earlier value.

#include <map>
#include <span>
#include <string>
#include <vector>

using ParamMap = std::map<std::wstring, std::wstring>;

// The option lists given to Params::check and the usage text. An empty list, or one whose
// first name is empty, means "no options".
using OptionList = std::vector<std::wstring>;

ParamMap buildParamMap(std::span<const std::wstring> argumentsAfterProgram);

class Params {
 public:
  explicit Params(const ParamMap& map) : map_(map) {}

  bool has(const std::wstring& name) const { return map_.count(name) != 0; }
  // The stored value when present (possibly empty); otherwise, when required,
  // reportMissingParameter with the name and no lists; otherwise the default.
  std::wstring value(const std::wstring& name, bool required, const std::wstring& defaultValue) const;
  const ParamMap& map() const { return map_; }

  // Raises "Missing required parameter <name>. <usage>" for the first absent required name
  // and "Unexpected parameter <name>. <usage>" for the first name (in map order) that is in
  // neither list; "--internal-package-name" is always accepted. Operation "Params::check".
  void check(const OptionList& required, const OptionList& allowed) const;

  // Raises "Missing required parameter " + name + ". " + usage text.
  [[noreturn]] static void reportMissingParameter(const std::wstring& name, const OptionList& required,
                                                  const OptionList& allowed);
  // "Possible parameters is:\n" with the required names as "    name" and the allowed
  // names as "    [name]", joined by "\n"; empty when both lists are empty.
  static std::wstring usageText(const OptionList& required, const OptionList& allowed);

 private:
  const ParamMap& map_;
};
