#include "platform/exec/command_escaping.h"

#include <cstdlib>

#include "platform/text/text_codec.h"

namespace {

bool isBlank(wchar_t c) { return c == L' ' || c == L'\t'; }
bool isOperatorChar(wchar_t c) { return c == L'&' || c == L'|' || c == L'<' || c == L'>'; }
bool isDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// One pass over a command text, collecting its pieces.
class CommandTextReader {
 public:
  explicit CommandTextReader(std::wstring_view text) : text_(text) {}

  std::vector<CommandToken> read() {
    while (i_ < text_.size()) {
      if (quoted_) readQuoted();
      else readOutside();
    }
    endArgument();
    return std::move(tokens_);
  }

 private:
  void readQuoted() {
    const wchar_t c = text_[i_];
    if (c == L'"') {
      if (next(1) == L'"') {  // a doubled quote inside quotes: one literal quote
        argument_ += L'"';
        i_ += 2;
      } else {
        quoted_ = false;
        ++i_;
      }
    } else if (c == L'\\') {
      readBackslashes();
    } else {
      argument_ += c;
      ++i_;
    }
  }

  void readOutside() {
    const wchar_t c = text_[i_];
    if (isBlank(c)) {
      endArgument();
      ++i_;
    } else if (c == L'"') {
      startArgument(false);
      quoted_ = true;
      ++i_;
    } else if (c == L'\\') {
      startArgument(false);
      readBackslashes();
    } else if (c == L'^') {
      // The caret makes the next character literal to the interpreter. Blanks, quotes and
      // backslashes still reach the program, whose argument rules give them their meaning.
      ++i_;
      const wchar_t escaped = next(0);
      if (escaped != L'\0' && !isBlank(escaped) && escaped != L'"' && escaped != L'\\') {
        startArgument(false);
        argument_ += escaped;
        ++i_;
      }
    } else if (isOperatorChar(c)) {
      readOperator();
    } else {
      startArgument(true);
      argument_ += c;
      ++i_;
    }
  }

  // A backslash run: halved with a literal quote when odd before a quote, literal otherwise.
  // An even run before a quote leaves the quote to open or close quoting.
  void readBackslashes() {
    size_t count = 0;
    while (i_ < text_.size() && text_[i_] == L'\\') {
      ++count;
      ++i_;
    }
    if (i_ < text_.size() && text_[i_] == L'"') {
      argument_.append(count / 2, L'\\');
      if (count % 2 == 1) {
        argument_ += L'"';
        ++i_;
      }
    } else {
      argument_.append(count, L'\\');
    }
  }

  void readOperator() {
    const wchar_t c = text_[i_];
    std::wstring op;
    // A lone digit written plainly before a redirection is the handle it redirects.
    if ((c == L'<' || c == L'>') && inArgument_ && plain_ && argument_.size() == 1 && isDigit(argument_[0])) {
      op = argument_;
      argument_.clear();
      inArgument_ = false;
    } else {
      endArgument();
    }
    if (c == L'&' || c == L'|') {
      if (next(1) == c) {
        op = {c, c};
        i_ += 2;
      } else {
        op = c == L'&' ? L";" : L"|";  // "&" runs one command after the other
        ++i_;
      }
    } else {
      op += c;
      ++i_;
      if (c == L'>' && next(0) == L'>') {
        op += L'>';
        ++i_;
      }
      if (next(0) == L'&' && isDigit(next(1))) {
        op += L'&';
        op += text_[i_ + 1];
        i_ += 2;
      }
    }
    tokens_.push_back({CommandToken::Kind::Operator, std::move(op)});
  }

  wchar_t next(size_t ahead) const { return i_ + ahead < text_.size() ? text_[i_ + ahead] : L'\0'; }

  void startArgument(bool plainCharacter) {
    if (!inArgument_) plain_ = true;
    inArgument_ = true;
    plain_ = plain_ && plainCharacter;
  }

  void endArgument() {
    if (inArgument_) tokens_.push_back({CommandToken::Kind::Argument, std::move(argument_)});
    argument_.clear();
    inArgument_ = false;
  }

  std::wstring_view text_;
  size_t i_ = 0;
  bool quoted_ = false;
  std::wstring argument_;
  bool inArgument_ = false;  // quotes alone make an (empty) argument
  bool plain_ = true;        // no quote, escape or caret in the argument so far
  std::vector<CommandToken> tokens_;
};

void appendQuoted(std::wstring_view word, std::wstring& out) {
  out += L'\'';
  for (wchar_t c : word) {
    if (c == L'\'') out += L"'\\''";
    else out += c;
  }
  out += L'\'';
}

}  // namespace

std::vector<CommandToken> readCommandText(std::wstring_view text) { return CommandTextReader(text).read(); }

std::wstring shellCommandText(const std::vector<CommandToken>& tokens) {
  std::wstring out;
  for (const CommandToken& token : tokens) {
    if (!out.empty()) out += L' ';
    if (token.kind == CommandToken::Kind::Argument) appendQuoted(token.text, out);
    else out += token.text;
  }
  return out;
}

std::wstring escapeCommandArguments(std::wstring_view arguments) {
  return shellCommandText(readCommandText(arguments));
}

std::wstring withoutEscapedQuotes(std::wstring_view arguments) {
  std::wstring out;
  out.reserve(arguments.size());
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] == L'\\' && i + 1 < arguments.size() && arguments[i + 1] == L'"') {
      ++i;
      continue;
    }
    out += arguments[i];
  }
  return out;
}

std::wstring quoteForShell(std::wstring_view path) {
  std::wstring out;
  out.reserve(path.size() + 2);
  appendQuoted(path, out);
  return out;
}

std::wstring commandInterpreter() {
  const char* comspec = std::getenv("COMSPEC");
  if (comspec && *comspec) return text::fromAnsi(comspec);
  return L"/bin/sh";
}

namespace {

void appendPart(std::wstring& line, std::wstring_view part) {
  if (part.empty()) return;
  line += L' ';
  line += part;
}

}  // namespace

std::wstring executableCommandLine(std::wstring_view program, std::wstring_view escapedArguments) {
  std::wstring line = quoteForShell(program);
  appendPart(line, escapedArguments);
  return line;
}

std::wstring interpreterCommandLine(std::wstring_view interpreter, std::wstring_view options,
                                    std::wstring_view script, std::wstring_view escapedArguments) {
  std::wstring line = quoteForShell(interpreter);
  appendPart(line, escapeCommandArguments(options));
  appendPart(line, quoteForShell(script));
  appendPart(line, escapedArguments);
  return line;
}
