#pragma once
// The disk usage of a mailbox: the sizes of the regular files under its Maildir, whose path
// comes from a pattern such as "/var/mail/vhosts/%d/%n/Maildir". The part of the pattern
// before its first "%" belongs to the administrator and is taken as it stands; below it no
// symbolic link is followed (a link planted in a mailbox counts nothing, one in place of a
// mailbox directory fails the measurement).

#include <cstdint>
#include <string>

namespace postfix {

// The pattern with %d (domain), %n (mailbox name), %u ("name@domain") and %% replaced.
// Throws std::runtime_error for a name that could leave its directory (empty, ".", "..",
// holding "/", a control character) and for an unknown "%" sequence.
std::string maildirPath(const std::string& pattern, const std::string& mailName, const std::string& domain);

// The bytes of the regular files under the Maildir of the pattern; 0 when the mailbox has no
// Maildir yet while the administrator's part of the path exists. Throws std::runtime_error
// when the tree cannot be read or a link stands in the path below that part.
int64_t maildirUsage(const std::string& pattern, const std::string& mailName, const std::string& domain);

}  // namespace postfix
