#pragma once
// The command lines handed to the command interpreter, and the escaping of their arguments.
//
// Every child is started as  INTERPRETER -c COMMAND-LINE, where INTERPRETER is the program
// named by $COMSPEC, else /bin/sh (a POSIX shell either way), and the command line has one
// of these forms:
//
//   executable form:   "PROGRAM" ARGUMENTS
//   interpreter form:  "INTERPRETER" "SCRIPT" ARGUMENTS
//                      "INTERPRETER" OPTIONS "SCRIPT" ARGUMENTS
//
// PROGRAM, INTERPRETER and SCRIPT are paths put in double quotes by quoteForShell, OPTIONS
// go in as written, and ARGUMENTS is escapeCommandArguments of the caller's text.
//
// Argument texts are written in the Windows command-line convention: double quotes group
// (a blank inside them does not separate), and inside them a backslash run before a quote
// halves and, when odd, makes the quote literal; other backslashes are literal. Outside
// quotes the text is command syntax: blanks and tabs separate arguments and "&<>|()" keep
// their meaning to the shell, so  -output > "/tmp/x"  still redirects into the file.
//
// escapeCommandArguments walks the text once in three states, as for the Windows
// interpreter, and writes what this shell needs for the same meaning:
//   outside   '"' is copied and enters "quoted". "&<>|()", blanks and tabs are copied: they
//             stay operators and separators. A backslash is written doubled (literal), so
//             that a quote after it still opens quoting. Characters that the Windows
//             interpreter leaves alone but this shell would expand or treat as syntax
//             ($ ` ' ; * ? [ ] # ~ { } ! and the backslash) are preceded by a backslash;
//             a line feed is written as '<LF>' (a literal part of the argument).
//   quoted    '"' is copied and returns to "outside". "$" and "`" are preceded by a
//             backslash, since the shell expands them inside double quotes. A backslash
//             enters "escaped"; a backslash run is written as it is when a quote follows
//             it (the shell halves it the same way) and doubled otherwise (so that it stays
//             literal, as the Windows rules keep it). Everything else, operators included,
//             is copied: the shell keeps it literal inside double quotes.
//   escaped   the character is written as in "quoted" (a quote here is the literal one
//             the backslash run made) and the state returns to "quoted".
// A quote left open at the end is closed, so the last argument runs to the end of the text
// as the Windows rules read it, instead of the shell refusing the command.
//
// The Windows walk also counts quotes to correct its interpreter, which ignores backslashes
// when it tracks quoting (an extra quote before an operator outside quotes after an odd
// count, a caret before an operator inside quotes after an even one). This shell honours
// a backslash-escaped quote inside double quotes, so its quoting always agrees with the
// walk's state: those corrections would only damage the text and are not made.

#include <string>
#include <string_view>

// The arguments text made safe and meaningful for the command interpreter (see above).
std::wstring escapeCommandArguments(std::wstring_view arguments);

// `path` in double quotes with "$", "`", "\" and '"' preceded by a backslash: the shell
// reads it back as exactly `path`.
std::wstring quoteForShell(std::wstring_view path);

// The command interpreter: $COMSPEC when set and not empty, else "/bin/sh".
std::wstring commandInterpreter();

// The executable form: "PROGRAM" + " " + ARGUMENTS (the arguments already escaped).
std::wstring executableCommandLine(std::wstring_view program, std::wstring_view escapedArguments);

// The interpreter form; `options` empty for none (the arguments already escaped).
std::wstring interpreterCommandLine(std::wstring_view interpreter, std::wstring_view options,
                                    std::wstring_view script, std::wstring_view escapedArguments);
