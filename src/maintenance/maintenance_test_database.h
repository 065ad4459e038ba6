#pragma once
// The database side of the maintenance tests: a typed fixture that gives each test a fresh
// control-panel database on one engine, reached through an InterposedProvider so that a test
// can make a statement fail or change the server version, and a few helpers to read rows.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/cdr_database.h"
#include "platform/text/text_codec.h"
#include "testing/controlpanel_schema.h"
#include "testing/fake_service_settings.h"
#include "testing/interposed_provider.h"
#include "testing/provider_test_engines.h"
#include "testing/scoped_environment.h"

namespace maintenance_test {

// Sets TZ for the test and restores the zone afterwards.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* previous = std::getenv("TZ")) previous_ = previous;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ScopedTimeZone() {
    if (previous_)
      ::setenv("TZ", previous_->c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::optional<std::string> previous_;
};

template <class Engine>
class MaintenanceDatabase : public ::testing::Test {
 protected:
  void SetUp() override {
    if (auto why = Engine::unavailable()) GTEST_SKIP() << *why;
    // A Jet connection sets them.
    env_.unset("TEMP");
    env_.unset("TMP");
    engine_ = std::make_unique<Engine>();
    service_.values[L"CADRO_DATABASE_PROVIDER_NAME"] = text::fromUtf8(Engine::kName);
    auto interposed = std::make_unique<testing_support::InterposedProvider>(engine_->connect());
    provider_ = interposed.get();
    db_ = std::make_unique<CDRDatabase>(std::move(interposed), service_, false);
    testing_support::createControlPanelSchema(db_->provider(), Engine::kDialect);
  }

  static bool isMySQL() { return std::string(Engine::kName) == "MySQL"; }
  CDRDatabase& db() { return *db_; }
  testing_support::InterposedProvider& provider() { return *provider_; }
  void run(const std::wstring& sql) { db_->execute(sql); }

  // Every row of `sql`, each as its values joined by "|", in the order the query gives.
  std::vector<std::wstring> rows(const std::wstring& sql) {
    std::vector<std::wstring> out;
    VRecordSet set = db_->query(sql);
    while (set.next()) {
      std::wstring row;
      for (int32_t i = 0; i < set.fieldCount(); ++i) row += (i ? L"|" : L"") + set.get(i, L"NULL");
      out.push_back(row);
    }
    return out;
  }

  testing_support::ScopedEnvironment env_;
  testing_support::FakeServiceSettings service_;
  std::unique_ptr<Engine> engine_;
  testing_support::InterposedProvider* provider_ = nullptr;
  std::unique_ptr<CDRDatabase> db_;  // closed before the engine drops its database
};

}  // namespace maintenance_test
