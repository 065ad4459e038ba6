#include "db/ado/connection_string.h"

#include "db/ado/engine_error.h"
#include "platform/text/text_codec.h"

namespace ado {

namespace {

constexpr const wchar_t* kMalformed =
    L"Format of the initialization string does not conform to the OLE DB rules.";

[[noreturn]] void malformed() { throw EngineError(kMalformed, kBadInitString); }

bool isBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

std::wstring_view trimmed(std::wstring_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool needsQuotes(std::wstring_view value) {
  if (value.empty()) return false;
  if (isBlank(value.front()) || isBlank(value.back())) return true;
  // A leading "=" would read back as part of the keyword ("==").
  if (value.front() == L'\'' || value.front() == L'"' || value.front() == L'=') return true;
  return value.find(L';') != std::wstring_view::npos;
}

}  // namespace

ConnectionString ConnectionString::parse(std::wstring_view text) {
  ConnectionString result;
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    // Keyword: up to a single "=", with "==" standing for "=".
    std::wstring keyword;
    bool sawEquals = false;
    while (i < n) {
      wchar_t c = text[i];
      if (c == L'=') {
        if (i + 1 < n && text[i + 1] == L'=') {
          keyword += L'=';
          i += 2;
          continue;
        }
        sawEquals = true;
        ++i;
        break;
      }
      if (c == L';') break;
      keyword += c;
      ++i;
    }
    std::wstring_view key = trimmed(keyword);
    if (!sawEquals) {
      if (!key.empty()) malformed();
      ++i;  // an empty pair between two ";"
      continue;
    }
    if (key.empty()) malformed();

    while (i < n && isBlank(text[i])) ++i;
    std::wstring value;
    if (i < n && (text[i] == L'\'' || text[i] == L'"')) {
      const wchar_t quote = text[i++];
      bool closed = false;
      while (i < n) {
        if (text[i] == quote) {
          if (i + 1 < n && text[i + 1] == quote) {
            value += quote;
            i += 2;
            continue;
          }
          closed = true;
          ++i;
          break;
        }
        value += text[i++];
      }
      if (!closed) malformed();
      while (i < n && isBlank(text[i])) ++i;
      if (i < n && text[i] != L';') malformed();
    } else {
      size_t start = i;
      while (i < n && text[i] != L';') ++i;
      value = trimmed(text.substr(start, i - start));
    }
    if (i < n) ++i;  // the ";"
    result.set(key, value);
  }
  return result;
}

std::optional<std::wstring> ConnectionString::find(std::wstring_view keyword) const {
  for (const auto& [key, value] : entries_)
    if (text::equalsNoCase(key, keyword)) return value;
  return std::nullopt;
}

std::wstring ConnectionString::get(std::wstring_view keyword, std::wstring_view defaultValue) const {
  std::optional<std::wstring> value = find(keyword);
  return value ? *value : std::wstring(defaultValue);
}

void ConnectionString::set(std::wstring_view keyword, std::wstring_view value) {
  for (auto& entry : entries_) {
    if (text::equalsNoCase(entry.first, keyword)) {
      entry.second = value;
      return;
    }
  }
  entries_.emplace_back(std::wstring(keyword), std::wstring(value));
}

std::wstring ConnectionString::format() const {
  std::wstring out;
  for (const auto& [key, value] : entries_) {
    if (!out.empty()) out += L';';
    for (wchar_t c : key) {
      out += c;
      if (c == L'=') out += L'=';
    }
    out += L'=';
    if (!needsQuotes(value)) {
      out += value;
      continue;
    }
    const wchar_t quote = value.find(L'"') != std::wstring::npos && value.find(L'\'') == std::wstring::npos ? L'\'' : L'"';
    out += quote;
    for (wchar_t c : value) {
      out += c;
      if (c == quote) out += quote;
    }
    out += quote;
  }
  return out;
}

}  // namespace ado
