#include "traffic/servu_file.h"

#include <gtest/gtest.h>

#include "platform/report/vexception.h"
#include "testing/allocation_counter.h"
#include "testing/scoped_environment.h"
#include "testing/temp_dir.h"
#include "traffic/servu_test_util.h"

using servu_test::readAll;
using Lines = std::vector<std::string>;

namespace {

// A line of session `id` at 10:00:00 on 13 Nov 2006 saying `what`.
std::string at(const std::string& id, const std::string& what, const std::string& date = "13Nov06") {
  return "[2] Mon " + date + " 10:00:00 - " + id + " " + what + "\n";
}
const std::string kConnect = "Connected to 192.0.2.7 (Local address 10.0.0.1, port 21)";
std::string sent(const std::string& bytes, const std::string& tail = "Bytes)") {
  return "Sent file /a.zip successfully (5 kB/sec - " + bytes + " " + tail;
}

}  // namespace

TEST(ServUFile, InterleavedSessionsCarryTheirOwnLoginAndAddresses) {
  EXPECT_EQ(readAll(servu_test::kSample),
            (Lines{
                "- 10.0.0.1 192.0.2.7 ~ 0 0 - 2006-11-13 10:00:00",
                "- 10.0.0.2 198.51.100.9 ~ 0 0 - 2006-11-13 10:00:00",
                "[12]user 10.0.0.1 192.0.2.7 alpha_ftp 0 0 alpha_ftp 2006-11-13 10:00:01",
                "[13]user 10.0.0.2 198.51.100.9 anonymous 0 0 anonymous 2006-11-13 10:00:02",
                "[12]sent 10.0.0.1 192.0.2.7 alpha_ftp 4096 0 /home/a.zip 2006-11-13 10:00:09",
                "[13]created 10.0.0.2 198.51.100.9 anonymous 0 5368709120 /in/b.iso 2006-11-13 10:00:10",
                "[12]closed 10.0.0.1 192.0.2.7 alpha_ftp 0 0 - 2006-11-13 10:00:11",
                // The id is free again after the close: a new session that knows nothing yet.
                "[12]sent ~ ~ ~ 10 0 /late.zip 2006-11-13 10:00:12",
                "[13]closed 10.0.0.2 198.51.100.9 anonymous 0 0 - 2006-11-13 10:00:13",
            }));
}

TEST(ServUFile, LineShapes) {
  using namespace std::string_literals;
  const struct {
    const char* what;
    std::string input;
    Lines expected;
  } cases[] = {
      {"leading zeros leave the session id; zeros only stay whole; ids compare lower-cased",
       at("(000042)", sent("1")) + at("(0000)", sent("2")) + at("(AbC)", kConnect) + at("(abc)", "User X logged in"),
       {"[42]sent ~ ~ ~ 1 0 /a.zip 2006-11-13 10:00:00", "[0000]sent ~ ~ ~ 2 0 /a.zip 2006-11-13 10:00:00",
        "- 10.0.0.1 192.0.2.7 ~ 0 0 - 2006-11-13 10:00:00", "[abc]user 10.0.0.1 192.0.2.7 x 0 0 x 2006-11-13 10:00:00"}},
      {"a sixth word that is not parenthesised is no session line, whatever it says",
       at("000012)", sent("4096")) + at("(000012", sent("4096")) + at("(", sent("1")) + "[2] Mon 13Nov06 10:00:00 -\n",
       {}},
      {"the date word: 7 characters, month in any case; else -",
       at("(1)", "x", "01jAn08") + at("(1)", "x", "1Jan99") + at("(1)", "x", "01Jann99") + at("(1)", "x", "01Foo99"),
       {"- ~ ~ ~ 0 0 - 2008-01-01 10:00:00", "- ~ ~ ~ 0 0 - - 10:00:00", "- ~ ~ ~ 0 0 - - 10:00:00",
        "- ~ ~ ~ 0 0 - - 10:00:00"}},
      {"byte counts: 64-bit whole; anything but a decimal number counts 0",
       at("(1)", sent("18446744073709551615")) + at("(1)", sent("18446744073709551616")) + at("(1)", sent("4,096")) +
           at("(1)", sent("-5")) + at("(1)", sent("12x")),
       {"[1]sent ~ ~ ~ 18446744073709551615 0 /a.zip 2006-11-13 10:00:00",
        "[1]sent ~ ~ ~ 0 0 /a.zip 2006-11-13 10:00:00", "[1]sent ~ ~ ~ 0 0 /a.zip 2006-11-13 10:00:00",
        "[1]sent ~ ~ ~ 0 0 /a.zip 2006-11-13 10:00:00", "[1]sent ~ ~ ~ 0 0 /a.zip 2006-11-13 10:00:00"}},
      {"a transfer line without its closing word, or a name with a space, has no kind",
       at("(1)", sent("9", "KB)")) + at("(1)", "Sent file /my file.zip successfully (5 kB/sec - 9 Bytes)"),
       {"- ~ ~ ~ 0 0 - 2006-11-13 10:00:00", "- ~ ~ ~ 0 0 - 2006-11-13 10:00:00"}},
      {"the login line comes first: the connect line makes the login record",
       at("(7)", "User Bob logged in") + at("(7)", kConnect),
       {"- ~ ~ bob 0 0 - 2006-11-13 10:00:00", "[7]user 10.0.0.1 192.0.2.7 bob 0 0 bob 2006-11-13 10:00:00"}},
      {"a user line cut before \"logged\" sets nothing", at("(7)", "User bob") + at("(7)", sent("1")),
       {"- ~ ~ ~ 0 0 - 2006-11-13 10:00:00", "[7]sent ~ ~ ~ 1 0 /a.zip 2006-11-13 10:00:00"}},
      {"the three closing forms end the session",
       at("(1)", "User a logged in") + at("(1)", "Closing connection") + at("(2)", "User b logged in") +
           at("(2)", "221") + at("(3)", "User c logged in") + at("(3)", "IP closing connection") + at("(3)", sent("1")),
       {"- ~ ~ a 0 0 - 2006-11-13 10:00:00", "[1]closed ~ ~ a 0 0 - 2006-11-13 10:00:00",
        "- ~ ~ b 0 0 - 2006-11-13 10:00:00", "[2]closed ~ ~ b 0 0 - 2006-11-13 10:00:00",
        "- ~ ~ c 0 0 - 2006-11-13 10:00:00", "[3]closed ~ ~ c 0 0 - 2006-11-13 10:00:00",
        "[3]sent ~ ~ ~ 1 0 /a.zip 2006-11-13 10:00:00"}},
      {"a connect line without the comma keeps the address whole",
       at("(1)", "Connected to 192.0.2.7 (local address 10.0.0.1 , port 21)"),
       {"- 10.0.0.1 192.0.2.7 ~ 0 0 - 2006-11-13 10:00:00"}},
      {"carriage returns alone, blank lines and tabs", "\r\n\r[2]\tMon 13Nov06 10:00:00 -\t(1)  221\r\r",
       {"[1]closed ~ ~ ~ 0 0 - 2006-11-13 10:00:00"}},
      {"a NUL ends the file, inside a line too",
       at("(1)", "User abc logged in") + "[2] Mon 13Nov06 10:00:00 - (1) User ab\0c logged in\n"s + at("(1)", "221"),
       {"- ~ ~ abc 0 0 - 2006-11-13 10:00:00", "- ~ ~ abc 0 0 - 2006-11-13 10:00:00"}},
      {"invalid UTF-8 becomes U+FFFD", at("(1)", "User \xc3\x28x logged in"),
       {"- ~ ~ \xef\xbf\xbd(x 0 0 - 2006-11-13 10:00:00"}},
  };
  for (const auto& c : cases) EXPECT_EQ(readAll(c.input), c.expected) << c.what;
}

TEST(ServUFile, RecordBecomesTheW3CRecordOfLogCollection) {
  auto line = servu_test::open(servu_test::kSample);
  for (int i = 0; i < 4; ++i) ++line;  // the download of 000012
  ASSERT_EQ(line->kind(), ServUFile::record::Kind::download);
  EXPECT_EQ(line->byteCount(), 4096u);
  EXPECT_EQ(line->get(L"SC-Bytes"), L"4096");
  W3CRecord w3c;
  line->toW3C(w3c);
  EXPECT_EQ(text::toUtf8(w3c.line()), "[2] Mon 13Nov06 10:00:09 - (000012) Sent file /home/a.zip successfully (512 "
                                      "kB/sec - 4096 Bytes)");
  std::string fields;
  for (const std::wstring& name : w3c.fieldNames()->names()) fields += text::toUtf8(name + L"=") + text::toUtf8(w3c.get(name)) + " ";
  EXPECT_EQ(fields,
            "date=2006-11-13 time=10:00:09 s-sitename=- s-computername=- s-ip=10.0.0.1 cs-method=[12]sent "
            "cs-uri-stem=/home/a.zip cs-uri-query=- s-port=- cs-username=alpha_ftp c-ip=192.0.2.7 cs-version=ftp "
            "cs(User-Agent)=- cs(Cookie)=- cs(Referer)=- cs-host=- sc-status=- sc-substatus=- sc-win32-status=- "
            "sc-bytes=4096 cs-bytes=0 time-taken=- ");
}

// Cut the sample at every length: nothing may crash, every record of a whole line reads as
// in the whole file, and a cut line gives at most one record, of the line's beginning.
TEST(ServUFile, EveryTruncationOfTheSample) {
  const std::string sample = servu_test::kSample;
  struct Full {
    size_t start, end;
    std::string render;
  };
  std::vector<Full> records;
  size_t from = 0;
  for (auto line = servu_test::open(sample); !line.atEnd(); ++line) {
    const std::string raw = text::toUtf8(line->line());
    from = sample.find(raw, from);
    ASSERT_NE(from, std::string::npos);
    records.push_back({from, from + raw.size(), servu_test::render(*line)});
    from += raw.size();
  }
  ASSERT_EQ(records.size(), 9u);
  for (size_t cut = 0; cut <= sample.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    const std::string part = sample.substr(0, cut);
    std::vector<std::string> got, raw;
    for (auto line = servu_test::open(part); !line.atEnd(); ++line) {
      got.push_back(servu_test::render(*line));
      raw.push_back(text::toUtf8(line->line()));
    }
    size_t whole = 0;
    while (whole < records.size() && records[whole].end <= cut) ++whole;
    ASSERT_GE(got.size(), whole);
    ASSERT_LE(got.size(), whole + 1);
    for (size_t i = 0; i < whole; ++i) EXPECT_EQ(got[i], records[i].render);
    if (got.size() > whole) {
      const size_t lineStart = sample.rfind('\n', cut == 0 ? 0 : cut - 1);
      const size_t begin = lineStart == std::string::npos ? 0 : lineStart + 1;
      EXPECT_EQ(raw.back(), sample.substr(begin, cut - begin));
    }
  }
}

TEST(ServUFile, SessionsThatNeverCloseDieWithTheReader) {
  std::string flood;
  for (int i = 0; i < 20000; ++i) flood += at("(" + std::to_string(i) + ")", kConnect);
  size_t records = 0, most = 0;
  auto line = servu_test::open(flood);
  for (; !line.atEnd(); ++line, ++records) most = std::max(most, line.openSessions());
  EXPECT_EQ(records, 20000u);
  EXPECT_EQ(most, 20000u);  // one entry per session of the file, no more
  EXPECT_EQ(line.openSessions(), 0u);

  // Sessions that close leave nothing behind, however many there were.
  std::string churn;
  for (int i = 0; i < 5000; ++i) churn += at("(" + std::to_string(i) + ")", kConnect) + at("(" + std::to_string(i) + ")", "221");
  most = 0;
  for (auto l = servu_test::open(churn); !l.atEnd(); ++l) most = std::max(most, l.openSessions());
  EXPECT_EQ(most, 1u);
}

TEST(ServUFile, LocalTimeOfTheServerBecomesUtc) {
  const struct {
    const char* zone;
    const char* date;
    const char* time;
    VDateTime utc;
  } cases[] = {
      {"Europe/Berlin", "13Nov06", "10:00:00", VDateTime(2006, 11, 13, 9, 0, 0)},
      {"Europe/Berlin", "15jul07", "01:30:00", VDateTime(2007, 7, 14, 23, 30, 0)},
      {"America/New_York", "15Jul07", "23:30:00", VDateTime(2007, 7, 16, 3, 30, 0)},
      // Clocks forward at 02:00 on 30 March 2008 in Berlin, back at 02:00 on 2 November in
      // New York (01:30 happens twice: the first is taken).
      {"Europe/Berlin", "30Mar08", "01:59:59", VDateTime(2008, 3, 30, 0, 59, 59)},
      {"Europe/Berlin", "30Mar08", "03:00:00", VDateTime(2008, 3, 30, 1, 0, 0)},
      {"America/New_York", "02Nov08", "00:30:00", VDateTime(2008, 11, 2, 4, 30, 0)},
      {"America/New_York", "02Nov08", "01:30:00", VDateTime(2008, 11, 2, 5, 30, 0)},
      {"America/New_York", "02Nov08", "02:30:00", VDateTime(2008, 11, 2, 7, 30, 0)},
  };
  for (const auto& c : cases) {
    testing_support::ScopedEnvironment env;
    env.set("TZ", c.zone);
    ServUFile::record r;
    r.assign({}, text::fromUtf8(c.date), text::fromUtf8(c.time), ServUFile::record::Kind::none, 0, {}, {});
    EXPECT_EQ(r.utcTime(), c.utc) << c.zone << " " << c.date << " " << c.time;
  }
  // No day: returned as read, for the date check to reject, instead of raising.
  testing_support::ScopedEnvironment env;
  env.set("TZ", "Europe/Berlin");
  ServUFile::record r;
  for (const wchar_t* date : {L"3Nov06", L"31Feb07", L"00Jan07"}) {
    r.assign({}, date, L"10:00:00", ServUFile::record::Kind::none, 0, {}, {});
    EXPECT_NO_THROW(r.utcTime());
    EXPECT_FALSE(r.utcTime().isValid());
  }
}

TEST(ServUFile, NamesAFileItCannotOpen) {
  testing_support::TempDir dir;
  const std::wstring missing = text::fromUtf8(dir.file("missing.log"));
  try {
    ServUFile::iterator line(missing);
    ADD_FAILURE() << "opened";
  } catch (const vexception& e) {
    EXPECT_EQ(e.message(), L"Can't open file " + missing);
    ASSERT_FALSE(e.contexts().empty());
    EXPECT_EQ(e.contexts().front().operation, "ServUFile::iterator::iterator");
  }
}

TEST(ServUFile, ReadingKnownSessionsAllocatesNothing) {
  std::string log = at("(1)", kConnect) + at("(1)", "User alpha logged in") + at("(2)", kConnect);
  for (int i = 0; i < 3000; ++i) log += at(i % 2 ? "(1)" : "(2)", sent(std::to_string(1000 + i)));  // lines of one length
  auto line = servu_test::open(log);
  W3CRecord w3c;
  for (int i = 0; i < 4; ++i, ++line) line->toW3C(w3c);  // sessions made, storage sized
  size_t lines = 0, total = 0;
  const unsigned long before = testing_support::allocationsOnThisThread();
  for (; !line.atEnd(); ++line, ++lines) {
    line->toW3C(w3c);
    total += w3c.get(L"sc-bytes").size() + line->get(L"cs-method").size();
  }
  EXPECT_EQ(testing_support::allocationsOnThisThread() - before, 0u);
  EXPECT_EQ(lines, 2999u);
  EXPECT_GT(total, 0u);
}
