// The end-of-run removal of AWStats host configurations whose host is no domain, on every
// database engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "app/statistics.h"
#include "testing/controlpanel_test_database.h"
#include "platform/report/log_manager.h"
#include "testing/log_recorder.h"
#include "testing/temp_dir.h"

using namespace testing_support;

namespace {

template <class Engine>
class CleanAWstats : public ControlPanelTestDatabase<Engine> {
 protected:
  using Base = ControlPanelTestDatabase<Engine>;
  void seed() override {
    Base::explicitIds(L"domains");
    int id = 1;
    for (const wchar_t* name : {L"ex.test", L"wz.test", L"bare.test"})
      Base::run(L"INSERT INTO domains (id, name, htype, status, cl_id) VALUES (" + std::to_wstring(id++) + L", '" + name +
                L"', 'vrt_hst', 0, 1)");
    Base::run(L"INSERT INTO hosting (dom_id, sys_user_id, ip_address_id, webstat) VALUES (1, 1, 1, 'awstats')");
    Base::run(L"INSERT INTO hosting (dom_id, sys_user_id, ip_address_id, webstat) VALUES (2, 1, 1, 'webalizer')");
  }
  TempDir dir;
};

TYPED_TEST_SUITE(CleanAWstats, ProviderTestEngines, ProviderTestEngineNames);

TYPED_TEST(CleanAWstats, ConfigurationsOfNamesThatAreNoDomainAreDeletedAtTheEnd) {
  const std::string cgi = this->dir.file("aw/wwwroot/cgi-bin/");
  for (const char* f : {"awstats.ex.test.conf", "awstats.WZ.test.conf", "awstats.bare.test.conf",
                        "awstats.gone.test.conf", "awstats.blog.ex.test.conf", "awstats.model.conf", "AWStats.conf",
                        "awstats.ex.test.txt"})
    writeFile(cgi + f, "x\n");
  std::filesystem::create_directories(cgi + "awstats.dir.test.conf");
  std::vector<std::wstring> deleteList{L"/earlier"};
  statistics::cleanAWstats(this->db(), text::fromUtf8(this->dir.file("aw")), deleteList);
  std::sort(deleteList.begin() + 1, deleteList.end());
  EXPECT_EQ(deleteList, (std::vector<std::wstring>{L"/earlier", text::fromUtf8(cgi + "awstats.blog.ex.test.conf"),
                                                   text::fromUtf8(cgi + "awstats.gone.test.conf")}));
}

TYPED_TEST(CleanAWstats, NoInstallationIsNothingAndAnUnreadableOneIsReported) {
  std::vector<std::wstring> deleteList;
  statistics::cleanAWstats(this->db(), L"", deleteList);
  LogRecorder log;
  LogManager::instance().setSwitch(3, 0);
  statistics::cleanAWstats(this->db(), text::fromUtf8(this->dir.file("missing")), deleteList);
  LogManager::instance().setSwitch(3, 1);
  EXPECT_TRUE(deleteList.empty());
  const auto reports = log.take();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].level, 3);
  EXPECT_EQ(reports[0].contexts.back(), L"Remove unused awstats configs");
}

}  // namespace
