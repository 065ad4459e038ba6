#pragma once
// Text at the provider's boundary: the interface's one-character-per-element wide strings to
// and from UTF-8 (message text) and the system's narrow character set (file names: the
// process locale, UTF-8 under "C").

#include <string>

namespace postfix {

std::string toUtf8(const std::wstring& text);
// File names: UTF-8 under a "C" or UTF-8 locale, else the locale's multibyte form; a
// character the locale cannot hold raises std::runtime_error.
std::string toFileName(const std::wstring& path);
std::wstring fromFileName(const std::string& path);

}  // namespace postfix
