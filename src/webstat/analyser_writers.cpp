#include "webstat/analyser_writers.h"

#include "db/cdr_database.h"
#include "platform/report/guard.h"
#include "webstat/log_for_awstats.h"
#include "webstat/log_for_webalizer.h"

namespace {

constexpr std::wstring_view kAWStats = L"awstats";
constexpr std::wstring_view kWebalizer = L"webalizer";
const std::wstring kNone = L"none";

}  // namespace

AnalyserWriters::AnalyserWriters(const DomainNameMap& domainNames, WebstatLookup webstat,
                                 DefaultDocumentLookup defaultDocument)
    : domainNames_(domainNames), webstat_(std::move(webstat)), defaultDocument_(std::move(defaultDocument)) {}

AnalyserWriters::~AnalyserWriters() = default;

AnalyserWriters::WebstatLookup AnalyserWriters::webstatFromDatabase(CDRDatabase& db) {
  return [&db](const std::wstring& domainId) -> std::optional<std::wstring> {
    VRecordSet rows = db.query(L"select webstat from hosting where dom_id=" + domainId);
    if (!rows.next()) return std::nullopt;
    return rows.get(0);
  };
}

const std::wstring& AnalyserWriters::settingOf(std::wstring_view domain) {
  auto cached = settings_.find(domain);
  if (cached != settings_.end()) return cached->second;
  const std::wstring name = text::toLower(domain);
  std::wstring setting = kNone;
  auto selected = domainNames_.find(name);
  if (selected != domainNames_.end()) {
    if (std::optional<std::wstring> value = webstat_(selected->second)) setting = text::toLower(*value);
  }
  return settings_.emplace(name, std::move(setting)).first->second;
}

statistics::LogForAnalyser* AnalyserWriters::getAnalyserWriter(const std::wstring& domainName,
                                                               const std::wstring& hostName) {
  const std::wstring& setting = settingOf(domainName);
  const bool awstats = setting == kAWStats;
  if (!awstats && setting != kWebalizer) return nullptr;
  const std::wstring& hostOrDomain = hostName.empty() ? domainName : hostName;
  const std::wstring_view key = awstats ? std::wstring_view(hostOrDomain) : std::wstring_view(domainName);
  auto found = writers_.find(key);
  if (found != writers_.end()) return found->second.get();

  const std::wstring domain = text::toLower(domainName);
  const std::wstring host = text::toLower(hostOrDomain);
  std::wstring defaultDocument = defaultDocument_ ? defaultDocument_(domain) : std::wstring();
  std::unique_ptr<statistics::LogForAnalyser> writer;
  if (awstats) {
    auto awstatsWriter = std::make_unique<statistics::LogForAWStats>(domain, host, std::move(defaultDocument));
    awstatsWriter->shareLocalOffsets(&localOffsets_);
    writer = std::move(awstatsWriter);
  } else {
    writer = std::make_unique<statistics::LogForWebalizer>(domain, host, std::move(defaultDocument));
  }
  writer->setRunSettings(runSettings_);
  return writers_.emplace(text::toLower(key), std::move(writer)).first->second.get();
}

void AnalyserWriters::adopt(const std::wstring& key, std::unique_ptr<statistics::LogForAnalyser> writer) {
  writers_.insert_or_assign(text::toLower(key), std::move(writer));
}

void AnalyserWriters::runWebLogAnalyser() {
  for (auto& entry : writers_) {
    statistics::LogForAnalyser& writer = *entry.second;
    for (int type = 0; type < statistics::LogForAnalyser::kLogTypes; ++type) {
      const ContextRecord context{L"Unable to peocess web statistics for domain" + entry.first,
                                  "statistics::runWebLogAnalyser", __LINE__};
      guard::report(3, context, [&] {
        if (writer.hasLogData(type)) writer.run(type);
      });
    }
  }
}
