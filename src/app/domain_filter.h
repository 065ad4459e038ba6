#pragma once
// The command line's choice of domains: names to process or skip, and LIKE masks.

#include <string>
#include <vector>

#include "app/params.h"

class IDatabaseProvider;

struct DomainFilter {
  std::vector<std::wstring> processNames;  // command-line order, duplicates kept
  std::vector<std::wstring> skipNames;
  std::wstring processMask;  // empty: not given
  std::wstring skipMask;

  bool empty() const { return processNames.empty() && skipNames.empty() && processMask.empty() && skipMask.empty(); }

  // The filter of "--process-domains", "--skip-domains" (lists split at every "," and ";",
  // empty tokens dropped, nothing trimmed), "--process-domain-mask" and "--skip-domain-mask".
  static DomainFilter fromParams(const Params& params);

  // The SQL condition on `column` (empty when the filter is empty): IN, NOT IN, LIKE and
  // NOT LIKE clauses joined by " AND ", every value escaped by `provider`.
  std::wstring condition(const std::wstring& column, IDatabaseProvider& provider) const;
};
