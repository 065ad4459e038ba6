#include "platform/exec/command_escaping.h"

#include <cstdlib>

#include "platform/text/text_codec.h"

namespace {

enum class State { Outside, Quoted, Escaped };

// Literal to the Windows interpreter outside quotes, syntax or expansion to the shell.
bool protectedOutside(wchar_t c) {
  return std::wstring_view(L"$`';*?[]#~{}!").find(c) != std::wstring_view::npos;
}

bool expandedInsideQuotes(wchar_t c) { return c == L'$' || c == L'`'; }

// Whether the backslash run that starts at `i` ends at a double quote.
bool runEndsAtQuote(std::wstring_view text, size_t i) {
  size_t end = text.find_first_not_of(L'\\', i);
  return end != std::wstring_view::npos && text[end] == L'"';
}

}  // namespace

std::wstring escapeCommandArguments(std::wstring_view arguments) {
  std::wstring out;
  out.reserve(arguments.size() + arguments.size() / 4 + 2);
  State state = State::Outside;
  bool runEndsAtQuoteFlag = false;  // valid while inside a backslash run in quotes
  for (size_t i = 0; i < arguments.size(); ++i) {
    const wchar_t c = arguments[i];
    if (state == State::Outside) {
      if (c == L'"') {
        out += c;
        state = State::Quoted;
      } else if (c == L'\\') {
        out += L"\\\\";
      } else if (c == L'\n') {
        out += L"'\n'";
      } else {
        if (protectedOutside(c)) out += L'\\';
        out += c;
      }
      continue;
    }
    // Quoted or escaped: both write a character the same way, only the transitions differ.
    if (c == L'\\') {
      if (i == 0 || arguments[i - 1] != L'\\') runEndsAtQuoteFlag = runEndsAtQuote(arguments, i);
      out += runEndsAtQuoteFlag ? L"\\" : L"\\\\";
      state = state == State::Quoted ? State::Escaped : State::Quoted;
      continue;
    }
    if (expandedInsideQuotes(c)) out += L'\\';
    out += c;
    if (state == State::Escaped) state = State::Quoted;
    else if (c == L'"') state = State::Outside;
  }
  if (state != State::Outside) out += L'"';
  return out;
}

std::wstring quoteForShell(std::wstring_view path) {
  std::wstring out;
  out.reserve(path.size() + 2);
  out += L'"';
  for (wchar_t c : path) {
    if (c == L'$' || c == L'`' || c == L'\\' || c == L'"') out += L'\\';
    out += c;
  }
  out += L'"';
  return out;
}

std::wstring commandInterpreter() {
  const char* comspec = std::getenv("COMSPEC");
  if (comspec && *comspec) return text::fromAnsi(comspec);
  return L"/bin/sh";
}

std::wstring executableCommandLine(std::wstring_view program, std::wstring_view escapedArguments) {
  std::wstring line = quoteForShell(program);
  line += L' ';
  line += escapedArguments;
  return line;
}

std::wstring interpreterCommandLine(std::wstring_view interpreter, std::wstring_view options,
                                    std::wstring_view script, std::wstring_view escapedArguments) {
  std::wstring line = quoteForShell(interpreter);
  line += L' ';
  if (!options.empty()) {
    line += options;
    line += L' ';
  }
  line += quoteForShell(script);
  line += L' ';
  line += escapedArguments;
  return line;
}
