#include "provider_settings.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace postfix {

namespace {

std::string trimmed(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

bool parseOffset(const std::string& value, int32_t& seconds) {
  // "+HH:MM", "-HHMM", "+HH"
  if (value.size() < 3 || (value[0] != '+' && value[0] != '-')) return false;
  std::string digits;
  for (size_t i = 1; i < value.size(); ++i) {
    if (value[i] == ':' && i == 3) continue;
    if (value[i] < '0' || value[i] > '9') return false;
    digits += value[i];
  }
  if (digits.size() != 2 && digits.size() != 4) return false;
  const int hours = std::stoi(digits.substr(0, 2));
  const int minutes = digits.size() == 4 ? std::stoi(digits.substr(2)) : 0;
  if (hours > 23 || minutes > 59) return false;
  seconds = (value[0] == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
  return true;
}

}  // namespace

ProviderSettings parseSettings(const std::string& text, const std::string& origin) {
  ProviderSettings settings;
  std::istringstream in(text);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    line = trimmed(line);
    if (line.empty() || line[0] == ';' || line[0] == '#' || line[0] == '[') continue;
    const size_t equals = line.find('=');
    auto fail = [&](const std::string& why) {
      throw std::runtime_error(origin + ":" + std::to_string(number) + ": " + why);
    };
    if (equals == std::string::npos) fail("no \"key = value\"");
    const std::string key = trimmed(line.substr(0, equals));
    const std::string value = trimmed(line.substr(equals + 1));
    if (key == "log_files") {
      settings.logFiles.clear();
      std::istringstream words(value);
      for (std::string word; words >> word;) settings.logFiles.push_back(word);
    } else if (key == "maildir") {
      if (value.empty() || value[0] != '/') fail("maildir must be an absolute path pattern");
      settings.maildir = value;
    } else if (key == "sendmail") {
      if (value.empty() || value[0] != '/') fail("sendmail must be an absolute path");
      settings.sendmail = value;
    } else if (key == "log_time_zone") {
      settings.localZone = value == "local";
      settings.zoneOffsetSeconds = 0;
      if (!settings.localZone && value != "UTC" && value != "utc" && !parseOffset(value, settings.zoneOffsetSeconds))
        fail("log_time_zone must be local, UTC or an offset such as +01:00");
    } else if (key == "log_year") {
      settings.fixedYear = 0;
      if (value != "auto") {
        char* stop = nullptr;
        const long year = std::strtol(value.c_str(), &stop, 10);
        if (stop == value.c_str() || *stop != '\0' || year < 1970 || year > 9999)
          fail("log_year must be auto or a year");
        settings.fixedYear = static_cast<int32_t>(year);
      }
    } else {
      fail("unknown setting \"" + key + "\"");
    }
  }
  return settings;
}

ProviderSettings loadSettings() {
  const char* path = std::getenv(kSettingsVariable);
  if (path == nullptr || *path == '\0') return ProviderSettings{};
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(std::string("Cannot read the mail provider settings ") + path);
  std::ostringstream text;
  text << in.rdbuf();
  return parseSettings(text.str(), path);
}

}  // namespace postfix
