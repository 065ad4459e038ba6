// Argument texts reach the command interpreter: whatever they hold, the escaped text must
// leave the shell nothing to expand, no quote open, and no operator except those the
// Windows interpreter has as well.
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/exec/command_escaping.h"
#include "platform/text/text_codec.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::setlocale(LC_ALL, "C.UTF-8");
  return 0;
}

namespace {

// Reads `line` as a POSIX shell does and stops at the first thing the escaping must never
// leave for it.
void checkShellReading(const std::wstring& line) {
  enum { Plain, Double, Single } state = Plain;
  for (size_t i = 0; i < line.size(); ++i) {
    const wchar_t c = line[i];
    switch (state) {
      case Plain:
        if (c == L'\\') {
          if (++i == line.size() || line[i] == L'\n') std::abort();  // escape pending, line joining
        } else if (c == L'"') {
          state = Double;
        } else if (c == L'\'') {
          state = Single;
        } else if (std::wstring_view(L"$`;*?[#~").find(c) != std::wstring_view::npos) {
          std::abort();
        } else if (c == L'\n') {
          std::abort();  // a second command
        }
        break;
      case Double:
        if (c == L'\\') {
          if (i + 1 < line.size() && std::wstring_view(L"$`\"\\\n").find(line[i + 1]) != std::wstring_view::npos) ++i;
        } else if (c == L'"') {
          state = Plain;
        } else if (c == L'$' || c == L'`') {
          std::abort();
        }
        break;
      case Single:
        if (c == L'\'') state = Plain;
        break;
    }
  }
  if (state != Plain) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring arguments = text::fromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
  checkShellReading(escapeCommandArguments(arguments));
  checkShellReading(quoteForShell(arguments));
  return 0;
}
