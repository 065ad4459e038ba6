// statistics::cleanAWstats: the host configurations of the AWStats installation whose host
// is no longer a domain of the control panel are deleted at the end of the run.
#include <vector>

#include "app/statistics.h"
#include "db/cdr_database.h"
#include "platform/files/vfilefinder.h"
#include "platform/files/vfilename.h"
#include "platform/report/guard.h"
#include "platform/text/text_codec.h"
#include "platform/text/vformat.h"

void statistics::cleanAWstats(CDRDatabase& db, const std::wstring& awstatsDirectory,
                              std::vector<std::wstring>& deleteList) {
  if (awstatsDirectory.empty()) return;
  guard::report(3, VCTX(L"Remove unused awstats configs", "statistics::cleanAWstats"), [&] {
    std::vector<VFileFinder::Entry> configurations;
    for (VFileFinder finder(VFileName::combine(awstatsDirectory, L"wwwroot/cgi-bin"), L"*.conf"); finder.next();) {
      const VFileFinder::Entry& e = finder.entry();
      if (e.isDirectory || text::equalsNoCase(e.name, L"awstats.model.conf") ||
          text::equalsNoCase(e.name, L"awstats.conf"))
        continue;
      configurations.push_back(e);
    }
    if (configurations.empty()) return;
    std::vector<std::wstring> wanted;
    VRecordSet rows = db.query(vformat(
        L"SELECT domains.name FROM  (domains LEFT JOIN hosting ON (domains.id = hosting.dom_id AND hosting.webstat = "
        L"'%s'))",
        L"awstats"));
    while (rows.next()) wanted.push_back(L"awstats." + rows.get(0) + L".conf");
    for (const VFileFinder::Entry& e : configurations) {
      bool used = false;
      for (const std::wstring& name : wanted) used = used || text::equalsNoCase(e.name, name);
      if (!used) deleteList.push_back(e.path);
    }
  });
}
