// The host-name resolver over every engine, on one set of domains that exercises its rules:
// subdomains, aliases, a subdomain that belongs to another domain, an alias whose domain
// is gone, and names with quotes and backslashes beside their decoy.
#include "traffic/domain2subdomain.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/text/text_codec.h"
#include "testing/allocation_counter.h"
#include "testing/controlpanel_schema.h"
#include "testing/fake_service_settings.h"
#include "testing/log_recorder.h"
#include "testing/provider_test_engines.h"
#include "testing/scoped_environment.h"

using namespace testing_support;
using Statistics::Domain2Subdomain;

namespace {

const std::wstring kQuotedDomain = L"o'brien\\x.com";
const std::wstring kQuotedDecoy = L"o'brienx.com";

size_t countStatements(const std::vector<LoggedMessage>& messages) {
  size_t n = 0;
  for (const LoggedMessage& m : messages) n += m.text.starts_with(L"SQL: ");
  return n;
}

// The quoted literals of a statement as written: up to the closing quote, with doubled
// quotes (and, where the engine reads them, backslash escapes) inside.
std::vector<std::wstring> literalsOf(std::wstring_view sql, bool backslashEscapes) {
  std::vector<std::wstring> literals;
  for (size_t i = 0; i < sql.size(); ++i) {
    if (sql[i] != L'\'') continue;
    std::wstring literal;
    for (++i; i < sql.size(); ++i) {
      if (backslashEscapes && sql[i] == L'\\' && i + 1 < sql.size()) {
        literal += sql.substr(i++, 2);
      } else if (sql[i] == L'\'' && i + 1 < sql.size() && sql[i + 1] == L'\'') {
        literal += L"''";
        ++i;
      } else if (sql[i] == L'\'') {
        break;
      } else {
        literal += sql[i];
      }
    }
    literals.push_back(literal);
  }
  return literals;
}

template <class Engine>
class HostResolver : public ::testing::Test {
 protected:
  void SetUp() override {
    if (auto why = Engine::unavailable()) GTEST_SKIP() << *why;
    env_.unset("TEMP");  // saved only: a Jet connection sets them
    env_.unset("TMP");
    engine_ = std::make_unique<Engine>();
    db_ = std::make_unique<CDRDatabase>(engine_->connect(), service_, false);
    createControlPanelSchema(db_->provider(), Engine::kDialect);
    seed();
    resolver_ = std::make_unique<Domain2Subdomain>(*db_);
  }

  std::wstring quoted(const std::wstring& value) { return L"'" + db_->escape(value) + L"'"; }
  void insert(const std::wstring& table, const std::wstring& columns, const std::wstring& values) {
    db_->provider().setIdentityInsert(table);
    db_->execute(L"INSERT INTO " + table + L" (" + columns + L") VALUES (" + values + L")");
  }

  //  1 alpha.com     subdomains blog and Shop, alias alpha.org
  //  2 beta.com      subdomain news
  //  3 Gamma.Com     (written in mixed case), alias gamma.net
  //  7 o'brien\x.com subdomain in
  // 10 o'brienx.com  the decoy of 7
  //    ghost.net     an alias of the missing domain 99
  void seed() {
    const std::pair<int, std::wstring> domains[] = {
        {1, L"alpha.com"}, {2, L"beta.com"}, {3, L"Gamma.Com"}, {7, kQuotedDomain}, {10, kQuotedDecoy}};
    for (const auto& [id, name] : domains)
      insert(L"domains", L"id, name, htype, status, cl_id",
             std::to_wstring(id) + L", " + quoted(name) + L", 'vrt_hst', 0, 1");
    insert(L"sys_users", L"id, login", L"1, 'sub_user'");
    const std::pair<int, std::wstring> subdomains[] = {{1, L"blog"}, {1, L"Shop"}, {2, L"news"}, {7, L"in"}};
    int subdomainId = 0;
    for (const auto& [domain, name] : subdomains)
      insert(L"subdomains", L"id, dom_id, name, sys_user_id, sys_user_type",
             std::to_wstring(++subdomainId) + L", " + std::to_wstring(domain) + L", " + quoted(name) +
                 L", 1, 'native'");
    const std::pair<int, std::wstring> aliases[] = {{1, L"alpha.org"}, {3, L"gamma.net"}, {99, L"ghost.net"}};
    int aliasId = 0;
    for (const auto& [domain, name] : aliases)
      insert(L"domain_aliases", L"id, dom_id, name",
             std::to_wstring(++aliasId) + L", " + std::to_wstring(domain) + L", " + quoted(name));
    db_->provider().setIdentityInsert(L"");
  }

  Domain2Subdomain& resolver() { return *resolver_; }

  ScopedEnvironment env_;
  FakeServiceSettings service_;
  std::unique_ptr<Engine> engine_;
  std::unique_ptr<CDRDatabase> db_;  // closed before the engine drops its database
  std::unique_ptr<Domain2Subdomain> resolver_;
};

TYPED_TEST_SUITE(HostResolver, ProviderTestEngines, ProviderTestEngineNames);

TYPED_TEST(HostResolver, HostsResolveToTheirDomainAndSite) {
  const struct {
    const wchar_t* host;
    const wchar_t* domain;
    const wchar_t* site;
  } cases[] = {
      {L"alpha.com", L"alpha.com", L"alpha.com"},
      {L"blog.alpha.com", L"alpha.com", L"blog.alpha.com"},
      {L"shop.alpha.com", L"alpha.com", L"shop.alpha.com"},
      // An alias stands for its domain, with or without a subdomain in front.
      {L"alpha.org", L"alpha.com", L"alpha.com"},
      {L"blog.alpha.org", L"alpha.com", L"blog.alpha.com"},
      {L"gamma.net", L"gamma.com", L"gamma.com"},
      // A domain asked by name keeps the name as asked.
      {L"gamma.com", L"gamma.com", L"gamma.com"},
      // There is no subdomain www, so www.D is no host of D: the caller asks again without it.
      {L"www.alpha.com", L"", L""},
      // news is a subdomain of beta.com, not of alpha.com.
      {L"news.alpha.com", L"", L""},
      {L"news.beta.com", L"beta.com", L"news.beta.com"},
      {L"deep.blog.alpha.com", L"", L""},
      {L"ghost.net", L"", L""},
      {L"nowhere.example", L"", L""},
      {L"", L"", L""},
      // Quotes and backslashes are data: the name and its decoy each find themselves only.
      {L"in.o'brien\\x.com", L"o'brien\\x.com", L"in.o'brien\\x.com"},
      {L"in.o'brienx.com", L"", L""},
      {L"o'brienx.com", L"o'brienx.com", L"o'brienx.com"},
      {L"x') or ('1'='1.alpha.com", L"", L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(text::toUtf8(c.host));
    const Domain2Subdomain::HostInfo& info = this->resolver().resolve(c.host);
    EXPECT_EQ(info.first, c.domain);
    EXPECT_EQ(info.second, c.site);
  }
}

TYPED_TEST(HostResolver, EachHostIsAskedOnceAndItsReportsComeOnce) {
  Domain2Subdomain& resolver = this->resolver();
  LogRecorder log;
  EXPECT_EQ(resolver.resolve(L"nowhere.example").first, L"");
  std::vector<LoggedMessage> first = log.take();
  EXPECT_GT(countStatements(first), 0u);
  auto reported = [&](const std::wstring& text) {
    for (const LoggedMessage& m : first)
      if (m.level == 0 && m.text == text) return true;
    return false;
  };
  EXPECT_TRUE(reported(L"Made name:nowhere.example prefix: names"));
  EXPECT_TRUE(reported(L"Made name:example prefix:nowhere names"));
  EXPECT_TRUE(reported(L"Skipped nowhere.example host"));
  EXPECT_EQ(resolver.resolve(L"nowhere.example").first, L"");
  EXPECT_TRUE(log.take().empty());  // the second answer comes from memory, silently

  resolver.resolve(L"blog.alpha.org");
  first = log.take();
  EXPECT_TRUE(reported(L"Inserted host info name:alpha.com fullname:blog.alpha.com"));
  EXPECT_EQ(resolver.resolve(L"blog.alpha.org").second, L"blog.alpha.com");
  EXPECT_TRUE(log.take().empty());

  // A host of one label tries only the whole name.
  resolver.resolve(L"localhost");
  size_t splits = 0;
  for (const LoggedMessage& m : log.take()) splits += m.text.starts_with(L"Made name:");
  EXPECT_EQ(splits, 1u);

  // 1,000 lines of three hosts cost only the queries of their first lines.
  const std::wstring hosts[] = {L"shop.alpha.com", L"gamma.net", L"unknown.example.org"};
  size_t firstLines = 0, all = 0;
  for (int line = 0; line < 1000; ++line) {
    resolver.resolve(hosts[line % 3]);
    const size_t statements = countStatements(log.take());
    all += statements;
    if (line < 3) firstLines += statements;
  }
  EXPECT_EQ(all, firstLines);
  EXPECT_LE(firstLines, 4u * (2 + 2 + 3));  // a few per split tried
}

TYPED_TEST(HostResolver, ARepeatedHostIsAnsweredWithoutAllocating) {
  Domain2Subdomain& resolver = this->resolver();
  const std::wstring hosts[] = {L"blog.alpha.com", L"alpha.org", L"nowhere.example", L""};
  for (const std::wstring& host : hosts) resolver.resolve(host);
  const unsigned long before = allocationsOnThisThread();
  size_t found = 0;
  for (int line = 0; line < 1000; ++line) found += !resolver.resolve(hosts[line % 4]).first.empty();
  EXPECT_EQ(allocationsOnThisThread(), before);
  EXPECT_EQ(found, 500u);
}

TYPED_TEST(HostResolver, HostileHostsReachTheStatementsOnlyEscaped) {
  Domain2Subdomain& resolver = this->resolver();
  CDRDatabase& db = *this->db_;
  const bool backslashEscapes = db.provider().providerName() == L"MySQL";
  const std::wstring hosts[] = {
      std::wstring(300, L'a') + L".alpha.com",
      L"x\\'.y') OR ('1'='1",
      L"\"q\"'; DROP TABLE domains; --.alpha.com",
      L"b\\.o'brien\\x.com",
  };
  for (const std::wstring& host : hosts) {
    SCOPED_TRACE(text::toUtf8(host));
    // Every split's name and prefix, escaped: the only literals the statements may hold.
    std::set<std::wstring> allowed;
    for (size_t start = 0;;) {
      allowed.insert(db.escape(host.substr(start)));
      if (start > 0) allowed.insert(db.escape(host.substr(0, start - 1)));
      size_t dot = host.find(L'.', start);
      if (dot == std::wstring::npos) break;
      start = dot + 1;
    }
    LogRecorder log;
    EXPECT_EQ(resolver.resolve(host).first, L"");
    for (const LoggedMessage& m : log.take()) {
      if (!m.text.starts_with(L"SQL: ")) continue;
      for (const std::wstring& literal : literalsOf(m.text, backslashEscapes))
        EXPECT_TRUE(allowed.contains(literal)) << text::toUtf8(m.text);
    }
  }
  // A NUL names no domain: the host is not asked about at all.
  LogRecorder log;
  const std::wstring withNul(L"alpha.com\0.evil", 15);
  EXPECT_EQ(resolver.resolve(withNul).first, L"");
  EXPECT_EQ(resolver.resolve(std::wstring_view(L"blog.alpha.com\0", 15)).first, L"");
  EXPECT_EQ(countStatements(log.take()), 0u);
  EXPECT_EQ(resolver.resolve(L"alpha.com").first, L"alpha.com");
}

TYPED_TEST(HostResolver, BaseNamesAndSubdomainNamesAreCachedAnswers) {
  Domain2Subdomain& resolver = this->resolver();
  EXPECT_EQ(resolver.baseDomainId(L"alpha.org"), L"1");
  EXPECT_EQ(resolver.baseDomainId(L"gamma.com"), L"3");
  EXPECT_EQ(resolver.baseDomainId(L"ghost.net"), L"99");
  EXPECT_EQ(resolver.baseDomainId(L"nowhere.example"), L"");
  EXPECT_EQ(resolver.baseDomainName(L"gamma.net"), L"gamma.com");  // lower-cased
  EXPECT_EQ(resolver.baseDomainName(L"gamma.com"), L"gamma.com");
  EXPECT_EQ(resolver.baseDomainName(L"ghost.net"), L"");
  EXPECT_EQ(resolver.baseDomainName(L"nowhere.example"), L"");

  LogRecorder log;
  EXPECT_EQ(resolver.subdomainNames(L"alpha.com"), (std::set<std::wstring>{L"blog", L"shop"}));
  EXPECT_EQ(resolver.subdomainNames(L"alpha.org"), (std::set<std::wstring>{L"blog", L"shop"}));
  EXPECT_TRUE(resolver.subdomainNames(L"nowhere.example").empty());
  EXPECT_TRUE(resolver.subdomainNames(L"ghost.net").empty());
  const size_t asked = countStatements(log.take());
  EXPECT_EQ(resolver.baseDomainId(L"alpha.org"), L"1");
  EXPECT_EQ(resolver.subdomainNames(L"alpha.com").size(), 2u);
  EXPECT_TRUE(resolver.subdomainNames(L"nowhere.example").empty());
  EXPECT_GT(asked, 0u);
  EXPECT_EQ(countStatements(log.take()), 0u);
}

}  // namespace
