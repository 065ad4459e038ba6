#include "maintenance/avstatistics.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "db/cdr_database.h"
#include "db/service_settings.h"
#include "db/sql_dialect.h"
#include "db/text_number.h"
#include "db/transaction.h"
#include "maintenance/recipient_list.h"
#include "maintenance/utf16_log_reader.h"
#include "platform/dates/vdatetime.h"
#include "platform/files/vfile.h"
#include "platform/files/vfilefinder.h"
#include "platform/files/vfilename.h"
#include "platform/report/guard.h"
#include "platform/report/log_manager.h"
#include "platform/service/product_paths.h"
#include "platform/text/text_codec.h"

namespace {

constexpr int64_t kSecondsPerDay = 86400;
// The width of `avstatistics`.`name`: longer names are counted under their beginning, so
// that the row fits and two names that differ only beyond it share one row.
constexpr size_t kNameLength = 255;
constexpr uint32_t kPathNotFound = 3;

void increment(std::map<std::wstring, uint64_t, std::less<>>& counters, std::wstring_view name) {
  name = name.substr(0, kNameLength);
  if (auto it = counters.find(name); it != counters.end())
    ++it->second;
  else
    counters.emplace(std::wstring(name), 1);
}

}  // namespace

avstatistics::avstatistics(CDRDatabase& database, std::wstring logDirectory, std::wstring fileKind,
                           std::wstring typePrefix, std::wstring lastProcessedKey, bool countViruses)
    : database_(database),
      logDirectory_(std::move(logDirectory)),
      fileKind_(std::move(fileKind)),
      typePrefix_(std::move(typePrefix)),
      lastProcessedKey_(std::move(lastProcessedKey)),
      countViruses_(countViruses) {}

void avstatistics::process() {
  providerName_ = configuredProviderName(database_.settings());
  files_.clear();
  db::inTransaction(database_.provider(), [&] {
    const std::wstring last = database_.getMiscParam(lastProcessedKey_, L"");
    if (!last.empty()) {
      const std::wstring& p = typePrefix_;
      database_.executeFormat(
          L"delete from avstatistics where `date` >= %s and ( `type` = '%ssummary' OR `type` = '%sviruses' OR "
          L"`type` = '%srecipients' )",
          formatDate(database_.escape(last), providerName_), p, p, p);
    }
    newest_ = last;
    currentDay_ = last;
    collectLogFiles();
    // Every file is read from the same day on: the rows from `last` on are gone, so each
    // record of those days counts once, whichever file holds it and whatever the order.
    for (LogFile& file : files_) countFile(file, last);
    storeCounters();
    database_.setMiscParam(lastProcessedKey_, newest_);
    applyRetention();
  });
  removeDoneFiles();
}

void avstatistics::collectLogFiles() {
  collectFrom(logDirectory_, true);
  std::sort(files_.begin(), files_.end(), [](const LogFile& a, const LogFile& b) { return a.path < b.path; });
}

void avstatistics::collectFrom(const std::wstring& directory, bool top) {
  const std::wstring mask = L"cadrolog_" + fileKind_ + L"*.log";
  std::optional<VFileFinder> finder;
  try {
    finder.emplace(directory, L"*");
  } catch (const vosexception& e) {
    // No log directory yet: the filters have written nothing.
    if (top && e.code() == kPathNotFound) return;
    if (top) throw;
    // A subdirectory that cannot be listed costs only its own files.
    guard::reportCurrent(3, ContextRecord{L"Unable to list " + directory, "avstatistics::collectLogFiles", __LINE__});
    return;
  }
  // Links are passed over: the pass deletes what it reads.
  while (finder->next()) {
    const VFileFinder::Entry& entry = finder->entry();
    if (entry.isSymlink) continue;
    if (entry.isDirectory)
      collectFrom(entry.path, false);
    else if (VFileName::matchesMask(entry.name, mask))
      files_.push_back(LogFile{entry.path, {}, false});
  }
}

void avstatistics::countFile(LogFile& file, const std::wstring& floor) {
  const ContextRecord context{L"Unable to read " + file.path, "avstatistics::countFile", __LINE__};
  std::optional<Utf16LogReader> reader;
  try {
    reader.emplace(file.path);
  } catch (const vexception&) {
    guard::reportCurrent(3, context);
    file.readFailed = true;
    return;
  }
  for (;;) {
    try {
      if (!reader->next()) break;
    } catch (const vexception&) {
      guard::reportCurrent(3, context);
      file.readFailed = true;
      break;
    }
    // The tail of a line longer than a piece is never a record of its own, however it reads.
    if (!reader->startsLine() || !matcher_.match(reader->piece(), record_)) continue;
    const std::wstring_view day = record_.day();
    if (day < floor) continue;  // stored by an earlier pass, and not deleted this time
    if (day > file.newestDay) file.newestDay.assign(day);
    if (day != currentDay_) {
      storeCounters();
      currentDay_.assign(day);
    }
    if (record_.hasMessage) countRecord(record_);
  }
  if (file.newestDay > newest_) newest_ = file.newestDay;
}

void avstatistics::countRecord(const AvLogRecord& record) {
  increment(summary_, record.status);
  if (record.status != L"infected") return;
  if (countViruses_) increment(viruses_, record.virus);
  RecipientList list(record.recipients);
  for (std::wstring_view address; list.next(address);) {
    text::assignLower(address, lowered_);
    increment(recipients_, lowered_);
  }
}

void avstatistics::storeCounters() {
  if (!currentDay_.empty()) {
    const std::wstring date = formatDate(database_.escape(currentDay_), providerName_);
    storeCounters(summary_, typePrefix_ + L"summary", date);
    if (countViruses_) storeCounters(viruses_, typePrefix_ + L"viruses", date);
    storeCounters(recipients_, typePrefix_ + L"recipients", date);
  }
  summary_.clear();
  viruses_.clear();
  recipients_.clear();
}

void avstatistics::storeCounters(Counters& counters, const std::wstring& type, const std::wstring& dateLiteral) {
  for (const auto& [name, count] : counters) {
    const std::wstring escaped = database_.escape(name);
    // A row may stand already: the day came back after a later one, or the database holds
    // two of the names as equal (its collation may ignore case or accents). The counts are
    // then added to it instead of failing on the duplicate.
    VRecordSet existing = database_.queryFormat(
        L"select `val` from avstatistics where `type` = '%s' and `date` = %s and `name` = '%s'", type, dateLiteral,
        escaped);
    if (existing.next()) {
      const auto sum = static_cast<int64_t>(static_cast<uint64_t>(wcrt::wtoi64(existing.get(0))) + count);
      database_.executeFormat(
          L"update avstatistics set `val` = %I64d where `type` = '%s' and `date` = %s and `name` = '%s'", sum, type,
          dateLiteral, escaped);
    } else {
      database_.executeFormat(
          L"insert into avstatistics(`type`, `date`, `name`, `val`) values( '%s', %s, '%s', %I64d )", type,
          dateLiteral, escaped, static_cast<int64_t>(count));
    }
  }
  counters.clear();
}

void avstatistics::applyRetention() {
  const int32_t days = wcrt::wtol(database_.getMiscParam(L"AVStatisticRotationPeriod", L"30"));
  // A negative period would reach into the future and drop the counts just stored.
  if (days < 0) return;
  VDateTime cutoff;
  try {
    cutoff = VDateTime::nowUtc() - static_cast<int64_t>(days) * kSecondsPerDay;
  } catch (const vexception&) {
    return;  // before the calendar's first day: nothing is that old
  }
  database_.executeFormat(L"delete from avstatistics where `date` < %s ",
                          formatDate(cutoff.toSqlDateText(), providerName_));
}

void avstatistics::removeDoneFiles() {
  for (const LogFile& file : files_) {
    if (file.readFailed) continue;
    // The newest day is recounted next time, from this file among others.
    if (!file.newestDay.empty() && file.newestDay == newest_) continue;
    try {
      removeFile(file.path, false);
    } catch (...) {
      vreport(1, vexception(vformat(L"Failed to remove log fail %s", file.path), VCTX(L"", "avstatistics::commit")));
    }
  }
}

std::wstring avStatisticsLogDirectory() {
  return VFileName::combine(VFileName::combine(getProductPath(L"PRODUCT_ROOT_D"), L"admin"), L"logs");
}

void processAvStatistics(const std::wstring& fileKind, const std::wstring& typePrefix,
                         const std::wstring& lastProcessedKey, bool countViruses) {
  avstatistics pass(CDRDatabase::shared(), avStatisticsLogDirectory(), fileKind, typePrefix, lastProcessedKey,
                    countViruses);
  pass.process();
}
