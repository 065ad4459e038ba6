// The per-domain frame of the disk-usage step: lock, measure, store in one transaction that
// a failed store rolls back, give the lock back.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "db/ado_record_set.h"
#include "db/cdr_database.h"
#include "platform/registry/registry.h"
#include "platform/text/text_codec.h"
#include "testing/fake_service_settings.h"
#include "testing/log_recorder.h"
#include "testing/stub_database_provider.h"
#include "testing/temp_dir.h"
#include "usage/disk_usage_task.h"

using namespace testing_support;

namespace {

// Answers every query with no row and records the store's calls.
class RecordingProvider : public StubDatabaseProvider {
 public:
  explicit RecordingProvider(std::vector<std::wstring>& calls, bool failReplace)
      : calls_(calls), failReplace_(failReplace) {}
  VRecordSet query(const std::wstring&) override {
    return VRecordSet(new VADORecordSetProvider(ado::RowSet{{L"value"}, {}}));
  }
  void execute(const std::wstring& sql) override { calls_.push_back(sql.substr(0, sql.find(L' '))); }
  void replace(const std::wstring&, const std::wstring&) override {
    calls_.push_back(L"replace");
    if (failReplace_) throw vexception(L"Disk full");
  }
  void beginTransaction() override { calls_.push_back(L"begin"); }
  void commitTransaction() override { calls_.push_back(L"commit"); }
  void rollbackTransaction() override { calls_.push_back(L"rollback"); }

 private:
  std::vector<std::wstring>& calls_;
  bool failReplace_;
};

}  // namespace

TEST(DiskUsageTask, TheStoreRunsInOneTransactionRolledBackWhenItFails) {
  struct Case {
    bool failReplace;
    std::vector<std::wstring> calls;
  };
  const Case cases[] = {
      {false, {L"begin", L"replace", L"update", L"commit"}},
      {true, {L"begin", L"replace", L"rollback"}},
  };
  TempDir vhosts;
  for (const Case& c : cases) {
    std::vector<std::wstring> calls;
    FakeServiceSettings settings;
    CDRDatabase db(std::make_unique<RecordingProvider>(calls, c.failReplace), settings, false);
    DomainMap domains;
    domains[L"7"] = std::make_unique<DomainInfo>(L"7", L"a.com", 0, 3, false);
    DiskUsageSources sources;
    sources.productPath = [&](const std::wstring&) { return text::fromUtf8(vhosts.path()); };

    LogRecorder log;
    calculateDomainsDiskSpace(db, domains, sources);
    EXPECT_EQ(calls, c.calls);
    EXPECT_TRUE(log.contains(0, L"Disk space for domain a.com"));
    bool reported = false;
    for (const LoggedMessage& m : log.take())
      reported = reported || (m.level == 3 && m.text == L"Disk full" && !m.contexts.empty() &&
                              m.contexts.back() == L"Calculate domain a.com disk space");
    EXPECT_EQ(reported, c.failReplace);
    // The lock is given back either way.
    uint32_t state = 1;
    registry::lookup(HKEY_LOCAL_MACHINE, registry::domainKey(L"7"), L"DiskUsageStatus", state, 0);
    EXPECT_EQ(state, 0u);
  }
}
