#pragma once
// The run's analyser writers: which domain gets which generator's writer, the writers
// themselves keyed as their generator needs, and the generator runs after the logs are
// read. The application object owns one for the traffic task; the writers, and with them
// their temporary logs, live as long as it does.
//
// Keys and names are lower case. An "awstats" domain has one writer per host (the domain
// and each subdomain get their own statistics); a "webalizer" domain has one writer for
// all its hosts, keyed by the domain name. Any other setting gets no writer: its traffic is
// still counted, nothing is written for a generator.

#include <functional>
#include <optional>
#include <map>
#include <memory>
#include <string>

#include "app/domain_info.h"
#include "platform/dates/local_offset_cache.h"
#include "platform/text/text_codec.h"
#include "webstat/log_for_analyser.h"

class CDRDatabase;

class AnalyserWriters {
 public:
  // The statistics setting (hosting.webstat) of the domain with identifier `domainId`;
  // nullopt when the domain has no hosting row. May raise.
  using WebstatLookup = std::function<std::optional<std::wstring>(const std::wstring& domainId)>;
  // The default document of a site by lower-cased name; empty when none is known.
  using DefaultDocumentLookup = std::function<std::wstring(const std::wstring& name)>;

  // `domainNames` is the run's selected domains (lower-cased name to identifier); it must
  // outlive this object.
  AnalyserWriters(const DomainNameMap& domainNames, WebstatLookup webstat, DefaultDocumentLookup defaultDocument);
  ~AnalyserWriters();
  AnalyserWriters(const AnalyserWriters&) = delete;
  AnalyserWriters& operator=(const AnalyserWriters&) = delete;

  // "select webstat from hosting where dom_id=<id>" on `db` (the identifier is a number and
  // goes in unquoted).
  static WebstatLookup webstatFromDatabase(CDRDatabase& db);

  // The writer for a line of `domainName` addressed to `hostName`, created at the first
  // line of its key; null when the domain has no generator. The domain's setting is asked
  // once per name and kept; a failed lookup passes to the caller and is asked again next
  // time.
  statistics::LogForAnalyser* getAnalyserWriter(const std::wstring& domainName, const std::wstring& hostName);

  // For every writer in key order and every log type 0..5 whose temporary log holds data,
  // the writer's run. A failed run is reported at level 3 under "Unable to peocess web
  // statistics for domain" + key (operation "statistics::runWebLogAnalyser") and the loop
  // goes on.
  void runWebLogAnalyser();

  // The installation and run the writers' generator runs use, given to every writer made
  // from now on; it must outlive this object.
  void setRunSettings(AnalyserRunSettings* settings) { runSettings_ = settings; }

  // The writers by key (tests, reports).
  using WriterMap = std::map<std::wstring, std::unique_ptr<statistics::LogForAnalyser>, text::LessNoCase>;
  const WriterMap& writers() const { return writers_; }
  // Stores `writer` under the lower-cased `key`, replacing a writer there (writers of kinds
  // the settings do not name, such as a test's).
  void adopt(const std::wstring& key, std::unique_ptr<statistics::LogForAnalyser> writer);
  // Deletes every writer and its temporary logs (the end of the traffic task).
  void clear() { writers_.clear(); }

 private:
  const std::wstring& settingOf(std::wstring_view domain);

  const DomainNameMap& domainNames_;
  WebstatLookup webstat_;
  DefaultDocumentLookup defaultDocument_;
  AnalyserRunSettings* runSettings_ = nullptr;
  // Lower-cased domain name -> lower-cased setting; the lookups compare without regard to
  // case, so a line's names are never copied.
  std::map<std::wstring, std::wstring, text::LessNoCase> settings_;
  // The zone offsets of the line times, shared by the AWStats writers (declared before
  // them, so that it outlives them).
  LocalOffsetCache localOffsets_;
  WriterMap writers_;
};
