#pragma once
// The translation of the program's MySQL-flavoured statements (backquoted names,
// double-quoted strings) into the dialects of the ADO providers, by one walk over a quote
// table. Each rule: the opening character and the text written for it, the closing
// character and its text, whether a doubled closing character stays inside the quote,
// and a separator inside the quote that closes and reopens it around itself.
//
// Outside a quote, a character that opens a rule writes the rule's opening text and enters
// it; any other character is copied. Inside: the separator writes the closing text, itself
// and the opening text; the closing character twice (when doubling is allowed) is copied
// and the quote goes on; the closing character otherwise writes the closing text and
// leaves; any other character is copied. A quote still open at the end stays open.

#include <span>
#include <string>
#include <string_view>

struct QuoteRule {
  wchar_t open;
  std::wstring_view openText;
  wchar_t close;
  std::wstring_view closeText;
  bool doubling;
  wchar_t separator;  // 0: none
};

std::wstring translateQuotes(std::wstring_view sql, std::span<const QuoteRule> rules);

// Every pair of double quotes replaced by one (pairs counted from the left). Undoes the
// doubling of escape() once the statement's strings are single-quoted.
std::wstring collapseDoubledQuotes(std::wstring_view sql);

// Jet: 'x' and "x" become 'x', `name` becomes [name]; then doubled double quotes collapse.
std::wstring translateForJet(std::wstring_view sql);
// SQL Server: as Jet, but `db.table` becomes [db].[table].
std::wstring translateForSqlServer(std::wstring_view sql);
