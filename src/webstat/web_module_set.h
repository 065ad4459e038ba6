#pragma once
// The web module set: the module objects of each key (domain, host, log file) of the
// traffic task, created from the "Web" section's factory at the first line of the key, and
// the finishing of all of them at the end of the task. Only the modules whose
// "ObjectType" is empty are created here.
//
// With no module configured the hand-off returns at once. Otherwise a line of a key seen
// before looks its list up without copying its names.

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/dates/vdatetime.h"
#include "platform/modules/module_factory.h"
#include "traffic/w3c_record.h"

class WebModuleHost;

// The factory of the "Web" section of the running program's modules configuration
// (webModulesConfigurationPath). A section factory that fails (a "Factory" element without
// "ObjectFactory", a missing library or function) is reported at level 3 under "Unable to
// load the web statistics modules" (operation "Statistics::ModuleFactory::fromXMLFile")
// and gives a factory without modules.
std::shared_ptr<Statistics::ModuleFactory> loadWebModuleFactory(WebModuleHost& host);

class WebModuleSet {
 public:
  explicit WebModuleSet(std::shared_ptr<Statistics::ModuleFactory> factory);
  ~WebModuleSet();
  WebModuleSet(const WebModuleSet&) = delete;
  WebModuleSet& operator=(const WebModuleSet&) = delete;

  // The modules of the key, created when the key is new (a failure of a factory function
  // passes to the caller; the key then keeps the modules created before it).
  Statistics::ModuleList& modules(std::wstring_view domain, std::wstring_view host, std::wstring_view logFile);

  // Hands one counted line to the modules of its key. `kind` is 0 for HTTP, 1 for FTP
  // (log type 2) and 2 for anonymous FTP (log type 1). A module's failure passes to the
  // caller.
  void processLogLine(std::wstring_view domain, std::wstring_view host, std::wstring_view logFile, int kind,
                      std::wstring_view defaultDocument, bool hasWww, const VDateTime& time, const W3CRecord& fields);

  // Every module of every key that is not finished yet is told to finish. The first
  // failure leaves the loop and passes to the caller.
  void finish();

  // False once it is known that no module is configured: callers may then skip preparing
  // a line for processLogLine.
  bool takesLines() const { return anyModule_; }
  size_t keyCount() const { return keys_.size(); }
  Statistics::ModuleFactory& factory() const { return *factory_; }

 private:
  struct Key {
    std::wstring domain, host, logFile;
  };
  struct KeyView {
    std::wstring_view domain, host, logFile;
  };
  struct KeyLess {
    using is_transparent = void;
    template <typename A, typename B>
    bool operator()(const A& a, const B& b) const {
      if (int c = std::wstring_view(a.domain).compare(b.domain)) return c < 0;
      if (int c = std::wstring_view(a.host).compare(b.host)) return c < 0;
      return std::wstring_view(a.logFile).compare(b.logFile) < 0;
    }
  };

  std::shared_ptr<Statistics::ModuleFactory> factory_;
  std::map<Key, Statistics::ModuleList, KeyLess> keys_;
  bool anyModule_ = true;  // false once the factory turned out to have no descriptor
};
