// FTP attribution over every database engine: logins of domains, subdomains, web and FTP
// users, anonymous FTP by the served address, hostile logins, and the run's caches.
#include "traffic/ftp_attribution.h"

#include <gtest/gtest.h>

#include "db/cdr_database.h"
#include "platform/text/text_codec.h"
#include "testing/fake_service_settings.h"
#include "testing/log_recorder.h"
#include "testing/provider_test_engines.h"
#include "traffic/servu_test_util.h"
#include "traffic/w3c_file.h"

using namespace testing_support;
using Statistics::FtpAttribution;

namespace {

const std::wstring kQuotedLogin = L"o'b\\u";
const std::wstring kTwentyA(20, L'a');  // the longest login the schema stores

// Logins that must find nothing, each a near miss of a stored login.
const std::wstring kHostileLogins[] = {
    L"o'bu",  L"o'b\\\\u", L"x' OR '1'='1", L"alpha_ftp' -- ", L"%", L"alpha%", L"_lpha_ftp", L"\\", L"'",
    std::wstring(L"alpha_ftp\0", 10), std::wstring(L"alpha_ftp\0' OR '1'='1", 21), std::wstring(300, L'a'),
    std::wstring(300, L'\'') + L"\\",
};

// A W3C record of an FTP line with the fields attribution reads.
W3CRecord ftpLine(const std::wstring& login, const std::wstring& serverAddress, const std::wstring& host = L"-") {
  static const auto names = W3CFieldNames::make({L"cs-username", L"s-ip", L"cs-host", L"cs-method"});
  const std::wstring_view values[] = {login, serverAddress, host, L"[1]sent"};
  W3CRecord r;
  r.assign(names, L"", values);
  return r;
}

template <typename Engine>
class FtpAttributionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (auto why = Engine::unavailable()) GTEST_SKIP() << *why;
    engine_ = std::make_unique<Engine>();
    createControlPanelSchema(*engine_->connect(), Engine::kDialect);
    settings_.values[L"CADRO_DATABASE_PROVIDER_NAME"] = text::fromUtf8(Engine::kName);
    db_ = std::make_unique<CDRDatabase>(engine_->connect(), settings_, false);
    seed();
    for (const wchar_t* host : {L"alpha.com", L"blog.alpha.com"}) hosts_[host] = L"alpha.com";
    hosts_[L"beta.com"] = L"beta.com";
    hosts_[L"gamma.com"] = L"gamma.com";
    // delta.com is not in this run.
    const wchar_t* const selected[] = {L"alpha.com", L"beta.com", L"gamma.com"};
    for (int id = 1; id <= 3; ++id) {
      const std::wstring name = selected[id - 1];
      domains_[std::to_wstring(id)] = std::make_unique<DomainInfo>(std::to_wstring(id), name, 0x0A000000u + id, 3, false);
      names_[name] = std::to_wstring(id);
    }
    ftp_ = std::make_unique<FtpAttribution>(*db_, hosts_, domains_, names_);
  }

  void run(const std::wstring& sql) { db_->execute(sql); }
  void ids(const std::wstring& table) { db_->provider().setIdentityInsert(table); }

  // Addresses 10.0.0.1 to 10.0.0.4; alpha.com on 1 with the subdomain blog and the web
  // users webuser, o'b\u and twenty a's; beta.com on 2 with anonymous FTP and the FTP user
  // subftp; gamma.com on 3 with anonymous FTP off; delta.com on 4.
  void seed() {
    ids(L"IP_Addresses");
    for (int i = 1; i <= 4; ++i)
      run(L"INSERT INTO IP_Addresses (id, ip_address) VALUES (" + std::to_wstring(i) + L", '10.0.0." +
          std::to_wstring(i) + L"')");
    ids(L"domains");
    const wchar_t* domains[] = {L"alpha.com", L"beta.com", L"gamma.com", L"delta.com"};
    for (int i = 1; i <= 4; ++i)
      run(L"INSERT INTO domains (id, name, htype, status, cl_id) VALUES (" + std::to_wstring(i) + L", '" +
          domains[i - 1] + L"', 'vrt_hst', 0, 1)");
    ids(L"sys_users");
    const std::wstring users[] = {L"alpha_ftp", L"beta_ftp", L"gamma_ftp", L"delta_ftp", L"blog_user",
                                  L"webuser",   L"subftp",   kQuotedLogin, kTwentyA};
    for (int i = 1; i <= 9; ++i)
      run(L"INSERT INTO sys_users (id, login) VALUES (" + std::to_wstring(i) + L", '" + db_->escape(users[i - 1]) +
          L"')");
    ids(L"");
    for (int i = 1; i <= 4; ++i)
      run(L"INSERT INTO hosting (dom_id, sys_user_id, ip_address_id) VALUES (" + std::to_wstring(i) + L", " +
          std::to_wstring(i) + L", " + std::to_wstring(i) + L")");
    run(L"INSERT INTO anon_ftp (dom_id, status) VALUES (2, 'true')");
    run(L"INSERT INTO anon_ftp (dom_id, status) VALUES (3, 'false')");
    ids(L"subdomains");
    run(L"INSERT INTO subdomains (id, dom_id, name, sys_user_id, sys_user_type) VALUES (1, 1, 'blog', 5, 'native')");
    ids(L"");
    for (int user : {6, 8, 9}) run(L"INSERT INTO web_users (dom_id, sys_user_id) VALUES (1, " + std::to_wstring(user) + L")");
    run(L"INSERT INTO ftp_users (dom_id, sys_user_id) VALUES (2, 7)");
  }

  FtpAttribution& ftp() { return *ftp_; }

  std::unique_ptr<Engine> engine_;
  FakeServiceSettings settings_;
  std::unique_ptr<CDRDatabase> db_;
  HostMap hosts_;
  DomainMap domains_;
  DomainNameMap names_;
  std::unique_ptr<FtpAttribution> ftp_;
};

TYPED_TEST_SUITE(FtpAttributionTest, ProviderTestEngines, ProviderTestEngineNames);

TYPED_TEST(FtpAttributionTest, LinesGoToTheLoginsSiteElseToTheDomainServedAtTheAddress) {
  const struct {
    std::wstring login, serverAddress, directoryDomain, domain, host;
  } cases[] = {
      {L"alpha_ftp", L"10.0.0.2", L"", L"alpha.com", L"alpha.com"},
      {L"Blog_User", L"10.0.0.1", L"", L"alpha.com", L"blog.alpha.com"},  // a subdomain's own account
      {L"webuser", L"-", L"", L"alpha.com", L"alpha.com"},
      {L"subftp", L"10.0.0.2", L"", L"beta.com", L"beta.com"},
      {L"anonymous", L"10.0.0.2", L"", L"beta.com", L"beta.com"},  // anonymous FTP on
      {L"anonymous", L"10.0.0.3", L"", L"gamma.com", L"gamma.com"},  // off: the domain at the address
      {L"anonymous", L"-", L"gamma.com", L"gamma.com", L"gamma.com"},  // the directory domain's address
      {L"anonymous", L"", L"beta.com", L"beta.com", L"beta.com"},
      {L"anonymous", L"", L"", L"", L""},
      {L"anonymous", L"-", L"unknown.com", L"", L""},
      {L"anonymous", L"10.0.0.9", L"alpha.com", L"", L""},
      {L"delta_ftp", L"10.0.0.1", L"", L"alpha.com", L"alpha.com"},  // a domain outside the run
      {L"x' OR '1'='1", L"10.0.0.2", L"", L"beta.com", L"beta.com"},
      {kQuotedLogin, L"-", L"", L"alpha.com", L"alpha.com"},  // quotes that are the login's own
      {kTwentyA, L"10.0.0.3", L"", L"alpha.com", L"alpha.com"},
  };
  LogRecorder log;
  for (int pass = 0; pass < 2; ++pass) {
    for (const auto& c : cases) {
      std::wstring domain = c.directoryDomain, host = L"stale";
      this->ftp().attributeFtpLine(ftpLine(c.login, c.serverAddress), domain, host);
      EXPECT_EQ(domain, c.domain) << text::toUtf8(c.login + L" at " + c.serverAddress);
      EXPECT_EQ(host, c.host) << text::toUtf8(c.login + L" at " + c.serverAddress);
    }
    // Every answer came from the run's caches the second time.
    size_t statements = 0, anonymousHosts = 0;
    for (const LoggedMessage& m : log.take()) {
      statements += m.text.starts_with(L"SQL: ");
      anonymousHosts += m.text == L"Anonymous FTP host beta.com";
    }
    EXPECT_EQ(statements > 0, pass == 0);
    EXPECT_EQ(anonymousHosts, pass == 0 ? 1u : 0u);
  }
}

TYPED_TEST(FtpAttributionTest, KnownUsersAtTheirAddressAreFtpUsersOthersAnonymous) {
  const struct {
    std::wstring login, serverAddress, host;
    int logType;
  } cases[] = {
      {L"alpha_ftp", L"10.0.0.1", L"-", 2},
      {L"alpha_ftp", L"10.0.0.2", L"-", 1},
      {L"alpha_ftp", L"10.0.0.2", L"10.0.0.1", 2},  // an address in "cs-host" wins
      {L"alpha_ftp", L"10.0.0.1", L"alpha.com", 2},
      {L"blog_user", L"10.0.0.1", L"-", 2},
      {L"webuser", L"10.0.0.1", L"-", 2},
      {L"subftp", L"10.0.0.2", L"-", 2},
      {L"anonymous", L"10.0.0.2", L"-", 1},
      {L"alpha_ftp", L"", L"", 2},  // no address: a login with a site
      {L"anonymous", L"", L"", 1},
      {L"delta_ftp", L"", L"", 2},  // a domain outside the run has a site too
  };
  LogRecorder log;
  for (const auto& c : cases)
    EXPECT_EQ(this->ftp().classifyFtpLine(ftpLine(c.login, c.serverAddress, c.host)), c.logType)
        << text::toUtf8(c.login + L" at " + c.serverAddress + L" " + c.host);
  EXPECT_TRUE(log.contains(0, L"FTP user 'alpha_ftp' is FTP user"));
  EXPECT_TRUE(log.contains(0, L"FTP user 'anonymous' is not FTP user"));
  for (const std::wstring& login : kHostileLogins) {
    EXPECT_EQ(this->ftp().getSiteByLogin(login), L"") << text::toUtf8(login);
    EXPECT_EQ(this->ftp().classifyFtpLine(ftpLine(login, L"10.0.0.1")), 1) << text::toUtf8(login);
    EXPECT_EQ(this->ftp().classifyFtpLine(ftpLine(login, L"")), 1) << text::toUtf8(login);
  }
  // A hostile address finds no user either.
  EXPECT_EQ(this->ftp().classifyFtpLine(ftpLine(L"alpha_ftp", L"10.0.0.1' OR '1'='1")), 1);
  EXPECT_EQ(this->ftp().classifyFtpLine(ftpLine(L"alpha_ftp", std::wstring(L"10.0.0.1\0x", 10))), 1);
}

// Both log kinds of the FTP server, read from their files, through attribution: the Serv-U
// reader takes the server's own address from "Local address", not the client's.
TYPED_TEST(FtpAttributionTest, ServUAndIisFtpLogsEndToEnd) {
  std::vector<std::string> got;
  auto note = [&](std::wstring_view method, const std::wstring& domain, const std::wstring& host, int type) {
    got.push_back(text::toUtf8(method) + " " + text::toUtf8(domain) + " " + text::toUtf8(host) + " " +
                  std::to_string(type));
  };
  for (auto line = servu_test::open(servu_test::kSample); !line.atEnd(); ++line) {
    if (line->kind() != ServUFile::record::Kind::download && line->kind() != ServUFile::record::Kind::upload) continue;
    std::wstring domain, host;
    this->ftp().attributeFtpLine(*line, domain, host);
    note(line->get(L"cs-method"), domain, host, this->ftp().classifyFtpLine(*line));
  }
  const std::string iis =
      "#Software: Microsoft Internet Information Services 6.0\r\n"
      "#Version: 1.0\r\n"
      "#Fields: time c-ip cs-username s-ip cs-method cs-uri-stem sc-status\r\n"
      "10:00:01 192.0.2.7 blog_user 10.0.0.1 [7]sent /a.zip 226\r\n"
      "10:00:02 192.0.2.8 anonymous 10.0.0.2 [12]created /in/b.txt 226\r\n"
      "10:00:03 192.0.2.9 IUSR_X 10.0.0.3 [13]sent /c 226\r\n";
  for (auto block = W3CFile::iterator(std::make_unique<LogByteSource>(iis), text::NarrowCodec("UTF-8")); !block.atEnd();
       ++block) {
    for (W3CFile::line_iterator line(*block); !line.atEnd(); ++line) {
      std::wstring domain, host;
      this->ftp().attributeFtpLine(*line, domain, host);
      note(line->get(L"cs-method"), domain, host, this->ftp().classifyFtpLine(*line));
    }
  }
  EXPECT_EQ(got, (std::vector<std::string>{
                     "[12]sent alpha.com alpha.com 2",
                     "[13]created beta.com beta.com 1",
                     "[12]sent   1",  // the session was closed: no login, no address
                     "[7]sent alpha.com blog.alpha.com 2",
                     "[12]created beta.com beta.com 1",
                     "[13]sent gamma.com gamma.com 1",
                 }));
}

}  // namespace
