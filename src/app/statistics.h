#pragma once
// The application object of the statistics program: the run sequence and the data the
// run's tasks share (options, settings, the selected domains).

#include <cstdint>
#include <string>
#include <vector>

#include "app/domain_info.h"
#include "app/vconsoleapp.h"
#include "platform/dates/vdatetime.h"

class CDRDatabase;

class statistics : public vconsoleapp {
 public:
  // FTP server kinds of the "ftpserver" package.
  static constexpr int32_t kFtpServerOther = 0;
  static constexpr int32_t kFtpServerGene6 = 1;
  static constexpr int32_t kFtpServerServU = 2;

  // The analyser log writers and their temporary logs (src/webstat/).
  class LogFile;
  class LogForAnalyser;
  class LogForWebalizer;
  class LogForAWStats;

  // Adds to `deleteList` every host configuration "awstats.<name>.conf" in the cgi-bin
  // directory of the AWStats installation `awstatsDirectory` whose name is not one of the
  // control panel's domains (the model and "awstats.conf" stay). Nothing when the
  // directory is empty; a failure is reported at level 3 "Remove unused awstats configs".
  static void cleanAWstats(CDRDatabase& db, const std::wstring& awstatsDirectory,
                           std::vector<std::wstring>& deleteList);
  // Moves the file `path` aside to `path` + a suffix of the thread and the time ("%d%d"),
  // trying 16 suffixes while the name is taken, and returns the new path. Raises the OS
  // error "Can't create backup file <path>" (operation "statistics::backupFile").
  static std::wstring backupFile(const std::wstring& path);

  statistics() = default;

  // The whole run: preparation (database, registry keys, options, settings, domain
  // selection), then the task steps in their fixed order, each wrapped so that its failure
  // is reported and the run goes on. Returns 0 at the end and after the help; a failure in
  // preparation leaves as an exception (run() makes exit code 1 of it).
  int start(Args args) override;

  bool verbose() const { return verbose_; }
  uint32_t taskSet() const { return taskSet_; }
  // The value of "--from-date" when given, otherwise empty.
  const std::wstring& forcedStartText() const { return forcedStart_; }
  int32_t ftpServerKind() const { return ftpServerKind_; }
  bool maximizeConcurrency() const { return maximizeConcurrency_; }
  int32_t statisticsLifetime() const { return statisticsLifetime_; }
  const VDateTime& expirationCutoff() const { return expirationCutoff_; }
  const std::wstring& saveFtpLogsDirectory() const { return saveFtpDirectory_; }
  const std::wstring& saveHttpLogsDirectory() const { return saveHttpDirectory_; }
  const std::wstring& saveMailLogsDirectory() const { return saveMailDirectory_; }

  DomainMap& domains() { return domains_; }
  DomainNameMap& domainNames() { return domainNames_; }

 private:
  void prepare(Args args, bool& helpPrinted);
  void readSaveDirectories();
  void readStatisticsLifetime();
  void readFtpServerKind();
  void computeExpirationCutoff();
  void unlockDomains();

  bool verbose_ = false;
  uint32_t taskSet_ = 0;
  std::wstring forcedStart_;
  int32_t ftpServerKind_ = kFtpServerOther;
  bool maximizeConcurrency_ = false;
  int32_t statisticsLifetime_ = 3;
  VDateTime expirationCutoff_;
  std::wstring saveFtpDirectory_;
  std::wstring saveHttpDirectory_;
  std::wstring saveMailDirectory_;
  DomainMap domains_;
  DomainNameMap domainNames_;
};
