#pragma once
// Antivirus and spam statistics: the mail filters write per-message records into log files
// under the control panel's log directory; one pass reads the files of one kind, counts per
// UTC day how many messages had each status, which viruses were found and which recipients
// received infected mail, and stores the counts in `avstatistics` (one row per type, day
// and name). It then drops counts older than the retention period ("AVStatisticRotationPeriod"
// days, 30 by default) and deletes the log files it has done with.
//
// The two passes:
//   antivirus: files "cadrolog_avstat*.log",   types "summary", "viruses", "recipients",
//              last day processed in "LastAntivirusStatisticLog"
//   spam:      files "cadrolog_spamstat*.log", types "spam_summary", "spam_recipients",
//              last day processed in "LastSpamStatisticLog" (virus names are not counted)
//
// Each pass recounts its last processed day: the rows from that day on are deleted and
// counted again from the files still present, every file from that same day on. So that the
// recount is complete, a file whose newest record lies on the newest day processed is kept
// until a later pass has processed a later day.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "maintenance/avstat_record.h"

class CDRDatabase;

class avstatistics {
 public:
  // One pass over the log files of `fileKind` ("avstat", "spamstat") found in
  // `logDirectory` and its subdirectories, storing through `database`.
  avstatistics(CDRDatabase& database, std::wstring logDirectory, std::wstring fileKind, std::wstring typePrefix,
               std::wstring lastProcessedKey, bool countViruses);

  // Runs the pass in one transaction, rolled back when a statement fails (the failure then
  // propagates and every file is kept). After the commit, deletes the files done with; a
  // file that cannot be deleted is reported as a warning. A file that cannot be read is
  // reported as an error, left out of the counts and kept.
  void process();

 private:
  struct LogFile {
    std::wstring path;
    std::wstring newestDay;  // of the records counted; empty when none was
    bool readFailed = false;
  };
  using Counters = std::map<std::wstring, uint64_t, std::less<>>;

  void collectLogFiles();
  void collectFrom(const std::wstring& directory, bool top);
  // Counts the records of `file` from the day `floor` on (all when it is empty).
  void countFile(LogFile& file, const std::wstring& floor);
  void countRecord(const AvLogRecord& record);
  // Stores the counters for the current day (nothing for an empty day) and empties them.
  void storeCounters();
  void storeCounters(Counters& counters, const std::wstring& type, const std::wstring& dateLiteral);
  void applyRetention();
  void removeDoneFiles();

  CDRDatabase& database_;
  std::wstring logDirectory_;
  std::wstring fileKind_;
  std::wstring typePrefix_;
  std::wstring lastProcessedKey_;
  bool countViruses_;
  std::wstring providerName_;

  Counters summary_;
  Counters viruses_;
  Counters recipients_;
  std::vector<LogFile> files_;
  std::wstring newest_;      // the newest day processed
  std::wstring currentDay_;  // the day the counters hold
  AvLogLineMatcher matcher_;
  AvLogRecord record_;
  std::wstring lowered_;  // a recipient address in lower case
};

// The control panel's log directory: the product root joined with "admin" and "logs".
std::wstring avStatisticsLogDirectory();

// One pass over the log directory with the process-wide database; see avstatistics.
void processAvStatistics(const std::wstring& fileKind, const std::wstring& typePrefix,
                         const std::wstring& lastProcessedKey, bool countViruses);
