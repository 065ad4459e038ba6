#include "platform/exec/command_arguments.h"

#include "platform/text/windows_command_line.h"

void CommandArguments::separate() {
  if (!text_.empty()) text_ += L' ';
}

CommandArguments& CommandArguments::add(std::wstring_view value) {
  separate();
  text_ += cmdline::enclose(value);
  return *this;
}

CommandArguments& CommandArguments::addOption(std::wstring_view prefix, std::wstring_view value) {
  separate();
  text_ += prefix;
  text_ += cmdline::enclose(value);
  return *this;
}

CommandArguments& CommandArguments::addFixed(std::wstring_view text) {
  separate();
  text_ += text;
  return *this;
}

CommandArguments& CommandArguments::redirectOutputTo(std::wstring_view path) {
  separate();
  text_ += L"> ";
  text_ += cmdline::enclose(path);
  return *this;
}
