// The control-panel lookups over every engine, on one set of domains that exercises their
// rules: forwarding against hosting, aliases, subdomains, suspended domains, broken
// records, and names holding quotes and backslashes.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "db/cdr_database.h"
#include "db/ip_address.h"
#include "platform/service/product_paths.h"
#include "platform/text/text_codec.h"
#include "platform/report/vexception.h"
#include "testing/controlpanel_schema.h"
#include "testing/controlpanel_test_database.h"
#include "testing/fake_service_settings.h"
#include "testing/log_recorder.h"
#include "testing/provider_test_engines.h"
#include "testing/scoped_environment.h"
#include "testing/service_process.h"
#include "testing/stub_database_provider.h"

using namespace testing_support;

namespace {

// Names that break a statement unless escaped; the decoy is what a backslash escape read
// the wrong way would find instead.
const std::wstring kQuotedDomain = L"o'brien\\x.com";
const std::wstring kQuotedDecoy = L"o'brienx.com";
const std::wstring kQuotedAlias = L"al\"i'as\\.net";
const std::wstring kQuotedLogin = L"o'b\\u";

template <class Engine>
class ControlPanelQueries : public ControlPanelTestDatabase<Engine> {
 protected:
  using Base = ControlPanelTestDatabase<Engine>;
  using Base::db;
  using Base::explicitIds;
  using Base::quoted;
  using Base::run;

  void domain(int id, const std::wstring& name, const std::wstring& htype, int status = 0, int zone = 0) {
    run(L"INSERT INTO domains (id, name, htype, status, dns_zone_id, cl_id) VALUES (" + std::to_wstring(id) + L", " +
        quoted(name) + L", " + (htype.empty() ? std::wstring(L"NULL") : quoted(htype)) + L", " +
        std::to_wstring(status) + L", " + (zone ? std::to_wstring(zone) : std::wstring(L"NULL")) + L", 1)");
  }
  void user(int id, const std::wstring& login, const std::wstring& account = L"NULL") {
    run(L"INSERT INTO sys_users (id, login, account_id) VALUES (" + std::to_wstring(id) + L", " + quoted(login) + L", " +
        account + L")");
  }

  // Addresses 1 10.0.0.1, 2 10.0.0.2, 3 10.0.0.3, 4 10.0.0.4 (unused).
  //  1 alpha.com          hosted on 1, zone 1 with www, aliases alpha.org and alpha-alias.net,
  //                       subdomain blog, web user webuser and o'b\u
  //  2 beta.com           hosted on 1 after alpha, zone 2 with www but also a subdomain www,
  //                       FTP user subftp, alias al"i'as\.net
  //  3 fwd.com            forwarding on 2
  //  4 gamma.com          hosted on 2, zone 4 with only an MX record for www, subdomain shop
  //                       without an account
  //  5 xn--mnchen-3ya.de  suspended, hosted on 3 with anonymous FTP
  //  6 none.com           htype 'none'
  //  7 o'brien\x.com      hosted on the missing address 99
  //  8 nohost.com         hosted without a hosting record
  //  9 nofwd.com          forwarding without a forwarding record
  // 10 o'brienx.com       the decoy of 7
  // 11 nulltype.com       htype NULL
  void seed() override {
    explicitIds(L"IP_Addresses");
    for (int i = 1; i <= 4; ++i)
      run(L"INSERT INTO IP_Addresses (id, ip_address) VALUES (" + std::to_wstring(i) + L", '10.0.0." +
          std::to_wstring(i) + L"')");
    explicitIds(L"domains");
    domain(1, L"alpha.com", L"vrt_hst", 0, 1);
    domain(2, L"beta.com", L"vrt_hst", 0, 2);
    domain(3, L"fwd.com", L"std_fwd");
    domain(4, L"gamma.com", L"vrt_hst", 0, 4);
    domain(5, L"xn--mnchen-3ya.de", L"vrt_hst", 16);
    domain(6, L"none.com", L"none");
    domain(7, kQuotedDomain, L"vrt_hst");
    domain(8, L"nohost.com", L"vrt_hst");
    domain(9, L"nofwd.com", L"std_fwd");
    domain(10, kQuotedDecoy, L"vrt_hst");
    domain(11, L"nulltype.com", L"");

    explicitIds(L"accounts");
    run(L"INSERT INTO accounts (id, password) VALUES (1, 'alpha-secret')");
    run(L"INSERT INTO accounts (id, password) VALUES (4, 'blog-secret')");
    explicitIds(L"sys_users");
    user(1, L"alpha_ftp", L"1");
    user(2, L"beta_ftp");
    user(3, L"muenchen");
    user(4, L"blog_user", L"4");
    user(5, L"webuser");
    user(6, L"subftp");
    user(7, kQuotedLogin);
    user(8, L"gamma_ftp");
    user(9, L"gamma_www");

    run(L"INSERT INTO hosting (dom_id, sys_user_id, ip_address_id) VALUES (1, 1, 1)");
    run(L"INSERT INTO hosting (dom_id, sys_user_id, ip_address_id) VALUES (2, 2, 1)");
    run(L"INSERT INTO hosting (dom_id, sys_user_id, ip_address_id) VALUES (4, 8, 2)");
    run(L"INSERT INTO hosting (dom_id, sys_user_id, ip_address_id) VALUES (5, 3, 3)");
    run(L"INSERT INTO hosting (dom_id, sys_user_id, ip_address_id) VALUES (7, 7, 99)");
    run(L"INSERT INTO forwarding (dom_id, ip_address_id) VALUES (3, 2)");
    run(L"INSERT INTO anon_ftp (dom_id, status) VALUES (1, 'false')");
    run(L"INSERT INTO anon_ftp (dom_id, status) VALUES (5, 'true')");

    explicitIds(L"subdomains");
    run(L"INSERT INTO subdomains (id, dom_id, name, sys_user_id, sys_user_type, php) VALUES "
        L"(1, 1, 'blog', 4, 'native', 'true')");
    run(L"INSERT INTO subdomains (id, dom_id, name, sys_user_id, sys_user_type) VALUES (2, 2, 'www', 2, 'parent')");
    run(L"INSERT INTO subdomains (id, dom_id, name, sys_user_id, sys_user_type) VALUES (3, 4, 'shop', 9, 'native')");
    run(L"INSERT INTO web_users (dom_id, sys_user_id) VALUES (1, 5)");
    run(L"INSERT INTO web_users (dom_id, sys_user_id) VALUES (1, 7)");
    run(L"INSERT INTO ftp_users (dom_id, sys_user_id) VALUES (2, 6)");

    explicitIds(L"domain_aliases");
    run(L"INSERT INTO domain_aliases (id, dom_id, name, displayName, web, mail, status) VALUES "
        L"(1, 1, 'alpha.org', 'alpha.org', 'true', 'false', 0)");
    run(L"INSERT INTO domain_aliases (id, dom_id, name, displayName, web, mail, status) VALUES "
        L"(2, 1, 'alpha-alias.net', 'alpha-alias.net', 'false', 'true', 16)");
    run(L"INSERT INTO domain_aliases (id, dom_id, name) VALUES (3, 2, " + quoted(kQuotedAlias) + L")");

    explicitIds(L"");
    run(L"INSERT INTO dns_recs (dns_zone_id, type, host) VALUES (1, 'A', 'alpha.com.')");
    run(L"INSERT INTO dns_recs (dns_zone_id, type, host) VALUES (1, 'CNAME', 'www.alpha.com.')");
    run(L"INSERT INTO dns_recs (dns_zone_id, type, host) VALUES (2, 'A', 'www.beta.com.')");
    run(L"INSERT INTO dns_recs (dns_zone_id, type, host) VALUES (4, 'MX', 'www.gamma.com.')");
    run(L"INSERT INTO dns_recs (dns_zone_id, type, host) VALUES (4, 'A', 'www.alpha.com.')");
  }

};

TYPED_TEST_SUITE(ControlPanelQueries, ProviderTestEngines, ProviderTestEngineNames);

TYPED_TEST(ControlPanelQueries, MiscSettingsFallBackToTheDefaultAndAreReplacedWhenStored) {
  CDRDatabase& db = this->db();
  EXPECT_EQ(db.getMiscParam(L"stat_ttl", L"3"), L"3");
  this->run(L"INSERT INTO misc (param, val) VALUES ('empty_one', '')");
  this->run(L"INSERT INTO misc (param, val) VALUES ('null_one', NULL)");
  EXPECT_EQ(db.getMiscParam(L"empty_one", L"fallback"), L"fallback");
  EXPECT_EQ(db.getMiscParam(L"null_one", L"fallback"), L"fallback");

  db.setMiscParam(L"stat_ttl", L"5");
  db.setMiscParam(L"stat_ttl", L"7");
  EXPECT_EQ(db.getMiscParam(L"stat_ttl", L"3"), L"7");
  EXPECT_EQ(this->single(L"SELECT COUNT(*) FROM misc WHERE param = 'stat_ttl'"), L"1");

  // A hostile name and value are stored and found as they are.
  const std::wstring name = L"av'last\\";
  const std::wstring value = L"x'); DELETE FROM misc; -- \\\"";
  db.setMiscParam(name, value);
  db.setMiscParam(name, value);
  EXPECT_EQ(db.getMiscParam(name, L""), value);
  EXPECT_EQ(db.getMiscParam(L"av'last", L"absent"), L"absent");
  EXPECT_EQ(this->single(L"SELECT COUNT(*) FROM misc"), L"4");

  db.setMiscParam(L"default_server_mysql", L"12");
  db.setMiscParam(L"default_server_mssql", L"local");
  EXPECT_EQ(db.getDefaultServerId(L"mysql"), 12);
  EXPECT_EQ(db.getDefaultServerId(L"mssql"), 0);
  EXPECT_EQ(db.getDefaultServerId(L"postgresql"), 0);
}

TYPED_TEST(ControlPanelQueries, AdminEmailFallsBackToRootAtTheHostThenToAFixedText) {
  CDRDatabase& db = this->db();
  LogRecorder log;
  std::wstring name = L"stale", email = L"stale";
  EXPECT_FALSE(db.getAdminEmail(name, email));
  EXPECT_EQ(name, L"");
  EXPECT_EQ(email, L"<Administrator of Cadro server>");
  EXPECT_TRUE(log.contains(1, L"Admin email is not set."));

  db.setMiscParam(L"FullHostName", L"panel.example.com");
  db.setMiscParam(L"admin_pname", L"Pat Admin");
  EXPECT_FALSE(db.getAdminEmail(name, email));
  EXPECT_EQ(name, L"Pat Admin");
  EXPECT_EQ(email, L"root@panel.example.com");

  db.setMiscParam(L"admin_email", L"pat@example.com");
  log.take();
  EXPECT_TRUE(db.getAdminEmail(name, email));
  EXPECT_EQ(email, L"pat@example.com");
  EXPECT_FALSE(log.contains(1, L"Admin email is not set."));
}

TYPED_TEST(ControlPanelQueries, UserTestsMatchLoginAddressAndDomainKind) {
  CDRDatabase& db = this->db();
  EXPECT_TRUE(db.existFtpUserInDomain(L"10.0.0.1", L"alpha_ftp", true));
  EXPECT_TRUE(db.existFtpUserInDomain(L"10.0.0.1", L"beta_ftp", true));
  EXPECT_FALSE(db.existFtpUserInDomain(L"10.0.0.2", L"alpha_ftp", true));
  EXPECT_FALSE(db.existFtpUserInDomain(L"10.0.0.1", L"webuser", false));
  // The suspended domain counts only when inactive domains are asked for.
  EXPECT_FALSE(db.existFtpUserInDomain(L"10.0.0.3", L"muenchen", true));
  EXPECT_TRUE(db.existFtpUserInDomain(L"10.0.0.3", L"muenchen", false));

  EXPECT_TRUE(db.existFtpUserInSubDomain(L"10.0.0.1", L"blog_user", true));
  EXPECT_FALSE(db.existFtpUserInSubDomain(L"10.0.0.1", L"beta_ftp", false));  // the 'parent' subdomain's user
  EXPECT_TRUE(db.existFtpUserInSubDomain(L"10.0.0.2", L"gamma_www", true));
  EXPECT_TRUE(db.existWebUserInDomain(L"10.0.0.1", L"webuser", true));
  EXPECT_FALSE(db.existWebUserInDomain(L"10.0.0.1", L"alpha_ftp", true));
  EXPECT_TRUE(db.existSubFtpUserInDomain(L"10.0.0.1", L"subftp", true));
  EXPECT_FALSE(db.existSubFtpUserInDomain(L"10.0.0.2", L"subftp", true));

  // Quotes and backslashes in the login or the address change no statement.
  EXPECT_TRUE(db.existWebUserInDomain(L"10.0.0.1", kQuotedLogin, true));
  EXPECT_FALSE(db.existWebUserInDomain(L"10.0.0.1", L"o'bu", true));
  EXPECT_FALSE(db.existFtpUserInDomain(L"10.0.0.1", L"x') OR ('1'='1", false));
  EXPECT_FALSE(db.existFtpUserInDomain(L"10.0.0.9') OR ('1'='1", L"alpha_ftp", false));
  EXPECT_FALSE(db.existFtpUserInDomain(L"10.0.0.1\\", L"alpha_ftp", false));
}

TYPED_TEST(ControlPanelQueries, DomainNameByLoginTriesSystemThenWebThenFtpUsers) {
  CDRDatabase& db = this->db();
  EXPECT_EQ(db.getDomainNameByLogin(L"beta_ftp"), L"beta.com");
  EXPECT_EQ(db.getDomainNameByLogin(L"webuser"), L"alpha.com");
  EXPECT_EQ(db.getDomainNameByLogin(L"subftp"), L"beta.com");
  EXPECT_EQ(db.getDomainNameByLogin(kQuotedLogin), kQuotedDomain);  // hosting of 7, before its web user of 1
  EXPECT_EQ(db.getDomainNameByLogin(L"blog_user"), L"");
  EXPECT_EQ(db.getDomainNameByLogin(L"' OR ''='"), L"");
}

TYPED_TEST(ControlPanelQueries, SubdomainsAndAliasesBelongToTheirOwnDomain) {
  CDRDatabase& db = this->db();
  EXPECT_TRUE(db.existSubdomain(L"1", L"blog"));
  EXPECT_TRUE(db.existSubdomain(L"1", L"BLOG"));
  EXPECT_FALSE(db.existSubdomain(L"2", L"blog"));  // other domains' subdomains
  EXPECT_FALSE(db.existSubdomain(L"1", L"shop"));
  EXPECT_FALSE(db.existSubdomain(L"1", L"blog' OR 'x'='x"));

  VRecordSet subdomains = db.getSubdomains(L"1");
  ASSERT_TRUE(subdomains.next());
  EXPECT_EQ(subdomains.get(L"name"), L"blog");
  EXPECT_EQ(subdomains.get(L"login"), L"blog_user");
  EXPECT_EQ(subdomains.get(L"password"), L"blog-secret");
  EXPECT_EQ(subdomains.get(L"php"), L"true");
  EXPECT_EQ(subdomains.get(L"htype"), L"vrt_hst");
  EXPECT_EQ(subdomains.fieldCount(), 27);
  EXPECT_FALSE(subdomains.next());
  // A subdomain whose user has no account still comes back, without a password.
  VRecordSet withoutAccount = db.getSubdomains(L"4");
  ASSERT_TRUE(withoutAccount.next());
  EXPECT_EQ(withoutAccount.get(L"login"), L"gamma_www");
  EXPECT_TRUE(withoutAccount.isNull(L"password"));
  EXPECT_EQ(db.getSubdomains(L"3").rowCount(), 0);

  VRecordSet aliases = db.getDomainAliases(L"1");
  std::vector<std::wstring> names;
  while (aliases.next()) names.push_back(aliases.get(L"name") + L"/" + aliases.get(L"mail") + L"/" + aliases.get(L"status"));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"alpha-alias.net/true/16", L"alpha.org/false/0"}));
  EXPECT_EQ(db.getDomainAliases(L"3").rowCount(), 0);

  EXPECT_TRUE(db.existDomainAlias(L"alpha.org"));
  EXPECT_TRUE(db.existDomainAlias(kQuotedAlias));
  EXPECT_FALSE(db.existDomainAlias(L"alpha.com"));
  EXPECT_FALSE(db.existDomainAlias(L"al\"i'as.net"));
}

TYPED_TEST(ControlPanelQueries, WwwRecordNeedsAnAddressRecordInTheZoneAndNoSuchSubdomain) {
  CDRDatabase& db = this->db();
  EXPECT_TRUE(db.hasWwwRecord(L"1"));
  EXPECT_FALSE(db.hasWwwRecord(L"2"));  // served by the subdomain www
  EXPECT_FALSE(db.hasWwwRecord(L"4"));  // an MX record, and another domain's name
  EXPECT_FALSE(db.hasWwwRecord(L"3"));  // no zone
  EXPECT_FALSE(db.hasDnsHostWithoutSubdomain(L"1", L"mail"));
  EXPECT_FALSE(db.hasDnsHostWithoutSubdomain(L"1", L"x'"));
}

TYPED_TEST(ControlPanelQueries, BaseDomainOfAnAliasIsItsDomainAndUnknownNamesThrow) {
  CDRDatabase& db = this->db();
  EXPECT_EQ(db.getBaseDomainName(L"alpha.org"), L"alpha.com");
  EXPECT_EQ(db.getBaseDomainName(L"beta.com"), L"beta.com");
  EXPECT_EQ(db.getBaseDomainName(kQuotedAlias), L"beta.com");
  EXPECT_EQ(db.getBaseDomainName(kQuotedDomain), kQuotedDomain);
  EXPECT_EQ(db.getBaseDomainID(L"alpha-alias.net"), L"1");
  EXPECT_EQ(db.getBaseDomainID(L"gamma.com"), L"4");
  EXPECT_EQ(db.getBaseDomainID(kQuotedDomain), L"7");
  EXPECT_EQ(db.getBaseDomainID(kQuotedDecoy), L"10");
  EXPECT_EQ(db.getBaseDomainID(L"xn--mnchen-3ya.de"), L"5");

  try {
    db.getBaseDomainName(L"xn--bcher-kva.com");
    ADD_FAILURE() << "no exception";
  } catch (const ArgumentException&) {
    ADD_FAILURE() << "the name lookup throws a plain vexception";
  } catch (const vexception& e) {
    EXPECT_EQ(e.message(), L"Cannot find base domain for 'xn--bcher-kva.com'");
    EXPECT_EQ(e.contexts().front().operation, "CDRDatabase::getBaseDomainName");
  }
  // The identifier lookup names the domain as its owner wrote it.
  try {
    db.getBaseDomainID(L"shop.xn--bcher-kva.com");
    ADD_FAILURE() << "no exception";
  } catch (const ArgumentException& e) {
    EXPECT_EQ(e.message(), L"Cannot find base domain for 'shop.bücher.com'");
    EXPECT_EQ(e.contexts().front().operation, "CDRDatabase::getBaseDomainID");
  }
  EXPECT_THROW(db.getBaseDomainID(L"' OR ''='"), ArgumentException);
  EXPECT_THROW(db.getBaseDomainName(L"o'brien\\\\x.com"), vexception);
}

TYPED_TEST(ControlPanelQueries, AddressOfADomainComesFromHostingOrForwardingAndGapsAreWarned) {
  CDRDatabase& db = this->db();
  std::wstring text = L"stale";
  EXPECT_EQ(db.getIPByDomainId(L"1", &text), 0x0A000001u);
  EXPECT_EQ(text, L"10.0.0.1");
  EXPECT_EQ(db.getIPByDomainId(L"3", &text), 0x0A000002u);
  EXPECT_EQ(text, L"10.0.0.2");
  EXPECT_EQ(db.getIPByDomainId(L"4"), 0x0A000002u);

  LogRecorder log;
  const struct {
    const wchar_t* id;
    const wchar_t* warning;
  } gaps[] = {
      {L"6", L"getIPByDomainId: domain 6 was found but htype in table domains wrong(none)"},
      {L"8", L"getIPByDomainId: domain 8 was found but can't find the appropriate record in table hosting"},
      {L"9", L"getIPByDomainId: domain 9 was found but can't find the appropriate record in table forwarding"},
      {L"7",
       L"getIPByDomainId: ipAddressId(99) for domain 7 was found but can't find the appropriate record in table "
       L"ip_addresses"},
      {L"11", L"getIPByDomainId: domain 11 was found but htype in table domains is null"},
  };
  for (const auto& gap : gaps) {
    SCOPED_TRACE(text::toUtf8(gap.id));
    text = L"stale";
    EXPECT_EQ(db.getIPByDomainId(gap.id, &text), 0u);
    EXPECT_EQ(text, L"");
    EXPECT_TRUE(log.contains(1, gap.warning));
  }
  log.take();
  EXPECT_EQ(db.getIPByDomainId(L"100", &text), 0u);
  for (const LoggedMessage& m : log.take()) EXPECT_NE(m.level, 1) << text::toUtf8(m.text);

  // A hosting record without an address is warned about like a missing one.
  this->run(L"INSERT INTO hosting (dom_id, sys_user_id, ip_address_id) VALUES (8, 1, NULL)");
  EXPECT_EQ(db.getIPByDomainId(L"8"), 0u);
  EXPECT_TRUE(log.contains(
      1, L"getIPByDomainId: domain 8 was found but can't find the appropriate record in table hosting"));
}

TYPED_TEST(ControlPanelQueries, DomainAtAnAddressIsTheForwardingElseTheLastHostedDomain) {
  CDRDatabase& db = this->db();
  std::wstring name = L"stale";
  EXPECT_EQ(db.getDomainByIP(parseIPAddress(L"10.0.0.1"), &name), L"2");
  EXPECT_EQ(name, L"beta.com");
  EXPECT_EQ(db.getDomainByIP(parseIPAddress(L"10.0.0.2"), &name), L"3");
  EXPECT_EQ(name, L"fwd.com");
  EXPECT_EQ(db.getDomainByIP(parseIPAddress(L"10.0.0.3"), &name), L"5");
  EXPECT_EQ(name, L"xn--mnchen-3ya.de");
  EXPECT_EQ(db.getDomainByIP(parseIPAddress(L"10.0.0.4"), &name), L"");
  EXPECT_EQ(name, L"");
  EXPECT_EQ(db.getDomainByIP(parseIPAddress(L"10.0.0.9")), L"");

  // Anonymous FTP only where it is switched on.
  EXPECT_EQ(db.getAnonFtpDomainByIP(parseIPAddress(L"10.0.0.3"), &name), L"5");
  EXPECT_EQ(name, L"xn--mnchen-3ya.de");
  EXPECT_EQ(db.getAnonFtpDomainByIP(parseIPAddress(L"10.0.0.1"), &name), L"");
  EXPECT_EQ(name, L"");
  EXPECT_EQ(db.getAnonFtpDomainByIP(parseIPAddress(L"10.0.0.2")), L"");
}

TYPED_TEST(ControlPanelQueries, DatabaseServersComeFromTheirTableOrTheSettingsOverAConnectionOfTheirOwn) {
  // This object never connects: every answer below comes over the lookup's own connection.
  CDRDatabase unconnected(IDatabaseProvider::Create(text::fromUtf8(TypeParam::kName)), this->service_, false);

  std::wstring host, login, password = L"stale";
  int32_t port = -1;
  unconnected.getMSSQLServer(host, login, password, port);
  EXPECT_EQ(host, L"localhost");
  EXPECT_EQ(login, L"sa");
  EXPECT_EQ(password, L"");
  EXPECT_EQ(port, 1443);
  EXPECT_FALSE(unconnected.provider().isConnected());

  CDRDatabase& db = this->db();
  db.setMiscParam(L"mysql_data_source", L"misc.example");
  db.setMiscParam(L"mysql_admin_passwd", L"misc-pass");
  unconnected.getMySQLServer(host, login, password, port);
  EXPECT_EQ(host, L"misc.example");
  EXPECT_EQ(login, L"root");
  EXPECT_EQ(password, L"misc-pass");
  EXPECT_EQ(port, 3306);

  this->explicitIds(L"DatabaseServers");
  this->run(L"INSERT INTO DatabaseServers (id, type, host, admin_login, admin_password, port) VALUES "
            L"(2, 'mysql', 'db2.example', 'dbadmin', 'p''w', 3307)");
  this->run(L"INSERT INTO DatabaseServers (id, type, host, admin_login, admin_password, port) VALUES "
            L"(3, 'mssql', 'sql.example', 'sqladmin', 'sqlpass', 0)");
  db.setMiscParam(L"default_server_mysql", L"2");
  unconnected.getMySQLServer(host, login, password, port);
  EXPECT_EQ(host, L"db2.example");
  EXPECT_EQ(login, L"dbadmin");
  EXPECT_EQ(password, L"p'w");
  EXPECT_EQ(port, 3307);

  // The default server's row must be of the type asked for; without it the values stay.
  db.setMiscParam(L"default_server_mssql", L"2");
  host = L"kept", login = L"", password = L"kept", port = 0;
  unconnected.getMSSQLServer(host, login, password, port);
  EXPECT_EQ(host, L"kept");
  EXPECT_EQ(login, L"sa");
  EXPECT_EQ(password, L"kept");
  EXPECT_EQ(port, 1443);
  db.setMiscParam(L"default_server_mssql", L"3");
  db.getMSSQLServer(host, login, password, port);
  EXPECT_EQ(host, L"sql.example");
  EXPECT_EQ(login, L"sqladmin");
  EXPECT_EQ(port, 1443);
}

// ---- a count that comes back without a row

// Answers every query with no rows, as no real engine does for COUNT(*).
class NoRowsRecordSet : public IDatabaseRecordSet {
 public:
  bool next() override { return false; }
  bool first() override { return false; }
  bool last() override { return false; }
  int32_t fieldCount() override { return 1; }
  int32_t columnIndex(const std::wstring&) override { return -1; }
  bool hasColumn(const std::wstring&) override { return false; }
  std::wstring columnName(int32_t) override { return L"COUNT(*)"; }
  bool isNull(int32_t, bool) override { return true; }
  bool isEmpty(int32_t, bool nullIsEmpty) override { return nullIsEmpty; }
  std::wstring get(int32_t, const std::wstring& defaultValue, bool) override { return defaultValue; }
  bool lookup(int32_t, std::wstring&, bool) override { return false; }
  int32_t rowCount() override { return 0; }
};

class NoRowsProvider : public StubDatabaseProvider {
 public:
  VRecordSet query(const std::wstring&) override { return VRecordSet(new NoRowsRecordSet); }
};

TEST(ControlPanelUserTests, ACountWithoutARowIsUnexpected) {
  FakeServiceSettings service;
  CDRDatabase db(std::make_unique<NoRowsProvider>(), service, false);
  using Test = bool (CDRDatabase::*)(const std::wstring&, const std::wstring&, bool);
  const std::pair<Test, const char*> tests[] = {
      {&CDRDatabase::existFtpUserInDomain, "CDRDatabase::existFtpUserInDomain"},
      {&CDRDatabase::existFtpUserInSubDomain, "CDRDatabase::existFtpUserInSubDomain"},
      {&CDRDatabase::existWebUserInDomain, "CDRDatabase::existWebUserInDomain"},
      {&CDRDatabase::existSubFtpUserInDomain, "CDRDatabase::existSubFtpUserInDomain"},
  };
  for (const auto& [test, operation] : tests) {
    try {
      (db.*test)(L"10.0.0.1", L"user", true);
      ADD_FAILURE() << "no exception from " << operation;
    } catch (const vexception& e) {
      EXPECT_EQ(e.message(), L"Unexpected behavior MySQL");
      EXPECT_EQ(e.contexts().front().operation, operation);
    }
  }
  // The other lookups read a missing row as "none".
  EXPECT_FALSE(db.existSubdomain(L"1", L"www"));
  EXPECT_FALSE(db.existDomainAlias(L"alpha.org"));
  EXPECT_FALSE(db.hasWwwRecord(L"1"));
  EXPECT_EQ(db.getMiscParam(L"stat_ttl", L"3"), L"3");
}

}  // namespace
