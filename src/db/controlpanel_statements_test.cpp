// The exact statements of the control-panel lookups, as the Jet provider hands them to its
// engine: both real engines compare table names and text without regard to case, so a
// misspelt statement would still find its rows there. The engine here records and answers
// as each case tells it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "db/cdr_database.h"
#include "db/ip_address.h"
#include "db/jet_provider.h"
#include "db/sql_dialect.h"
#include "platform/report/vexception.h"
#include "platform/text/text_codec.h"
#include "testing/fake_service_settings.h"
#include "testing/recording_ado_engine.h"
#include "testing/scoped_environment.h"

using namespace testing_support;
using ::testing::ElementsAre;
using ::testing::EndsWith;

namespace {

// The Jet provider under another engine's name, for the statements that differ by name.
class RenamedJetProvider : public JetDatabaseProvider {
 public:
  using JetDatabaseProvider::JetDatabaseProvider;
  std::wstring providerName() const override { return name; }
  std::wstring name = L"Jet";
};

// The control-panel database on the recording engine. The Jet provider sets TEMP and TMP
// on connecting.
class ControlPanelStatements : public ::testing::Test {
 protected:
  ControlPanelStatements() : engine_(std::make_shared<RecordingAdoEngine>()) {
    env_.unset("TEMP");
    env_.unset("TMP");
    service_.values[L"CADRO_DATABASE_PROVIDER_NAME"] = L"Jet";
    auto provider = std::make_unique<RenamedJetProvider>(
        [] { return std::wstring(L"/opt/cadro"); }, RecordingAdoEngine::catalogFor(engine_, L"Microsoft.Jet.OLEDB.4.0"));
    provider->connect(L"", L"/data/cdr.mdb", L"", L"", 0, L"");
    provider_ = provider.get();
    db_ = std::make_unique<CDRDatabase>(std::move(provider), service_, false);
    engine_->answer = [this](const std::wstring& sql) {
      auto it = answers_.find(sql);
      return it != answers_.end() ? it->second : RecordingAdoEngine::rows({});
    };
  }

  // The statements `call` runs, each with "query: " or "execute: " before it.
  std::vector<std::wstring> statementsOf(const std::function<void(CDRDatabase&)>& call) {
    engine_->calls.clear();
    call(*db_);
    return engine_->calls;
  }
  // Rows of the given columns for one statement, row after row.
  void answer(const std::wstring& sql, std::vector<std::wstring> columns, std::vector<ado::Cell> cells) {
    answers_[sql] = ado::RowSet{std::move(columns), std::move(cells)};
  }
  void answer(const std::wstring& sql, std::vector<ado::Cell> column) {
    answers_[sql] = RecordingAdoEngine::rows(std::move(column));
  }

  ScopedEnvironment env_;
  FakeServiceSettings service_;
  std::shared_ptr<RecordingAdoEngine> engine_;
  std::map<std::wstring, ado::RowSet> answers_;
  RenamedJetProvider* provider_ = nullptr;
  std::unique_ptr<CDRDatabase> db_;
};

const std::wstring kUserTail = L"(u.login = 'o''b') AND (ip.ip_address = '10.0.0.1')";

TEST_F(ControlPanelStatements, LookupsSendTheirStatementsExactly) {
  // A count of 0 for the first user test; the others find no row and throw.
  answer(L"SELECT COUNT(*) FROM sys_users u, domains d, hosting h, IP_Addresses ip WHERE h.sys_user_id = u.id AND d.id = "
         L"h.dom_id AND h.ip_address_id = ip.id AND (d.htype = 'vrt_hst') AND (d.status = 0) AND " +
             kUserTail,
         {L"0"});
  const struct {
    const char* name;
    std::function<void(CDRDatabase&)> call;
    std::vector<std::wstring> statements;
  } cases[] = {
      {"getMiscParam", [](CDRDatabase& db) { db.getMiscParam(L"it's", L""); },
       {L"query: SELECT val FROM misc WHERE (param = 'it''s')"}},
      {"setMiscParam", [](CDRDatabase& db) { db.setMiscParam(L"admin_email", L"a'b"); },
       {L"execute: DELETE FROM misc WHERE param = 'admin_email'",
        L"execute: INSERT INTO misc (param, val) VALUES ('admin_email', 'a''b')"}},
      {"existFtpUserInDomain", [](CDRDatabase& db) { db.existFtpUserInDomain(L"10.0.0.1", L"o'b", true); },
       {L"query: SELECT COUNT(*) FROM sys_users u, domains d, hosting h, IP_Addresses ip WHERE h.sys_user_id = u.id "
        L"AND d.id = h.dom_id AND h.ip_address_id = ip.id AND (d.htype = 'vrt_hst') AND (d.status = 0) AND " +
        kUserTail}},
      {"existFtpUserInSubDomain",
       [](CDRDatabase& db) { EXPECT_THROW(db.existFtpUserInSubDomain(L"10.0.0.1", L"o'b", false), vexception); },
       {L"query: SELECT COUNT(*) FROM hosting h, domains d, IP_Addresses ip, subdomains s, sys_users u WHERE h.dom_id "
        L"= d.id AND h.ip_address_id = ip.id AND d.id = s.dom_id AND s.sys_user_id = u.id AND (s.sys_user_type = "
        L"'native') AND (d.htype = 'vrt_hst') AND " +
        kUserTail}},
      {"existWebUserInDomain",
       [](CDRDatabase& db) { EXPECT_THROW(db.existWebUserInDomain(L"10.0.0.1", L"o'b", false), vexception); },
       {L"query: SELECT COUNT(*) FROM hosting h, domains d, IP_Addresses ip, web_users w, sys_users u WHERE h.dom_id "
        L"= d.id AND h.ip_address_id = ip.id AND d.id = w.dom_id AND w.sys_user_id = u.id AND (d.htype = 'vrt_hst') "
        L"AND " +
        kUserTail}},
      {"existSubFtpUserInDomain",
       [](CDRDatabase& db) { EXPECT_THROW(db.existSubFtpUserInDomain(L"10.0.0.1", L"o'b", false), vexception); },
       {L"query: SELECT COUNT(*) FROM hosting h, domains d, IP_Addresses ip, ftp_users f, sys_users u WHERE h.dom_id "
        L"= d.id AND h.ip_address_id = ip.id AND d.id = f.dom_id AND f.sys_user_id = u.id AND (d.htype = 'vrt_hst') "
        L"AND " +
        kUserTail}},
      {"getDomainNameByLogin", [](CDRDatabase& db) { db.getDomainNameByLogin(L"o'b"); },
       {L"query: SELECT d.name FROM domains d, hosting h, sys_users u WHERE h.dom_id = d.id AND h.sys_user_id = u.id "
        L"AND (u.login = 'o''b')",
        L"query: SELECT d.name FROM domains d, web_users w, sys_users u WHERE w.dom_id = d.id AND w.sys_user_id = u.id "
        L"AND (u.login = 'o''b')",
        L"query: SELECT d.name FROM domains d, ftp_users f, sys_users u WHERE f.dom_id = d.id AND f.sys_user_id = u.id "
        L"AND (u.login = 'o''b')"}},
      {"existSubdomain", [](CDRDatabase& db) { db.existSubdomain(L"12", L"bl'og"); },
       {L"query: SELECT COUNT(*) FROM subdomains s, domains d WHERE s.dom_id = d.id AND (d.id = 12) AND (s.name = "
        L"'bl''og')"}},
      {"getSubdomains", [](CDRDatabase& db) { db.getSubdomains(L"12"); },
       {L"query: SELECT s.id, s.dom_id, s.sys_user_type, s.name, s.displayName, s.server_id, u.login, a.password, "
        L"s.coldfusion, s.ssi, s.ssi_html, s.php, s.php_handler_type, s.php_version, s.cgi, s.perl, s.python, s.asp, "
        L"s.asp_dot_net, s.managed_runtime_version, s.miva, s.fp, s.fp_enable, s.fp_no_index, s.htype, s.www_root, "
        L"s.webstat FROM ( subdomains s INNER JOIN sys_users u ON u.id = s.sys_user_id ) LEFT OUTER JOIN accounts a ON "
        L"a.id = u.account_id WHERE (s.dom_id = 12)"}},
      {"getDomainAliases", [](CDRDatabase& db) { db.getDomainAliases(L"12"); },
       {L"query: SELECT da.id, da.name, da.displayName, da.web, da.mail, da.status FROM domain_aliases da WHERE "
        L"(da.dom_id = 12)"}},
      {"existDomainAlias", [](CDRDatabase& db) { db.existDomainAlias(L"a'b.com"); },
       {L"query: SELECT COUNT(*) FROM domain_aliases da WHERE (da.name = 'a''b.com')"}},
      {"hasWwwRecord", [](CDRDatabase& db) { db.hasWwwRecord(L"12"); },
       {L"query: SELECT COUNT(*) FROM domains d, dns_recs dns WHERE d.dns_zone_id = dns.dns_zone_id AND (d.id = 12) AND "
        L"((dns.type = 'A') OR (dns.type = 'CNAME')) AND (dns.host = ('www.' + d.name + '.'))"}},
      {"getAnonFtpDomainByIP", [](CDRDatabase& db) { db.getAnonFtpDomainByIP(parseIPAddress(L"10.0.0.1")); },
       {L"query: SELECT d.id, d.name FROM domains d, hosting h, ip_addresses ip, anon_ftp af WHERE (ip_address = "
        L"'10.0.0.1') AND h.ip_address_id = ip.id AND (d.htype = 'vrt_hst') AND (af.status = 'true') AND af.dom_id = "
        L"d.id AND h.dom_id = d.id"}},
      {"getBaseDomainName", [](CDRDatabase& db) { EXPECT_THROW(db.getBaseDomainName(L"a'b.com"), vexception); },
       {L"query: SELECT d.name FROM domain_aliases da, domains d WHERE da.dom_id = d.id AND (da.name = 'a''b.com')",
        L"query: SELECT COUNT(*) FROM domains d WHERE (d.name = 'a''b.com')"}},
      {"getBaseDomainID", [](CDRDatabase& db) { EXPECT_THROW(db.getBaseDomainID(L"a'b.com"), ArgumentException); },
       {L"query: SELECT da.dom_id FROM domain_aliases da WHERE (da.name = 'a''b.com')",
        L"query: SELECT d.id FROM domains d WHERE (d.name = 'a''b.com')"}},
      {"deleteOldDomainTraffic", [](CDRDatabase& db) { deleteOldDomainTraffic(db, L"12", 3); },
       {L"execute: delete from DomainsTraffic    where (dom_id=12) and (dateadd( 'm', -3, DATE())>[date])"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(statementsOf(c.call), c.statements);
  }
}

TEST_F(ControlPanelStatements, TheDnsHostIsJoinedByConcatOnMySQLAndASubdomainOfThatNameIsAskedFor) {
  provider_->name = L"MySQL";
  const std::wstring count =
      L"SELECT COUNT(*) FROM domains d, dns_recs dns WHERE d.dns_zone_id = dns.dns_zone_id AND (d.id = 12) AND "
      L"((dns.type = 'A') OR (dns.type = 'CNAME')) AND (dns.host = CONCAT('mail.', d.name, '.'))";
  answer(count, {L"1"});
  EXPECT_EQ(statementsOf([](CDRDatabase& db) { EXPECT_TRUE(db.hasDnsHostWithoutSubdomain(L"12", L"mail")); }),
            (std::vector<std::wstring>{L"query: " + count,
                                       L"query: SELECT COUNT(*) FROM subdomains s, domains d WHERE s.dom_id = d.id AND "
                                       L"(d.id = 12) AND (s.name = 'mail')"}));
}

TEST_F(ControlPanelStatements, TheAddressOfADomainFollowsItsHostingRecord) {
  answer(L"SELECT id, name, htype FROM domains WHERE id = 7", {L"id", L"name", L"htype"}, {L"7", L"a.com", L"vrt_hst"});
  answer(L"SELECT ip_address_id FROM hosting WHERE dom_id = 7", {L"3"});
  answer(L"SELECT ip_address FROM ip_addresses WHERE id = 3", {L"10.0.0.3"});
  uint32_t address = 0;
  EXPECT_EQ(statementsOf([&](CDRDatabase& db) { address = db.getIPByDomainId(L"7"); }),
            (std::vector<std::wstring>{L"query: SELECT id, name, htype FROM domains WHERE id = 7",
                                       L"query: SELECT ip_address_id FROM hosting WHERE dom_id = 7",
                                       L"query: SELECT ip_address FROM ip_addresses WHERE id = 3"}));
  EXPECT_EQ(address, parseIPAddress(L"10.0.0.3"));
}

TEST_F(ControlPanelStatements, TheDomainAtAnAddressIsLookedUpThroughHostingThenForwarding) {
  answer(L"SELECT id FROM ip_addresses WHERE ip_address = '10.0.0.1'", {L"3"});
  answer(L"SELECT dom_id FROM hosting WHERE ip_address_id = 3", {L"7", L"8"});
  answer(L"SELECT name FROM domains WHERE htype = 'vrt_hst' and id = 7", {L"a.com"});
  std::wstring id, name = L"stale";
  EXPECT_EQ(statementsOf([&](CDRDatabase& db) { id = db.getDomainByIP(parseIPAddress(L"10.0.0.1"), &name); }),
            (std::vector<std::wstring>{L"query: SELECT id FROM ip_addresses WHERE ip_address = '10.0.0.1'",
                                       L"query: SELECT dom_id FROM hosting WHERE ip_address_id = 3",
                                       L"query: SELECT name FROM domains WHERE htype = 'vrt_hst' and id = 7",
                                       L"query: SELECT name FROM domains WHERE htype = 'vrt_hst' and id = 8",
                                       L"query: SELECT dom_id FROM forwarding WHERE ip_address_id = 3"}));
  // The last hosted domain wins, with its own name: it has none.
  EXPECT_EQ(id, L"8");
  EXPECT_EQ(name, L"");

  // A forwarding wins over the hosted domain, again with its own name or none.
  answer(L"SELECT id FROM ip_addresses WHERE ip_address = '10.0.0.2'", {L"4"});
  answer(L"SELECT dom_id FROM hosting WHERE ip_address_id = 4", {L"7"});
  answer(L"SELECT dom_id FROM forwarding WHERE ip_address_id = 4", {L"9"});
  name = L"stale";
  EXPECT_EQ(db_->getDomainByIP(parseIPAddress(L"10.0.0.2"), &name), L"9");
  EXPECT_EQ(name, L"");
}

// Identifiers are placed into statements unquoted; only numbers get there, from callers
// and from the database alike.
TEST_F(ControlPanelStatements, IdentifiersThatAreNoNumbersReachNoStatement) {
  const std::function<void(CDRDatabase&, const std::wstring&)> lookups[] = {
      [](CDRDatabase& db, const std::wstring& id) { db.getIPByDomainId(id); },
      [](CDRDatabase& db, const std::wstring& id) { db.existSubdomain(id, L"www"); },
      [](CDRDatabase& db, const std::wstring& id) { db.getSubdomains(id); },
      [](CDRDatabase& db, const std::wstring& id) { db.getDomainAliases(id); },
      [](CDRDatabase& db, const std::wstring& id) { db.hasWwwRecord(id); },
      [](CDRDatabase& db, const std::wstring& id) { deleteOldDomainTraffic(db, id, 3); },
  };
  for (const std::wstring id : {L"0 OR 1=1", L"1)", L"", L" 1", L"1 ", L"-", L"12345678901234567890", L"\uFF11"}) {
    SCOPED_TRACE(text::toUtf8(id));
    for (const auto& lookup : lookups) {
      engine_->calls.clear();
      EXPECT_THROW(lookup(*db_, id), ArgumentException);
      EXPECT_TRUE(engine_->calls.empty());
    }
  }
  EXPECT_THAT(statementsOf([](CDRDatabase& db) { db.getSubdomains(L"+007"); }),
              ElementsAre(EndsWith(L"WHERE (s.dom_id = 7)")));

  // An address record whose identifier is no number stops the lookup before it is used.
  answer(L"SELECT id FROM ip_addresses WHERE ip_address = '10.0.0.1'", {L"3 OR 1=1"});
  EXPECT_THROW(db_->getDomainByIP(parseIPAddress(L"10.0.0.1")), ArgumentException);
  answer(L"SELECT id, name, htype FROM domains WHERE id = 7", {L"id", L"name", L"htype"}, {L"7", L"a.com", L"vrt_hst"});
  answer(L"SELECT ip_address_id FROM hosting WHERE dom_id = 7", {L"3) OR (1=1"});
  EXPECT_THROW(db_->getIPByDomainId(L"7"), ArgumentException);
}

}  // namespace
