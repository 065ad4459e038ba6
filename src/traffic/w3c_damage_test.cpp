// Damaged and cut-off logs: what the reader makes of each, stated record by record.
#include <gtest/gtest.h>

#include "traffic/w3c_file.h"
#include "traffic/w3c_test_util.h"

using w3c_test::readAll;
using Lines = std::vector<std::string>;

namespace {

struct DamageCase {
  const char* what;
  std::string input;
  Lines expected;
};

}  // namespace

TEST(W3CDamage, Catalogue) {
  using namespace std::string_literals;
  const DamageCase cases[] = {
      {"directive cut before its colon has no field names", "#Fie\n1 2\n", {"#", ""}},
      {"Fields without colon is a Fields directive with no value", "#Fields\n1 2\n", {"#", ""}},
      {"too few values leave the last fields absent", "#Fields: a b c d\n1 2\n", {"# a b c d", "a=1 b=2"}},
      {"surplus values are dropped", "#Fields: a\n1 2 3\n", {"# a", "a=1"}},
      {"a line of spaces gives empty values", "#Fields: a b c d e\n   \n", {"# a b c d e", "a= b= c= d="}},
      {"a run of white space gives one empty value per extra character",
       "#Fields: a b c d\n1 \t \t2\n",
       {"# a b c d", "a=1 b= c= d="}},
      {"a stray # line mid-block starts a block without fields",
       "#Fields: a\n1\n#oops\n2\n",
       {"# a", "a=1", "#", ""}},
      {"a name listed twice holds its last paired value",
       "#Fields: a b a\n1 2 3\n4 5\n",
       {"# a b a", "a=3 b=2", "a=4 b=5"}},
      {"a later Fields directive in the same block wins", "#Fields: a\n#Fields: b\n1\n", {"# b", "b=1"}},
      {"control characters stay inside values",
       "#Fields: a b\n\x01\x1b x\x7f\n",
       {"# a b", "a=\x01\x1b b=x\x7f"}},
      {"a carriage return inside a line splits it", "#Fields: a b\n1\r2 3\n", {"# a b", "a=1", "a=2 b=3"}},
      {"dashes are values", "#Fields: a b\n- -\n", {"# a b", "a=- b=-"}},
      {"an empty Fields directive pairs nothing", "#Fields: \n1 2\n", {"#", ""}},
      {"NUL right after # ends the file", "#Fields: a\n1\n#\0Fields: b\n2\n"s, {"# a", "a=1", "#"}},
      {"NUL at the start of a record ends the file",
       "#Fields: a\n\0"
       "1\n"s,
       {"# a"}},
      {"invalid UTF-8 in a field name", "#Fields: \xc0 b\n1 2\n", {"# \xef\xbf\xbd b", "b=2 \xef\xbf\xbd=1"}},
      {"a directive line of only #", "#\n#Fields: a\n1\n", {"# a", "a=1"}},
      {"the header is the last line without a line break", "x\n#Fields: a", {"# a"}},
  };
  for (const DamageCase& c : cases) EXPECT_EQ(readAll(c.input), c.expected) << c.what;
}

// Cut the sample at every length: nothing may crash, every record wholly before the cut
// reads as in the whole file, and a record cut in the middle reads as its beginning.
TEST(W3CDamage, EveryTruncationOfASample) {
  const std::string sample =
      "stray line before any header\r\n"
      "#Software: Microsoft Internet Information Services 6.0\r\n"
      "#Version: 1.0\r\n"
      "#Fields: date time cs-method cs-uri-stem sc-bytes\r\n"
      "2008-02-29 10:00:00 GET /index.html 5120\r\n"
      "2008-02-29 10:00:01 GET /two  77\n"
      "\r\n"
      " 2008-02-29 10:00:02 POST /leading 9\r"
      "#Fields: date cs-host sc-bytes cs-bytes\n"
      "2008-03-01 example.com 1 2\n"
      "2008-03-02 - - -\n"
      "#Remark: closing block\r\n";

  struct Full {
    size_t start, end;  // byte range of the raw line in the sample
    std::string render;
  };
  std::vector<Full> records;
  const std::vector<size_t> blockStarts{sample.find("#Software"), sample.find("#Fields: date cs-host"),
                                        sample.find("#Remark")};
  {
    auto block = W3CFile::iterator::fromBytes(sample);
    size_t at = 0;
    for (; !block.atEnd(); ++block) {
      for (W3CFile::line_iterator line(*block); !line.atEnd(); ++line) {
        const std::string raw = text::toUtf8(line->line());
        at = sample.find(raw, at);
        ASSERT_NE(at, std::string::npos);
        records.push_back({at, at + raw.size(), w3c_test::render(*line)});
        at += raw.size();
      }
    }
  }
  ASSERT_EQ(records.size(), 5u);

  for (size_t cut = 0; cut <= sample.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    const std::string part = sample.substr(0, cut);
    size_t blocks = 0;
    std::vector<W3CFile::record> got;
    for (auto block = W3CFile::iterator::fromBytes(part); !block.atEnd(); ++block) {
      ++blocks;
      for (W3CFile::line_iterator line(*block); !line.atEnd(); ++line) got.push_back(*line);
    }
    size_t expectedBlocks = 0;
    for (size_t s : blockStarts) expectedBlocks += s < cut;
    EXPECT_EQ(blocks, expectedBlocks);

    size_t expectedRecords = 0;
    for (const Full& r : records) expectedRecords += r.start < cut;
    ASSERT_EQ(got.size(), expectedRecords);
    for (size_t i = 0; i < got.size(); ++i) {
      const Full& full = records[i];
      if (full.end <= cut) {
        EXPECT_EQ(w3c_test::render(got[i]), full.render);
        continue;
      }
      EXPECT_EQ(text::toUtf8(got[i].line()), sample.substr(full.start, cut - full.start));
      // Each value of the cut record is the beginning of the whole record's value.
      got[i].forEach([&](std::wstring_view name, std::wstring_view value) {
        const std::string whole = full.render;
        const std::string key = text::toUtf8(name) + "=" + text::toUtf8(value);
        EXPECT_NE(whole.find(key), std::string::npos) << key << " not in " << whole;
      });
    }
  }
}
