#pragma once
// The per-domain record of a run and the domain query that selects them.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/business_lock.h"
#include "app/domain_filter.h"
#include "platform/dates/vdatetime.h"
#include "traffic/log_window.h"

class CDRDatabase;

// Traffic of one log type by day: the day (year, month and day set, time fields zero) to the
// byte counts, index 0 out (sent to clients), index 1 in (received from clients).
using DayTraffic = std::map<VDateTime, std::array<int64_t, 2>>;

// Log types: the index of a domain's traffic tables.
namespace logtype {
constexpr int kHttp = 0;
constexpr int kAnonymousFtp = 1;
constexpr int kFtp = 2;
constexpr int kSmtpIn = 3;
constexpr int kSmtpOut = 4;
constexpr int kPop = 5;
constexpr int kCount = 6;
}  // namespace logtype

class DomainInfo {
 public:
  // Nothing is locked; the record is eligible; web statistics off; both windows zero and
  // not loaded.
  DomainInfo(std::wstring id, std::wstring name, uint32_t ipAddress, int32_t statisticsLifetime, bool hasWwwRecord);
  DomainInfo(const DomainInfo&) = delete;
  DomainInfo& operator=(const DomainInfo&) = delete;

  const std::wstring& id() const { return id_; }
  const std::wstring& name() const { return name_; }
  uint32_t ipAddress() const { return ipAddress_; }
  void setIpAddress(uint32_t value) { ipAddress_ = value; }
  int32_t statisticsLifetime() const { return statisticsLifetime_; }
  void setStatisticsLifetime(int32_t value) { statisticsLifetime_ = value; }
  bool webStatisticsEnabled() const { return webStatistics_; }
  void setWebStatisticsEnabled(bool value) { webStatistics_ = value; }
  bool hasWwwRecord() const { return hasWww_; }
  const std::wstring& domainGuid() const { return domainGuid_; }
  const std::wstring& ownerGuid() const { return ownerGuid_; }
  uint32_t mailServiceStatus() const { return mailStatus_; }
  void setDomainGuid(std::wstring g) { domainGuid_ = std::move(g); }
  void setOwnerGuid(std::wstring g) { ownerGuid_ = std::move(g); }
  void setMailServiceStatus(uint32_t s) { mailStatus_ = s; }

  LogWindow& httpWindow() { return httpWindow_; }
  LogWindow& ftpWindow() { return ftpWindow_; }
  // The bounds of the window of a log type: 0 the HTTP window, 1 and 2 the FTP window.
  // Another type, or a window not loaded, raises vexception "Unable to return start log
  // type for %d" (operation "statistics::DomainInfo::getStartLogTime"), or "... end ..."
  // ("statistics::DomainInfo::getEndLogTime").
  const VDateTime& getStartLogTime(int logType) const;
  const VDateTime& getEndLogTime(int logType) const;
  // Loads the HTTP window (when `http`) and the FTP window (when `ftp`) unless loaded
  // (LogWindow::load with "LastHttpStatisticsRun" and "LastFtpStatisticsRun").
  void loadLogWindows(bool http, bool ftp, const std::wstring& forcedStart);
  // Stores the end of each of the two windows that is asked for and loaded (LogWindow::save);
  // raises the first registry failure.
  void saveLogWindows(bool http = true, bool ftp = true) const;
  std::vector<std::wstring>& logDirectories() { return logDirectories_; }

  // The traffic table of a log type (0..5, see logtype); out of range is a caller error.
  DayTraffic& traffic(int logType) { return traffic_.at(static_cast<size_t>(logType)); }
  const DayTraffic& traffic(int logType) const { return traffic_.at(static_cast<size_t>(logType)); }

  // The domain's traffic lock ("OfflineLockStatus" in its per-domain key).
  BusinessLock::RegistryLock& trafficLock() { return trafficLock_; }
  bool trafficLocked() const { return trafficLock_.locked(); }
  bool eligible() const { return eligible_; }

  // Takes the traffic lock without waiting. False without touching the lock when the record
  // is not eligible; false when another run holds the domain, and then the record stays
  // eligible only with maximize concurrency. Other lock failures pass to the caller.
  bool tryLock(bool maximizeConcurrency);

 private:
  // The loaded window of a log type; raises "Unable to return <bound> log type for %d".
  const LogWindow& loadedWindow(int logType, const wchar_t* bound, const char* operation) const;

  std::wstring id_;
  std::wstring name_;
  uint32_t ipAddress_;
  int32_t statisticsLifetime_;
  bool webStatistics_ = false;
  LogWindow httpWindow_;
  LogWindow ftpWindow_;
  std::vector<std::wstring> logDirectories_;
  std::array<DayTraffic, logtype::kCount> traffic_;
  BusinessLock::RegistryLock trafficLock_;
  bool eligible_ = true;
  bool hasWww_;
  std::wstring domainGuid_;
  std::wstring ownerGuid_;
  uint32_t mailStatus_ = 0;
};

// Selected domains by identifier, in plain wide-string order ("10" before "9").
using DomainMap = std::map<std::wstring, std::unique_ptr<DomainInfo>>;
// Lower-cased domain name -> identifier.
using DomainNameMap = std::map<std::wstring, std::wstring>;

// The domain query: "SELECT domains.id, domains.name, ..." with the filter's condition on
// domains.displayName; skips rows without id, name or status and rows whose status has the
// bit 4; fills both maps (a later row of the same identifier replaces the earlier record).
// Statement failures pass to the caller.
void queryDomains(CDRDatabase& db, const DomainFilter& filter, int32_t statisticsLifetime, DomainMap& domains,
                  DomainNameMap& names);

// The statement of the domain query for a filter condition (empty: no WHERE).
std::wstring domainQueryStatement(const std::wstring& condition);
