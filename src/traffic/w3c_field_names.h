#pragma once
// The field names of one header block of a W3C extended log, in file order, with the name
// lookup built once per block. Records of the block share one immutable instance, so a
// record stays valid (and copies of it stay independent) after the reader has moved on.

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Handle of a field name, found once per header block and then used for every record of
// the block instead of a name lookup. A default handle names no field. A handle is only
// meaningful for records that share the field names it was found in.
class W3CField {
 public:
  W3CField() = default;
  bool valid() const { return last_ >= 0; }

 private:
  friend class W3CFieldNames;
  explicit W3CField(int last) : last_(last) {}
  int last_ = -1;  // position of the name's last occurrence
};

class W3CFieldNames {
 public:
  explicit W3CFieldNames(std::vector<std::wstring> names);
  static std::shared_ptr<const W3CFieldNames> make(std::vector<std::wstring> names);
  // The names of a "Fields" directive value: split at every white-space character, runs of
  // white space counting as one separator, empty names dropped.
  static std::shared_ptr<const W3CFieldNames> fromDirective(std::wstring_view value);

  const std::vector<std::wstring>& names() const { return names_; }
  size_t size() const { return names_.size(); }

  // The handle of `name` (compared case-sensitively), or an invalid handle.
  W3CField find(std::wstring_view name) const;
  // Position of the value that a record pairing its first `paired` names stores under `f`,
  // or -1. A name listed twice holds the value of its last paired position, as a map
  // filled in field order would.
  int resolve(W3CField f, size_t paired) const {
    int at = f.last_;
    if (static_cast<size_t>(at) >= names_.size()) return -1;  // also rejects -1
    while (at >= 0 && static_cast<size_t>(at) >= paired) at = previousSame_[static_cast<size_t>(at)];
    return at;
  }
  // The position of the first of `fields` when they name consecutive fields of the block,
  // each listed once, so that their values stand side by side in a line; -1 otherwise.
  int runOf(std::span<const W3CField> fields) const;
  // Handles of the distinct names, ordered by name: the iteration order of a record's map.
  const std::vector<W3CField>& byName() const { return byName_; }

 private:
  std::vector<std::wstring> names_;
  std::vector<int> previousSame_;  // earlier position of the same name, or -1
  std::vector<W3CField> byName_;
  // Open addressing over the distinct names: a name lookup is a few loads and one compare.
  std::vector<int> slots_;  // last position of a name, or -1
  size_t slotMask_ = 0;
};
