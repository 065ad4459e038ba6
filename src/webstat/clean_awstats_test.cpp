// The end-of-run removal of AWStats host configurations whose host is no domain, on every
// database engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "app/statistics.h"
#include "testing/controlpanel_test_database.h"
#include "platform/report/log_manager.h"
#include "testing/log_recorder.h"
#include "webstat/analyser_run_settings.h"
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
    Base::run(L"INSERT INTO sys_users (id, login, account_id) VALUES (1, 'u', 0)");
    Base::run(L"INSERT INTO subdomains (id, dom_id, name, sys_user_id, sys_user_type) VALUES (1, 1, 'Shop', 1, 'native')");
    Base::run(L"INSERT INTO subdomains (id, dom_id, name, sys_user_id, sys_user_type) VALUES (2, 1, 'blog', 1, 'native')");
    Base::run(L"INSERT INTO domain_aliases (id, dom_id, name) VALUES (1, 1, 'ex.example')");
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

// What the AWStats run asks of the run's own data.
TYPED_TEST(CleanAWstats, RunSettingsGiveAliasesSubdomainsAndWwwRecords) {
  DomainMap domains;
  domains.emplace(L"1", std::make_unique<DomainInfo>(L"1", L"ex.test", 0, 3, false));
  const DomainNameMap names = {{L"ex.test", L"1"}};
  std::vector<std::wstring> deleteList;
  SystemAnalyserRunSettings settings(this->db(), domains, names, false, deleteList);
  EXPECT_EQ(settings.domainAliases(L"ex.test"), std::vector<std::wstring>{L"ex.example"});
  EXPECT_EQ(settings.subdomainNames(L"EX.test"), (std::set<std::wstring>{L"blog", L"shop"}));
  EXPECT_FALSE(settings.hasWwwRecord(L"ex.test"));     // the domain's own flag
  EXPECT_TRUE(settings.hasWwwRecord(L"blog.ex.test"));  // not a selected domain
  settings.deleteAtEndOfRun(L"/tmp/x");
  EXPECT_EQ(deleteList, std::vector<std::wstring>{L"/tmp/x"});
}

}  // namespace
