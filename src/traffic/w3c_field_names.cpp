#include "traffic/w3c_field_names.h"

#include <algorithm>
#include <cwctype>

#include "traffic/w3c_white_space.h"

W3CFieldNames::W3CFieldNames(std::vector<std::wstring> names)
    : names_(std::move(names)), previousSame_(names_.size(), -1) {
  std::vector<int> order(names_.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  // Stable, so equal names stay in file order and the last of each run is the last occurrence.
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return names_[static_cast<size_t>(a)] < names_[static_cast<size_t>(b)]; });
  for (size_t k = 0; k < order.size(); ++k) {
    bool lastOfName = k + 1 == order.size() ||
                      names_[static_cast<size_t>(order[k])] != names_[static_cast<size_t>(order[k + 1])];
    if (k > 0 && names_[static_cast<size_t>(order[k])] == names_[static_cast<size_t>(order[k - 1])])
      previousSame_[static_cast<size_t>(order[k])] = order[k - 1];
    if (lastOfName) byName_.push_back(W3CField(order[k]));
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
  auto it = std::lower_bound(byName_.begin(), byName_.end(), name, [&](W3CField f, std::wstring_view n) {
    return std::wstring_view(names_[static_cast<size_t>(f.last_)]) < n;
  });
  if (it == byName_.end() || names_[static_cast<size_t>(it->last_)] != name) return W3CField();
  return *it;
}
