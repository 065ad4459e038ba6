#include "app/domain_info.h"

#include <cwchar>

#include "db/cdr_database.h"
#include "db/text_number.h"
#include "platform/report/log_manager.h"
#include "platform/registry/registry.h"
#include "platform/text/text_codec.h"

DomainInfo::DomainInfo(std::wstring id, std::wstring name, uint32_t ipAddress, int32_t statisticsLifetime,
                       bool hasWwwRecord)
    : id_(std::move(id)),
      name_(std::move(name)),
      ipAddress_(ipAddress),
      statisticsLifetime_(statisticsLifetime),
      trafficLock_(BusinessLock::RegistryOfflineLockStatus(HKEY_LOCAL_MACHINE, registry::domainKey(id_),
                                                           L"OfflineLockStatus"),
                   BusinessLock::kBusinessLockMutex),
      hasWww_(hasWwwRecord) {}

bool DomainInfo::tryLock(bool maximizeConcurrency) {
  if (!eligible_) return false;
  try {
    trafficLock_.lock();
    return true;
  } catch (const BusinessLock::LockException&) {
    eligible_ = maximizeConcurrency;
    return false;
  }
}

namespace {

constexpr const wchar_t* kHttpWindowValue = L"LastHttpStatisticsRun";
constexpr const wchar_t* kFtpWindowValue = L"LastFtpStatisticsRun";

}  // namespace

const LogWindow& DomainInfo::loadedWindow(int logType, const wchar_t* bound, const char* operation) const {
  const LogWindow* window = logType == logtype::kHttp ? &httpWindow_
                            : logType == logtype::kAnonymousFtp || logType == logtype::kFtp ? &ftpWindow_
                                                                                             : nullptr;
  if (!window || window->notLoaded)
    throw vexception(vformat(L"Unable to return %s log type for %d", bound, logType), VCTX(L"", operation));
  return *window;
}

const VDateTime& DomainInfo::getStartLogTime(int logType) const {
  return loadedWindow(logType, L"start", "statistics::DomainInfo::getStartLogTime").start;
}

const VDateTime& DomainInfo::getEndLogTime(int logType) const {
  return loadedWindow(logType, L"end", "statistics::DomainInfo::getEndLogTime").end;
}

void DomainInfo::loadLogWindows(bool http, bool ftp, const std::wstring& forcedStart) {
  if (http) httpWindow_.load(id_, kHttpWindowValue, forcedStart);
  if (ftp) ftpWindow_.load(id_, kFtpWindowValue, forcedStart);
}

void DomainInfo::saveLogWindows(bool http, bool ftp) const {
  if (http) httpWindow_.save(id_, kHttpWindowValue);
  if (ftp) ftpWindow_.save(id_, kFtpWindowValue);
}

std::wstring domainQueryStatement(const std::wstring& condition) {
  std::wstring sql =
      L"SELECT domains.id, domains.name, domains.status, hosting.webstat, dom_param.val, domains.guid AS domainGuid, "
      L"clients.guid AS ownerGuid, domainservices.status AS mailStatus FROM  (((domains INNER JOIN clients ON "
      L"domains.cl_id = clients.id)  LEFT JOIN hosting ON domains.id = hosting.dom_id) LEFT JOIN dom_param ON ( "
      L"domains.id = dom_param.dom_id AND dom_param.param='stat_ttl' ))LEFT JOIN domainservices ON ( domains.id = "
      L"domainservices.dom_id AND domainservices.type = 'mail')";
  if (!condition.empty()) sql += L" WHERE " + condition;
  return sql;
}

namespace {

uint32_t unsignedValue(const std::wstring& text) {
  return static_cast<uint32_t>(std::wcstoul(text.c_str(), nullptr, 10));
}

}  // namespace

void queryDomains(CDRDatabase& db, const DomainFilter& filter, int32_t statisticsLifetime, DomainMap& domains,
                  DomainNameMap& names) {
  VRecordSet rows = db.query(domainQueryStatement(filter.condition(L"domains.displayName", db.provider())));
  while (rows.next()) {
    std::wstring id, name, status;
    if (!rows.lookup(L"id", id)) continue;
    if (!rows.lookup(L"name", name)) continue;
    name = text::toLower(name);
    if (!rows.lookup(L"status", status)) continue;
    if (unsignedValue(status) & 4) continue;

    auto info = std::make_unique<DomainInfo>(id, name, 0, 0, db.hasWwwRecord(id));
    std::wstring own;
    int32_t lifetime = rows.lookup(L"val", own) ? wcrt::wtoi(own) : statisticsLifetime;
    if (lifetime != 0 && lifetime < statisticsLifetime) lifetime = statisticsLifetime;
    info->setStatisticsLifetime(lifetime);

    std::wstring webstat;
    info->setWebStatisticsEnabled(rows.lookup(L"webstat", webstat) && webstat != L"none");

    info->setIpAddress(db.getIPByDomainId(id));
    if (info->ipAddress() == 0) vreport(1, L"Domain %s has no ip", name);

    std::wstring value;
    if (rows.lookup(L"domainGuid", value)) info->setDomainGuid(value);
    if (rows.lookup(L"ownerGuid", value)) info->setOwnerGuid(value);
    if (rows.lookup(L"mailStatus", value)) info->setMailServiceStatus(unsignedValue(value));

    names[name] = id;
    domains[id] = std::move(info);
    vreport(0, L"domain %s(%s) ordered to proceess", id, name);
  }
}
