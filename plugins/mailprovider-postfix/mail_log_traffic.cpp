#include "mail_log_traffic.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace postfix {

namespace {

void addSaturated(int64_t& sum, int64_t amount) {
  sum = amount > std::numeric_limits<int64_t>::max() - sum ? std::numeric_limits<int64_t>::max() : sum + amount;
}

void momentFields(const mailmng::Moment& m, int32_t fields[6]) {
  fields[0] = m.year;
  fields[1] = m.month;
  fields[2] = m.day;
  fields[3] = m.hour;
  fields[4] = m.minute;
  fields[5] = m.second;
}

bool fieldsBefore(const int32_t a[6], const int32_t b[6]) { return std::lexicographical_compare(a, a + 6, b, b + 6); }

size_t hashOf(std::string_view id) {
  uint64_t h = 14695981039346656037ull;
  for (char c : id) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return static_cast<size_t>(h ^ (h >> 29));
}

}  // namespace

MailLogTraffic::MailLogTraffic(const mailmng::Moment& start, const mailmng::Moment& end,
                               mailmng::MailDomainMap& domains, mailmng::SentMessagesMap& sentMessages)
    : sentMessages_(sentMessages), table_(1024) {
  momentFields(start, start_);
  momentFields(end, end_);
  for (auto& [name, days] : domains) {
    std::string narrow;
    for (wchar_t c : name) {
      if (c <= 0 || c >= 128) {
        narrow.clear();
        break;
      }
      narrow += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    if (narrow.empty() || domainIndex_.count(narrow)) continue;
    domainIndex_.emplace(narrow, static_cast<int32_t>(days_.size()));
    days_.push_back(&days);
  }
}

void MailLogTraffic::fieldsOf(int64_t utcSeconds, int32_t fields[6]) const {
  int64_t days = utcSeconds / 86400;
  int64_t secondsOfDay = utcSeconds % 86400;
  if (secondsOfDay < 0) {
    secondsOfDay += 86400;
    --days;
  }
  if (days != dayCache_.days) {
    dayCache_.days = days;
    civilFromDays(days, dayCache_.day.year, dayCache_.day.month, dayCache_.day.day);
  }
  fields[0] = dayCache_.day.year;
  fields[1] = dayCache_.day.month;
  fields[2] = dayCache_.day.day;
  fields[3] = static_cast<int32_t>(secondsOfDay / 3600);
  fields[4] = static_cast<int32_t>(secondsOfDay / 60 % 60);
  fields[5] = static_cast<int32_t>(secondsOfDay % 60);
}

bool MailLogTraffic::inPeriod(int64_t utcSeconds) {
  if (utcSeconds < 0) return false;  // before 1970 even for the zero start
  int32_t fields[6];
  fieldsOf(utcSeconds, fields);
  return !fieldsBefore(fields, start_) && fieldsBefore(fields, end_);
}

bool MailLogTraffic::beforeEnd(int64_t utcSeconds) const {
  int32_t fields[6];
  fieldsOf(utcSeconds, fields);
  return fieldsBefore(fields, end_);
}

int32_t MailLogTraffic::domainIndex(std::string_view address) {
  const std::string_view domain = addressDomain(address, domainBuffer_, sizeof domainBuffer_);
  if (domain.empty()) return -1;
  auto found = domainIndex_.find(domain);
  return found == domainIndex_.end() ? -1 : found->second;
}

mailmng::MailDayTraffic& MailLogTraffic::dayOf(int32_t domain) {
  // The day cache holds the day of the line being added (inPeriod ran first).
  return (*days_[static_cast<size_t>(domain)])[dayCache_.day];
}

MailLogTraffic::Queued* MailLogTraffic::find(std::string_view id) {
  const size_t mask = table_.size() - 1;
  for (size_t i = hashOf(id) & mask;; i = (i + 1) & mask) {
    Queued& slot = table_[i];
    if (slot.idLength == 0) return nullptr;
    if (slot.idLength == id.size() && std::memcmp(slot.id, id.data(), id.size()) == 0) return &slot;
  }
}

void MailLogTraffic::insert(const Queued& message) {
  if (Queued* existing = find({message.id, message.idLength})) {
    *existing = message;  // the id came back (a requeued message): the newer line holds
    return;
  }
  if ((count_ + 1) * 2 > table_.size()) grow();
  const size_t mask = table_.size() - 1;
  size_t i = hashOf({message.id, message.idLength}) & mask;
  while (table_[i].idLength != 0) i = (i + 1) & mask;
  table_[i] = message;
  ++count_;
}

void MailLogTraffic::erase(Queued* slot) {
  // Backward shift: later members of the probe run move into the hole.
  const size_t mask = table_.size() - 1;
  size_t hole = static_cast<size_t>(slot - table_.data());
  for (size_t i = (hole + 1) & mask; table_[i].idLength != 0; i = (i + 1) & mask) {
    const size_t home = hashOf({table_[i].id, table_[i].idLength}) & mask;
    // Moves when its home is not within (hole, i].
    if (((i - home) & mask) >= ((i - hole) & mask)) {
      table_[hole] = table_[i];
      hole = i;
    }
  }
  table_[hole] = Queued{};
  --count_;
}

void MailLogTraffic::grow() {
  // Messages older than a queue's longest stay lost their removal line: dropped first.
  std::vector<Queued> old;
  old.swap(table_);
  size_t kept = 0;
  for (const Queued& q : old)
    if (q.idLength != 0 && q.queuedAt >= latest_ - kLongestQueueSeconds) ++kept;
  size_t capacity = old.size();
  if ((kept + 1) * 4 > capacity) capacity *= 2;
  table_.assign(capacity, Queued{});
  count_ = 0;
  for (const Queued& q : old)
    if (q.idLength != 0 && q.queuedAt >= latest_ - kLongestQueueSeconds) insert(q);
}

void MailLogTraffic::add(const MailLogLine& line) {
  if (line.kind == LineKind::kOther) return;
  latest_ = std::max(latest_, line.utcSeconds);
  switch (line.kind) {
    case LineKind::kQueued: {
      Queued message;
      message.idLength = static_cast<uint8_t>(std::min(line.queueId.size(), sizeof message.id));
      std::memcpy(message.id, line.queueId.data(), message.idLength);
      message.senderDomain = domainIndex(line.address);
      message.file = file_;
      message.size = line.size;
      message.queuedAt = line.utcSeconds;
      insert(message);
      break;
    }
    case LineKind::kRemoved:
      if (Queued* message = find(line.queueId)) erase(message);
      break;
    case LineKind::kDelivered: {
      Queued* message = find(line.queueId);
      if (!message) break;  // queued in a log no longer there: its size is unknown
      const bool first = !message->delivered;
      message->delivered = true;
      if (!inPeriod(line.utcSeconds)) break;
      if (first) ++sentMessages_[dayCache_.day];
      // A relay to this host hands the message to a content filter, which queues it anew.
      if (line.agent == Agent::kSmtp && line.loopbackRelay) break;
      if (line.agent == Agent::kSmtp && message->senderDomain >= 0)
        addSaturated(dayOf(message->senderDomain).smtpOutSent, message->size);
      if (const int32_t recipient = domainIndex(line.address); recipient >= 0)
        addSaturated(dayOf(recipient).smtpInReceived, message->size);
      break;
    }
    case LineKind::kMailboxAccess: {
      const int32_t user = domainIndex(line.address);
      if (user < 0 || !inPeriod(line.utcSeconds)) break;
      mailmng::MailDayTraffic& day = dayOf(user);
      addSaturated(day.popSent, line.bytesOut);
      addSaturated(day.popReceived, line.bytesIn);
      break;
    }
    case LineKind::kOther:
      break;
  }
}

bool MailLogTraffic::openMessagesFrom(int32_t file) const {
  // The period's end as UTC seconds (its fields are a complete moment).
  const int64_t endSeconds =
      daysFromCivil(end_[0], end_[1], end_[2]) * 86400 + end_[3] * 3600 + end_[4] * 60 + end_[5];
  for (const Queued& q : table_)
    if (q.idLength != 0 && q.file == file && q.queuedAt >= endSeconds - kLongestQueueSeconds) return true;
  return false;
}

}  // namespace postfix
