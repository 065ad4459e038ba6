#include "app/vconsoleapp.h"

#include <gtest/gtest.h>

#include "platform/report/guard.h"
#include "platform/report/vexception.h"
#include "testing/log_recorder.h"

using V = std::vector<std::wstring>;

TEST(MaskedCommandLine, PasswordArgumentsAreMaskedPerEqualsSign) {
  EXPECT_EQ(vconsoleapp::maskedCommandLine(V{L"statistics", L"--db-password=secret", L"--all"}),
            L"statistics \"--db-password=*\" --all ");
  EXPECT_EQ(vconsoleapp::maskedCommandLine(V{L"s", L"password=a=b=c"}), L"s \"password=*=*=*\" ");
  // Only the part before the first "=" counts, and the test is case-sensitive.
  EXPECT_EQ(vconsoleapp::maskedCommandLine(V{L"s", L"--x=password"}), L"s \"--x=password\" ");
  EXPECT_EQ(vconsoleapp::maskedCommandLine(V{L"s", L"--Password=x"}), L"s \"--Password=x\" ");
  EXPECT_EQ(vconsoleapp::maskedCommandLine(V{L"s", L"password"}), L"s password ");
}

TEST(MaskedCommandLine, QuotingOfSpecialCharacters) {
  for (std::wstring special : {L"&", L"<", L">", L"[", L"]", L"{", L"}", L"^", L"=", L";", L"!", L"'", L"+", L",",
                               L"`", L"~", L"|", L" ", L"\t"}) {
    EXPECT_EQ(vconsoleapp::quoteForReport(L"a" + special), L"\"a" + special + L"\"") << special;
  }
  EXPECT_EQ(vconsoleapp::quoteForReport(L"plain-arg.txt"), L"plain-arg.txt");
  // An ideographic space separates words in every locale, so the argument is quoted.
  EXPECT_EQ(vconsoleapp::quoteForReport(L"a\u3000b"), L"\"a\u3000b\"");
  EXPECT_EQ(vconsoleapp::quoteForReport(LR"(say "hi")"), LR"("say \"hi\"")");
  EXPECT_EQ(vconsoleapp::quoteForReport(LR"(dir\ x\)"), LR"("dir\ x\\")");
  EXPECT_EQ(vconsoleapp::quoteForReport(LR"(a\"b c)"), LR"("a\\\"b c")");
}

namespace {

class Probe : public vconsoleapp {
 public:
  int go(Args args) override {
    seen = V(args.begin(), args.end());
    if (fail) throw vexception(L"inner");
    return 7;
  }
  V seen;
  bool fail = false;
};

}  // namespace

TEST(ConsoleApp, BaseStartDispatchesTheCommand) {
  Probe p;
  EXPECT_EQ(vconsoleapp::current(), &p);
  EXPECT_EQ(p.run(V{L"prog", L"cmd", L"x", L"y"}), 7);
  EXPECT_EQ(p.commandName(), L"cmd");
  EXPECT_EQ(p.seen, (V{L"x", L"y"}));
  p.fail = true;
  EXPECT_EQ(p.run(V{L"prog", L"cmd"}), 1);
  vconsoleapp base;
  EXPECT_EQ(base.run(V{L"prog"}), 1);  // "Missing command parameter"
  EXPECT_EQ(base.run(V{L"prog", L"what"}), 1);  // "Invalid command what"
}

namespace {

// A run whose wrapped step meets a cancellation request, as after SIGTERM.
class CancelledRun : public vconsoleapp {
 public:
  int start(Args) override {
    cancellation::request();
    reached = !guard::report(3, VCTX(L"Calculate domain(s) traffic", "statistics::start"), [] {});
    return 0;
  }
  bool reached = false;
};

}  // namespace

TEST(ConsoleApp, CancellationIsReportedByTheWrapperAndEndsTheRunWithOne) {
  testing_support::LogRecorder log;
  CancelledRun app;
  int result = app.run(V{L"prog"});
  cancellation::reset();
  EXPECT_TRUE(app.reached);
  EXPECT_EQ(result, 1);
  EXPECT_TRUE(log.contains(3, L"Operation cancelled"));
}
