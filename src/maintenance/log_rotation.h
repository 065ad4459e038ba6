#pragma once
// Rotation of a domain's own logs under the domain's policy (log_rotation_policy.h): in each
// of the domain's log directories the finished logs are zipped, one archive per log, and
// the files beyond the number the policy keeps are removed, newest kept, each mailed to the
// policy's recipient first when one is set.
//
// A domain's owner writes into its log directories, so nothing found there is trusted:
// only regular files with a single name are rotated (a symbolic link, a directory, a FIFO,
// a device or a hard link to a file elsewhere is left alone), a directory below the web
// hosts root is reached from that root without following a link, every file is opened,
// mailed (as a private copy) and deleted relative to the directory without following a
// link, and a log is deleted only after its archive has been written to the disk and read
// back whole.

#include <functional>
#include <string>
#include <vector>

#include "app/domain_info.h"
#include "traffic/mail_provider_loader.h"

class CDRDatabase;

namespace logrotate {

// The web hosts root (HTTPD_VHOSTS_D).
using VhostsRoot = std::function<std::wstring()>;

// Rotates the logs of `domainName` (looked up in `domains`, name to identifier) in each of
// `logDirectories`, in order. Reports "Rotating log for domain %s..." first; a domain that
// is not in the map is reported as "Domain %s does not exist" (both at level 0). Does
// nothing when the domain has no policy or its policy is off. A failure inside one
// directory is reported at level 3 as "Process domain %s log %s" and the next directory
// follows; any other failure is reported at level 0 as "Rotate log for domain %s". Never
// raises. The mail provider comes from `source`, once per directory that has files to
// mail, and only then. The web hosts root comes from `vhostsRoot`, asked for each
// directory (without it, from the management service): a directory below it is the
// domain owner's, and a link anywhere on the way below the root makes it count as missing.
void start(CDRDatabase& database, const DomainNameMap& domains, const std::wstring& domainName,
           const std::vector<std::wstring>& logDirectories,
           const mailmng::ProviderSource& source = mailmng::standardProviderSource(),
           const VhostsRoot& vhostsRoot = {});

}  // namespace logrotate

// Makes the archive `path` + ".zip" of the log file `path`, renumbering older archives of
// that name first (".zip" becomes "_1.zip", "_1.zip" becomes "_2.zip", and so on; a failed
// rename is reported at level 3 as "Can't rename file %s to %s" and ends the operation).
// The log is read only when no other process has it open (a write lease is taken, so a
// server still writing it makes this return false), and is deleted once the archive,
// dated with the log's last-write time (UTC), has been flushed and read back with the same
// size and CRC; a failure on the way removes the new archive and keeps the log. True when
// the log was archived and deleted.
bool compressLogFile(const std::wstring& path);
