#pragma once
// One line of a W3C extended log as a map from field name to value, with the whole line
// beside it. The values are not copied out of the line: the record holds the decoded line
// and the position of each value, and reuses that storage for the next line, so reading a
// log allocates only when a line is longer than any before it.
//
// Records are values: a copy owns its own text and shares only the immutable field names,
// so it stays valid whatever the reader does afterwards.

#include <cstddef>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "traffic/w3c_field_names.h"
#include "platform/text/narrow_decoder.h"

class W3CRecord {
 public:
  W3CRecord() = default;

  // The value stored under `name` (case-sensitive), or empty when the record has no such
  // field. IIS writes "-" for an empty value; it is returned as it stands. The view is
  // valid until the record changes.
  std::wstring_view get(std::wstring_view name) const { return get(field(name)); }
  // The same through a handle found once per header block (W3CFile::header::field or
  // field() below): no name lookup.
  std::wstring_view get(W3CField f) const {
    if (!names_) return {};
    int at = names_->resolve(f, paired_);
    if (at < 0) return {};
    const Span& s = values_[static_cast<size_t>(at)];
    return std::wstring_view(storage_.data() + s.begin, s.end - s.begin);
  }
  bool contains(std::wstring_view name) const;
  W3CField field(std::wstring_view name) const { return names_ ? names_->find(name) : W3CField(); }

  // Number of fields in the map: distinct names that received a value.
  size_t size() const;
  bool empty() const { return paired_ == 0; }
  // Calls fn(name, value) for every field, ordered by name.
  template <typename Fn>
  void forEach(Fn&& fn) const {
    if (!names_) return;
    for (W3CField f : names_->byName()) {
      int at = names_->resolve(f, paired_);
      if (at >= 0) fn(std::wstring_view(names_->names()[static_cast<size_t>(at)]), get(f));
    }
  }
  // The map as its own container, for callers that keep or hand on all fields.
  std::map<std::wstring, std::wstring> toMap() const;

  // The whole line as read, converted to wide characters.
  std::wstring_view line() const { return std::wstring_view(storage_.data(), lineLength_); }
  // True when the line was read as ASCII bytes through a decoder that keeps ASCII as it
  // is: then every value also exists as the bytes it was read as (see appendAsciiValues).
  bool isAscii() const { return ascii_; }
  // For an ASCII record: appends the values of `fields` as the bytes read, one blank between
  // two of them, and "-" for a field the record lacks or whose value is empty. False, with
  // nothing appended, for a record that is not ASCII.
  bool appendAsciiValues(std::span<const W3CField> fields, std::string& out) const;
  // For an ASCII record whose values are parted by single blanks, none of them empty: appends
  // the values at positions [first, first + count), which must all be paired, as the one run
  // of bytes they are in the line (for fields side by side, see W3CFieldNames::runOf). False,
  // with nothing appended, for any other record.
  bool appendAsciiRun(int first, size_t count, std::string& out) const;
  // The field names the values are paired with; null for a default record.
  const std::shared_ptr<const W3CFieldNames>& fieldNames() const { return names_; }

  // Makes room for lines of `chars` characters and `fields` values, so that reading lines
  // up to that size does not allocate.
  void reserve(size_t chars, size_t fields) {
    storage_.reserve(chars);
    spans(fields);
  }

  // Replaces the content with one log line: decodes `bytes` with `decoder`, splits the text
  // into values, one per white-space character (leading white space gives an empty first
  // value, every further separator of a run an empty value), and pairs the values with
  // `names` in order until either list ends. `names` may be null (no fields).
  void parseLine(std::string_view bytes, const std::shared_ptr<const W3CFieldNames>& names,
                 const text::NarrowDecoder& decoder);
  // Replaces the content with values given one by one, paired with `names` in order until
  // either list ends; `line` is stored as the record's line. For readers of other log
  // formats whose records carry the same field names.
  void assign(const std::shared_ptr<const W3CFieldNames>& names, std::wstring_view line,
              std::span<const std::wstring_view> values);

 private:
  struct Span {
    size_t begin;
    size_t end;
  };
  bool parseAscii(std::string_view bytes, size_t wanted);
  void splitWide(size_t wanted);
  // Makes room for `wanted` spans; the array only grows, so refilling it costs nothing.
  Span* spans(size_t wanted) {
    if (values_.size() < wanted) values_.resize(wanted);
    return values_.data();
  }

  std::shared_ptr<const W3CFieldNames> names_;
  // The line, followed by the values of an assigned record; value spans point into it.
  std::wstring storage_;
  size_t lineLength_ = 0;
  // The line's bytes when ascii_ is set (then a span indexes both texts alike).
  std::string bytes_;
  bool ascii_ = false;
  // Set with ascii_ when the values are parted by single blanks and none is empty.
  bool blankSeparated_ = false;
  std::vector<Span> values_;  // the first paired_ are the values, in field order
  size_t paired_ = 0;
};
