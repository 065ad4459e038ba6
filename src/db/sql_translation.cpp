#include "db/sql_translation.h"

namespace {

constexpr QuoteRule kJetRules[] = {
    {L'\'', L"'", L'\'', L"'", true, 0},
    {L'"', L"'", L'"', L"'", true, 0},
    {L'`', L"[", L'`', L"]", false, 0},
};

constexpr QuoteRule kSqlServerRules[] = {
    {L'\'', L"'", L'\'', L"'", true, 0},
    {L'"', L"'", L'"', L"'", true, 0},
    {L'`', L"[", L'`', L"]", false, L'.'},
};

}  // namespace

std::wstring translateQuotes(std::wstring_view sql, std::span<const QuoteRule> rules) {
  std::wstring out;
  out.reserve(sql.size() + sql.size() / 8);
  const QuoteRule* inside = nullptr;
  for (size_t i = 0; i < sql.size(); ++i) {
    const wchar_t c = sql[i];
    if (!inside) {
      for (const QuoteRule& rule : rules) {
        if (rule.open == c) {
          inside = &rule;
          break;
        }
      }
      if (inside)
        out += inside->openText;
      else
        out += c;
      continue;
    }
    if (inside->separator != 0 && c == inside->separator) {
      out += inside->closeText;
      out += c;
      out += inside->openText;
    } else if (c == inside->close) {
      if (inside->doubling && i + 1 < sql.size() && sql[i + 1] == inside->close) {
        out += c;
        out += c;
        ++i;
      } else {
        out += inside->closeText;
        inside = nullptr;
      }
    } else {
      out += c;
    }
  }
  return out;
}

std::wstring collapseDoubledQuotes(std::wstring_view sql) {
  std::wstring out;
  out.reserve(sql.size());
  for (size_t i = 0; i < sql.size(); ++i) {
    out += sql[i];
    if (sql[i] == L'"' && i + 1 < sql.size() && sql[i + 1] == L'"') ++i;
  }
  return out;
}

std::wstring translateForJet(std::wstring_view sql) { return collapseDoubledQuotes(translateQuotes(sql, kJetRules)); }

// escape() doubles double quotes for every ADO engine; SQL Server keeps both inside a
// single-quoted string, so they are collapsed here as for Jet.
std::wstring translateForSqlServer(std::wstring_view sql) {
  return collapseDoubledQuotes(translateQuotes(sql, kSqlServerRules));
}
