#pragma once
// Jet SQL, as the Jet provider hands it on (single-quoted strings, bracketed names), made
// into SQL that SQLite runs the way Jet would:
//  - "+" is Jet's: it joins two texts and adds anything else. SQLite's "+" only adds, so
//    every binary "+" becomes jet_add(left, right) (jet_functions.h), which decides by the
//    values at run time: 'www.' + d.name + '.' joins, SUM(a) + SUM(b) and value + 0 add.
//    The operands are found by SQLite's operator precedence (unary operators, COLLATE,
//    "||", "*", "/" and "%" bind tighter; "-" at the same level associates to the left).
//    A "+" whose operands are not plain expressions (a sub-select without parentheses,
//    say) stays SQLite's own numeric "+".
//  - @@IDENTITY becomes last_insert_rowid(): the identity of the connection's latest
//    insert.
//  - DATEADD with its interval written as a bare word (DATEADD(m, ...)) gets the interval
//    quoted (DATEADD('m', ...)).
// Everything else, white space and comments included, is copied unchanged. The input is
// UTF-8; bytes of 0x80 and above count as letters, as SQLite counts them.

#include <string>
#include <string_view>

namespace ado::jet {

std::string rewriteForSqlite(std::string_view statement);

}  // namespace ado::jet
