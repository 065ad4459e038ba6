// `statistics --update-actions` end to end: the limit check runs after the action log's
// rotation, under the task's lock, and launches the control panel's event script (a real
// PHP script here) for each exceeded limit; a failing event reaches the console.
#include <gtest/gtest.h>

#include "platform/registry/registry.h"
#include "platform/text/text_codec.h"
#include "testing/end_to_end.h"
#include "usage/recording_event_script.h"

using namespace testing_support;
using namespace usage_testing;

namespace {

class LimitCheckRun : public EndToEndTest {
 protected:
  void sql(const std::wstring& statement) { e2e_->db().execute(statement); }
};

TEST_P(LimitCheckRun, ExceededLimitsLaunchTheirEventsAndAFailedOneIsReported) {
  e2e_->addClient(1);
  e2e_->addHostedDomain(9, L"nine.com", 1, L"10.0.0.9");
  e2e_->addHostedDomain(10, L"ten.com", 1, L"10.0.0.10");
  sql(L"UPDATE clients SET limits_id = 1 WHERE id = 1");
  sql(L"UPDATE domains SET limits_id = 2, real_size = 300 WHERE id = 9");
  sql(L"UPDATE domains SET limits_id = 3, real_size = 10 WHERE id = 10");
  sql(L"INSERT INTO Limits (id, limit_name, value) VALUES (1, 'disk_space', 305)");
  sql(L"INSERT INTO Limits (id, limit_name, value) VALUES (2, 'max_traffic', 50)");
  sql(L"INSERT INTO Limits (id, limit_name, value) VALUES (3, 'disk_space', 5)");
  sql(L"INSERT INTO disk_usage (dom_id, httpdocs) VALUES (9, 300)");
  sql(L"INSERT INTO disk_usage (dom_id, httpdocs) VALUES (10, 10)");
  sql(L"INSERT INTO DomainsTraffic (dom_id, `date`, http_in, http_out) VALUES (9, '" + text::fromUtf8(firstOfMonth()) +
      L"', 40, 20)");
  RecordingEventScript script(e2e_->productRoot(),
                              "if ($args[0] === '--client-limit-size-reached') { echo 'no mail relay'; exit(2); }\n");

  auto r = e2e_->run({"--update-actions"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(script.events(), (std::vector<std::string>{"self|--client-limit-size-reached|--client-id|1",
                                                       "self|--domain-limit-size-reached|--domain-id|10",
                                                       "self|--domain-limit-traffic-reached|--domain-id|9"}));
  EXPECT_NE(r.out.find("Unable to execute event " + script.script() +
                       " --client-limit-size-reached --client-id 1: no mail relay"),
            std::string::npos)
      << r.out;
  uint32_t lock = 99;
  registry::lookup(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"UpdateActionLockStatus", lock, 0);
  EXPECT_EQ(lock, 0u);
}

CADRO_END_TO_END_ENGINES(LimitCheckRun);

}  // namespace
