// Event launches that fail: each is reported under "Unable to execute event" and not passed
// on, so that the limit check goes on with its next event.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/text/text_codec.h"
#include "testing/fake_exec_settings.h"
#include "testing/log_recorder.h"
#include "testing/temp_dir.h"
#include "usage/limit_events.h"
#include "usage/recording_event_script.h"

using namespace testing_support;
using namespace usage_testing;

namespace {

std::wstring w(const std::string& s) { return text::fromUtf8(s); }

class LimitEvents : public ::testing::Test {
 protected:
  LimitEvents() { settings.root = w(dir.file("panel")); }

  // The one error reported since the last call, or "" (with a failure) when there is not
  // exactly one.
  std::wstring onlyError() {
    std::vector<LoggedMessage> errors;
    for (LoggedMessage& m : log.take())
      if (m.level == 3) errors.push_back(m);
    EXPECT_EQ(errors.size(), 1u);
    if (errors.size() != 1) return L"";
    EXPECT_EQ(errors[0].contexts.back(), L"Unable to execute event");
    return errors[0].text;
  }

  TempDir dir;
  FakeExecSettings settings;
  LogRecorder log;
};

TEST_F(LimitEvents, AScriptStillRunningAfterTheWaitFailsItsEventAndTheNextOneRuns) {
  // The traffic event's script waits until the test lets it end.
  RecordingEventScript script(dir.file("panel"),
                              "if ($args[0] === '--domain-limit-traffic-reached')\n"
                              "  while (!file_exists(__DIR__ . '/release')) usleep(10000);\n");
  LimitEventLauncher(settings, 200).limitReached(7, limit_event::kDomainTraffic);
  EXPECT_EQ(onlyError(), L"Unable to execute event " + w(script.script()) + L" --domain-limit-traffic-reached --domain-id 7");
  writeFile(dir.file("panel/admin/plib/actionlog/release"), "");

  LimitEventLauncher events(settings);
  EXPECT_EQ(events.waitMilliseconds(), 120000);
  events.limitReached(8, limit_event::kDomainSize);
  const std::vector<std::string> seen = script.events();
  EXPECT_NE(std::find(seen.begin(), seen.end(), "self|--domain-limit-size-reached|--domain-id|8"), seen.end());
  for (const LoggedMessage& m : log.take()) EXPECT_LT(m.level, 3) << text::toUtf8(m.text);
}

TEST_F(LimitEvents, FailuresBeforeTheScriptRunsAreReported) {
  const std::wstring absent = w(dir.file("panel/admin/plib/actionlog/actionlog.php"));
  const struct {
    const char* name;
    std::wstring root;
    int32_t type;
    std::wstring message;
  } cases[] = {
      {"unknown type", w(dir.file("panel")), 4, L"Unable to execute event: Unknown event type"},
      {"no script installed", w(dir.file("panel")) + L"//", limit_event::kClientSize,
       L"'" + absent + L"' is not recognized as an internal or external command, operable program or batch file."},
      {"no product root", L"/", limit_event::kClientSize,
       L"The product root directory is not set: the setting PRODUCT_ROOT_D is empty"},
  };
  for (const auto& c : cases) {
    settings.root = c.root;
    LimitEventLauncher(settings).limitReached(3, c.type);
    EXPECT_EQ(onlyError(), c.message) << c.name;
  }
}

}  // namespace
