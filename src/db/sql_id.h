#pragma once
// Identifiers as they go into statements. Domain, address and record identifiers travel as
// text (the database hands every value out as text, and callers keep them so); placed into
// a statement unquoted as they stand, any text would become SQL. Only a number gets in.

#include <string>
#include <string_view>

// The decimal form of the integer `id` holds: an optional sign and 1 to 18 digits, nothing
// else (no blanks). Anything other raises ArgumentException "Invalid identifier '" + id +
// "'" with the context `operation`.
std::wstring sqlId(std::wstring_view id, const char* operation);
