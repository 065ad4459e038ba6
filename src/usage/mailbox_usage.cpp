#include "usage/mailbox_usage.h"

#include <algorithm>

#include "db/cdr_database.h"
#include "platform/report/guard.h"
#include "usage/disk_space_calculator.h"

namespace {

constexpr const char* kOperation = "statistics::calculateMailBoxUsage";

void requireIdentifier(const std::wstring& id) {
  if (!isDecimalIdentifier(id)) throw vexception(L"The identifier '" + id + L"' is not a number");
}

}  // namespace

bool isDecimalIdentifier(const std::wstring& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

MailBoxUsageCalculator::MailBoxUsageCalculator(CDRDatabase& db, mailmng::ProviderSource source)
    : db_(db), source_(std::move(source)) {}

void MailBoxUsageCalculator::noticeOnce(const wchar_t* warning) {
  if (noticeReported_) return;
  noticeReported_ = true;
  vreport(1, warning);
}

void MailBoxUsageCalculator::calculateMailBoxUsage(const std::wstring& domainName, const std::wstring& domainId,
                                                   MailBoxSizes& sizes) {
  vreport(0, L"Calculate mailbox usage for %s...", domainName);
  const ContextRecord failure{vformat(L"calculateMailBoxUsage domainName=%s, domainId=%s", domainName, domainId),
                              kOperation, __LINE__};
  guard::pass(failure, [&] {
    if (diskUsageSettingOn(db_, L"not_count_mail_disk_usage")) {
      noticeOnce(L"Calculating mail disk usage is been skipping due to mail disk usage has not been counted.");
      return;
    }
    mailmng::ProviderHandle provider = source_();
    if (!provider->supportsFeature(mailmng::kFeatureMailboxDiskUsage)) {
      noticeOnce(L"Mail server does not support calculating mail disk usage.");
      return;
    }
    requireIdentifier(domainId);
    VRecordSet rows = db_.query(L"SELECT id, mail_name FROM mail WHERE dom_id = " + domainId);
    while (rows.next()) {
      const std::wstring id = rows.get(0);
      const std::wstring mailName = rows.get(1);
      guard::report(0, ContextRecord{vformat(L"calculate mailbox usage for %s@%s", mailName, domainName), kOperation,
                                     __LINE__},
                    [&] {
                      requireIdentifier(id);
                      mailmng::MailboxHandle mailbox(provider->getMailbox(mailName, domainName));
                      if (!mailbox) throw vexception(L"The mail server has no such mailbox");
                      const int64_t size = mailbox->getDiskUsage();
                      if (size < 0) throw vexception(vformat(L"The mail server measured %I64d bytes", size));
                      sizes[id] = size;
                    });
    }
  });
}

void saveMailBoxUsage(CDRDatabase& db, const MailBoxSizes& sizes) {
  for (const auto& [id, size] : sizes) {
    requireIdentifier(id);
    db.executeFormat(L"UPDATE mail SET disk_usage = %I64d WHERE id = %s", size, id);
  }
}
