// The command line of the statistics program, run as a separate process.
#include <gtest/gtest.h>

#include "app/task_set.h"
#include "platform/registry/registry.h"
#include "platform/text/text_codec.h"
#include "testing/end_to_end.h"

using testing_support::EndToEnd;

namespace {

// The program needs its database before it reads the options, so every run has one.
class StatisticsCli : public ::testing::Test {
 protected:
  void SetUp() override {
    e2e_ = std::make_unique<EndToEnd>(EndToEnd::jet());
  }
  testing_support::ProcessResult run(const std::vector<std::string>& args) { return e2e_->run(args); }
  std::unique_ptr<EndToEnd> e2e_;
};

}  // namespace

TEST_F(StatisticsCli, HelpIsPrintedByteForByte) {
  std::string expected = text::toUtf8(tasks::helpText());
  ASSERT_EQ(expected.back(), '\n');
  ASSERT_NE(expected.find("* Main options: \n  --disk-usage \n"), std::string::npos);
  for (std::vector<std::string> args : {std::vector<std::string>{"--help"}, {"-h"}, {"--help=x"}, {"--all", "-h"}}) {
    auto r = run(args);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, expected) << args[0];
  }
}

TEST_F(StatisticsCli, UnexpectedOptionFailsWithTheUsageAndNoHelp) {
  auto r = run({"--help", "--Verbose"});
  EXPECT_EQ(r.exitCode, 1);
  std::string usage = "Possible parameters is:\n    [-h]\n    [--help]\n    [--disk-usage]\n    [--http-traffic]\n"
                      "    [--ftp-traffic]\n    [--mail-traffic]\n    [--notify]\n    [--update-actions]\n"
                      "    [--all]\n    [--http-web-statistics]\n    [--ftp-web-statistics]\n"
                      "    [--mailbox-usage]\n    [--antivirus]\n    [--process-domains]\n"
                      "    [--process-domain-mask]\n    [--skip-domains]\n    [--skip-domain-mask]\n"
                      "    [--single-notify]\n    [--from-date]\n    [--verbose]";
  EXPECT_EQ(r.out, "Unexpected parameter --Verbose. " + usage);
}

TEST_F(StatisticsCli, EveryAcceptedOptionIsAccepted) {
  std::vector<std::string> args;
  for (const std::wstring& o : tasks::acceptedOptions())
    if (o != L"-h" && o != L"--help") args.push_back(text::toUtf8(o) + "=1");
  args.push_back("--internal-package-name=pkg");
  auto r = run(args);
  // "--verbose" prints the save directories; "--from-date=1" and "--process-domains=1" are
  // taken as they are (nothing matches domain "1").
  EXPECT_EQ(r.out, "Save FTP logs 2: '' HTTP logs 2: '' mail logs 2: ''\n");
  EXPECT_EQ(r.exitCode, 0);
}

TEST_F(StatisticsCli, DebugModeWritesTheMaskedStartAndTheDetailedFailureToTheEventLog) {
  ASSERT_EQ(registry::write(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"Debug", 1u), 0u);
  auto r = run({"--db-password=secret", "--bogus"});
  EXPECT_EQ(r.exitCode, 1);
  std::string log = testing_support::readFile(e2e_->file("eventlog/Cadro.log"));
  EXPECT_EQ(log.find("secret"), std::string::npos) << log;
  EXPECT_NE(log.find("\tINFORMATION\tstatistics\t1\t0\tstart "), std::string::npos) << log;
  EXPECT_NE(log.find(" \"--db-password=*\" --bogus \t"), std::string::npos) << log;
  // The error record holds the detailed text: the message, then the two context records.
  size_t error = log.find("\tERROR\tstatistics\t1\t0\tUnexpected parameter --bogus. Possible parameters is:\\n");
  ASSERT_NE(error, std::string::npos) << log;
  std::string record = log.substr(error, log.find('\n', error) - error);
  EXPECT_NE(record.find("[--verbose]\\n   at (Params::check line "), std::string::npos) << record;
  EXPECT_NE(record.find("\\n   at execute "), std::string::npos) << record;
  EXPECT_NE(record.find("(vconsoleapp::run line "), std::string::npos) << record;
  // Debug mode shows the detailed text on the console too.
  EXPECT_EQ(r.out.find("Unexpected parameter --bogus."), 0u);
  EXPECT_NE(r.out.find("\n   at (Params::check line "), std::string::npos);
}
