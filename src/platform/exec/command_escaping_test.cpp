#include "platform/exec/command_escaping.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/text/text_codec.h"
#include "platform/text/windows_command_line.h"
#include "testing/run_process.h"
#include "testing/temp_dir.h"

namespace {

using testing_support::runProcess;

// What the shell makes of `printf '<%s>' ARGS`: one <word> per argument it passes.
std::wstring wordsSeenByShell(const std::wstring& escapedArguments) {
  auto r = runProcess("/bin/sh", {"-c", "printf '<%s>' " + text::toUtf8(escapedArguments)});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return text::fromUtf8(r.out);
}

std::wstring bracketed(const std::vector<std::wstring>& words) {
  std::wstring out;
  for (const auto& w : words) out += L"<" + w + L">";
  return out;
}

// Always quotes, by the Windows rules: backslashes before a quote (or the closing quote)
// doubled, the quote itself escaped.
std::wstring quotedWindowsArgument(const std::wstring& arg) {
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

}  // namespace

TEST(EscapeCommandArguments, AmpersandNeedsNoInterpreterCorrections) {
  // Outside quotes with no quote before it: copied, an operator.
  EXPECT_EQ(escapeCommandArguments(L"a & b"), L"a & b");
  // Inside quotes after an odd number of quotes: copied.
  EXPECT_EQ(escapeCommandArguments(L"\"x&y\""), L"\"x&y\"");
  // Inside quotes after an escaped quote (even count): copied, no caret, since the shell
  // knows it is still inside the quotes.
  EXPECT_EQ(escapeCommandArguments(L"\"a\\\"b&c\""), L"\"a\\\"b&c\"");
  EXPECT_EQ(wordsSeenByShell(escapeCommandArguments(L"\"a\\\"b&c\"")), L"<a\"b&c>");
  // Outside quotes after an odd count (the escaped quote): no extra quote, still an operator.
  EXPECT_EQ(escapeCommandArguments(L"\"a\\\"b\" & echo x"), L"\"a\\\"b\" & echo x");
  EXPECT_EQ(wordsSeenByShell(escapeCommandArguments(L"\"a\\\"b\" && echo x")), L"<a\"b>x\n");
}

TEST(EscapeCommandArguments, QuotedTextStaysLiteral) {
  EXPECT_EQ(escapeCommandArguments(L"\"$HOME `id`\""), L"\"\\$HOME \\`id\\`\"");
  EXPECT_EQ(wordsSeenByShell(escapeCommandArguments(L"\"$HOME `id` $(id) > & | ; ( ) ' *\" next")),
            L"<$HOME `id` $(id) > & | ; ( ) ' *><next>");
  // Backslash runs: literal unless before a quote, where they halve.
  EXPECT_EQ(wordsSeenByShell(escapeCommandArguments(L"\"a\\b\" \"c\\\\d\" \"e\\\\\\\"f\" \"g\\\\\" h")),
            L"<a\\b><c\\\\d><e\\\"f><g\\><h>");
  EXPECT_EQ(wordsSeenByShell(escapeCommandArguments(L"\"a\\$b\"")), L"<a\\$b>");
  // A quote left open runs to the end, as the Windows rules read it.
  EXPECT_EQ(escapeCommandArguments(L"\"open end"), L"\"open end\"");
  EXPECT_EQ(wordsSeenByShell(escapeCommandArguments(L"x \"open end\\")), L"<x><open end\\>");
  EXPECT_EQ(wordsSeenByShell(escapeCommandArguments(L"\"line\nbreak\"")), L"<line\nbreak>");
}

TEST(EscapeCommandArguments, UnquotedTextKeepsOperatorsButNotExpansions) {
  EXPECT_EQ(wordsSeenByShell(escapeCommandArguments(L"$HOME `id` a;b * ~ #x {a,b} it's \\\\srv\\share")),
            L"<$HOME><`id`><a;b><*><~><#x><{a,b}><it's><\\\\srv\\share>");
  EXPECT_EQ(wordsSeenByShell(escapeCommandArguments(L"one\ntwo")), L"<one\ntwo>");

  testing_support::TempDir dir;
  const std::wstring target = text::fromUtf8(dir.file("page $1.html"));
  auto r = runProcess("/bin/sh", {"-c", "printf '<%s>' " + text::toUtf8(escapeCommandArguments(
                                                               L"-output \"a b\" > \"" + target + L"\""))});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(testing_support::readFile(dir.file("page $1.html")), "<-output><a b>");
}

TEST(EscapeCommandArguments, QuotedArgumentsArriveAsTheWindowsRulesSplitThem) {
  const std::wstring alphabet = L"ab \\\"$`&<>|;'*?()#~!^%\t{}[]=\n\u00e9";
  std::mt19937 random(20240521);
  for (int round = 0; round < 40; ++round) {
    std::vector<std::wstring> args(1 + random() % 4);
    for (auto& a : args)
      for (size_t n = random() % 12; n > 0; --n) a += alphabet[random() % alphabet.size()];
    std::wstring text;
    for (const auto& a : args) text += (text.empty() ? L"" : L" ") + quotedWindowsArgument(a);

    std::vector<std::wstring> split = cmdline::split(L"prog " + text);
    split.erase(split.begin());
    ASSERT_EQ(split, args) << "quoting helper, round " << round;
    EXPECT_EQ(wordsSeenByShell(escapeCommandArguments(text)), bracketed(args)) << text::toUtf8(text);
  }
}

TEST(CommandLineForms, PathsAreQuotedForTheShell) {
  EXPECT_EQ(quoteForShell(L"/opt/a \"b\" $x `y` \\z"), L"\"/opt/a \\\"b\\\" \\$x \\`y\\` \\\\z\"");
  EXPECT_EQ(executableCommandLine(L"/bin/tool", L"-a"), L"\"/bin/tool\" -a");
  EXPECT_EQ(interpreterCommandLine(L"/usr/bin/perl", L"", L"/x.pl", L"1"), L"\"/usr/bin/perl\" \"/x.pl\" 1");
  EXPECT_EQ(interpreterCommandLine(L"/p/php", L"-q -c php.ini", L"/x.php", L""), L"\"/p/php\" -q -c php.ini \"/x.php\" ");

  testing_support::TempDir dir;
  const std::string odd = dir.file("we$ird `dir` \"x\"");
  testing_support::writeFile(odd + "/run", "printf '<%s>' \"$@\"\n");
  auto r = runProcess("/bin/sh", {"-c", text::toUtf8(interpreterCommandLine(L"/bin/sh", L"", text::fromUtf8(odd + "/run"),
                                                                            escapeCommandArguments(L"\"1 2\" 3")))});
  EXPECT_EQ(r.out, "<1 2><3>") << r.err;
}
