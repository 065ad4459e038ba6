#include "app/params.h"

#include <gtest/gtest.h>

#include "app/task_set.h"
#include "platform/report/vexception.h"

namespace {

ParamMap mapOf(std::vector<std::wstring> args) { return buildParamMap(args); }

std::wstring failureOf(const ParamMap& map, const OptionList& required, const OptionList& allowed) {
  try {
    Params(map).check(required, allowed);
  } catch (const vexception& e) {
    return e.message();
  }
  return L"accepted";
}

}  // namespace

TEST(ParamMap, SplitsAtTheFirstEqualsAndLaterArgumentsWin) {
  ParamMap m = mapOf({L"--process-domains=a.com", L"--from-date=2007/04/06 18:02:32", L"--x=a=b", L"plain",
                      L"--process-domains=b.com", L"--from-date"});
  EXPECT_EQ(m[L"--process-domains"], L"b.com");
  EXPECT_EQ(m[L"--x"], L"a=b");
  EXPECT_EQ(m[L"plain"], L"");
  EXPECT_EQ(m[L"--from-date"], L"");
  Params p(m);
  EXPECT_EQ(p.value(L"--x", true, L""), L"a=b");
  EXPECT_EQ(p.value(L"--absent", false, L"dflt"), L"dflt");
  try {
    p.value(L"--absent", true, L"");
    FAIL();
  } catch (const vexception& e) {
    EXPECT_EQ(e.message(), L"Missing required parameter --absent. ");
  }
}

TEST(ParamsCheck, FirstUnexpectedNameInMapOrderIsReported) {
  const OptionList& accepted = tasks::acceptedOptions();
  ASSERT_EQ(accepted.size(), 20u);
  std::wstring usage = L"Possible parameters is:\n    [-h]\n    [--help]\n    [--disk-usage]\n    [--http-traffic]\n"
                       L"    [--ftp-traffic]\n    [--mail-traffic]\n    [--notify]\n    [--update-actions]\n"
                       L"    [--all]\n    [--http-web-statistics]\n    [--ftp-web-statistics]\n"
                       L"    [--mailbox-usage]\n    [--antivirus]\n    [--process-domains]\n"
                       L"    [--process-domain-mask]\n    [--skip-domains]\n    [--skip-domain-mask]\n"
                       L"    [--single-notify]\n    [--from-date]\n    [--verbose]";
  // "--Zeta" sorts before "--zeta" and "-x" (ordinal order): it is the one reported.
  EXPECT_EQ(failureOf(mapOf({L"-x", L"--zeta", L"--Zeta", L"--all"}), {}, accepted),
            L"Unexpected parameter --Zeta. " + usage);
  // Names are case-sensitive.
  EXPECT_EQ(failureOf(mapOf({L"--All"}), {}, accepted), L"Unexpected parameter --All. " + usage);
  EXPECT_EQ(failureOf(mapOf({L"--internal-package-name=x", L"--verbose"}), {}, accepted), L"accepted");
  EXPECT_EQ(failureOf(mapOf({L"--internal-package-name"}), {}, {}), L"accepted");
}

TEST(ParamsCheck, RequiredNamesAndUsageText) {
  EXPECT_EQ(failureOf(mapOf({L"--b"}), {L"--a", L"--b"}, {L"--c"}),
            L"Missing required parameter --a. Possible parameters is:\n    --a\n    --b\n    [--c]");
  EXPECT_EQ(failureOf(mapOf({L"--a", L"--b", L"--d"}), {L"--a", L"--b"}, {}),
            L"Unexpected parameter --d. Possible parameters is:\n    --a\n    --b");
  // An empty first name ends a list, as in a multi-string.
  EXPECT_EQ(Params::usageText({L""}, {L"", L"--x"}), L"");
  EXPECT_EQ(failureOf(mapOf({L"--y"}), {}, {}), L"Unexpected parameter --y. ");
}

TEST(TaskSet, OptionRules) {
  EXPECT_EQ(tasks::taskSet(mapOf({})), 0x657u);
  EXPECT_EQ(tasks::taskSet(mapOf({L"--verbose", L"--from-date=2007/04/06 18:02:32", L"--process-domains=a"})), 0x657u);
  EXPECT_EQ(tasks::taskSet(mapOf({L"--all", L"--antivirus"})), 0x657u);
  EXPECT_EQ(tasks::taskSet(mapOf({L"--all", L"--notify"})), 0x657u);
  EXPECT_EQ(tasks::taskSet(mapOf({L"--notify"})), 0x020u);
  EXPECT_EQ(tasks::taskSet(mapOf({L"--disk-usage", L"--ftp-web-statistics", L"--mailbox-usage"})), 0x301u);
  EXPECT_EQ(tasks::taskSet(mapOf({L"--http-web-statistics"})), 0x080u);
}
