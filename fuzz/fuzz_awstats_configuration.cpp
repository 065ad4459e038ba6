// An AWStats host's configuration starts from the model file an operator may have edited
// by hand: any text splits into lines that join back byte for byte, the program's keys
// end up set exactly once per line that named them, a value that would span lines is
// refused, and setting the same keys again changes nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/report/vexception.h"
#include "webstat/awstats_configuration.h"

namespace {

// Values from the input's first line, tab-separated, so that the fuzzer reaches quotes,
// blanks, line ends and NUL in them.
std::vector<awstats::ConfigSetting> settingsFrom(std::string_view text) {
  const std::string_view first = text.substr(0, text.find('\n'));
  std::vector<awstats::ConfigSetting> settings = {{"LogFile", ""}, {"HostAliases", ""}, {"DirData", ""}};
  size_t at = 0;
  for (awstats::ConfigSetting& s : settings) {
    const size_t tab = first.find('\t', at);
    s.value = std::string(first.substr(at, tab == std::string_view::npos ? first.size() - at : tab - at));
    at = tab == std::string_view::npos ? first.size() : tab + 1;
  }
  return settings;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const awstats::ConfigLines original = awstats::splitConfigLines(text);
  if (awstats::joinConfigLines(original) != text) std::abort();

  const std::vector<awstats::ConfigSetting> settings = settingsFrom(text);
  bool spansLines = false;
  for (const awstats::ConfigSetting& s : settings)
    spansLines |= s.value.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos;
  try {
    awstats::checkSingleLine(settings, L"ex.test");
  } catch (const ArgumentException&) {
    if (spansLines) return 0;
    std::abort();  // refused a value that stays on its line
  }
  if (spansLines) std::abort();

  awstats::ConfigLines lines = original;
  awstats::setKeys(lines, settings);
  // The original lines keep their places; each is either kept or now sets a key.
  if (lines.size() < original.size()) std::abort();
  for (size_t i = 0; i < original.size(); ++i) {
    const std::string& before = original[i];
    const std::string& after = lines[i];
    if (after == before || (i + 1 == original.size() && after == before + "\r\n")) continue;
    bool setsKey = false;
    for (const awstats::ConfigSetting& s : settings) setsKey |= after == s.key + "=" + s.value + "\r\n";
    if (!setsKey) std::abort();
  }
  for (const awstats::ConfigSetting& s : settings) {
    bool found = false;
    for (const std::string& line : lines) found |= line == s.key + "=" + s.value + "\r\n";
    if (!found) std::abort();
  }

  const std::string once = awstats::joinConfigLines(lines);
  awstats::ConfigLines again = awstats::splitConfigLines(once);
  awstats::setKeys(again, settings);
  if (awstats::joinConfigLines(again) != once) std::abort();
  return 0;
}
