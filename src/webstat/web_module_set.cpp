#include "webstat/web_module_set.h"

#include "platform/report/guard.h"
#include "webstat/web_module_host.h"

namespace {

// A line's fields as modules see them.
class RecordFields final : public Statistics::LogLineFields {
 public:
  explicit RecordFields(const W3CRecord& record) : record_(record) {}
  std::wstring_view get(std::wstring_view name) const override { return record_.get(name); }
  std::wstring_view line() const override { return record_.line(); }

 private:
  const W3CRecord& record_;
};

}  // namespace

std::shared_ptr<Statistics::ModuleFactory> loadWebModuleFactory(WebModuleHost& host) {
  const std::wstring section = L"Web";
  try {
    return Statistics::ModuleFactory::fromXMLFile(webModulesConfigurationPath(), section, host);
  } catch (...) {
    guard::reportCurrent(
        3, VCTX(L"Unable to load the web statistics modules", "Statistics::ModuleFactory::fromXMLFile"));
  }
  return std::make_shared<Statistics::ModuleFactory>(section, vxmlLoadXML(Statistics::kDefaultModulesDocument),
                                                     pugi::xml_node(), host);
}

WebModuleSet::WebModuleSet(std::shared_ptr<Statistics::ModuleFactory> factory) : factory_(std::move(factory)) {}

// Modules go before the factory that holds their libraries.
WebModuleSet::~WebModuleSet() { keys_.clear(); }

Statistics::ModuleList& WebModuleSet::modules(std::wstring_view domain, std::wstring_view host,
                                              std::wstring_view logFile) {
  const KeyView view{domain, host, logFile};
  auto found = keys_.find(view);
  if (found != keys_.end()) return found->second;
  // The key is stored before its modules are made, so that a failing factory is not asked
  // again at every line of the key.
  auto& list = keys_.emplace(Key{std::wstring(domain), std::wstring(host), std::wstring(logFile)},
                             Statistics::ModuleList())
                   .first->second;
  factory_->createModules(list, std::wstring(), true);
  return list;
}

void WebModuleSet::processLogLine(std::wstring_view domain, std::wstring_view host, std::wstring_view logFile,
                                  int kind, std::wstring_view defaultDocument, bool hasWww, const VDateTime& time,
                                  const W3CRecord& fields) {
  if (!anyModule_) return;
  Statistics::ModuleList& list = modules(domain, host, logFile);
  if (factory_->descriptors().empty()) {
    anyModule_ = false;
    return;
  }
  if (list.empty()) return;
  const Statistics::LineTime t{time.year, time.month, time.day, time.hour, time.minute, time.second,
                               time.milliseconds};
  const RecordFields view(fields);
  for (Statistics::ModuleObject& module : list)
    module->processLogLine(domain, host, logFile, kind, defaultDocument, hasWww, t, view);
}

void WebModuleSet::finish() {
  for (auto& [key, list] : keys_) {
    for (Statistics::ModuleObject& module : list)
      if (!module->isFinished()) module->finish();
  }
}
