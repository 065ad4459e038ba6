#include "traffic/domain_state_cleanup.h"

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "db/cdr_database.h"
#include "platform/registry/registry.h"
#include "platform/report/guard.h"

namespace {

bool isNumber(const std::wstring& name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

// Identifiers as the registry keys name them: decimal text without leading zeros.
std::wstring canonical(const std::wstring& id) {
  size_t first = id.find_first_not_of(L'0');
  return first == std::wstring::npos ? std::wstring(L"0") : id.substr(first);
}

}  // namespace

void cleanDomainStats(CDRDatabase& db) {
  guard::pass(VCTX(L"Remove old domain states", "statistics::cleanDomainStats"), [&] {
    std::set<std::wstring> known;
    VRecordSet rows = db.query(L"SELECT id FROM domains");
    while (rows.next()) {
      std::wstring id;
      if (rows.lookup(0, id)) known.insert(canonical(id));
    }
    std::vector<std::wstring> keys;
    registry::enumDomainIds(keys);
    for (const std::wstring& name : keys) {
      if (!isNumber(name) || known.contains(canonical(name))) continue;
      const uint32_t code = registry::deleteTree(HKEY_LOCAL_MACHINE, registry::domainKey(name));
      if (code != 0 && code != winerr::kFileNotFound)
        vreport(1, L"Unable to remove the state of the deleted domain %s: %s", name, osErrorText(code, L""));
    }
  });
}
