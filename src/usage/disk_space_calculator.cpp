#include "usage/disk_space_calculator.h"

#include "db/cdr_database.h"
#include "db/text_number.h"
#include "platform/files/vfilename.h"
#include "platform/report/guard.h"
#include "platform/service/product_paths.h"
#include "platform/text/text_codec.h"
#include "usage/directory_size.h"
#include "usage/domain_directory_scan.h"
#include "usage/saturated_add.h"

namespace {

constexpr const char* kOperation = "statistics::calculateDiskSpace";

// A domain name from the database becomes a directory name: one that is not a single
// path component ("..", "a/b") names no directory of the domain's.
bool isDirectoryName(const std::wstring& name) {
  return !name.empty() && name != L"." && name != L".." && name.find_first_of(L"/\\") == std::wstring::npos &&
         name.find(L'\0') == std::wstring::npos;
}

}  // namespace

DiskUsageSources DiskUsageSources::standard() {
  DiskUsageSources sources;
  sources.productPath = [](const std::wstring& name) { return getProductPath(name); };
  sources.mysqlServer = [] { return IDatabaseProvider::Create(L"MySQL"); };
  return sources;
}

bool diskUsageSettingOn(CDRDatabase& db, const wchar_t* name) { return db.getMiscParam(name, L"") == L"true"; }

DiskSpaceCalculator::DiskSpaceCalculator(CDRDatabase& db, DiskUsageSources sources)
    : db_(db), sources_(std::move(sources)) {}

DiskSpaceUsage DiskSpaceCalculator::calculateDiskSpace(const DomainInfo& domain) {
  const std::wstring& name = domain.name();
  const std::wstring& id = domain.id();
  const ContextRecord failure{vformat(L"calculateDiskSpace domainName=%s, domainId=%s", name, id), kOperation,
                              __LINE__};
  return guard::pass(failure, [&] {
    DiskSpaceUsage usage;
    vreport(0, L"Calculate DiskSpace for %s...", name);
    countDirectories(name, usage);

    vreport(0, L"Count databases sizes...");
    guard::report(3, VCTX(L"Count MySQL databases sizes", kOperation),
                  [&] { addMySQLDatabasesSize(db_, id, sources_.mysqlServer, usage.mysql_dbases); });
    guard::report(3, VCTX(L"Count MSSQL databases sizes", kOperation),
                  [&] { addMSSQLDatabasesSize(db_, id, sources_.adoEngines, usage.mssql_dbases); });

    vreport(0, L"Count dump disk space...");
    guard::report(3, VCTX(L"Count Backup dump disk space", kOperation),
                  [&] { countDumps(domain.domainGuid(), usage); });

    vreport(0, L"Count mailboxes sizes...");
    guard::report(0, VCTX(vformat(L"Count mailboxes sizes for domain %s", name), kOperation),
                  [&] { countMailboxes(id, usage); });

    vreport(0, L"Count tomcat service...");
    countTomcat(name, id, usage);
    return usage;
  });
}

void DiskSpaceCalculator::countDirectories(const std::wstring& name, DiskSpaceUsage& usage) {
  const std::wstring vhosts = sources_.productPath(L"HTTPD_VHOSTS_D");
  if (isDirectoryName(name)) scanDomainDirectory(VFileName::combine(vhosts, name), vhosts, usage);
}

void DiskSpaceCalculator::countDumps(const std::wstring& guid, DiskSpaceUsage& usage) {
  cadro::IDumpRepository* repository = dumps_.get();
  if (!repository || guid.empty()) return;
  usage.domaindumps = repository->getDomainDumpsSize(text::toAnsi(guid).c_str(), "");
}

void DiskSpaceCalculator::countMailboxes(const std::wstring& id, DiskSpaceUsage& usage) {
  if (diskUsageSettingOn(db_, L"not_count_mail_disk_usage")) return;
  VRecordSet sum = db_.query(L"SELECT SUM(disk_usage) FROM mail WHERE dom_id = " + id);
  if (sum.next()) addSaturated(usage.mailboxes, wcrt::wtoi64(sum.get(0)));
}

void DiskSpaceCalculator::countTomcat(const std::wstring& name, const std::wstring& id, DiskSpaceUsage& usage) {
  VRecordSet service = db_.query(L"select id from DomainServices where type='tomcat' and dom_id=" + id);
  if (!service.next() || !isDirectoryName(name)) return;
  const std::wstring wars = VFileName::combine(sources_.productPath(L"CATALINA_HOME"), L"cdr-wars");
  addSaturated(usage.webapps, getDirectorySize(VFileName::combine(wars, name)));
}
