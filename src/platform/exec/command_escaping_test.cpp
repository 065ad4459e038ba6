#include "platform/exec/command_escaping.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "platform/text/text_codec.h"
#include "platform/text/windows_command_line.h"
#include "testing/run_process.h"
#include "testing/temp_dir.h"

namespace {

using testing_support::readFile;
using testing_support::runProcess;
using testing_support::TempDir;

// Runs `printf '<%s>' TRANSLATED-TEXT` in `directory`: one <word> per argument that the
// shell passes, and whatever the operators make of it.
testing_support::ProcessResult runPrintf(const std::wstring& text, const std::string& directory = "/") {
  return runProcess("/bin/sh", {"-c", "cd '" + directory + "' && printf '<%s>' " + text::toUtf8(escapeCommandArguments(text))});
}

std::wstring wordsSeenByShell(const std::wstring& text) {
  auto r = runPrintf(text);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return text::fromUtf8(r.out);
}

}  // namespace

TEST(EscapeCommandArguments, ArgumentsArriveAsTheWindowsInterpreterWouldPassThem) {
  struct Case {
    const wchar_t* text;
    const wchar_t* seen;
  };
  const Case cases[] = {
      // The caret escapes the next character outside quotes and is literal inside them.
      {L"^& a^|b ^^ ^<x^> end^", L"<&><a|b><^><<x>><end>"},
      {L"\"x^y\" ^\"a b\" a^ b", L"<x^y><a b><a><b>"},
      // Parentheses are literal everywhere.
      {L"C:/Program Files (x86)/x", L"<C:/Program><Files><(x86)/x>"},
      {L"\"C:/Program Files (x86)/x\" -update (test)", L"<C:/Program Files (x86)/x><-update><(test)>"},
      // Nothing is expanded, quoted or not.
      {L"$HOME `id` $(id) a;b * ~ #x {a,b} it's %PATH% !x [a]", L"<$HOME><`id`><$(id)><a;b><*><~><#x><{a,b}><it's><%PATH%><!x><[a]>"},
      {L"\"$HOME `id` $(id) > & | ; ( ) ' * ^\" next", L"<$HOME `id` $(id) > & | ; ( ) ' * ^><next>"},
      // Backslash runs halve before a quote only; a doubled quote inside quotes is one.
      {L"\"a\\b\" \"c\\\\d\" \"e\\\\\\\"f\" \"g\\\\\" h \\\\srv\\share", L"<a\\b><c\\\\d><e\\\"f><g\\><h><\\\\srv\\share>"},
      {L"\"say \"\"hi\"\"\" \"\" a\\\"b^&c", L"<say \"hi\"><><a\"b&c>"},
      // A quote left open runs to the end; line feeds are literal.
      {L"x \"open end\\", L"<x><open end\\>"},
      {L"one\ntwo \"three\nfour\"", L"<one\ntwo><three\nfour>"},
  };
  for (const Case& c : cases) EXPECT_EQ(wordsSeenByShell(c.text), c.seen) << text::toUtf8(c.text);
}

TEST(EscapeCommandArguments, OperatorsOutsideQuotesAreTheInterpretersOwn) {
  TempDir dir;
  struct Case {
    const wchar_t* text;
    const char* out;
    const char* err;
    const char* file;  // the content of dir/f afterwards, or nullptr when it must not exist
  };
  const Case cases[] = {
      {L"x & echo y", "<x>y\n", "", nullptr},
      {L"x && echo y || echo z", "<x>y\n", "", nullptr},
      {L"x | tr x X", "<X>", "", nullptr},
      {L"-output \"a b\" > \"f\"", "", "", "<-output><a b>"},
      {L"a>f b >> f", "", "", "<a><b>"},
      {L"y 2>\"f\" x", "<y><x>", "", ""},
      {L"x 1>&2", "", "<x>", nullptr},
      {L"\"2\">f a2>>f", "", "", "<2><a2>"},
      {L"x ^> f ^& touch g", "<x><>><f><&><touch><g>", "", nullptr},
  };
  for (const Case& c : cases) {
    auto r = runPrintf(c.text, dir.path());
    EXPECT_EQ(r.exitCode, 0) << text::toUtf8(c.text) << ": " << r.err;
    EXPECT_EQ(r.out, c.out) << text::toUtf8(c.text);
    EXPECT_EQ(r.err, c.err) << text::toUtf8(c.text);
    if (c.file) EXPECT_EQ(readFile(dir.file("f")), c.file) << text::toUtf8(c.text);
    else EXPECT_FALSE(testing_support::fileExists(dir.file("f"))) << text::toUtf8(c.text);
    EXPECT_FALSE(testing_support::fileExists(dir.file("g")));
    std::remove(dir.file("f").c_str());
  }
}

TEST(EscapeCommandArguments, TextWithoutOperatorsSplitsAsTheWindowsArgumentRulesSplitIt) {
  const std::wstring alphabet = L"ab \t\\\"()$`;'*?~{}\n\u00e9";
  std::mt19937 random(20240521);
  for (int round = 0; round < 2000; ++round) {
    std::wstring text;
    for (size_t n = random() % 16; n > 0; --n) text += alphabet[random() % alphabet.size()];
    std::vector<std::wstring> expected = cmdline::split(L"prog " + text);
    expected.erase(expected.begin());
    std::vector<std::wstring> read;
    for (const CommandToken& token : readCommandText(text)) {
      ASSERT_EQ(token.kind, CommandToken::Kind::Argument) << text::toUtf8(text);
      read.push_back(token.text);
    }
    ASSERT_EQ(read, expected) << text::toUtf8(text);
  }
}

TEST(EscapeCommandArguments, BatchFilesLoseEscapedQuotesWithTheirBackslash) {
  EXPECT_EQ(withoutEscapedQuotes(L"\"a\\\"b\" c\\\\\"d \\x \\"), L"\"ab\" c\\d \\x \\");
}

TEST(CommandLineForms, PathsAndOptionsReachTheChildAsWritten) {
  EXPECT_EQ(quoteForShell(L"/opt/it's \"x\" $y"), L"'/opt/it'\\''s \"x\" $y'");
  EXPECT_EQ(executableCommandLine(L"/bin/tool", L""), L"'/bin/tool'");

  TempDir dir;
  const std::string odd = dir.file("we$ird `dir` \"x\" it's");
  testing_support::writeFile(odd + "/run", "printf '<%s>' \"$@\"\n");
  auto r = runProcess("/bin/sh", {"-c", text::toUtf8(interpreterCommandLine(
                                            L"/bin/sh", L"", text::fromUtf8(odd + "/run"), escapeCommandArguments(L"\"1 2\" 3")))});
  EXPECT_EQ(r.out, "<1 2><3>") << r.err;
  // The options are a command text of the program's own: quotes group there as well.
  r = runProcess("/bin/sh", {"-c", text::toUtf8(interpreterCommandLine(L"/usr/bin/printf", L"\"<%s>\" -d=\"\"", L"/s",
                                                                       escapeCommandArguments(L"\"1 2\"")))});
  EXPECT_EQ(r.out, "<-d=></s><1 2>") << r.err;
}
