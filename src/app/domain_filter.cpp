#include "app/domain_filter.h"

#include "db/database_provider.h"

namespace {

std::vector<std::wstring> splitNames(const std::wstring& value) {
  std::vector<std::wstring> names;
  std::wstring token;
  for (wchar_t c : value) {
    if (c == L',' || c == L';') {
      if (!token.empty()) names.push_back(token);
      token.clear();
    } else {
      token.push_back(c);
    }
  }
  if (!token.empty()) names.push_back(token);
  return names;
}

void join(std::wstring& condition, const std::wstring& clause) {
  condition = condition.empty() ? clause : condition + L" AND " + clause;
}

std::wstring quotedList(const std::vector<std::wstring>& names, IDatabaseProvider& provider) {
  std::wstring list;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) list += L", ";
    list += L"'" + provider.escape(names[i]) + L"'";
  }
  return list;
}

}  // namespace

DomainFilter DomainFilter::fromParams(const Params& params) {
  DomainFilter f;
  if (params.has(L"--process-domains")) f.processNames = splitNames(params.value(L"--process-domains", true, L""));
  if (params.has(L"--skip-domains")) f.skipNames = splitNames(params.value(L"--skip-domains", true, L""));
  if (params.has(L"--process-domain-mask")) f.processMask = params.value(L"--process-domain-mask", true, L"");
  if (params.has(L"--skip-domain-mask")) f.skipMask = params.value(L"--skip-domain-mask", true, L"");
  return f;
}

std::wstring DomainFilter::condition(const std::wstring& column, IDatabaseProvider& provider) const {
  std::wstring c;
  if (!processNames.empty()) join(c, column + L" IN (" + quotedList(processNames, provider) + L")");
  if (!skipNames.empty()) join(c, column + L" NOT IN (" + quotedList(skipNames, provider) + L")");
  if (!processMask.empty()) join(c, column + L" LIKE '" + provider.escape(processMask) + L"'");
  if (!skipMask.empty()) join(c, column + L" NOT LIKE '" + provider.escape(skipMask) + L"'");
  return c;
}
