#include "traffic/w3c_record.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "platform/text/text_codec.h"

namespace {

const text::NarrowDecoder kUtf8(text::NarrowCodec("UTF-8"));

}  // namespace

TEST(W3CRecord, HandlesReadTheSameValuesAsNames) {
  auto names = W3CFieldNames::fromDirective(L"date time a b a");
  W3CRecord r;
  const W3CField a = names->find(L"a"), time = names->find(L"time"), none = names->find(L"zz");
  EXPECT_FALSE(none.valid());
  for (const char* line : {"d t 1 2 3", "d t 1 2", "d t 1", "d", ""}) {
    r.parseLine(line, names, kUtf8);
    SCOPED_TRACE(line);
    EXPECT_EQ(r.get(a), r.get(L"a"));
    EXPECT_EQ(r.get(time), r.get(L"time"));
    EXPECT_EQ(r.get(none), L"");
  }
  r.parseLine("d t 1 2 3", names, kUtf8);
  EXPECT_EQ(r.get(a), L"3");
  EXPECT_EQ(r.size(), 4u);
  r.parseLine("d t 1 2", names, kUtf8);
  EXPECT_EQ(r.get(a), L"1");
  r.parseLine("d", names, kUtf8);
  EXPECT_EQ(r.size(), 1u);
  EXPECT_FALSE(r.contains(L"a"));
  EXPECT_TRUE(r.contains(L"date"));
}

TEST(W3CRecord, AsciiAndDecodedLinesSplitAlike) {
  // A non-ASCII byte anywhere sends the line through the codec; the split must not change.
  auto names = W3CFieldNames::fromDirective(L"a b c d");
  W3CRecord ascii, wide;
  ascii.parseLine(" x  y", names, kUtf8);
  wide.parseLine(" x  y\xc3\xa9", names, kUtf8);
  EXPECT_EQ(ascii.toMap(),
            (std::map<std::wstring, std::wstring>{{L"a", L""}, {L"b", L"x"}, {L"c", L""}, {L"d", L"y"}}));
  EXPECT_EQ(wide.toMap(), (std::map<std::wstring, std::wstring>{
                              {L"a", L""}, {L"b", L"x"}, {L"c", L""}, {L"d", L"y\u00e9"}}));
  // Reusing a record after a longer non-ASCII line leaves nothing of it behind.
  wide.parseLine("1 2", names, kUtf8);
  EXPECT_EQ(wide.line(), L"1 2");
  EXPECT_EQ(wide.size(), 2u);
}

TEST(W3CRecord, DefaultAndFieldlessRecordsAreEmpty) {
  W3CRecord r;
  EXPECT_TRUE(r.empty());
  EXPECT_EQ(r.get(L"date"), L"");
  r.parseLine("a b", nullptr, kUtf8);
  EXPECT_TRUE(r.empty());
  EXPECT_EQ(r.line(), L"a b");
}

TEST(W3CRecord, AssignedValuesMayHoldSpaces) {
  auto names = W3CFieldNames::make({L"date", L"cs-uri-stem", L"sc-bytes"});
  const std::wstring_view values[] = {L"2008-01-01", L"/my file.txt"};
  W3CRecord r;
  r.assign(names, L"raw server line", values);
  EXPECT_EQ(r.get(L"cs-uri-stem"), L"/my file.txt");
  EXPECT_EQ(r.get(L"sc-bytes"), L"");
  EXPECT_EQ(r.line(), L"raw server line");
  W3CRecord copy = r;
  r.assign(names, L"", {});
  EXPECT_EQ(copy.get(L"date"), L"2008-01-01");
  EXPECT_TRUE(r.empty());
}

TEST(W3CRecord, AsciiAndOtherLinesSplitAlikeUnderANarrowCodePage) {
  // A pure-ASCII line takes the direct path, a line with other bytes the decoder; both
  // split the same way.
  const text::NarrowDecoder cp1251(text::NarrowCodec("CP1251"));
  auto names = W3CFieldNames::fromDirective(L"a b");
  W3CRecord r;
  r.parseLine("x  y", names, cp1251);
  EXPECT_EQ(r.get(L"b"), L"");
  r.parseLine("\xcf\xf0 y", names, cp1251);
  EXPECT_EQ(r.get(L"a"), L"\u041f\u0440");
  EXPECT_EQ(r.get(L"b"), L"y");
}

// Restores the character classes of the test run when it ends.
class ScopedCtypeLocale {
 public:
  explicit ScopedCtypeLocale(const char* name) : saved_(std::setlocale(LC_CTYPE, nullptr)) {
    ok_ = std::setlocale(LC_CTYPE, name) != nullptr;
  }
  ~ScopedCtypeLocale() { std::setlocale(LC_CTYPE, saved_.c_str()); }
  bool ok() const { return ok_; }

 private:
  std::string saved_;
  bool ok_ = false;
};

TEST(W3CRecord, TheSameCharactersSeparateValuesInEveryLocale) {
  auto names = W3CFieldNames::fromDirective(L"a b c d e f");
  // Ideographic, em and line-separator spaces separate; the no-break spaces do not.
  const std::string line = "1\u30002\u20033\u20284\u00a0x\u2007y\u202fz\u16805";
  const std::vector<std::wstring> expected = {L"1", L"2", L"3", L"4\u00a0x\u2007y\u202fz", L"5", L""};
  for (const char* locale : {"C", "C.UTF-8", "POSIX"}) {
    ScopedCtypeLocale scoped(locale);
    ASSERT_TRUE(scoped.ok()) << locale;
    W3CRecord r;
    r.parseLine(line, names, kUtf8);
    std::vector<std::wstring> values;
    for (const wchar_t* name : {L"a", L"b", L"c", L"d", L"e", L"f"}) values.emplace_back(r.get(name));
    EXPECT_EQ(values, expected) << locale;
    EXPECT_EQ(W3CFieldNames::fromDirective(L"x\u3000y")->size(), 2u) << locale;
  }
}

TEST(W3CRecord, AsciiLinesGiveTheirValuesAsTheBytesRead) {
  auto names = W3CFieldNames::make({L"a", L"b", L"c"});
  const std::vector<W3CField> fields = {names->find(L"a"), names->find(L"b"), names->find(L"c")};
  struct Case {
    std::string line;
    bool ascii;
    std::string values;
    bool oneRun;  // then the run is the whole line
  } cases[] = {{"x y z", true, "x y z", true},
               {"x  y z", true, "x - y", false},
               {"x\ty z", true, "x y z", false},
               {" x y z", true, "- x y", false},
               {"x y z ", true, "x y z", false},
               {"x y", true, "x y -", false},
               {std::string("x \0 z", 5), true, std::string("x \0 z", 5), true},
               {"x y \xc3\xa9", false, "", false}};
  for (const Case& c : cases) {
    W3CRecord r;
    r.parseLine(c.line, names, kUtf8);
    std::string values, run;
    EXPECT_EQ(r.appendAsciiValues(fields, values), c.ascii) << c.line;
    EXPECT_EQ(values, c.values) << c.line;
    EXPECT_EQ(r.appendAsciiRun(0, 3, run), c.oneRun) << c.line;
    EXPECT_EQ(run, c.oneRun ? c.line : "") << c.line;
  }
}
