// `statistics --mail-traffic` end to end on the Jet file and on MariaDB: the provider named
// by the management service, its amounts in the DomainsTraffic columns of their days, the
// sent messages, the end of the period stored only when the traffic is, and the mail logs
// the provider is done with.
#include <gtest/gtest.h>

#include <unistd.h>

#include <limits>

#include "platform/dates/vdatetime.h"
#include "platform/registry/registry.h"
#include "testing/end_to_end.h"
#include "traffic/mail_test_util.h"
#include "traffic/traffic_test_util.h"

using namespace testing_support;
using namespace mail_testing;
using traffic_test::trafficRows;

namespace {

// nine.com (9) and ten.com (10) with mail on, hundred.com (100) with mail switched off. The
// days are yesterday and today (UTC), so that no retention removes their rows.
class MailTrafficRun : public EndToEndTest {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    if (IsSkipped()) return;
    e2e_->addClient(1);
    e2e_->addHostedDomain(9, L"nine.com", 1, L"10.0.0.9");
    e2e_->addHostedDomain(10, L"ten.com", 1, L"10.0.0.10");
    e2e_->addHostedDomain(100, L"hundred.com", 1, L"10.0.0.100");
    e2e_->db().execute(L"INSERT INTO DomainServices (dom_id, type, status) VALUES (100, 'mail', 16)");
    const VDateTime today = VDateTime::nowUtc().date();
    today_ = text::toUtf8(today.toSqlDateText());
    yesterday_ = text::toUtf8((today - 86400).toSqlDateText());
  }
  ProcessResult run(MailProviderScript& script, std::vector<std::string> args = {"--mail-traffic"}) {
    ProcessResult r = e2e_->run(args, {{"CADRO_TEST_MAIL_PROVIDER_SCRIPT", script.dir().file("script")}});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    return r;
  }
  std::string periodEnd() {
    std::wstring text;
    registry::lookup(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"LastMailTrafficCalculation", text, REG_SZ, 0);
    return text::toUtf8(text);
  }
  // The start and end of the one traffic call the provider recorded.
  std::pair<std::string, std::string> period(MailProviderScript& script) {
    for (const std::string& call : script.takeCalls())
      if (call.starts_with("traffic ")) return {call.substr(8, 19), call.substr(28, 19)};
    return {};
  }
  // "day count" of every MailMessagesStat row by day (the day as "YYYY-MM-DD" on every engine).
  std::string sent() {
    VRecordSet rows = e2e_->db().query(L"SELECT `date`, sent FROM MailMessagesStat ORDER BY `date`");
    std::string out;
    while (rows.next())
      out += (out.empty() ? "" : " ") + text::toUtf8(rows.get(0)).substr(0, 10) + " " + text::toUtf8(rows.get(1));
    return out;
  }

  std::string today_, yesterday_;
};

}  // namespace

TEST_P(MailTrafficRun, AmountsLandInTheirColumnsAndDaysAndTheNextRunStartsAtTheEnd) {
  MailProviderScript script;
  const std::string log = script.dir().file("mail.log.1");
  writeFile(log, "done");
  registry::write(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"SaveMailLogsDirectory",
                  text::fromUtf8(e2e_->file("saved-mail")));
  script.write("traffic nine.com " + yesterday_ + " 1 2 30 40 500 600\n" +
               "traffic nine.com " + today_ + " 7 0 0 0 0 0\n" +
               "traffic ten.com " + today_ + " 0 0 9223372036854775807 0 0 0\n" +
               "traffic hundred.com " + yesterday_ + " 5 5 5 5 5 5\n" +
               "traffic unknown.com " + yesterday_ + " 5 5 5 5 5 5\n" +
               "sent " + yesterday_ + " 12\nfile " + log + "\n");
  // The selection does not narrow mail traffic.
  run(script, {"--mail-traffic", "--process-domains=ten.com"});

  // SMTP out and SMTP in of a day share one row: smtp_out = 1 + 30, smtp_in = 2 + 40.
  const std::string ten = "10 " + today_ + " 0 0 0 0 0 9223372036854775807 0 0";
  EXPECT_EQ(trafficRows(e2e_->db()),
            "9 " + yesterday_ + " 0 0 0 0 42 31 600 500; 9 " + today_ + " 0 0 0 0 0 7 0 0; " + ten);
  EXPECT_EQ(sent(), yesterday_ + " 12");
  auto [start, end] = period(script);
  EXPECT_EQ(start, "0000/00/00 00:00:00");
  EXPECT_EQ(periodEnd(), end);
  EXPECT_FALSE(fileExists(log));
  EXPECT_EQ(readFile(e2e_->file("saved-mail/mail.log.1")), "done");

  // The next run asks from there on (yesterday is now outside its period) and adds to the
  // rows; ten.com's sum would pass 64 bits, so ten.com alone is rolled back and reported,
  // and the period still ends.
  script.write("traffic nine.com " + today_ + " 7 0 0 0 0 0\ntraffic ten.com " + today_ + " 0 0 1 0 0 0\nsent " +
               today_ + " 5\n");
  ProcessResult r = run(script);
  EXPECT_NE(r.out.find("would exceed a 64-bit counter"), std::string::npos) << r.out;
  auto [nextStart, nextEnd] = period(script);
  EXPECT_EQ(nextStart, end);
  EXPECT_EQ(periodEnd(), nextEnd);
  EXPECT_EQ(trafficRows(e2e_->db()),
            "9 " + yesterday_ + " 0 0 0 0 42 31 600 500; 9 " + today_ + " 0 0 0 0 0 14 0 0; " + ten);
  EXPECT_EQ(sent(), yesterday_ + " 12 " + today_ + " 5");
}

TEST_P(MailTrafficRun, TheEndIsStoredOnlyWhenTheTrafficIs) {
  MailProviderScript script;
  const std::string log = script.dir().file("mail.log.1");
  writeFile(log, "");
  const std::string answer = "traffic nine.com " + yesterday_ + " 1 2 3 4 5 6\nsent " + yesterday_ + " 3\nfile " + log + "\n";

  // A provider that fails: nothing stored, the logs stay.
  script.write(answer + "throw traffic\n");
  ProcessResult r = run(script);
  EXPECT_NE(r.out.find("the test provider failed to read the mail logs"), std::string::npos) << r.out;
  EXPECT_EQ(trafficRows(e2e_->db()), "");
  EXPECT_EQ(periodEnd(), "");
  EXPECT_TRUE(fileExists(log));

  // A database that takes none of the traffic: no end, no sent messages, the logs stay.
  script.write(answer);
  e2e_->db().execute(L"DROP TABLE DomainsTraffic");
  run(script);
  EXPECT_EQ(periodEnd(), "");
  EXPECT_EQ(sent(), "");
  EXPECT_TRUE(fileExists(log));

  // Another run holding the task: nothing asked.
  registry::write(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"MailTrafficLockStatus", static_cast<uint32_t>(getpid()));
  script.takeCalls();
  r = run(script);
  EXPECT_NE(r.out.find("Object has been already locked"), std::string::npos) << r.out;
  EXPECT_TRUE(script.takeCalls().empty());
}

CADRO_END_TO_END_ENGINES(MailTrafficRun);
