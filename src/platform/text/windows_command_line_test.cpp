#include "platform/text/windows_command_line.h"

#include <gtest/gtest.h>

using cmdline::join;
using cmdline::split;
using V = std::vector<std::wstring>;

TEST(CommandLineSplit, BackslashAndQuoteRules) {
  EXPECT_EQ(split(LR"(prog a "b c" d)"), (V{L"prog", L"a", L"b c", L"d"}));
  EXPECT_EQ(split(LR"(prog a\\\"b c\d)"), (V{L"prog", LR"(a\"b)", LR"(c\d)"}));
  EXPECT_EQ(split(LR"(prog "a\\" b)"), (V{L"prog", LR"(a\)", L"b"}));
  EXPECT_EQ(split(LR"(prog "a""b" c)"), (V{L"prog", LR"(a"b)", L"c"}));
  EXPECT_EQ(split(L"prog \"\"  \t x"), (V{L"prog", L"", L"x"}));
  // The program name takes no backslash rules.
  EXPECT_EQ(split(LR"("C:\Program Files\x.exe" y)"), (V{LR"(C:\Program Files\x.exe)", L"y"}));
  EXPECT_EQ(split(L"prog \"unterminated arg"), (V{L"prog", L"unterminated arg"}));
}

TEST(CommandLineJoin, RoundTripsArbitraryArguments) {
  V cases[] = {
      {L"/usr/bin/prog", L"plain", L"with blank", L"", L"quote\"inside", LR"(trailing\)",
       LR"(trailing\\ blank )", LR"(\\"\)", L"tab\there", L"--opt=a=b"},
      {L"my prog", L"x"},
  };
  for (const V& args : cases) EXPECT_EQ(split(join(args)), args);
}
