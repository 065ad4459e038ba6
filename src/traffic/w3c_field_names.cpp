#include "traffic/w3c_field_names.h"

#include <algorithm>

#include "traffic/w3c_white_space.h"

namespace {

// Cheap rather than thorough: field names are few and short, and differ in their length or
// their first, middle or last character; a collision costs one more probe.
size_t slotHash(std::wstring_view name) {
  if (name.empty()) return 0;
  size_t h = name.size() * 0x9E3779B1u;
  h ^= static_cast<size_t>(name.front()) * 31u;
  h ^= static_cast<size_t>(name[name.size() / 2]) * 7919u;
  h ^= static_cast<size_t>(name.back()) * 131071u;
  return h ^ (h >> 7);
}

}  // namespace

W3CFieldNames::W3CFieldNames(std::vector<std::wstring> names)
    : names_(std::move(names)), previousSame_(names_.size(), -1) {
  std::vector<int> order(names_.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  // Stable, so equal names stay in file order and the last of each run is the last occurrence.
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return names_[static_cast<size_t>(a)] < names_[static_cast<size_t>(b)];
  });
  for (size_t k = 0; k < order.size(); ++k) {
    bool lastOfName = k + 1 == order.size() ||
                      names_[static_cast<size_t>(order[k])] != names_[static_cast<size_t>(order[k + 1])];
    if (k > 0 && names_[static_cast<size_t>(order[k])] == names_[static_cast<size_t>(order[k - 1])])
      previousSame_[static_cast<size_t>(order[k])] = order[k - 1];
    if (lastOfName) byName_.push_back(W3CField(order[k]));
  }
  size_t slots = 8;
  while (slots < byName_.size() * 4) slots *= 2;
  slots_.assign(slots, -1);
  slotMask_ = slots - 1;
  for (W3CField f : byName_) {
    size_t at = slotHash(names_[static_cast<size_t>(f.last_)]) & slotMask_;
    while (slots_[at] >= 0) at = (at + 1) & slotMask_;
    slots_[at] = f.last_;
  }
}

std::shared_ptr<const W3CFieldNames> W3CFieldNames::make(std::vector<std::wstring> names) {
  return std::make_shared<const W3CFieldNames>(std::move(names));
}

std::shared_ptr<const W3CFieldNames> W3CFieldNames::fromDirective(std::wstring_view value) {
  std::vector<std::wstring> names;
  size_t i = 0;
  while (i < value.size()) {
    while (i < value.size() && w3c::isWhiteSpace(value[i])) ++i;
    size_t start = i;
    while (i < value.size() && !w3c::isWhiteSpace(value[i])) ++i;
    if (i > start) names.emplace_back(value.substr(start, i - start));
  }
  return make(std::move(names));
}

W3CField W3CFieldNames::find(std::wstring_view name) const {
  for (size_t at = slotHash(name) & slotMask_;; at = (at + 1) & slotMask_) {
    const int slot = slots_[at];
    if (slot < 0) return W3CField();
    if (names_[static_cast<size_t>(slot)] == name) return W3CField(slot);
  }
}

int W3CFieldNames::runOf(std::span<const W3CField> fields) const {
  if (fields.empty()) return -1;
  const int first = fields[0].last_;
  for (size_t i = 0; i < fields.size(); ++i) {
    const int at = fields[i].last_;
    if (at != first + static_cast<int>(i) || static_cast<size_t>(at) >= names_.size() ||
        previousSame_[static_cast<size_t>(at)] >= 0)
      return -1;
  }
  return first;
}
