#include "maintenance/log_rotation_policy.h"

#include "db/text_number.h"
#include "platform/files/vfilename.h"
#include "platform/text/text_codec.h"

namespace {

constexpr int64_t kSecondsPerDay = 86400;

// Written within the last day before `nowUtc`.
bool writtenWithinADay(const VDateTime& written, const VDateTime& nowUtc) {
  return (written + kSecondsPerDay) >= nowUtc;
}

}  // namespace

bool policySwitchOn(std::wstring_view value) { return text::equalsNoCase(value.substr(0, 4), L"true"); }

LogRotationPolicy LogRotationPolicy::fromColumns(const std::wstring& maxNumberOfLogFiles,
                                                 const std::wstring& compressEnable, const std::wstring& email,
                                                 const std::wstring& turnedOn, const std::wstring& periodType,
                                                 const std::wstring& period) {
  LogRotationPolicy policy;
  policy.maxNumberOfLogFiles = wcrt::wtoi(maxNumberOfLogFiles);
  policy.compress = policySwitchOn(compressEnable);
  policy.email = email;
  policy.turnedOn = policySwitchOn(turnedOn);
  policy.bySize = text::toLower(periodType) == L"by_size";
  if (policy.bySize)
    policy.sizeThreshold = wcrt::wtoi64(period);
  else
    policy.period = text::toLower(period);
  return policy;
}

bool LogFileEntry::isArchive() const { return text::equalsNoCase(VFileName::extension(path), L".zip"); }

bool logEntryLess(const LogFileEntry& a, const LogFileEntry& b) {
  const bool aArchive = a.isArchive();
  const bool bArchive = b.isArchive();
  if (aArchive != bArchive) return aArchive;
  return a.lastWriteTime < b.lastWriteTime;
}

bool isCurrentLog(const LogRotationPolicy& policy, const LogFileEntry& newest, const VDateTime& nowUtc) {
  if (policy.bySize) return policy.sizeThreshold >= newest.size;
  const VDateTime& written = newest.lastWriteTime;
  if (!written.isValid() || !nowUtc.isValid()) return false;
  if (policy.period == L"daily") return writtenWithinADay(written, nowUtc);
  if (policy.period == L"weekly") return written.weekday() == 0 && writtenWithinADay(written, nowUtc);
  if (policy.period == L"monthly") return written.day == 1 && writtenWithinADay(written, nowUtc);
  return false;
}

namespace logrotate {

std::wstring getQuery(std::wstring_view providerName, const std::wstring& escapedDomainId) {
  const wchar_t* idValue = text::equalsNoCase(providerName, L"Jet") ? L"cstr(l.id)" : L"l.id";
  return std::wstring(
             L"SELECT l.max_number_of_logfiles, l.compress_enable, l.email, l.turned_on, l.period_type, l.period "
             L"FROM `log_rotation` l, `dom_param` dp WHERE dp.param='logrotation_id' AND dp.val=") +
         idValue + L" AND dp.dom_id=" + escapedDomainId;
}

}  // namespace logrotate
