#pragma once
// End-to-end runs of the statistics program: a system root of its own in a temporary
// directory (registry values, IIS site settings, the management service's configuration),
// the real management service started on it, a control-panel database with the schema
// fixture, and build/bin/statistics run as a separate process against all of it.
//
//   EndToEnd e2e(EndToEnd::mysql());           // or EndToEnd::jet()
//   e2e.db().execute(L"INSERT INTO clients ...");
//   auto r = e2e.run({"--all"});
//   EXPECT_EQ(r.exitCode, 0); e2e.eventLog(); e2e.registryDword(...)

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/database_provider.h"
#include "testing/run_process.h"
#include "testing/service_process.h"
#include "testing/temp_dir.h"

namespace testing_support {

// Where the run's control-panel database lives and how the service describes it.
class EndToEndDatabase {
 public:
  virtual ~EndToEndDatabase() = default;
  // "MySQL" or "Jet": the service setting CADRO_DATABASE_PROVIDER_NAME.
  virtual std::string providerName() const = 0;
  // The [settings] lines that point the program at this database (host, port, name, login).
  virtual std::map<std::string, std::string> serviceSettings() const = 0;
  // The database password ("pwd" in [passwords]).
  virtual std::string password() const = 0;
  // A provider connected to the database, for the test's own rows and checks.
  virtual IDatabaseProvider& provider() = 0;
};

class EndToEnd {
 public:
  // A fresh scratch database on the private MariaDB server, or nullopt (with the reason)
  // when no test server is configured.
  static std::unique_ptr<EndToEndDatabase> mysql(std::string* why = nullptr);
  // A Jet file (SQLite) with the schema: the embedded default, always available.
  static std::unique_ptr<EndToEndDatabase> jet(std::string* why = nullptr);

  // Builds the system root (registry configuration key, an empty metabase, the service
  // configuration) and starts the service. `settings` are added to [settings].
  explicit EndToEnd(std::unique_ptr<EndToEndDatabase> database, std::map<std::string, std::string> settings = {});
  ~EndToEnd();
  EndToEnd(const EndToEnd&) = delete;
  EndToEnd& operator=(const EndToEnd&) = delete;

  const std::string& root() const { return root_.path(); }
  std::string file(const std::string& relative) const { return root_.file(relative); }
  IDatabaseProvider& db() { return database_->provider(); }
  // Every value of every row of `sql`, in order, separated by one blank: a whole answer to
  // compare with one text.
  std::wstring values(const std::wstring& sql);
  // The product root the service reports (PRODUCT_ROOT_D), created under the system root.
  std::string productRoot() const { return root_.file("product"); }
  // The service also reports HTTPD_VHOSTS_D as file("vhosts") and CATALINA_HOME as
  // file("tomcat"); neither directory is created. MAIL_PROVIDERW_DLL names the tests' mail
  // provider (testing/mail_provider/), which answers from the script named by the run's
  // CADRO_TEST_MAIL_PROVIDER_SCRIPT and is an empty mail server without one.

  // Runs build/bin/statistics with `args` in this system root.
  ProcessResult run(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {});

  // Rewrites the service configuration (the service reads it on every request).
  void writeServiceConfig(const std::map<std::string, std::string>& extraSettings = {});
  void writeMetabase(const std::string& xml);
  // Lays out the web statistics generators (scripts/analyser-layout) under file("analysers")
  // and points the service at them: AWStatsPath, WebalizerPath and the components
  // "awstats" and "perl".
  void useAnalysers();
  // A control-panel utility (product/admin/bin/NAME) running the shell `script`. The
  // harness writes a "viduza" that answers nothing.
  void writeUtility(const std::string& name, const std::string& script);

  // eventlog/Cadro.log (empty when absent).
  std::string eventLog() const;

  // Inserts a client (id) and a hosted domain with its IP address: the usual fixture rows.
  // The domain's web statistics are "none"; a test of a generator sets its own.
  void addClient(int id, const std::wstring& login = L"client");
  void addHostedDomain(int id, const std::wstring& name, int clientId, const std::wstring& ip, int status = 0);

 private:
  ScopedSystemRoot root_;
  std::unique_ptr<EndToEndDatabase> database_;
  std::map<std::string, std::string> settings_;
  std::map<std::string, std::string> components_;
  std::unique_ptr<ServiceProcess> service_;
  int nextIpId_ = 1;
};

// A test run once per database kind (the parameter is EndToEnd::jet or EndToEnd::mysql):
// SetUp builds e2e_ over a fresh database of that kind, or skips the test when it is not
// available here. Instantiate with CADRO_END_TO_END_ENGINES(Suite).
using EndToEndDatabaseFactory = std::unique_ptr<EndToEndDatabase> (*)(std::string*);

class EndToEndTest : public ::testing::TestWithParam<EndToEndDatabaseFactory> {
 protected:
  void SetUp() override {
    std::string why;
    auto database = GetParam()(&why);
    if (!database) GTEST_SKIP() << why;
    e2e_ = std::make_unique<EndToEnd>(std::move(database));
  }
  bool onJet() const { return GetParam() == &EndToEnd::jet; }

  std::unique_ptr<EndToEnd> e2e_;
};

// "Jet" or "MySQL", the name of a test's database kind.
inline std::string endToEndEngineName(const ::testing::TestParamInfo<EndToEndDatabaseFactory>& info) {
  return info.param == &EndToEnd::jet ? "Jet" : "MySQL";
}

#define CADRO_END_TO_END_ENGINES(suite)                                                                   \
  INSTANTIATE_TEST_SUITE_P(Engines, suite,                                                                 \
                           ::testing::Values(&::testing_support::EndToEnd::jet, &::testing_support::EndToEnd::mysql), \
                           ::testing_support::endToEndEngineName)

// Skips the running test when the database is not available here.
#define CADRO_REQUIRE_E2E_DATABASE(var, factory)          \
  std::string var##Why;                                   \
  auto var = (factory)(&var##Why);                        \
  if (!var) GTEST_SKIP() << var##Why

}  // namespace testing_support
