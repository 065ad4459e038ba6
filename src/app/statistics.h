#pragma once
// The application object of the statistics program: the run sequence and the data the
// run's tasks share (options, settings, the selected domains).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/domain_info.h"
#include "app/vconsoleapp.h"
#include "platform/dates/vdatetime.h"
#include "traffic/end_of_run_files.h"
#include "traffic/traffic_store.h"
#include "webstat/web_module_host.h"
#include "webstat/web_module_set.h"

class AnalyserWriters;
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

  // Reads the statistics modules configuration; a configuration whose section factory
  // fails is reported and gives no modules, so that it cannot stop the run.
  statistics();
  ~statistics() override;

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
  // The files the run deletes or saves at its end.
  EndOfRunFiles& endOfRunFiles() { return files_; }

  // Stores the traffic of the log types first..last of the domains of `range`, which need
  // not be the selected domains (see saveTrafficData2DB in traffic/traffic_store.h): the
  // web and FTP step passes the selected domains, 0..2 and lockedOnly; mail traffic its own
  // domain map, 3..5 and not lockedOnly. Each domain's windows of those types are stored
  // right after its commit.
  void saveTrafficData2DB(const DomainMap& range, int firstLogType, int lastLogType, bool lockedOnly);
  // Stores the mail messages sent per day into MailMessagesStat.
  void saveMailMessagesData2DB(const DayCounts& sent);
  // Runs the generators over the analyser writers' temporary logs (nothing when the
  // traffic step made no writers).
  void runWebLogAnalyser();

 private:
  void prepare(Args args, bool& helpPrinted);
  void readSaveDirectories();
  void readStatisticsLifetime();
  void readFtpServerKind();
  void computeExpirationCutoff();
  void unlockDomains();
  // The web and FTP traffic step (collection, storage, analysers, modules, rotation).
  void calculateDomainsTraffic();

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
  // The modules live as long as the run: they finish at the end of the traffic step.
  WebModuleHost moduleHost_;
  std::shared_ptr<Statistics::ModuleFactory> moduleFactory_;
  WebModuleSet webModules_;
  DomainMap domains_;
  DomainNameMap domainNames_;
  // The traffic step's writers; their temporary logs go with them at the step's end.
  std::unique_ptr<AnalyserWriters> analyserWriters_;
  EndOfRunFiles files_;
};
