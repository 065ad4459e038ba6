#pragma once
// The default-document map of a run: lower-cased host name (a domain or a full subdomain
// name) to the default documents of its web site, filled while log collection registers
// the domains' log directories. The analyser writers and the statistics modules read it.

#include <functional>
#include <map>
#include <string>

using DefaultDocumentMap = std::map<std::wstring, std::wstring, std::less<>>;
