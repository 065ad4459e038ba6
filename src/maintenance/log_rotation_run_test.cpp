// Domain log rotation in a run: `statistics --http-traffic` counts a domain's logs and then
// rotates them under the domain's policy, on the Jet file and on MariaDB.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <cstdio>

#include "platform/dates/vdatetime.h"
#include "platform/registry/registry.h"
#include "platform/text/text_codec.h"
#include "testing/end_to_end.h"
#include "testing/run_process.h"
#include "traffic/traffic_test_util.h"

using namespace testing_support;

namespace {

class LogRotationRun : public EndToEndTest {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    if (IsSkipped()) return;
    e2e_->writeMetabase("<W3SVC>\n<Site Id=\"2\" ServerComment=\"alpha.com\" LogFileDirectory=\"" + e2e_->file("logs") +
                        "\"><Root Class=\"IIsWebVirtualDir\" DefaultDoc=\"index.html\"/></Site>\n</W3SVC>\n");
    e2e_->db().execute(
        L"INSERT INTO log_rotation (id, period_type, period, max_number_of_logfiles, compress_enable, "
        L"email, turned_on) VALUES (3, 'by_time', 'daily', 5, 'true', '', 'true')");
    e2e_->db().execute(L"INSERT INTO dom_param (dom_id, param, val) VALUES (1, 'logrotation_id', '3')");
    e2e_->addClient(1);
    e2e_->addHostedDomain(1, L"alpha.com", 1, L"10.0.0.1");
    registry::write(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"Debug", 1u);
  }
  // A log of one line of an hour before `daysAgo` days ago, last written then (a line of a
  // fixed clock time would lie in the future early in the day).
  std::string log(const std::string& name, int daysAgo, long long bytes) {
    const VDateTime at = VDateTime::nowUtc() - (86400 * static_cast<int64_t>(daysAgo) + 3600);
    const std::string path = e2e_->file("logs/W3SVC2/" + name);
    char clock[16];
    std::snprintf(clock, sizeof clock, " %02d:%02d:%02d ", at.hour, at.minute, at.second);
    writeFile(path, "#Fields: date time s-ip cs-uri-stem cs-host sc-bytes\n" + text::toUtf8(at.toSqlDateText()) +
                        clock + "10.0.0.1 /index.html alpha.com " + std::to_string(bytes) + "\n");
    struct utimbuf times {
      at.toUnixTime(), at.toUnixTime()
    };
    ::utime(path.c_str(), &times);
    return path;
  }
};

}  // namespace

TEST_P(LogRotationRun, CountedLogsAreZippedAfterTheTrafficIsStored) {
  const std::string finished = log("ex1.log", 3, 100);
  const std::string current = log("ex2.log", 0, 20);
  ProcessResult r = e2e_->run({"--http-traffic"}, {{"TZ", "UTC"}});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(e2e_->values(L"SELECT SUM(http_out) FROM DomainsTraffic WHERE dom_id = 1"), L"120");
  EXPECT_FALSE(fileExists(finished));
  EXPECT_TRUE(fileExists(current));
  ProcessResult test = runProcess("/usr/bin/unzip", {"-t", finished + ".zip"});
  EXPECT_EQ(test.exitCode, 0) << test.out;
  EXPECT_NE(test.out.find("testing: ex1.log"), std::string::npos) << test.out;
  const std::string events = e2e_->eventLog();
  EXPECT_NE(events.find("\tRotating log for domain alpha.com...\t"), std::string::npos) << events;

  // A run that only builds the web statistics rotates nothing.
  const std::string another = log("ex0.log", 4, 1);
  r = e2e_->run({"--http-web-statistics"}, {{"TZ", "UTC"}});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_TRUE(fileExists(another));
}

CADRO_END_TO_END_ENGINES(LogRotationRun);
