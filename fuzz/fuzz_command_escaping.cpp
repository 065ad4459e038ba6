// Command texts reach the command interpreter: whatever they hold, the shell must read the
// translation back as exactly the arguments and operators the text was read as, with no
// character of an argument taken as syntax; a text without operators must split as the
// Windows argument rules split it.
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/exec/command_escaping.h"
#include "platform/text/text_codec.h"
#include "platform/text/windows_command_line.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::setlocale(LC_ALL, "C.UTF-8");
  return 0;
}

namespace {

bool isOperatorSpelling(std::wstring_view op) {
  static const std::wstring_view plain[] = {L";", L"&&", L"|", L"||"};
  for (std::wstring_view p : plain)
    if (op == p) return true;
  size_t i = 0;
  if (i < op.size() && op[i] >= L'0' && op[i] <= L'9') ++i;
  if (i == op.size() || (op[i] != L'<' && op[i] != L'>')) return false;
  const wchar_t direction = op[i++];
  if (direction == L'>' && i < op.size() && op[i] == L'>') ++i;
  if (i + 2 == op.size() && op[i] == L'&' && op[i + 1] >= L'0' && op[i + 1] <= L'9') i += 2;
  return i == op.size();
}

// Reads the translation as a POSIX shell does, accepting only single-quoted words (joined
// by \' for a quote) and operator words; anything else aborts.
std::vector<CommandToken> readShellText(const std::wstring& line) {
  std::vector<CommandToken> tokens;
  size_t i = 0;
  while (i < line.size()) {
    if (line[i] == L' ') {
      ++i;
      continue;
    }
    if (line[i] == L'\'') {
      std::wstring word;
      while (i < line.size() && line[i] != L' ') {
        if (line[i] == L'\'') {
          size_t end = line.find(L'\'', i + 1);
          if (end == std::wstring::npos) std::abort();  // a quote left open
          word.append(line, i + 1, end - i - 1);
          i = end + 1;
        } else if (line[i] == L'\\' && i + 1 < line.size() && line[i + 1] == L'\'') {
          word += L'\'';
          i += 2;
        } else {
          std::abort();  // an unquoted character inside a word
        }
      }
      tokens.push_back({CommandToken::Kind::Argument, word});
      continue;
    }
    size_t end = line.find(L' ', i);
    if (end == std::wstring::npos) end = line.size();
    std::wstring op = line.substr(i, end - i);
    if (!isOperatorSpelling(op)) std::abort();
    tokens.push_back({CommandToken::Kind::Operator, op});
    i = end;
  }
  return tokens;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring text = text::fromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
  const std::vector<CommandToken> tokens = readCommandText(text);
  if (readShellText(shellCommandText(tokens)) != tokens) std::abort();

  const std::vector<CommandToken> path = readShellText(quoteForShell(text));
  if (path.size() != 1 || path[0].text != text) std::abort();

  if (text.find_first_of(L"&|<>^") == std::wstring::npos) {
    std::vector<std::wstring> expected = cmdline::split(L"p " + text);
    expected.erase(expected.begin());
    std::vector<std::wstring> read;
    for (const CommandToken& t : tokens) read.push_back(t.text);
    if (read != expected) std::abort();
  }
  return 0;
}
