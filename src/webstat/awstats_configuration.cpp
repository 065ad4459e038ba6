#include "webstat/awstats_configuration.h"

#include "platform/files/vfile.h"
#include "platform/report/vexception.h"
#include "platform/text/text_codec.h"

namespace awstats {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether `line` (leading blanks skipped) sets `key`.
bool setsKey(std::string_view line, std::string_view key) {
  if (line.size() <= key.size()) return false;
  for (size_t i = 0; i < key.size(); ++i)
    if (lowerAscii(line[i]) != lowerAscii(key[i])) return false;
  return line[key.size()] == '=' || isBlank(line[key.size()]);
}

std::wstring htmlEscaped(std::wstring_view text) {
  std::wstring out;
  for (wchar_t c : text) {
    switch (c) {
      case L'&': out += L"&amp;"; break;
      case L'<': out += L"&lt;"; break;
      case L'>': out += L"&gt;"; break;
      case L'"': out += L"&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace

ConfigLines readConfigLines(const std::wstring& path) { return splitConfigLines(VFile::readAll(path)); }

ConfigLines splitConfigLines(std::string_view content) {
  ConfigLines lines;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    end = end == std::string::npos ? content.size() : end + 1;
    lines.emplace_back(content, start, end - start);
    start = end;
  }
  return lines;
}

std::string joinConfigLines(const ConfigLines& lines) {
  std::string out;
  for (const std::string& line : lines) out += line;
  return out;
}

void setKeys(ConfigLines& lines, const std::vector<ConfigSetting>& settings) {
  std::vector<bool> set(settings.size(), false);
  for (std::string& line : lines) {
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    const std::string_view rest = std::string_view(line).substr(first);
    for (size_t k = 0; k < settings.size(); ++k) {
      if (!setsKey(rest, settings[k].key)) continue;
      line = settings[k].key + "=" + settings[k].value + "\r\n";
      set[k] = true;
      break;
    }
  }
  if (!lines.empty() && !lines.back().empty() && lines.back().back() != '\n') lines.back() += "\r\n";
  for (size_t k = 0; k < settings.size(); ++k)
    if (!set[k]) lines.push_back(settings[k].key + "=" + settings[k].value + "\r\n");
}

void checkSingleLine(const std::vector<ConfigSetting>& settings, const std::wstring& hostName) {
  for (const ConfigSetting& s : settings)
    if (s.value.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
      throw ArgumentException(L"The AWStats setting " + text::fromAnsi(s.key) + L" of " + hostName +
                                  L" would span lines",
                              VCTX(L"", "statistics::LogForAWStats::configure"));
}

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

std::wstring hostAliasesText(const std::wstring& hostName, const std::vector<std::wstring>& aliases, bool www,
                             std::vector<std::wstring>* refused) {
  std::vector<std::wstring> names{hostName};
  names.insert(names.end(), aliases.begin(), aliases.end());
  std::wstring out;
  for (const std::wstring& original : names) {
    const std::wstring name = text::toLower(original);
    if (name.empty() || name.find_first_of(L" \t") != std::wstring::npos || name.front() == L'@' ||
        name.rfind(L"regex[", 0) == 0) {
      if (refused) refused->push_back(original);
      continue;
    }
    if (!out.empty()) out += L' ';
    if (www) out += L"www." + name + L' ';
    out += name;
  }
  return out;
}

std::wstring subdomainFragment(const std::wstring& domainName, const std::set<std::wstring>& labels) {
  if (labels.empty()) return {};
  std::wstring out =
      L"<a name=\"subdomains\">&nbsp;</a><br><table class=\"aws_border\" border=\"0\" cellpadding=\"2\" "
      L"cellspacing=\"0\" id=\"Table1\" width=\"50%\"><tbody><tr><td class=\"aws_title\" "
      L"width=\"70%\">Subdomains</td><td class=\"aws_blank\">&nbsp;</td></tr><tr><td colspan=\"2\"><table "
      L"class=\"aws_data misc\" border=\"2\" bordercolor=\"#ececec\" cellpadding=\"2\" cellspacing=\"0\"width=\"100%\" "
      L"ID=\"Table2\"><tbody>";
  for (const std::wstring& label : labels) {
    const std::wstring host = htmlEscaped(label + L"." + domainName);
    out += L"<tr bgcolor=\"#ececec\"></tr><tr><td width=\"32\"><img src=\"AWStats/icon/mime/html.png\" alt=\"\" "
           L"title=\"\"></td><td class=\"aws\"><a href=\"" +
           host + L".html\">" + host + L"</a></td></tr>";
  }
  out += L"</tbody></table></td></tr></tbody></table><br>";
  return out;
}

}  // namespace awstats
