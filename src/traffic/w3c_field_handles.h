#pragma once
// Handles of a fixed list of W3C field names, found again only when a record comes with
// other field names (a new header block, another reader): a line's values are then read
// without name lookups.
//
//   static constexpr std::array<std::wstring_view, 2> kNames = {L"date", L"time"};
//   W3CFieldHandles<2> handles{kNames};
//   const auto& h = handles.of(record);  record.get(h[0]) ...

#include <array>
#include <cstddef>
#include <memory>
#include <string_view>

#include "traffic/w3c_record.h"

template <size_t N>
class W3CFieldHandles {
 public:
  // `names` must outlive the object.
  explicit W3CFieldHandles(const std::array<std::wstring_view, N>& names) : names_(names) {}
  // The handles for the field names of `r`, in the order of the names.
  const std::array<W3CField, N>& of(const W3CRecord& r) {
    if (r.fieldNames() != block_) {
      block_ = r.fieldNames();  // kept, so that the names' address cannot be reused
      for (size_t i = 0; i < N; ++i) handles_[i] = block_ ? block_->find(names_[i]) : W3CField();
    }
    return handles_;
  }

 private:
  const std::array<std::wstring_view, N>& names_;
  std::shared_ptr<const W3CFieldNames> block_;
  std::array<W3CField, N> handles_{};
};
