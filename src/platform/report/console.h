#pragma once
// The console: standard output, UTF-8.

#include <string_view>

namespace console {

// Writes the text as UTF-8 to standard output and flushes (the console's wide print).
void print(std::wstring_view text);

}  // namespace console
