// The run of the statistics program end to end: a system root, the management service, a
// control-panel database and build/bin/statistics as a process of its own.
#include <gtest/gtest.h>

#include <future>
#include <set>

#include "platform/registry/registry.h"
#include "platform/text/text_codec.h"
#include "testing/end_to_end.h"

using namespace testing_support;

namespace {

class RunSequence : public EndToEndTest {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    if (IsSkipped()) return;
    e2e_->addClient(1);
    e2e_->addHostedDomain(9, L"nine.com", 1, L"10.0.0.9");
    e2e_->addHostedDomain(10, L"ten.com", 1, L"10.0.0.10");
    e2e_->addHostedDomain(100, L"hundred.com", 1, L"10.0.0.100");
    e2e_->addHostedDomain(7, L"suspended.com", 1, L"10.0.0.7", 4);
  }
  void debugOn() { registry::write(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"Debug", 1u); }
  // The domains the run reported as selected. They are reported as the database returns
  // them; the run's per-domain loops then walk them in identifier text order.
  std::set<std::string> selected(const std::string& log) {
    std::set<std::string> out;
    const std::string mark = "\tdomain ";
    for (size_t at = log.find(mark); at != std::string::npos; at = log.find(mark, at + 1)) {
      size_t end = log.find(" ordered to proceess", at);
      out.insert(log.substr(at + mark.size(), end - at - mark.size()));
    }
    return out;
  }
};

}  // namespace

TEST_P(RunSequence, UnreachableDatabaseFailsEvenTheHelp) {
  bool jet = onJet();
  if (jet)
    e2e_->writeServiceConfig({{"mySQLDBName", e2e_->file("missing/cadro.mdb")}});
  else
    e2e_->writeServiceConfig({{"MySQL_DB_PORT", "1"}, {"MySQL_DB_HOST", "127.0.0.1"}});
  auto r = e2e_->run({"--help"}, {{"MYSQL_UNIX_PORT", "/nonexistent/mysqld.sock"}});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out.find("* Main options"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find(jet ? "Unable to ADO conect with connection string: " : "Failed to connect to database: "), 0u)
      << r.out;
}

TEST_P(RunSequence, NotifyPrintsTheRetiredNoticeAndExitsZero) {
  auto r = e2e_->run({"--notify"});
  EXPECT_EQ(r.exitCode, 0);
  const std::string notice =
      "The statistics.exe command line utility does not send the notifications anymore, this function is now "
      "performed by a new command line utility notify.exe";
  EXPECT_EQ(r.out, notice);
  EXPECT_NE(e2e_->eventLog().find("\tERROR\tstatistics\t1\t0\t" + notice + "\t"), std::string::npos);
  // Without --notify (--all leaves it out) there is no notice.
  r = e2e_->run({"--all", "--notify"});
  EXPECT_EQ(r.out, "");
}

TEST_P(RunSequence, SelectedDomainsAreReportedWithDebug) {
  debugOn();
  auto r = e2e_->run({});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  std::string log = e2e_->eventLog();
  EXPECT_EQ(selected(log), (std::set<std::string>{"10(ten.com)", "100(hundred.com)", "9(nine.com)"}));
  EXPECT_NE(log.find("\tINFORMATION\tstatistics\t1\t0\tDone\t"), std::string::npos) << log;
  EXPECT_NE(log.find("\tINFORMATION\tstatistics\t1\t0\tSQL: SELECT domains.id, domains.name"), std::string::npos);
}

TEST_P(RunSequence, ProcessDomainsAndMask) {
  debugOn();
  auto r = e2e_->run({"--process-domains=nine.com;hundred.com", "--http-traffic"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(selected(e2e_->eventLog()), (std::set<std::string>{"100(hundred.com)", "9(nine.com)"}));
  writeFile(e2e_->file("eventlog/Cadro.log"), "");
  // (Mail traffic, which covers every domain, is left out: its own domain query would be seen.)
  r = e2e_->run({"--process-domain-mask=%n%.com", "--skip-domains=nine.com", "--disk-usage"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(selected(e2e_->eventLog()), (std::set<std::string>{"10(ten.com)", "100(hundred.com)"}));
}

TEST_P(RunSequence, VerbosePrintsTheSaveDirectories) {
  registry::write(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"SaveHTTPLogsDirectory", std::wstring(L"/srv/saved/http"));
  auto r = e2e_->run({"--verbose", "--disk-usage"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "Save FTP logs 2: '' HTTP logs 2: '/srv/saved/http' mail logs 2: ''\n");
}

TEST_P(RunSequence, TwoRunsAtOnceBothSucceedAndTheStatisticsKeysExist) {
  EXPECT_FALSE(registry::exists(HKEY_LOCAL_MACHINE, registry::kDomainStateKey));
  auto first = std::async(std::launch::async, [&] { return e2e_->run({"--all"}); });
  auto second = std::async(std::launch::async, [&] { return e2e_->run({"--all"}); });
  EXPECT_EQ(first.get().exitCode, 0);
  EXPECT_EQ(second.get().exitCode, 0);
  EXPECT_TRUE(registry::exists(HKEY_LOCAL_MACHINE, registry::kStatisticsKey));
  EXPECT_TRUE(registry::exists(HKEY_LOCAL_MACHINE, registry::kDomainStateKey));
}

TEST_P(RunSequence, WrongTypeOfARegistrySettingEndsThePreparation) {
  // A four-byte REG_BINARY where a DWORD is expected.
  registry::key config;
  registry::create(HKEY_LOCAL_MACHINE, registry::kConfigKey, config, KEY_ALL_ACCESS);
  ASSERT_EQ(system(("'" + binaryPath("cadro-reg") + "' add \"HKLM\\SOFTWARE\\Cadro\\CDR Config\\Config\" /v "
                    "StatisticsLogExpirationTime /t REG_BINARY /d 00010203 >/dev/null")
                       .c_str()),
            0);
  auto r = e2e_->run({"--all"}, {{"CADRO_SYSTEM_ROOT", e2e_->root()}});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out.find("RegQueryValueEx invalid type of 'SOFTWARE\\Cadro\\CDR Config\\Config\\StatisticsLogExpirationTime'"),
            0u)
      << r.out;
}

CADRO_END_TO_END_ENGINES(RunSequence);
