#pragma once
// The provider's settings: a small INI file named by the environment variable
// CADRO_MAILPROVIDER_CONF ("key = value" lines, ";" or "#" comments, section headers
// ignored). Without the variable the defaults below hold.
//
//   log_files     = /var/log/mail.log*             paths or glob patterns, separated by blanks
//   maildir       = /var/mail/vhosts/%d/%n/Maildir %d domain, %n mailbox name, %u both ("n@d"), %% a "%"
//   sendmail      = /usr/sbin/sendmail
//   log_time_zone = local                          local (the process's zone), UTC, or +HH:MM / -HH:MM
//   log_year      = auto                           auto (from each file's modification time) or a year

#include <cstdint>
#include <string>
#include <vector>

namespace postfix {

inline constexpr const char* kSettingsVariable = "CADRO_MAILPROVIDER_CONF";

struct ProviderSettings {
  std::vector<std::string> logFiles = {"/var/log/mail.log*"};
  std::string maildir = "/var/mail/vhosts/%d/%n/Maildir";
  std::string sendmail = "/usr/sbin/sendmail";
  bool localZone = true;
  int32_t zoneOffsetSeconds = 0;  // east of UTC, when not localZone
  int32_t fixedYear = 0;          // 0: inferred per file
};

// The settings of the INI text `text`; throws std::runtime_error naming `origin` and the line
// for an unknown key or a value that cannot be used.
ProviderSettings parseSettings(const std::string& text, const std::string& origin);
// The settings of the file CADRO_MAILPROVIDER_CONF names (the defaults without it); throws
// when the file cannot be read.
ProviderSettings loadSettings();

}  // namespace postfix
