// Domain selection over every database engine of the provider suite.
#include <gtest/gtest.h>

#include "app/domain_filter.h"
#include "app/domain_info.h"
#include "app/params.h"
#include "db/cdr_database.h"
#include "platform/text/text_codec.h"
#include "testing/fake_service_settings.h"
#include "testing/log_recorder.h"
#include "testing/provider_test_engines.h"

using namespace testing_support;

namespace {

template <typename Engine>
class DomainSelection : public ::testing::Test {
 protected:
  void SetUp() override {
    if (auto why = Engine::unavailable()) GTEST_SKIP() << *why;
    engine_ = std::make_unique<Engine>();
    auto setup = engine_->connect();
    createControlPanelSchema(*setup, Engine::kDialect);
    settings_.values[L"CADRO_DATABASE_PROVIDER_NAME"] = text::fromUtf8(Engine::kName);
    db_ = std::make_unique<CDRDatabase>(engine_->connect(), settings_, false);
    exec(L"INSERT INTO clients (id, login, guid) VALUES (1, 'owner', 'owner-guid')");
  }

  void exec(const std::wstring& sql) { db_->execute(sql); }

  // A hosted domain with its address; status and the domain's own "stat_ttl" as given.
  void domain(int id, const std::wstring& name, int status = 0, const wchar_t* ttl = nullptr,
              const wchar_t* webstat = L"'awstats'", bool withIp = true) {
    std::wstring sid = std::to_wstring(id);
    exec(L"INSERT INTO domains (id, name, displayName, htype, status, cl_id, guid) VALUES (" + sid + L", '" +
         db_->escape(name) + L"', '" + db_->escape(name) + L"', 'vrt_hst', " + std::to_wstring(status) +
         L", 1, 'guid-" + sid + L"')");
    if (withIp) {
      exec(L"INSERT INTO IP_Addresses (id, ip_address) VALUES (" + sid + L", '10.0.0." + sid + L"')");
      exec(L"INSERT INTO hosting (dom_id, sys_user_id, ip_address_id, webstat) VALUES (" + sid + L", 0, " + sid +
           L", " + webstat + L")");
    }
    if (ttl) exec(L"INSERT INTO dom_param (dom_id, param, val) VALUES (" + sid + L", 'stat_ttl', '" + ttl + L"')");
  }

  std::vector<std::wstring> select(std::vector<std::wstring> args, int32_t lifetime = 3) {
    ParamMap map = buildParamMap(args);
    DomainFilter filter = DomainFilter::fromParams(Params(map));
    domains_.clear();
    names_.clear();
    queryDomains(*db_, filter, lifetime, domains_, names_);
    std::vector<std::wstring> ids;
    for (auto& [id, d] : domains_) ids.push_back(id);
    return ids;
  }

  using Ids = std::vector<std::wstring>;
  std::unique_ptr<Engine> engine_;
  FakeServiceSettings settings_;
  std::unique_ptr<CDRDatabase> db_;
  DomainMap domains_;
  DomainNameMap names_;
};

TYPED_TEST_SUITE(DomainSelection, ProviderTestEngines, ProviderTestEngineNames);

}  // namespace

TYPED_TEST(DomainSelection, IdentifiersInTextOrderAndStatusBitFour) {
  this->domain(9, L"nine.com");
  this->domain(100, L"Hundred.COM");
  this->domain(10, L"ten.com");
  for (int status : {4, 5, 6, 7, 12}) this->domain(200 + status, L"off" + std::to_wstring(status) + L".com", status);
  for (int status : {1, 2, 8, 16}) this->domain(300 + status, L"on" + std::to_wstring(status) + L".com", status);
  using Ids = typename TestFixture::Ids;
  EXPECT_EQ(this->select({}), (Ids{L"10", L"100", L"301", L"302", L"308", L"316", L"9"}));
  DomainInfo& hundred = *this->domains_.at(L"100");
  EXPECT_EQ(hundred.name(), L"hundred.com");
  EXPECT_EQ(this->names_.at(L"hundred.com"), L"100");
  EXPECT_EQ(hundred.ipAddress(), 0x0A000064u);
  EXPECT_EQ(hundred.domainGuid(), L"guid-100");
  EXPECT_EQ(hundred.ownerGuid(), L"owner-guid");
  EXPECT_TRUE(hundred.webStatisticsEnabled());
  EXPECT_TRUE(hundred.eligible());
  EXPECT_FALSE(hundred.trafficLocked());
}

TYPED_TEST(DomainSelection, StatisticsLifetimeRules) {
  this->domain(1, L"a.com", 0, L"1");
  this->domain(2, L"b.com", 0, L"0");
  this->domain(3, L"c.com", 0, L"12");
  this->domain(4, L"d.com");
  this->select({}, 3);
  EXPECT_EQ(this->domains_.at(L"1")->statisticsLifetime(), 3);
  EXPECT_EQ(this->domains_.at(L"2")->statisticsLifetime(), 0);
  EXPECT_EQ(this->domains_.at(L"3")->statisticsLifetime(), 12);
  EXPECT_EQ(this->domains_.at(L"4")->statisticsLifetime(), 3);
}

TYPED_TEST(DomainSelection, FiltersAloneAndTogether) {
  this->domain(1, L"alpha.com");
  this->domain(2, L"beta.com");
  this->domain(3, L"gamma.org");
  this->domain(4, L"o'brien.com");
  using Ids = typename TestFixture::Ids;
  EXPECT_EQ(this->select({L"--process-domains=alpha.com;gamma.org"}), (Ids{L"1", L"3"}));
  // A blank after the comma stays part of the name, which then matches nothing.
  EXPECT_EQ(this->select({L"--process-domains=alpha.com, beta.com"}), (Ids{L"1"}));
  EXPECT_EQ(this->select({L"--process-domains="}).size(), 4u);
  EXPECT_EQ(this->select({L"--skip-domains=beta.com,,alpha.com"}), (Ids{L"3", L"4"}));
  EXPECT_EQ(this->select({L"--process-domain-mask=%.com"}), (Ids{L"1", L"2", L"4"}));
  EXPECT_EQ(this->select({L"--skip-domain-mask=%a.com"}), (Ids{L"3", L"4"}));
  EXPECT_EQ(this->select({L"--process-domain-mask=%.com", L"--skip-domains=beta.com", L"--skip-domain-mask=o%"}),
            (Ids{L"1"}));
  // A quote in a value is escaped and cannot end the string literal.
  EXPECT_EQ(this->select({L"--process-domains=o'brien.com"}), (Ids{L"4"}));
  EXPECT_EQ(this->select({L"--skip-domain-mask=%' OR '1'='1"}).size(), 4u);
  EXPECT_EQ(this->select({L"--process-domain-mask=o'%"}), (Ids{L"4"}));
}

TYPED_TEST(DomainSelection, DomainWithoutAddressIsReportedAndKept) {
  this->domain(5, L"noip.com", 0, nullptr, L"'none'", false);
  this->domain(6, L"stats-off.com", 0, nullptr, L"'none'");
  LogRecorder log;
  using Ids = typename TestFixture::Ids;
  EXPECT_EQ(this->select({}), (Ids{L"5", L"6"}));
  EXPECT_TRUE(log.contains(1, L"Domain noip.com has no ip"));
  EXPECT_TRUE(log.contains(0, L"domain 5(noip.com) ordered to proceess"));
  EXPECT_EQ(this->domains_.at(L"5")->ipAddress(), 0u);
  EXPECT_FALSE(this->domains_.at(L"5")->webStatisticsEnabled());
  EXPECT_FALSE(this->domains_.at(L"6")->webStatisticsEnabled());
}

TYPED_TEST(DomainSelection, ConditionTextAndStatement) {
  ParamMap map = buildParamMap(std::vector<std::wstring>{L"--process-domains=a.com,b'c.com", L"--skip-domains=d.com",
                                                         L"--process-domain-mask=%.com", L"--skip-domain-mask=x%"});
  DomainFilter f = DomainFilter::fromParams(Params(map));
  std::wstring quote = this->db_->escape(L"'");
  EXPECT_EQ(f.condition(L"domains.displayName", this->db_->provider()),
            L"domains.displayName IN ('a.com', 'b" + quote + L"c.com') AND domains.displayName NOT IN ('d.com') AND "
            L"domains.displayName LIKE '%.com' AND domains.displayName NOT LIKE 'x%'");
  EXPECT_EQ(DomainFilter().condition(L"c", this->db_->provider()), L"");
  EXPECT_EQ(domainQueryStatement(L"").find(L" WHERE "), std::wstring::npos);
  EXPECT_EQ(domainQueryStatement(L"x = 1").substr(domainQueryStatement(L"").size()), L" WHERE x = 1");
}
