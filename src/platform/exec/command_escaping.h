#pragma once
// The command lines handed to the command interpreter, and their translation for it.
//
// Every child is started as  INTERPRETER -c COMMAND-LINE, where INTERPRETER is the program
// named by $COMSPEC, else /bin/sh (a POSIX shell either way), and the command line has one
// of these forms:
//
//   executable form:   'PROGRAM' ARGUMENTS
//   interpreter form:  'INTERPRETER' 'SCRIPT' ARGUMENTS
//                      'INTERPRETER' OPTIONS 'SCRIPT' ARGUMENTS
//
// PROGRAM, INTERPRETER and SCRIPT are paths, quoted by quoteForShell; OPTIONS and
// ARGUMENTS are command texts translated by escapeCommandArguments.
//
// A command text is written as for the Windows command interpreter, and means what it
// means there once every argument is properly quoted:
//   - Blanks and tabs separate arguments. Double quotes group; a backslash run before a
//     quote halves and, when odd, makes the quote literal; other backslashes are literal;
//     inside quotes a doubled quote is one literal quote. Everything inside quotes is
//     literal, the operators and the caret included.
//   - Outside quotes the caret makes the next character literal and is dropped ("^&" is
//     the argument "&"); before a blank, a quote or a backslash it is only dropped.
//   - Outside quotes "&" (one command after the other), "&&", "|", "||" and the
//     redirections "<", ">", ">>", with a handle digit before them ("2>") at the start of a
//     word and ">&N" / "<&N" for another handle, are operators: -output > "/tmp/x" still
//     redirects into the file.
//   - Every other character is literal: parentheses ("-update (test)"), "%", and what this
//     shell would expand or treat as syntax ($ ` ' ; * ? [ ] # ~ { } !, line feeds).
// The translation reads the text once by these rules and writes each argument as one
// single-quoted word and each operator in the shell's spelling, so the shell never sees a
// character of an argument as syntax. (The Windows interpreter tracks quotes without the
// backslash rule; the argument walk made for it corrects that with extra carets and
// quotes. Reading by the argument rules directly needs no correction.)
//
// Text built from outside data (host names, database values, paths in customers' trees)
// goes in only as quoted arguments (command_arguments.h), so that whatever it holds the
// child receives exactly it.

#include <string>
#include <string_view>
#include <vector>

// One piece of a command text: an argument as the program receives it, or an operator in
// the shell's spelling (";", "&&", "|", "||", "<", ">", ">>", "2>", "2>&1", ...).
struct CommandToken {
  enum class Kind { Argument, Operator };
  Kind kind;
  std::wstring text;

  bool operator==(const CommandToken&) const = default;
};

// The pieces of a command text by the rules above.
std::vector<CommandToken> readCommandText(std::wstring_view text);

// The shell text of the pieces: arguments single-quoted, operators as they are, separated
// by one blank.
std::wstring shellCommandText(const std::vector<CommandToken>& tokens);

// The command text translated for the shell: shellCommandText(readCommandText(text)).
std::wstring escapeCommandArguments(std::wstring_view arguments);

// The BAT/CMD rule of the script runner: every backslash directly followed by a double
// quote is removed together with that quote.
std::wstring withoutEscapedQuotes(std::wstring_view arguments);

// `path` as one single-quoted shell word: the shell reads it back as exactly `path`.
std::wstring quoteForShell(std::wstring_view path);

// The command interpreter: $COMSPEC when set and not empty, else "/bin/sh".
std::wstring commandInterpreter();

// The executable form: 'PROGRAM' + " " + ARGUMENTS (already translated; none when empty).
std::wstring executableCommandLine(std::wstring_view program, std::wstring_view escapedArguments);

// The interpreter form; `options` is a command text (empty for none), the arguments are
// already translated.
std::wstring interpreterCommandLine(std::wstring_view interpreter, std::wstring_view options,
                                    std::wstring_view script, std::wstring_view escapedArguments);
