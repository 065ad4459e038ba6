#include "platform/exec/script_resolver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <initializer_list>

#include "platform/exec/command_escaping.h"
#include "platform/text/text_codec.h"
#include "platform/system/unique_fd.h"
#include "platform/report/vexception.h"
#include "platform/files/vfilefinder.h"
#include "platform/files/vfilename.h"
#include "platform/text/vformat.h"

namespace {

constexpr const char* kOperation = "ProcessRunner::resolveCommandLine";
// Enough of a script to see its first non-blank line.
constexpr size_t kHeadBytes = 65536;

[[noreturn]] void fail(const std::wstring& message) { throw vexception(message, VCTX(L"", kOperation)); }

bool isOneOf(const std::wstring& value, std::initializer_list<const wchar_t*> choices) {
  for (const wchar_t* c : choices)
    if (value == c) return true;
  return false;
}

bool startsWith(std::wstring_view text, std::wstring_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool isExecutableFile(const std::wstring& path) {
  struct stat st {};
  const std::string native = VFileName::toNative(path);
  return ::stat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0111) &&
         ::access(native.c_str(), X_OK) == 0;
}

bool isDirectory(const std::wstring& path) {
  struct stat st {};
  return ::stat(VFileName::toNative(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string readHead(const std::wstring& file) {
  UniqueFd fd(::open(VFileName::toNative(file).c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.isOpen()) raiseErrno(vformat(L"Unable to start (%s)", file), errno, VCTX(L"", kOperation));
  std::string head(kHeadBytes, '\0');
  size_t filled = 0;
  while (filled < head.size()) {
    ssize_t n = ::read(fd.get(), head.data() + filled, head.size() - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) raiseErrno(vformat(L"Unable to start (%s)", file), errno, VCTX(L"", kOperation));
    if (n == 0) break;
    filled += static_cast<size_t>(n);
  }
  head.resize(filled);
  return head;
}

// The system's own test for a program it can start directly.
bool isExecutableBinary(const std::wstring& file, const std::string& head) {
  return head.size() >= 4 && head.compare(0, 4, "\x7f" "ELF") == 0 && isExecutableFile(file);
}

std::wstring firstNonBlankLine(const std::string& head) {
  size_t begin = head.find_first_not_of(" \t\r\n\v\f");
  if (begin == std::string::npos) return {};
  size_t end = head.find_first_of("\r\n", begin);
  return text::toUpper(text::fromAnsi(head.substr(begin, end == std::string::npos ? end : end - begin)));
}

std::wstring firstLine(const std::string& head) {
  size_t end = head.find_first_of("\r\n");
  return text::fromAnsi(head.substr(0, end));
}

// The extension of the file name (after its last dot), upper-cased; empty without a dot.
std::wstring upperExtension(const std::wstring& file) {
  std::wstring ext = VFileName::extension(file);
  return ext.empty() ? ext : text::toUpper(ext.substr(1));
}

class CommandBuilder {
 public:
  CommandBuilder(const std::wstring& file, const std::wstring& arguments, const ScriptStartOptions& options,
                 ExecSettings& settings)
      : file_(file),
        rawArguments_(arguments),
        arguments_(escapeCommandArguments(arguments)),
        options_(options),
        settings_(settings) {}

  std::wstring build() {
    if (options_.forceExecutable) return executableCommandLine(file_, arguments_);
    const std::string head = readHead(file_);
    if (isExecutableBinary(file_, head)) return executableCommandLine(file_, arguments_);

    const std::wstring ext = upperExtension(file_);
    const std::wstring content = firstNonBlankLine(head);
    if (startsWith(content, L"<?") ||
        ((startsWith(content, L"<%") || startsWith(content, L"<SCRIPT")) && isOneOf(ext, {L"PHP", L"PHP3"})))
      return php();

    const std::wstring line = firstLine(head);
    if (startsWith(line, L"#!")) {
      std::wstring interpreter = line.substr(2);
      const size_t first = interpreter.find_first_not_of(L" \t");
      interpreter = first == std::wstring::npos ? std::wstring() : interpreter.substr(first);
      while (!interpreter.empty() && std::wstring_view(L" \t/\\").find(interpreter.back()) != std::wstring_view::npos)
        interpreter.pop_back();
      const std::wstring upper = text::toUpper(interpreter);
      if (upper.find(L"PERL") != std::wstring::npos) return perl();
      if (upper.find(L"PYTHON") != std::wstring::npos) return python();
      if (upper.find(L"PHP") != std::wstring::npos) return php();
      if (!isBatch(ext)) fail(vformat(L"Unable to start (%s): Is not a known application (%s)", file_, interpreter));
    }

    if (ext.empty()) fail(vformat(L"Unable to start (%s): Is not a known application", file_));
    if (isBatch(ext)) return batch(ext);
    if (isOneOf(ext, {L"VB", L"VBS", L"VBE", L"JS", L"JSE", L"ASP"}))
      fail(vformat(L"Unable to start (%s): Windows Script Host is not installed", file_));
    if (isOneOf(ext, {L"PL", L"PM"})) return perl();
    if (isOneOf(ext, {L"PY", L"PYC"})) return python();
    if (isOneOf(ext, {L"PHP", L"PHP3"})) return php();
    fail(vformat(L"Unable to start (%s): Is not a known application", file_));
  }

 private:
  static bool isBatch(const std::wstring& ext) { return isOneOf(ext, {L"BAT", L"CMD", L"SH"}); }

  // A BAT or CMD script reads its arguments without the backslash rule: escaped quotes are
  // taken out of the text (with their backslash) before it is read.
  std::wstring batch(const std::wstring& ext) {
    if (ext == L"SH") return executableCommandLine(file_, arguments_);
    return executableCommandLine(file_, escapeCommandArguments(withoutEscapedQuotes(rawArguments_)));
  }

  std::wstring interpreted(const std::wstring& name, const std::wstring& interpreter, const std::wstring& options) {
    if (interpreter.empty() || !isExecutableFile(interpreter))
      fail(vformat(L"Unable to start (%s): %s is not installed", file_, name));
    return interpreterCommandLine(interpreter, options, file_, arguments_);
  }

  std::wstring inComponent(const std::wstring& package, const std::wstring& relative) {
    const std::wstring dir = settings_.componentDirectory(package);
    return dir.empty() ? dir : VFileName::combine(dir, relative);
  }

  std::wstring php() {
    if (options_.panelPhp)
      return interpreted(L"PHP", VFileName::combine(settings_.requiredProductRoot(), L"admin/bin/php"),
                         L"-q -dauto_prepend_file=\"\" -c php.ini");
    return interpreted(L"PHP", inComponent(L"php", L"php"), L"");
  }
  std::wstring perl() { return interpreted(L"Perl", inComponent(L"perl", L"bin/perl"), L""); }
  std::wstring python() { return interpreted(L"Python", inComponent(L"python", L"python3"), L""); }

  const std::wstring& file_;
  const std::wstring& rawArguments_;
  const std::wstring arguments_;
  const ScriptStartOptions& options_;
  ExecSettings& settings_;
};

std::wstring pathVariable(const std::vector<std::wstring>& environment) {
  if (environment.empty()) {
    const char* path = std::getenv("PATH");
    return path ? VFileName::fromNative(path) : std::wstring();
  }
  for (const std::wstring& entry : environment)
    if (startsWith(entry, L"PATH=")) return entry.substr(5);
  return {};
}

std::wstring currentDirectory() {
  char buffer[4096];
  return ::getcwd(buffer, sizeof buffer) ? VFileName::fromNative(buffer) : std::wstring();
}

// The exact name in one place: true when it is there, false when it is absent.
bool exactNameExists(const std::wstring& path) {
  struct stat st {};
  if (::stat(VFileName::toNative(path).c_str(), &st) == 0) return !S_ISDIR(st.st_mode);
  if (errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG || errno == ELOOP) return false;
  raiseErrno(vformat(L"Unable to get file (%s) attributes", path), errno, VCTX(L"", kOperation));
}

std::vector<std::wstring> listedMatches(const std::wstring& path) {
  std::vector<std::wstring> found;
  try {
    for (VFileFinder finder = VFileFinder::forPattern(path + L".*"); finder.next();) {
      const VFileFinder::Entry& e = finder.entry();
      if (e.isDirectory || (e.isSymlink && isDirectory(e.path))) continue;
      found.push_back(e.path);
    }
  } catch (const vexception&) {
    // A place that cannot be listed holds nothing for us.
  }
  return found;
}

}  // namespace

std::vector<std::wstring> findScriptCandidates(const std::wstring& program,
                                               const std::vector<std::wstring>& environment) {
  std::vector<std::wstring> places;
  if (!program.empty()) {
    places.push_back(program);
    if (program.front() != L'/') {
      std::vector<std::wstring> dirs = {currentDirectory(), L"/usr/bin", L"/bin"};
      const std::wstring path = pathVariable(environment);
      for (size_t begin = 0; begin <= path.size();) {
        size_t end = path.find(L':', begin);
        if (end == std::wstring::npos) end = path.size();
        if (end > begin) dirs.push_back(path.substr(begin, end - begin));
        begin = end + 1;
      }
      for (const std::wstring& dir : dirs)
        if (!dir.empty()) places.push_back(VFileName::combine(dir, program));
    }
  }
  for (const std::wstring& place : places) {
    if (exactNameExists(place)) return {place};
    std::vector<std::wstring> matches = listedMatches(place);
    if (!matches.empty()) return matches;
  }
  fail(vformat(L"'%s' is not recognized as an internal or external command, operable program or batch file.",
               program));
}

std::wstring scriptCommandLine(const std::wstring& file, const std::wstring& arguments,
                               const ScriptStartOptions& options, ExecSettings& settings) {
  return CommandBuilder(file, arguments, options, settings).build();
}

std::wstring resolveScriptCommandLine(const std::wstring& program, const std::wstring& arguments,
                                      const std::vector<std::wstring>& environment,
                                      const ScriptStartOptions& options, ExecSettings& settings) {
  const std::vector<std::wstring> candidates = findScriptCandidates(program, environment);
  std::wstring messages;
  for (size_t i = 0; i < candidates.size(); ++i) {
    try {
      return scriptCommandLine(candidates[i], arguments, options, settings);
    } catch (const vexception& e) {
      if (candidates.size() == 1) throw;
      if (!messages.empty()) messages += L'\n';
      messages += e.message();
    }
  }
  fail(messages);
}
