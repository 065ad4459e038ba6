#pragma once
// The recipients field of a statistics record split into addresses, as a mail header's
// address list is read loosely:
//
//   "Doe, John" <john@example.com>, bare@example.com; <BIG@EXAMPLE.COM>
//
// yields john@example.com, bare@example.com and BIG@EXAMPLE.COM. Between addresses a
// double quote starts a display name (its text, with backslash escapes, is dropped), "<"
// starts a bracketed address that ">" ends, "," and white space are skipped, and any other
// character starts a bare address that "," or ";" ends (a "<" inside it drops what was
// gathered and starts a bracketed address instead). Addresses are trimmed of surrounding
// white space; empty ones are dropped.
//
//   RecipientList list(field);
//   for (std::wstring_view address; list.next(address);) count(address);

#include <cstddef>
#include <string_view>

class RecipientList {
 public:
  // Splits `text`, which must outlive the list.
  explicit RecipientList(std::wstring_view text) : text_(text) {}

  // The next address, a view into the text; false when there is none left.
  bool next(std::wstring_view& address);

 private:
  std::wstring_view text_;
  size_t pos_ = 0;
};
