#pragma once
// The mail traffic of a period from Postfix and Dovecot log lines: the queue manager's
// "from=<..>, size=N" joined by queue id with the delivery agents' "to=<..>, status=sent",
// and Dovecot's logout byte counts. Lines are fed oldest first, all of them (a message
// queued before the period may be delivered inside it); only what happens inside the
// period start <= t < end counts. A queue id is forgotten when the queue manager removes
// its message, and one left behind by lost lines is dropped once it is older than the
// longest a message stays queued, so memory follows the messages in the queue, not the
// lines read. Once a domain's day exists, a line allocates nothing.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "cadro/mail_provider.h"
#include "mail_log_line.h"

namespace postfix {

// Messages queued longer than this are taken as lost lines, not as waiting messages.
inline constexpr int64_t kLongestQueueSeconds = 10 * 86400;

class MailLogTraffic {
 public:
  // Adds to the day maps of `domains` (the entries the program made; no entry is added)
  // and to `sentMessages`. Both must outlive the object.
  MailLogTraffic(const mailmng::Moment& start, const mailmng::Moment& end, mailmng::MailDomainMap& domains,
                 mailmng::SentMessagesMap& sentMessages);

  // The lines that follow come from file number `file` (for openMessagesFrom).
  void beginFile(int32_t file) { file_ = file; }
  void add(const MailLogLine& line);

  // Whether a message queued in `file`, within kLongestQueueSeconds before the period's
  // end, still waits for its removal (the file is then still needed for its size).
  bool openMessagesFrom(int32_t file) const;
  // Whether the UTC moment `utcSeconds` lies before the period's end.
  bool beforeEnd(int64_t utcSeconds) const;
  size_t queuedMessages() const { return count_; }

 private:
  struct Queued {
    uint8_t idLength = 0;  // 0: a free slot
    bool delivered = false;
    char id[31] = {};
    int32_t senderDomain = -1;  // index into days_, -1 for a sender of another server
    int32_t file = 0;
    int64_t size = 0;
    int64_t queuedAt = 0;
  };
  struct DayCache {
    int64_t days = INT64_MIN;
    mailmng::Day day;
  };

  // The fields year..second of a UTC moment, in the order the period compares them.
  void fieldsOf(int64_t utcSeconds, int32_t fields[6]) const;
  bool inPeriod(int64_t utcSeconds);
  int32_t domainIndex(std::string_view address);
  mailmng::MailDayTraffic& dayOf(int32_t domain);
  Queued* find(std::string_view id);
  void insert(const Queued& message);
  void erase(Queued* slot);
  void grow();

  int32_t start_[6];
  int32_t end_[6];
  std::map<std::string, int32_t, std::less<>> domainIndex_;
  std::vector<mailmng::MailDayMap*> days_;
  mailmng::SentMessagesMap& sentMessages_;
  std::vector<Queued> table_;  // open addressing, linear probing; size a power of two
  size_t count_ = 0;
  int32_t file_ = 0;
  int64_t latest_ = 0;  // the latest moment seen
  mutable DayCache dayCache_;  // the day of the latest moment asked for
  char domainBuffer_[256];
};

}  // namespace postfix
