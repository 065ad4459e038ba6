// The statistics log as text: the UTF-16 reader's pieces, the record matcher and the
// recipients splitter, each over a table of lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "maintenance/avstat_record.h"
#include "maintenance/maintenance_test_database.h"
#include "maintenance/recipient_list.h"
#include "maintenance/utf16_log_reader.h"
#include "platform/text/text_codec.h"
#include "testing/allocation_counter.h"

using maintenance_test::ScopedTimeZone;

namespace {

std::string utf16(const std::wstring& text) { return text::toUtf16le(text); }
const std::string kBom = "\xFF\xFE";

// Pieces as read, a continuation piece marked with a leading "+".
std::vector<std::wstring> pieces(const std::string& bytes, size_t chunk) {
  Utf16LogReader reader(bytes, chunk);
  std::vector<std::wstring> out;
  while (reader.next()) out.push_back((reader.startsLine() ? L"" : L"+") + std::wstring(reader.piece()));
  return out;
}

TEST(Utf16LogReader, PiecesAreLinesOrSixteenThousandCharactersOfOne) {
  using P = std::vector<std::wstring>;
  const std::wstring longLine(16005, L'x');
  const std::wstring exact = std::wstring(15998, L'y') + L"\r\n";
  const struct {
    const char* what;
    std::string bytes;
    P expected;
  } cases[] = {
      {"lines keep their CR LF", kBom + utf16(L"a\r\nb\r\n"), P{L"a\r\n", L"b\r\n"}},
      {"no byte-order mark: the first character stays", utf16(L"a\r\n"), P{L"a\r\n"}},
      {"a later U+FEFF is text", kBom + utf16(L"\uFEFFa"), P{L"\uFEFFa"}},
      {"a last line without a break", kBom + utf16(L"a\r\nb"), P{L"a\r\n", L"b"}},
      {"only a byte-order mark", kBom, P{}},
      {"NUL characters are text", kBom + std::string("a\0\0\0b\0\n\0", 8), P{std::wstring(L"a\0b\n", 4)}},
      {"a surrogate pair is one character", kBom + std::string("\x3D\xD8\x00\xDE\n\0", 6), P{L"\U0001F600\n"}},
      {"a lone high surrogate, then its neighbour", kBom + std::string("\x3D\xD8x\0", 4), P{L"\uFFFDx"}},
      {"a high surrogate before a line feed", kBom + std::string("\x3D\xD8\n\0", 4), P{L"\uFFFD\n"}},
      {"a lone low surrogate", kBom + std::string("\x00\xDEx\0", 4), P{L"\uFFFDx"}},
      {"an odd trailing byte", kBom + std::string("a\0b", 3), P{L"a\uFFFD"}},
      {"a high surrogate before an odd byte", kBom + std::string("\x3D\xD8x", 3), P{L"\uFFFD\uFFFD"}},
      {"a long line arrives in pieces", kBom + utf16(longLine + L"\r\nz\r\n"),
       P{std::wstring(16000, L'x'), L"+xxxxx\r\n", L"z\r\n"}},
      {"a line of exactly one piece", kBom + utf16(exact + L"z"), P{exact, L"z"}},
  };
  for (const auto& c : cases)
    for (size_t chunk : {size_t{0}, size_t{1}, size_t{3}})
      EXPECT_EQ(pieces(c.bytes, chunk), c.expected) << c.what << ", chunk " << chunk;
}

TEST(Utf16LogReader, ReadingAllocatesNothingPerLine) {
  std::wstring log;
  for (int i = 0; i < 200; ++i) log += L"2024/03/05 10:00:00:123 1 2 clean\tx\ty@z\t\r\n";
  const std::string bytes = kBom + utf16(log);
  Utf16LogReader reader(bytes, 777);
  AvLogLineMatcher matcher;
  AvLogRecord record;
  ASSERT_TRUE(reader.next() && matcher.match(reader.piece(), record));
  const unsigned long before = testing_support::allocationsOnThisThread();
  int records = 1;
  while (reader.next()) records += matcher.match(reader.piece(), record);
  EXPECT_EQ(testing_support::allocationsOnThisThread() - before, 0u);
  EXPECT_EQ(records, 200);
}

struct MatchCase {
  const char* what;
  std::wstring line;
  bool record;
  std::wstring expected;  // "day|status|recipients|virus", or "day" without a message
};

std::wstring describe(const AvLogRecord& r) {
  std::wstring out(r.day());
  if (r.hasMessage) out += L"|" + std::wstring(r.status) + L"|" + std::wstring(r.recipients) + L"|" + std::wstring(r.virus);
  return out;
}

void expectMatches(const std::vector<MatchCase>& cases) {
  AvLogLineMatcher matcher;
  for (const MatchCase& c : cases) {
    AvLogRecord record;
    ASSERT_EQ(matcher.match(c.line, record), c.record) << c.what;
    if (c.record) {
      EXPECT_EQ(describe(record), c.expected) << c.what;
    }
  }
}

TEST(AvLogLineMatcher, RecordsAndTheirFields) {
  ScopedTimeZone utc("UTC0");
  const std::wstring head = L"2024/03/05 10:20:30:456 1234 5 ";
  expectMatches({
      {"a full record", head + L"infected\tq\t<a@b>\tEICAR\r\n", true, L"2024-03-05|infected|<a@b>|EICAR"},
      {"empty fields", head + L"clean\t\t\t\r\n", true, L"2024-03-05|clean||"},
      {"more TABs: the last two fields are recipients and virus", head + L"infected\ta\tb\tc\td\r\n", true,
       L"2024-03-05|infected|c|d"},
      {"NUL characters inside fields", head + std::wstring(L"infected\t\0\ta\0b\tv\0\r\n", 19), true,
       L"2024-03-05|infected|" + std::wstring(L"a\0b", 3) + L"|" + std::wstring(L"v\0", 2)},
      {"too few TABs: a record that counts nothing", head + L"infected\ta\tb\r\n", true, L"2024-03-05"},
      {"a status that is not a word", head + L"in-fected\ta\tb\tc\r\n", true, L"2024-03-05"},
      {"an empty message", head + L"\r\n", true, L"2024-03-05"},
      {"a line feed alone does not end a record", head + L"clean\t\t\t\n", false, L""},
      {"milliseconds missing", L"2024/03/05 10:20:30 1234 5 clean\t\t\t\r\n", false, L""},
      {"February 30", L"2024/02/30 10:20:30:456 1 2 clean\t\t\t\r\n", false, L""},
      {"year 0000", L"0000/01/01 00:00:00:000 1 2 clean\t\t\t\r\n", false, L""},
      {"other digits", L"\u0662\u0660\u0662\u0664/03/05 10:20:30:456 1 2 clean\t\t\t\r\n", false, L""},
      {"a huge message without TABs",
       head + L"infected\t" + std::wstring(15000, L'a') + L"\r\n", true, L"2024-03-05"},
  });
}

TEST(AvLogLineMatcher, TheDayIsTheUtcDayOfTheLocalTime) {
  {
    ScopedTimeZone east("JST-9");
    expectMatches({
        {"00:30 east of UTC is the day before", L"2024/03/01 00:30:00:000 1 2 clean\t\t\t\r\n", true, L"2024-02-29|clean||"},
        {"09:00 east of UTC is the same day", L"2024/03/01 09:00:00:000 1 2 clean\t\t\t\r\n", true, L"2024-03-01|clean||"},
        {"the first of the year", L"2024/01/01 08:59:59:999 1 2 clean\t\t\t\r\n", true, L"2023-12-31|clean||"},
    });
  }
  ScopedTimeZone west("EST5");
  expectMatches({
      {"19:00 west of UTC is the next day", L"2024/12/31 19:00:00:000 1 2 clean\t\t\t\r\n", true, L"2025-01-01|clean||"},
      {"a date beyond the last UTC day", L"9999/12/31 23:00:00:000 1 2 clean\t\t\t\r\n", false, L""},
  });
}

TEST(RecipientList, SplitsLooselyAsTheFilterWritesThem) {
  using L = std::vector<std::wstring>;
  const struct {
    std::wstring text;
    L addresses;
  } cases[] = {
      {L"\"Doe, John\" <john@example.com>, bare@example.com; <BIG@EXAMPLE.COM>",
       L{L"john@example.com", L"bare@example.com", L"BIG@EXAMPLE.COM"}},
      {L"a@b;c@d,e@f", L{L"a@b", L"c@d", L"e@f"}},
      {L" bare one , two ", L{L"bare one", L"two"}},
      {L"gathered <kept@x>", L{L"kept@x"}},
      {L"<  spaced@x  >", L{L"spaced@x"}},
      {L"\"a\\\"b, <c@d>\" <x@y>", L{L"x@y"}},  // an escaped quote does not end the name
      {L"\"unterminated <x@y>", L{}},
      {L"\"trailing backslash\\", L{}},
      {L"<unterminated@x", L{L"unterminated@x"}},
      {L"<>, ,\t<\t>", L{}},
      {L"a>b", L{L"a>b"}},
      {L"", L{}},
  };
  for (const auto& c : cases) {
    L got;
    RecipientList list(c.text);
    for (std::wstring_view address; list.next(address);) got.emplace_back(address);
    EXPECT_EQ(got, c.addresses) << text::toUtf8(c.text);
  }
}

}  // namespace
