#pragma once
// The mail server's log files as the settings name them, read oldest first (plain or gzip,
// LF or CRLF line ends) into MailLogTraffic, and the rotated ones the program may take away
// afterwards.

#include <cstdint>
#include <string>
#include <vector>

#include "cadro/mail_provider.h"
#include "provider_settings.h"

namespace postfix {

struct MailLogFile {
  std::string path;
  int64_t modified = 0;  // seconds since 1970
  bool rotated = false;  // "mail.log.1", "mail.log.2.gz", "mail.log-20261201": no longer written
  uint64_t rotation = 0; // the number or date of the suffix
};

// The regular files the patterns match (symbolic links, directories and other compressed
// forms left out), each once, oldest first: by modification time, then the higher rotation
// number first, then by name.
std::vector<MailLogFile> listMailLogs(const std::vector<std::string>& patterns);

// The mail traffic of start <= t < end from every log file of `settings` into `domains` and
// `sentMessages`; appends to `finishedFiles` the rotated files read to their end whose
// lines all lie before `end` and whose messages are no longer queued. A damaged gzip file
// counts up to its damage and is not finished; a file that cannot be opened or read throws
// std::runtime_error.
void collectMailTraffic(const ProviderSettings& settings, const mailmng::Moment& start, const mailmng::Moment& end,
                        mailmng::MailDomainMap& domains, mailmng::FileList& finishedFiles,
                        mailmng::SentMessagesMap& sentMessages);

}  // namespace postfix
