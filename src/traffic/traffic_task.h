#pragma once
// The web and FTP traffic step of a run: the log directories of the selected domains
// registered and walked, every line counted and handed to the analyser writers and the
// statistics modules, then (with the traffic options) the counts stored with each
// domain's windows, and the page hits.
//
//   TrafficTask task(db, exec, settings, domains, names, files);
//   task.collect(writers, modules);     // every directory read
//   if (storing) task.store();          // DomainsTraffic, windows, SitePagesStat
//
// The task owns the run's host map, default-document map and collection caches; the
// application keeps the domains (with their locks, windows and counts) and the file lists.

#include "app/domain_info.h"
#include "traffic/default_document_map.h"
#include "traffic/end_of_run_files.h"
#include "traffic/host_map.h"
#include "traffic/log_collector.h"
#include "traffic/traffic_accounting.h"

class AnalyserWriters;
class CDRDatabase;
class ExecSettings;
class WebModuleSet;

class TrafficTask {
 public:
  // Everything referenced must outlive the task.
  TrafficTask(CDRDatabase& db, ExecSettings& exec, LogCollectionSettings settings, DomainMap& domains,
              const DomainNameMap& domainNames, EndOfRunFiles& files);
  TrafficTask(const TrafficTask&) = delete;
  TrafficTask& operator=(const TrafficTask&) = delete;

  // Registers the directories of each selected domain in map order, then the default web
  // site's, and walks them all; counted lines also go to `writers` and `modules` (either
  // may be null), which must live until the task is done.
  void collect(AnalyserWriters* writers, WebModuleSet* modules);
  // Stores the web and FTP traffic (log types 0..2) of the domains whose lock the run holds,
  // each with its windows right after its commit, then the page hits of the domains that
  // were stored (a rolled-back domain's lines are counted again by the next run, hits
  // included).
  void store();

  // The default documents of a site by lower-cased name; empty when none is known.
  std::wstring defaultDocument(const std::wstring& name) const;
  const HostMap& hosts() const { return hosts_; }

 private:
  CDRDatabase& db_;
  DomainMap& domains_;
  HostMap hosts_;
  DefaultDocumentMap documents_;
  TrafficAccounting accounting_;
  LogCollector collector_;
};
