// The update-actions and antivirus tasks in a run of the program: its own process over a
// system root, the management service and a control-panel database.
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/registry/registry.h"
#include "platform/text/text_codec.h"
#include "testing/end_to_end.h"
#include "testing/temp_dir.h"

using namespace testing_support;

namespace {

class MaintenanceRun : public EndToEndTest {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    if (IsSkipped()) return;
    registry::write(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"Debug", 1u);
    for (int id = 1; id <= 3; ++id) {
      const std::wstring n = std::to_wstring(id);
      e2e_->db().execute(L"INSERT INTO log_actions (id, `date`, action_name) VALUES (" + n + L", '2024-01-0" + n +
                         L" 10:00:00', 'act')");
      e2e_->db().execute(L"INSERT INTO log_components (action_id, component) VALUES (" + n + L", 'c')");
    }
    misc(L"actionlog_rot_type", L"by_number");
    misc(L"actionlog_rot_num_records", L"2");
    misc(L"AVStatisticRotationPeriod", L"36500");
    writeLog("cadrolog_avstat_20240301.log", L"2024/03/01 10:00:00:000 1 2 infected\tx\t<A@B.example>\tEICAR\r\n");
    writeLog("cadrolog_spamstat_20240301.log", L"2024/03/01 10:00:00:000 1 2 spam\tx\t<a@b.example>\t\r\n");
  }

  void misc(const std::wstring& name, const std::wstring& value) {
    e2e_->db().execute(L"INSERT INTO misc (param, val) VALUES ('" + name + L"', '" + value + L"')");
  }
  std::string logPath(const std::string& name) const { return e2e_->productRoot() + "/admin/logs/" + name; }
  void writeLog(const std::string& name, const std::wstring& content) {
    writeFile(logPath(name), "\xFF\xFE" + text::toUtf16le(content));
  }
  std::vector<std::wstring> column(const std::wstring& sql) {
    std::vector<std::wstring> out;
    VRecordSet rows = e2e_->db().query(sql);
    while (rows.next()) out.push_back(rows.get(0));
    return out;
  }
  uint32_t lockState(const wchar_t* name) {
    uint32_t value = 99;
    registry::lookup(HKEY_LOCAL_MACHINE, registry::kConfigKey, name, value, 0);
    return value;
  }
  bool logged(const std::string& text) const { return e2e_->eventLog().find("\t" + text + "\t") != std::string::npos; }
};

TEST_P(MaintenanceRun, UpdateActionsAndAntivirusRunUnderTheirLocks) {
  auto r = e2e_->run({"--update-actions", "--antivirus"}, {{"TZ", "UTC0"}});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(logged("Data has been stored"));
  // MySQL keeps the actions from the second most recent on, the others one more.
  const bool mysql = !onJet();
  using Ids = std::vector<std::wstring>;
  const Ids left = mysql ? Ids{L"2", L"3"} : Ids{L"1", L"2", L"3"};
  EXPECT_EQ(column(L"SELECT id FROM log_actions ORDER BY id"), left);
  EXPECT_EQ(column(L"SELECT count(*) FROM log_components"), std::vector<std::wstring>{mysql ? L"2" : L"3"});

  EXPECT_EQ(column(L"SELECT `type` FROM avstatistics ORDER BY `type`"),
            (std::vector<std::wstring>{L"recipients", L"spam_summary", L"summary", L"viruses"}));
  EXPECT_EQ(column(L"SELECT name FROM avstatistics WHERE `type` = 'recipients'"),
            std::vector<std::wstring>{L"a@b.example"});
  EXPECT_EQ(column(L"SELECT val FROM misc WHERE param = 'LastSpamStatisticLog'"),
            std::vector<std::wstring>{L"2024-03-01"});
  EXPECT_EQ(lockState(L"UpdateActionLockStatus"), 0u);
  EXPECT_EQ(lockState(L"AntivirusLockStatus"), 0u);

  // The rerun over the kept files stores the same rows; --all includes both tasks.
  r = e2e_->run({"--all"}, {{"TZ", "UTC0"}});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(column(L"SELECT count(*) FROM avstatistics"), std::vector<std::wstring>{L"4"});
}

TEST_P(MaintenanceRun, ATaskLockHeldByAnotherRunSkipsOnlyThatTask) {
  registry::write(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"AntivirusLockStatus",
                  static_cast<uint32_t>(::getpid()));
  auto r = e2e_->run({"--update-actions", "--antivirus"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("Object has been already locked"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Antivirus statistics"), std::string::npos) << r.out;
  EXPECT_TRUE(logged("Data has been stored"));
  EXPECT_EQ(column(L"SELECT count(*) FROM avstatistics"), std::vector<std::wstring>{L"0"});
  EXPECT_TRUE(fileExists(logPath("cadrolog_avstat_20240301.log")));
  EXPECT_EQ(lockState(L"AntivirusLockStatus"), static_cast<uint32_t>(::getpid()));
}

CADRO_END_TO_END_ENGINES(MaintenanceRun);

}  // namespace
