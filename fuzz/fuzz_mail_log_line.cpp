// Drives the mail provider's line parser over arbitrary lines and feeds what it finds to
// the traffic of a period: every view must lie inside its line, amounts stay within their
// bounds, and no domain entry is added to the map.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "mail_log_line.h"
#include "mail_log_traffic.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

int64_t asUtc(void*, int32_t year, int32_t month, int32_t day, int32_t secondsOfDay) {
  return postfix::daysFromCivil(year, month, day) * 86400 + secondsOfDay - 3600;
}

bool inside(std::string_view part, std::string_view line) {
  return part.empty() || (part.data() >= line.data() && part.data() + part.size() <= line.data() + line.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  postfix::LineClock clock;
  clock.referenceYear = 2026;
  clock.referenceMonth = 12;
  clock.referenceDay = 8;
  clock.localToUtc = &asUtc;
  mailmng::MailDomainMap domains = {{L"example.com", {}}, {L"b.c", {}}};
  mailmng::SentMessagesMap sent;
  postfix::MailLogTraffic traffic({}, {2026, 12, 31, 0, 0, 0}, domains, sent);
  for (size_t at = 0; at <= input.size();) {
    size_t end = input.find('\n', at);
    if (end == std::string_view::npos) end = input.size();
    const std::string_view line = input.substr(at, end - at);
    const postfix::MailLogLine parsed = postfix::parseMailLogLine(line, clock);
    check(inside(parsed.queueId, line) && inside(parsed.address, line));
    check(parsed.size >= 0 && parsed.bytesIn >= 0 && parsed.bytesOut >= 0);
    check(parsed.kind == postfix::LineKind::kOther || parsed.utcSeconds >= -86400);
    traffic.add(parsed);
    at = end + 1;
  }
  check(domains.size() == 2);
  for (const auto& [name, days] : domains)
    for (const auto& [day, t] : days)
      check(t.smtpOutSent >= 0 && t.smtpInReceived >= 0 && t.popSent >= 0 && t.popReceived >= 0 &&
            day.year >= 1970 && day.year <= 9999);
  return 0;
}
