#pragma once
// The Windows command-line text conventions, used where a single command-line text stands
// for an argument vector: joining arguments so that the Windows splitting rules give them
// back, and splitting a text by those rules (as CommandLineToArgvW does).

#include <string>
#include <string_view>
#include <vector>

namespace cmdline {

// Splits a command line as CommandLineToArgvW does. The first argument (the program) ends
// at the next quote when it starts with one, otherwise at the first blank or tab, and takes
// no backslash rules. In the others, blanks and tabs separate arguments outside quotes;
// 2n backslashes before a quote give n backslashes and the quote opens or closes quoting;
// 2n+1 backslashes before a quote give n backslashes and a literal quote; other
// backslashes are literal; inside quotes a doubled quote gives one literal quote.
std::vector<std::wstring> split(std::wstring_view commandLine);

// Joins arguments so that split() returns them unchanged: an argument that is empty or
// holds a blank, a tab or a quote is enclosed in quotes, with quotes escaped and the
// backslashes before them doubled.
std::wstring join(const std::vector<std::wstring>& args);

// Quotes one argument as join() does.
std::wstring quoteArgument(std::wstring_view arg);
// Encloses `arg` in quotes whatever it holds: quotes inside are escaped with a backslash
// and the backslashes before them and before the closing quote are doubled.
std::wstring enclose(std::wstring_view arg);

}  // namespace cmdline
