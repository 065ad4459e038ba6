#include "mail_log_line.h"

#include <cstring>

namespace postfix {

namespace {

// Amounts above this are no real message or session: the line is taken as damaged.
constexpr int64_t kLargestAmount = 1'000'000'000'000'000;  // 10^15 bytes

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads exactly `count` digits at `pos`.
bool digits(std::string_view s, size_t pos, size_t count, int32_t& value) {
  if (pos + count > s.size()) return false;
  value = 0;
  for (size_t i = 0; i < count; ++i) {
    if (!isDigit(s[pos + i])) return false;
    value = value * 10 + (s[pos + i] - '0');
  }
  return true;
}

// A decimal amount at the start of `s` (up to 15 digits, at least one).
bool amount(std::string_view s, int64_t& value) {
  value = 0;
  size_t i = 0;
  for (; i < s.size() && isDigit(s[i]); ++i) {
    value = value * 10 + (s[i] - '0');
    if (value > kLargestAmount) return false;
  }
  return i > 0;
}

// The text after `key` (such as " size=") in `s`, or empty when absent.
bool after(std::string_view s, std::string_view key, std::string_view& rest) {
  size_t at = s.find(key);
  if (at == std::string_view::npos) return false;
  rest = s.substr(at + key.size());
  return true;
}

bool validTime(int32_t hour, int32_t minute, int32_t second) {
  return hour <= 23 && minute <= 59 && second <= 60;  // 60: a leap second
}

bool validDate(int32_t year, int32_t month, int32_t day) {
  static constexpr int32_t kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1970 || year > 9999 || month < 1 || month > 12 || day < 1 || day > kDays[month - 1]) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month != 2 || day <= 28 || leap;
}

// "Dec  8 17:04:33" (fraction allowed); `pos` is left after it.
bool traditionalStamp(std::string_view s, const LineClock& clock, size_t& pos, int64_t& utc) {
  static constexpr char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
  if (s.size() < 15) return false;
  int32_t month = 0;
  for (int32_t m = 0; m < 12; ++m)
    if (std::memcmp(s.data(), kMonths + 3 * m, 3) == 0) month = m + 1;
  if (month == 0 || s[3] != ' ') return false;
  int32_t day = 0;
  if (s[4] == ' ') {
    if (!digits(s, 5, 1, day)) return false;
  } else if (!digits(s, 4, 2, day)) {
    return false;
  }
  int32_t hour = 0, minute = 0, second = 0;
  if (s[6] != ' ' || !digits(s, 7, 2, hour) || s[9] != ':' || !digits(s, 10, 2, minute) || s[12] != ':' ||
      !digits(s, 13, 2, second) || !validTime(hour, minute, second))
    return false;
  pos = 15;
  if (pos < s.size() && s[pos] == '.')
    for (++pos; pos < s.size() && isDigit(s[pos]);) ++pos;
  int32_t year = clock.fixedYear;
  if (year == 0) {
    year = clock.referenceYear;
    // A day after the reference belongs to the year before (a file's lines are older than
    // its last change); one day of slack for clocks and zones.
    if (daysFromCivil(2000, month, day) > daysFromCivil(2000, clock.referenceMonth, clock.referenceDay) + 1) --year;
  }
  if (!validDate(year, month, day) || clock.localToUtc == nullptr) return false;
  utc = clock.localToUtc(clock.context, year, month, day, hour * 3600 + minute * 60 + second);
  return true;
}

// "2026-12-08T17:04:33.123+01:00" (fraction and offset optional, "Z" for UTC).
bool rfc3339Stamp(std::string_view s, const LineClock& clock, size_t& pos, int64_t& utc) {
  int32_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!digits(s, 0, 4, year) || s.size() < 19 || s[4] != '-' || !digits(s, 5, 2, month) || s[7] != '-' ||
      !digits(s, 8, 2, day) || (s[10] != 'T' && s[10] != 't') || !digits(s, 11, 2, hour) || s[13] != ':' ||
      !digits(s, 14, 2, minute) || s[16] != ':' || !digits(s, 17, 2, second) || !validDate(year, month, day) ||
      !validTime(hour, minute, second))
    return false;
  pos = 19;
  if (pos < s.size() && s[pos] == '.')
    for (++pos; pos < s.size() && isDigit(s[pos]);) ++pos;
  const int32_t secondsOfDay = hour * 3600 + minute * 60 + second;
  if (pos < s.size() && (s[pos] == 'Z' || s[pos] == 'z')) {
    ++pos;
    utc = daysFromCivil(year, month, day) * 86400 + secondsOfDay;
  } else if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
    const int32_t sign = s[pos] == '-' ? -1 : 1;
    int32_t offsetHours = 0, offsetMinutes = 0;
    if (!digits(s, pos + 1, 2, offsetHours)) return false;
    pos += 3;
    if (pos < s.size() && s[pos] == ':') ++pos;
    if (!digits(s, pos, 2, offsetMinutes) || offsetHours > 23 || offsetMinutes > 59) return false;
    pos += 2;
    utc = daysFromCivil(year, month, day) * 86400 + secondsOfDay - sign * (offsetHours * 3600 + offsetMinutes * 60);
  } else {
    if (clock.localToUtc == nullptr) return false;
    utc = clock.localToUtc(clock.context, year, month, day, secondsOfDay);
  }
  return true;
}

// The token of `s` up to the first of `ends` (or the end).
std::string_view token(std::string_view s, std::string_view ends) {
  return s.substr(0, std::min(s.find_first_of(ends), s.size()));
}

// "<address>" at the start of `s`: the address, or false when the brackets do not close.
bool bracketed(std::string_view s, std::string_view& address) {
  if (s.empty() || s[0] != '<') return false;
  const size_t close = s.find('>');
  if (close == std::string_view::npos) return false;
  address = s.substr(1, close - 1);
  return true;
}

bool isLoopback(std::string_view relay) {
  // "relay=127.0.0.1[127.0.0.1]:10024", "relay=localhost[::1]:10024"
  const size_t open = relay.find('[');
  std::string_view host = open == std::string_view::npos ? relay : relay.substr(0, open);
  std::string_view address =
      open == std::string_view::npos ? std::string_view() : relay.substr(open + 1, relay.find(']', open) - open - 1);
  return host == "localhost" || host.starts_with("127.") || address.starts_with("127.") || address == "::1" ||
         address == "ipv6:::1";
}

void postfixLine(std::string_view daemon, std::string_view message, MailLogLine& out) {
  // "QUEUEID: ..." with a queue id of letters and digits.
  size_t idEnd = 0;
  while (idEnd < message.size() && idEnd < 32 &&
         (isDigit(message[idEnd]) || (message[idEnd] >= 'A' && message[idEnd] <= 'Z') ||
          (message[idEnd] >= 'a' && message[idEnd] <= 'z')))
    ++idEnd;
  if (idEnd < 5 || idEnd >= 32 || message.substr(idEnd, 2) != ": ") return;
  const std::string_view id = message.substr(0, idEnd);
  const std::string_view text = message.substr(idEnd + 2);
  if (daemon == "qmgr") {
    std::string_view rest;
    if (text == "removed") {
      out.queueId = id;
      out.kind = LineKind::kRemoved;
    } else if (text.starts_with("from=") && bracketed(text.substr(5), out.address) && after(text, ", size=", rest) &&
               amount(rest, out.size)) {
      out.queueId = id;
      out.kind = LineKind::kQueued;
    }
    return;
  }
  if (daemon == "smtp") {
    out.agent = Agent::kSmtp;
  } else if (daemon == "lmtp") {
    out.agent = Agent::kLmtp;
  } else if (daemon == "local") {
    out.agent = Agent::kLocal;
  } else if (daemon == "virtual") {
    out.agent = Agent::kVirtual;
  } else {
    return;
  }
  std::string_view status, relay;
  if (!text.starts_with("to=") || !bracketed(text.substr(3), out.address) || !after(text, ", status=", status) ||
      token(status, " ,") != "sent")
    return;
  if (after(text, ", relay=", relay)) out.loopbackRelay = isLoopback(token(relay, ", "));
  out.queueId = id;
  out.kind = LineKind::kDelivered;
}

void dovecotLine(std::string_view message, MailLogLine& out) {
  // "imap(user@example.com)<4711><sid>: Logged out in=123 out=4567 ...", the pop3 form, and
  // the older "IMAP(user): Disconnected: Logged out bytes=123/4567".
  const size_t open = message.find('(');
  if (open == std::string_view::npos) return;
  const std::string_view service = message.substr(0, open);
  if (service != "imap" && service != "pop3" && service != "IMAP" && service != "POP3") return;
  const size_t close = message.find(')', open);
  if (close == std::string_view::npos) return;
  const std::string_view text = message.substr(close);
  if (text.find("Logged out") == std::string_view::npos && text.find("Disconnected") == std::string_view::npos)
    return;
  std::string_view in, outText;
  if (after(text, " in=", in) && after(text, " out=", outText)) {
    if (!amount(in, out.bytesIn) || !amount(outText, out.bytesOut)) return;
  } else if (after(text, " bytes=", in)) {
    const size_t slash = in.find('/');
    if (slash == std::string_view::npos || !amount(in, out.bytesIn) || !amount(in.substr(slash + 1), out.bytesOut))
      return;
  } else {
    return;
  }
  out.address = message.substr(open + 1, close - open - 1);
  out.kind = LineKind::kMailboxAccess;
}

}  // namespace

int64_t daysFromCivil(int32_t year, int32_t month, int32_t day) {
  // The proleptic Gregorian count of days (eras of 400 years).
  const int64_t y = static_cast<int64_t>(year) - (month <= 2 ? 1 : 0);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civilFromDays(int64_t days, int32_t& year, int32_t& month, int32_t& day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int32_t>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int32_t>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int32_t>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

std::string_view addressDomain(std::string_view address, char* buffer, size_t capacity) {
  const size_t at = address.rfind('@');
  if (at == std::string_view::npos) return {};
  std::string_view domain = address.substr(at + 1);
  while (!domain.empty() && domain.back() == '.') domain.remove_suffix(1);
  if (domain.empty() || domain.size() > capacity) return {};
  for (size_t i = 0; i < domain.size(); ++i) {
    const char c = domain[i];
    buffer[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return {buffer, domain.size()};
}

MailLogLine parseMailLogLine(std::string_view line, const LineClock& clock) {
  MailLogLine out;
  size_t pos = 0;
  if (!(isDigit(line.empty() ? ' ' : line[0]) ? rfc3339Stamp(line, clock, pos, out.utcSeconds)
                                               : traditionalStamp(line, clock, pos, out.utcSeconds)))
    return out;
  // " host tag[pid]: message"
  std::string_view rest = line.substr(pos);
  if (rest.empty() || rest[0] != ' ') return out;
  rest.remove_prefix(rest.find_first_not_of(' '));
  const size_t hostEnd = rest.find(' ');
  if (hostEnd == std::string_view::npos) return out;
  rest.remove_prefix(hostEnd + 1);
  const size_t tagEnd = rest.find(": ");
  if (tagEnd == std::string_view::npos) return out;
  std::string_view tag = rest.substr(0, tagEnd);
  const std::string_view message = rest.substr(tagEnd + 2);
  if (const size_t pid = tag.find('['); pid != std::string_view::npos) tag = tag.substr(0, pid);
  if (tag.starts_with("postfix")) {
    // "postfix/qmgr", also a second instance's "postfix-out/smtp" or "postfix/submission/smtpd".
    const size_t slash = tag.rfind('/');
    if (slash != std::string_view::npos) postfixLine(tag.substr(slash + 1), message, out);
  } else if (tag == "dovecot") {
    dovecotLine(message, out);
  }
  if (out.kind == LineKind::kOther) {
    // Nothing half-parsed is handed on.
    MailLogLine other;
    other.utcSeconds = out.utcSeconds;
    return other;
  }
  return out;
}

}  // namespace postfix
