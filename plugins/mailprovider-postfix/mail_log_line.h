#pragma once
// One line of a mail server's syslog file, as Postfix and Dovecot write it: the time stamp
// (traditional "Dec  8 17:04:33" without a year, or RFC 3339 "2026-12-08T17:04:33.123+01:00"),
// the host, the tag ("postfix/qmgr[123]:", "dovecot:") and what the line says about mail
// traffic. Parsing never allocates: every text of the result is a view into the line, valid
// while the line is. Lines are outside data: anything that does not fit is "other", never
// an error.

#include <cstdint>
#include <string_view>

namespace postfix {

// The time zone and year of the traditional time stamps of one file.
struct LineClock {
  // The year of a traditional line is the one of `referenceDay` (the file's last
  // modification, in the log's zone), or the year before when its day would lie more than
  // a day after the reference; `fixedYear` (when not 0) is taken as it stands instead.
  int32_t referenceYear = 1970;
  int32_t referenceMonth = 1;
  int32_t referenceDay = 1;
  int32_t fixedYear = 0;
  // Converts a local civil time of the log's zone to UTC seconds since 1970; also used for
  // an RFC 3339 stamp without an offset.
  int64_t (*localToUtc)(void* context, int32_t year, int32_t month, int32_t day, int32_t secondsOfDay) = nullptr;
  void* context = nullptr;
};

enum class LineKind {
  kOther,          // nothing for the traffic
  kQueued,         // postfix/qmgr "QUEUEID: from=<address>, size=N, ..."
  kRemoved,        // postfix/qmgr "QUEUEID: removed"
  kDelivered,      // postfix/smtp, local, virtual or lmtp "QUEUEID: to=<address>, ..., status=sent"
  kMailboxAccess,  // dovecot imap or pop3 "(user)...: ... in=N out=N" at logout or disconnection
};

// What a delivery agent did with a message.
enum class Agent { kSmtp, kLmtp, kLocal, kVirtual };

struct MailLogLine {
  LineKind kind = LineKind::kOther;
  int64_t utcSeconds = 0;      // the moment of the line, UTC seconds since 1970
  std::string_view queueId;    // kQueued, kRemoved, kDelivered
  std::string_view address;    // the sender (kQueued, may be empty), recipient (kDelivered), user (kMailboxAccess)
  int64_t size = 0;            // kQueued: the message size
  Agent agent = Agent::kSmtp;  // kDelivered
  bool loopbackRelay = false;  // kDelivered: relayed to this host (a content filter), not to another server
  int64_t bytesIn = 0;         // kMailboxAccess: received from the user
  int64_t bytesOut = 0;        // kMailboxAccess: sent to the user
};

// Parses `line` (without its line end). A line without a valid time stamp is kOther.
MailLogLine parseMailLogLine(std::string_view line, const LineClock& clock);

// The lower-case domain of an address ("John@Example.COM" -> "example.com") into `buffer`
// of `capacity` bytes; empty when the address has none or it does not fit.
std::string_view addressDomain(std::string_view address, char* buffer, size_t capacity);

// Days since 1970-01-01 of a Gregorian date, and back.
int64_t daysFromCivil(int32_t year, int32_t month, int32_t day);
void civilFromDays(int64_t days, int32_t& year, int32_t& month, int32_t& day);

}  // namespace postfix
