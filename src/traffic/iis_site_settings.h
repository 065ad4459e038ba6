#pragma once
// The web server's per-site settings that log collection needs: a site's log file
// directory and its default documents, found by the site's server comment. One object is
// the run's binding to the web service container "IIS://" + machine + "/W3SVC": it binds on
// first use and keeps the binding and its site table for its whole life, so sites created
// during the run are not seen. A failed binding is kept too: it is not retried, and every
// later question fails with the same cause.
//
// The machine is the registry value "IIsMachineName" under the configuration key
// ("localhost" when it cannot be read or is empty). The metabase file of "localhost" and of
// this host's own name is iis/metabase.xml under the system root, that of any other machine
// iis/<machine>/metabase.xml (see iis_metabase.h for its format); a file that is missing,
// unreadable or not a metabase is a failed binding.

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/report/vexception.h"
#include "traffic/iis_metabase.h"

class IIsSiteSettings {
 public:
  IIsSiteSettings() = default;
  IIsSiteSettings(const IIsSiteSettings&) = delete;
  IIsSiteSettings& operator=(const IIsSiteSettings&) = delete;

  // The directory that holds the W3C logs of the site whose server comment is `name`
  // (compared without regard to case; empty: the default web site, child "1"): its
  // "LogFileDirectory" with %NAME% references expanded, then "/W3SVC" and the site number.
  // Empty when no site has that comment. Any failure (binding, a site number without its
  // site, the property unset) raises "getDomainLogDirectory for domain = " + name
  // (operation "getDomainLogDirectory") with the cause in its context.
  std::wstring getDomainLogDirectory(const std::wstring& name);
  // The default documents of the site's "Root" directory, separated by spaces where the
  // metabase has commas; empty when no site has that comment. A missing "Root", one of
  // another class than "IIsWebVirtualDir", the property unset or any other failure raises
  // "getDomainDefaultDoc for domain = " + name (operation "getDomainDefaultDoc").
  std::wstring getDomainDefaultDoc(const std::wstring& name);

  // "IIS://" + machine + "/W3SVC", once a binding has been tried; empty before.
  const std::wstring& containerPath() const { return containerPath_; }

 private:
  struct FoundSite {
    const IIsSite& site;
    int32_t number;
  };

  void bindOnce();
  // The site of `name`, or nothing when the site table has no such comment.
  std::optional<FoundSite> findSite(const std::wstring& name);
  std::wstring sitePath(int32_t number) const;

  bool bindTried_ = false;
  std::optional<vexception> bindFailure_;
  std::wstring containerPath_;
  IIsMetabase metabase_;
  std::map<std::wstring, int32_t> siteNumbers_;  // lower-cased server comment -> site number
};

// The machine whose web server the settings come from: "IIsMachineName", else "localhost".
std::wstring iisMachineName();
// The metabase file of `machine` under the system root (native path). Raises when the name
// cannot name a directory of its own ("/", NUL, "." or "..").
std::string metabaseFileOf(const std::wstring& machine);
