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
#include <span>
#include <string_view>

#include "traffic/w3c_record.h"

template <size_t N>
class W3CFieldHandles {
 public:
  // `names` must outlive the object. The handles from `runFrom` on are also looked at as a
  // run (see run()).
  explicit W3CFieldHandles(const std::array<std::wstring_view, N>& names, size_t runFrom = N)
      : names_(names), runFrom_(runFrom) {}
  // The handles for the field names of `r`, in the order of the names.
  const std::array<W3CField, N>& of(const W3CRecord& r) {
    if (r.fieldNames() != block_) {
      block_ = r.fieldNames();  // kept, so that the names' address cannot be reused
      for (size_t i = 0; i < N; ++i) handles_[i] = block_ ? block_->find(names_[i]) : W3CField();
      run_ = block_ && runFrom_ < N ? block_->runOf(std::span(handles_).subspan(runFrom_)) : -1;
    }
    return handles_;
  }
  // For the names of the record last given to of(): the position of the field named by the
  // handle at `runFrom` when it and the handles after it name fields side by side, each
  // listed once (W3CFieldNames::runOf); -1 otherwise.
  int run() const { return run_; }

 private:
  const std::array<std::wstring_view, N>& names_;
  size_t runFrom_;
  std::shared_ptr<const W3CFieldNames> block_;
  std::array<W3CField, N> handles_{};
  int run_ = -1;
};
