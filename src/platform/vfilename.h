#pragma once
// File names: path combination and environment expansion. Paths use "/" here.

#include <string>

class VFileName {
 public:
  // Replaces every %NAME% reference with the environment variable's value; unknown names
  // stay as written ("%NAME%"), as does a lone "%".
  static std::wstring expandEnvironmentStrings(const std::wstring& textIn);
};
