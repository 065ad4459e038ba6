#pragma once
// An argument text for a command line (command_escaping.h) built piece by piece, so that
// every value from outside data is one quoted argument and only the program's own fixed
// text can hold options, operators or redirections.
//
//   CommandArguments args;
//   args.addFixed(L"-update").addOption(L"-config=", host).redirectOutputTo(tempPath);
//   execExtUtil(perl, args.text(), ...);     // -update -config="HOST" > "PATH"

#include <string>
#include <string_view>

class CommandArguments {
 public:
  // One argument that the child receives exactly as `value`, whatever it holds.
  CommandArguments& add(std::wstring_view value);
  // One argument made of the program's own `prefix` ("-config=") and `value`, quoted.
  CommandArguments& addOption(std::wstring_view prefix, std::wstring_view value);
  // The program's own text as written: options and operators keep their meaning.
  CommandArguments& addFixed(std::wstring_view text);
  // Standard output into the file `path` (> "path").
  CommandArguments& redirectOutputTo(std::wstring_view path);

  const std::wstring& text() const { return text_; }

 private:
  void separate();
  std::wstring text_;
};
