#include "traffic/mail_traffic.h"

#include <sys/stat.h>

#include "app/domain_filter.h"
#include "platform/registry/registry.h"
#include "platform/report/guard.h"
#include "platform/text/text_codec.h"
#include "platform/text/vformat.h"

namespace {

constexpr const char* kOperation = "statistics::processMailTraffic";

mailmng::Moment toMoment(const VDateTime& t) {
  return mailmng::Moment{t.year, t.month, t.day, t.hour, t.minute, t.second};
}

std::wstring dayText(const mailmng::Day& d) { return vformat(L"%04d-%02d-%02d", d.year, d.month, d.day); }

// The days an answer may name: from the start's day (1970-01-01 for the zero start, no mail
// server logged before) to the end's day.
struct DayRange {
  VDateTime first;
  VDateTime last;

  DayRange(const VDateTime& start, const VDateTime& end)
      : first(start.isZero() ? VDateTime(1970, 1, 1) : start.date()), last(end.date()) {}

  // The day as a day key; raises when it is no calendar date or lies outside the range.
  VDateTime check(const mailmng::Day& d, const std::wstring& what) const {
    VDateTime day(d.year, d.month, d.day);
    if (!day.isValid())
      throw vexception(vformat(L"The mail provider reported the impossible day %s for %s", dayText(d), what));
    if (day < first || day > last)
      throw vexception(vformat(L"The mail provider reported the day %s for %s, outside the period from %s to %s",
                               dayText(d), what, first.toSqlDateText(), last.toSqlDateText()));
    return day;
  }
};

void checkAmount(int64_t amount, const mailmng::Day& d, const std::wstring& what) {
  if (amount < 0)
    throw vexception(vformat(L"The mail provider reported the negative amount %I64d for %s on %s", amount, what,
                             dayText(d)));
}

void addChecked(int64_t& total, int64_t amount, const std::wstring& what) {
  if (__builtin_add_overflow(total, amount, &total))
    throw vexception(L"The mail traffic of " + what + L" exceeds a 64-bit counter");
}

// The record of a domain the program asked the provider about, or null.
DomainInfo* askedDomain(const std::wstring& name, DomainMap& domains, const DomainNameMap& names) {
  auto id = names.find(name);
  if (id == names.end()) return nullptr;
  auto domain = domains.find(id->second);
  if (domain == domains.end() || domain->second->mailServiceStatus() != 0) return nullptr;
  return domain->second.get();
}

}  // namespace

mailmng::MailDomainMap buildMailDomainMap(const DomainMap& domains) {
  mailmng::MailDomainMap map;
  for (const auto& [id, domain] : domains)
    if (domain->mailServiceStatus() == 0) map[domain->name()];
  return map;
}

void addMailTraffic(const mailmng::MailDomainMap& answer, DomainMap& domains, const DomainNameMap& names,
                    const VDateTime& start, const VDateTime& end) {
  const DayRange range(start, end);
  struct Addition {
    DomainInfo* domain;
    VDateTime day;
    const mailmng::MailDayTraffic* amounts;
  };
  std::vector<Addition> additions;
  for (const auto& [name, days] : answer) {
    DomainInfo* domain = askedDomain(name, domains, names);
    if (!domain) continue;
    for (const auto& [d, t] : days) {
      VDateTime day = range.check(d, name);
      for (int64_t amount : {t.smtpOutSent, t.smtpOutReceived, t.smtpInSent, t.smtpInReceived, t.popSent,
                             t.popReceived})
        checkAmount(amount, d, name);
      additions.push_back({domain, day, &t});
    }
  }
  // Checked on copies first, so that a sum beyond 64 bits leaves every table as it was.
  auto apply = [&](DomainInfo& domain, const VDateTime& day, const mailmng::MailDayTraffic& t, bool dryRun) {
    const std::wstring what = domain.name() + L" on " + day.toSqlDateText();
    auto add = [&](int logType, int64_t out, int64_t in) {
      std::array<int64_t, 2> counts = {0, 0};
      DayTraffic& table = domain.traffic(logType);
      if (auto found = table.find(day); found != table.end()) counts = found->second;
      addChecked(counts[0], out, what);
      addChecked(counts[1], in, what);
      if (!dryRun) table[day] = counts;
    };
    add(logtype::kSmtpOut, t.smtpOutSent, t.smtpOutReceived);
    add(logtype::kSmtpIn, t.smtpInSent, t.smtpInReceived);
    add(logtype::kPop, t.popSent, t.popReceived);
  };
  for (const Addition& a : additions) apply(*a.domain, a.day, *a.amounts, true);
  for (const Addition& a : additions) apply(*a.domain, a.day, *a.amounts, false);
}

void addSentMessages(const mailmng::SentMessagesMap& answer, const VDateTime& start, const VDateTime& end,
                     DayCounts& out) {
  const DayRange range(start, end);
  DayCounts sums = out;
  for (const auto& [d, count] : answer) {
    VDateTime day = range.check(d, L"the sent messages");
    checkAmount(count, d, L"the sent messages");
    addChecked(sums[day], count, L"the sent messages on " + day.toSqlDateText());
  }
  out = std::move(sums);
}

std::vector<std::wstring> acceptedMailLogFiles(const mailmng::FileList& files) {
  std::vector<std::wstring> accepted;
  for (const std::wstring& path : files) {
    bool plain = !path.empty() && path.front() == L'/' && path.find(L'\0') == std::wstring::npos &&
                 path.find(L"/./") == std::wstring::npos && path.find(L"/../") == std::wstring::npos &&
                 !path.ends_with(L"/.") && !path.ends_with(L"/..");
    struct stat st{};
    if (plain && ::lstat(text::toAnsi(path).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      accepted.push_back(path);
      continue;
    }
    vreport(1, L"The mail provider named '%s' as a finished mail log, which is no regular file: left alone", path);
  }
  return accepted;
}

VDateTime mailTrafficPeriodStart(const std::wstring& forcedStart) {
  std::wstring text = forcedStart;
  for (const wchar_t* name : {L"LastMailTrafficCalculation", L"LastStatisticsRun"})
    if (text.empty()) registry::lookup(HKEY_LOCAL_MACHINE, registry::kConfigKey, name, text, REG_SZ, 0);
  // Like the web and FTP windows, an incomplete text ("2024") gives a start that is no
  // calendar moment but still orders field by field.
  return VDateTime::parse(text, L"YMDhms");
}

void storeMailTrafficWindow(const VDateTime& end) {
  uint32_t code = registry::write(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"LastMailTrafficCalculation",
                                  end.toRegistryText());
  if (code != 0)
    raiseOsError(L"RegSetValueEx valueName=LastMailTrafficCalculation", code,
                 ContextRecord{L"Store the end of the mail traffic period", kOperation, __LINE__});
}

MailTraffic processMailTraffic(CDRDatabase& db, int32_t statisticsLifetime, const std::wstring& forcedStart,
                               DayCounts& sentMessages, const mailmng::ProviderSource& source) {
  MailTraffic result;
  vreport(0, L"Collect mail logs");
  result.calculated = guard::report(3, ContextRecord{L"Calculate mail traffic", kOperation, __LINE__}, [&] {
    queryDomains(db, DomainFilter{}, statisticsLifetime, result.domains, result.names);
    mailmng::ProviderHandle provider =
        guard::pass(ContextRecord{L"Load mail provider", kOperation, __LINE__}, [&] { return source(); });

    mailmng::MailDomainMap mail = buildMailDomainMap(result.domains);
    const VDateTime start = mailTrafficPeriodStart(forcedStart);
    VDateTime end = VDateTime::nowUtc();
    end.milliseconds = 0;
    mailmng::FileList files;
    mailmng::SentMessagesMap sent;
    provider->getMailTraffic(toMoment(start), toMoment(end), mail, files, sent);
    provider.reset();

    addMailTraffic(mail, result.domains, result.names, start, end);
    addSentMessages(sent, start, end, sentMessages);
    result.finishedFiles = acceptedMailLogFiles(files);
    result.periodEnd = end;
  });
  if (!result.calculated) {
    result.domains.clear();
    result.names.clear();
    result.finishedFiles.clear();
  }
  return result;
}
