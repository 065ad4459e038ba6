#pragma once
// The configuration of one AWStats host: its lines as narrow text (each keeping its own
// line end), the keys the program sets in them, and the texts of those values that are
// made from the control panel's names (the host aliases, the subdomain index).

#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace awstats {

// The configuration file's lines, each with its line end ("\r\n" or "\n"; the last may
// have none).
using ConfigLines = std::vector<std::string>;

// One key and the text it is set to, quotes included when the value has them.
struct ConfigSetting {
  std::string key;
  std::string value;
};

// The lines of the file `path`. Raises the file's OS error.
ConfigLines readConfigLines(const std::wstring& path);
// The lines of `content`, split after each line feed.
ConfigLines splitConfigLines(std::string_view content);
// The lines joined as they are.
std::string joinConfigLines(const ConfigLines& lines);

// Sets the keys: every line that is not a comment (first non-blank character "#") and,
// after its leading blanks, starts with a key (without regard to case) followed by "=" or
// a blank is replaced by key + "=" + value + "\r\n", the first key of `settings` that
// matches winning; keys no line set are appended in their order, after a line end is given
// to a last line without one.
void setKeys(ConfigLines& lines, const std::vector<ConfigSetting>& settings);

// Raises ArgumentException "The AWStats setting <key> of <host> would span lines" when a
// value holds a line feed, a carriage return or NUL: such a value would add lines of its
// own to the file, so the file is not written.
void checkSingleLine(const std::vector<ConfigSetting>& settings, const std::wstring& hostName);

// `text` in double quotes.
std::string quoted(std::string_view text);

// The host names AWStats counts for a host, blank-separated: the host, then (for the
// domain's own host) its aliases, each lower-cased, each as "www." + N + " " + N when
// `www`. A name that AWStats would read as something else than one name (holding a blank,
// starting with "@" (a file of names) or "REGEX[" (a pattern)) is left out; `refused`
// receives it.
std::wstring hostAliasesText(const std::wstring& hostName, const std::vector<std::wstring>& aliases, bool www,
                             std::vector<std::wstring>* refused = nullptr);

// The index of the domain's subdomains appended to its main page: a table with a link to
// each subdomain's page (<label>.<domain>.html) in `labels`' order, names HTML-escaped;
// empty for no subdomains.
std::wstring subdomainFragment(const std::wstring& domainName, const std::set<std::wstring>& labels);

}  // namespace awstats
