#pragma once
// OLE DB connection strings ("Provider=...;Data Source=...;Initial Catalog=..."): pairs of
// keyword and value separated by ";". Keywords compare without regard to case and keep
// their blanks inside ("Data Source"); "==" in a keyword is a literal "=". A value runs to
// the next ";" with the blanks around it trimmed, or is quoted with ' or " (a doubled
// quote inside stands for one) and may then hold ";". When a keyword appears twice the
// last one counts.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ado {

class ConnectionString {
 public:
  ConnectionString() = default;

  // Throws EngineError "Format of the initialization string does not conform to the OLE DB
  // rules." for a pair without "=", an empty keyword, an unterminated quote or
  // text after a closing quote.
  static ConnectionString parse(std::wstring_view text);

  // The value of `keyword`, nullopt when absent.
  std::optional<std::wstring> find(std::wstring_view keyword) const;
  std::wstring get(std::wstring_view keyword, std::wstring_view defaultValue = {}) const;
  // Replaces the value of `keyword` (keeping its place) or appends the pair.
  void set(std::wstring_view keyword, std::wstring_view value);

  // Pairs in order of first appearance, one per keyword.
  const std::vector<std::pair<std::wstring, std::wstring>>& entries() const { return entries_; }

  // The pairs written back, values quoted where their text needs it, so that
  // parse(format()) gives the same pairs.
  std::wstring format() const;

 private:
  std::vector<std::pair<std::wstring, std::wstring>> entries_;
};

}  // namespace ado
