#pragma once
// The Jet functions the program's statements use, as SQLite functions on a connection to
// a Jet file: CDate, DATEADD, DATE, NOW, YEAR, MONTH, DAY, cstr and Chr (ASCII codes only;
// names compare without regard to case, as SQLite compares every function name), and
// jet_add, the "+" of Jet that the statement rewriter (jet_sql.h) puts in place of "+".
//
// Dates are text in the form of jet_dates.h. DATE() and NOW() use the local time zone, as
// Jet does. A value that is no date fails the statement with "Data type mismatch in
// criteria expression."; an unknown DATEADD interval or a result outside the valid years
// with "Invalid procedure call or argument".

#include <string>

struct sqlite3;
struct sqlite3_value;

namespace ado::jet {

// Registers the functions, and a NOCASE collation that compares texts holding a NUL over
// their whole length; false (with SQLite's message in `error`) when SQLite refuses.
bool registerFunctions(sqlite3* db, std::string& error);

// A value's text as the layer hands values out: integers in decimal, reals in their
// shortest round-trip form, text and blobs as their bytes. Not for NULL.
std::string valueText(sqlite3_value* value);
// The shortest text that reads back as `value`.
std::string realText(double value);

}  // namespace ado::jet
