#include "platform/text/windows_command_line.h"

namespace cmdline {
namespace {

bool isBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

}  // namespace

std::vector<std::wstring> split(std::wstring_view line) {
  std::vector<std::wstring> args;
  size_t i = 0;
  const size_t n = line.size();

  // The program name.
  std::wstring program;
  if (i < n && line[i] == L'"') {
    ++i;
    while (i < n && line[i] != L'"') program.push_back(line[i++]);
    if (i < n) ++i;
  } else {
    while (i < n && !isBlank(line[i])) program.push_back(line[i++]);
  }
  args.push_back(std::move(program));

  while (i < n && isBlank(line[i])) ++i;
  while (i < n) {
    std::wstring arg;
    bool quoted = false;
    while (i < n) {
      wchar_t c = line[i];
      if (!quoted && isBlank(c)) break;
      if (c == L'\\') {
        size_t backslashes = 0;
        while (i < n && line[i] == L'\\') {
          ++backslashes;
          ++i;
        }
        if (i < n && line[i] == L'"') {
          arg.append(backslashes / 2, L'\\');
          if (backslashes % 2 == 1) {
            arg.push_back(L'"');
            ++i;
          }
          // An even count leaves the quote to the next round, where it toggles quoting.
        } else {
          arg.append(backslashes, L'\\');
        }
        continue;
      }
      if (c == L'"') {
        if (quoted && i + 1 < n && line[i + 1] == L'"') {
          arg.push_back(L'"');
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      arg.push_back(c);
      ++i;
    }
    args.push_back(std::move(arg));
    while (i < n && isBlank(line[i])) ++i;
  }
  return args;
}

std::wstring quoteArgument(std::wstring_view arg) {
  bool needsQuotes = arg.empty() || arg.find_first_of(L" \t\"") != std::wstring_view::npos;
  return needsQuotes ? enclose(arg) : std::wstring(arg);
}

std::wstring enclose(std::wstring_view arg) {
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      out.append(backslashes * 2 + 1, L'\\');
      out.push_back(L'"');
    } else {
      out.append(backslashes, L'\\');
      out.push_back(c);
    }
    backslashes = 0;
  }
  out.append(backslashes * 2, L'\\');
  out.push_back(L'"');
  return out;
}

std::wstring join(const std::vector<std::wstring>& args) {
  std::wstring out;
  for (size_t i = 0; i < args.size(); ++i) {
    if (i > 0) out.push_back(L' ');
    if (i == 0 && args[0].find(L'"') == std::wstring::npos &&
        args[0].find_first_of(L" \t") == std::wstring::npos && !args[0].empty()) {
      out += args[0];
    } else if (i == 0) {
      // The program name takes no escapes: quotes inside it cannot be represented.
      out += L"\"" + args[0] + L"\"";
    } else {
      out += quoteArgument(args[i]);
    }
  }
  return out;
}

}  // namespace cmdline
