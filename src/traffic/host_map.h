#pragma once
// The host map of a run: every hosted domain name and full subdomain name (lower-cased) to
// the name of its domain. Log collection fills it while it registers the domains' log
// directories; FTP attribution reads it to turn a login's site into a domain.

#include <functional>
#include <map>
#include <string>

using HostMap = std::map<std::wstring, std::wstring, std::less<>>;
