#include "traffic/w3c_file.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/report/vexception.h"
#include "platform/files/vfilename.h"
#include "testing/allocation_counter.h"
#include "testing/temp_dir.h"
#include "traffic/w3c_test_util.h"

using w3c_test::readAll;
using Lines = std::vector<std::string>;

namespace {

const char kIisSample[] =
    "#Software: Microsoft Internet Information Services 6.0\r\n"
    "#Version: 1.0\r\n"
    "#Date: 2008-02-29 00:00:01\r\n"
    "#Fields: date time s-ip cs-method cs-uri-stem sc-bytes cs-bytes cs-host\r\n"
    "2008-02-29 00:00:01 10.0.0.1 GET /index.html 5120 310 example.com\r\n"
    "2008-02-29 00:00:02 10.0.0.1 GET /a.gif 77 - -\r\n";

W3CFile::iterator fromUtf8Bytes(std::string_view bytes) {
  return W3CFile::iterator(std::make_unique<LogByteSource>(bytes), text::NarrowCodec("UTF-8"));
}

}  // namespace

TEST(W3CFile, ReadsIisLogFromDisk) {
  testing_support::TempDir dir;
  // A name that is not valid UTF-8 opens as the directory listing reports it.
  const std::string name = dir.file("ex080229\xff.log");
  testing_support::writeFile(name, kIisSample);
  W3CFile::iterator block(VFileName::fromNative(name));
  ASSERT_FALSE(block.atEnd());
  EXPECT_EQ(block->directive(L"Software"), L"Microsoft Internet Information Services 6.0");
  EXPECT_EQ(block->directive(L"Date"), L"2008-02-29 00:00:01");
  EXPECT_EQ(block->directives().size(), 4u);
  EXPECT_EQ(block->fieldNames().size(), 8u);

  W3CFile::line_iterator line(*block);
  ASSERT_FALSE(line.atEnd());
  EXPECT_EQ(line->get(L"cs-host"), L"example.com");
  EXPECT_EQ(line->get(block->field(L"sc-bytes")), L"5120");
  EXPECT_EQ(line->line(), L"2008-02-29 00:00:01 10.0.0.1 GET /index.html 5120 310 example.com");
  ++line;
  // "-" is a value like any other; an unknown name reads as empty.
  EXPECT_EQ(line->get(L"cs-bytes"), L"-");
  EXPECT_EQ(line->get(L"cs(Referer)"), L"");
  EXPECT_FALSE(line->contains(L"cs(Referer)"));
  ++line;
  EXPECT_TRUE(line.atEnd());
  ++block;
  EXPECT_TRUE(block.atEnd());
  EXPECT_TRUE(block == W3CFile::iterator());
}

TEST(W3CFile, OpenFailuresNameThePath) {
  testing_support::TempDir dir;
  ASSERT_EQ(::symlink(dir.file("gone").c_str(), dir.file("dangling").c_str()), 0);
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
  // Running as root, permissions do not stop a read: a missing file, a dangling link, a
  // directory and a FIFO (which must fail instead of blocking) are what cannot be read.
  for (const char* name : {"missing", "dangling", "", "fifo", "missing/below"}) {
    std::wstring path = text::fromUtf8(dir.file(name));
    try {
      W3CFile::iterator block(path);
      ADD_FAILURE() << "opened " << name;
    } catch (const vexception& e) {
      EXPECT_EQ(e.message(), L"Can't open file " + path);
      ASSERT_FALSE(e.contexts().empty());
      EXPECT_EQ(e.contexts().front().operation, "W3CFile::iterator::iterator");
    }
  }
  EXPECT_THROW(W3CFile::iterator(std::wstring(L"log\0name", 8)), vexception);
}

TEST(W3CFile, EmptyFileAndFileWithoutHeaderHaveNoBlocks) {
  EXPECT_EQ(readAll(""), Lines{});
  EXPECT_EQ(readAll("a b c\r\nd e f\r\n"), Lines{});
  EXPECT_EQ(readAll(std::string("\0#Fields: a\nx\n", 14)), Lines{});
}

TEST(W3CFile, RecordsBeforeTheFirstHeaderAreSkipped) {
  EXPECT_EQ(readAll("1 2\n\n3 4\r#Fields: a b\n5 6\n"), (Lines{"# a b", "a=5 b=6"}));
  // A file that opens with blank lines still finds its header.
  EXPECT_EQ(readAll("\r\n\r\n#Fields: a\n7\n"), (Lines{"# a", "a=7"}));
}

TEST(W3CFile, EachHeaderBlockReplacesDirectivesAndFieldNames) {
  auto block = fromUtf8Bytes(
      "#Software: one\n#Fields: a b\n1 2\n"
      "#Fields: b c d\n3 4 5\n6\n"
      "#Remark: no fields\nx y\n");
  ASSERT_FALSE(block.atEnd());
  EXPECT_EQ(block->directive(L"Software"), L"one");
  {
    W3CFile::line_iterator line(*block);
    EXPECT_EQ(w3c_test::render(*line), "a=1 b=2");
    ++line;
    EXPECT_TRUE(line.atEnd());
  }
  ++block;
  EXPECT_EQ(block->directive(L"Software"), L"");
  EXPECT_EQ(block->directives().size(), 1u);
  {
    W3CFile::line_iterator line(*block);
    EXPECT_EQ(w3c_test::render(*line), "b=3 c=4 d=5");
    ++line;
    EXPECT_EQ(w3c_test::render(*line), "b=6");
  }
  ++block;
  ASSERT_FALSE(block.atEnd());
  EXPECT_TRUE(block->fieldNames().empty());
  W3CFile::line_iterator line(*block);
  ASSERT_FALSE(line.atEnd());
  EXPECT_TRUE(line->empty());
  EXPECT_EQ(line->line(), L"x y");
}

TEST(W3CFile, AdvancingABlockEarlySkipsItsRemainingRecords) {
  auto block = fromUtf8Bytes("#Fields: a\n1\n2\n#Fields: b\n3\n");
  ++block;
  W3CFile::line_iterator line(*block);
  EXPECT_EQ(w3c_test::render(*line), "b=3");
}

TEST(W3CFile, DirectiveParsing) {
  auto block = fromUtf8Bytes(
      "#Fields:date  time\n"
      "#Version 1.0\n"
      "#:no name\n"
      "#\n"
      "#Date: \t 2008-01-01 00:00:00  \n"
      "#Remark: first\n"
      "#Remark: second: with colon\n"
      "#fields: lower case is another directive\n");
  EXPECT_EQ(block->fieldNames(), (std::vector<std::wstring>{L"date", L"time"}));
  EXPECT_EQ(block->directive(L"Version 1.0"), L"");
  EXPECT_TRUE(block->directives().count(L"Version 1.0"));
  EXPECT_FALSE(block->directives().count(L""));
  EXPECT_EQ(block->directive(L"Date"), L"2008-01-01 00:00:00  ");
  EXPECT_EQ(block->directive(L"Remark"), L"second: with colon");
  EXPECT_EQ(block->directives().size(), 5u);
  ++block;
  EXPECT_TRUE(block.atEnd());
}

TEST(W3CFile, DirectiveWithEmptyValueDoesNotSwallowTheNextLine) {
  EXPECT_EQ(readAll("#Software:\n#Fields: a\n1\n"), (Lines{"# a", "a=1"}));
  EXPECT_EQ(readAll("#Fields:\r\n1\n"), (Lines{"#", ""}));
}

TEST(W3CFile, FieldsDirectiveSpacingGivesTheSameNames) {
  const Lines expected{"# a b c", "a=1 b=2 c=3"};
  EXPECT_EQ(readAll("#Fields:a b c\n1 2 3\n"), expected);
  EXPECT_EQ(readAll("#Fields:     a b c\n1 2 3\n"), expected);
  EXPECT_EQ(readAll("#Fields: a  \t b c  \n1 2 3\n"), expected);
}

TEST(W3CFile, ValuesSplitOnePerWhiteSpaceCharacter) {
  const std::string head = "#Fields: a b c\n";
  // Two spaces: an empty middle value. One space: the third field is absent.
  EXPECT_EQ(readAll(head + "x  y\n")[1], "a=x b= c=y");
  EXPECT_EQ(readAll(head + "x y\n")[1], "a=x b=y");
  // Leading white space shifts the values one field to the right.
  EXPECT_EQ(readAll(head + " x y\n")[1], "a= b=x c=y");
  // Surplus values are dropped; trailing white space gives an empty last value.
  EXPECT_EQ(readAll(head + "1 2 3 4 5\n")[1], "a=1 b=2 c=3");
  EXPECT_EQ(readAll(head + "1 \n")[1], "a=1 b=");
  // Tabs, vertical tabs and form feeds separate like spaces; so does wide white space.
  EXPECT_EQ(readAll(head + "1\t2\v3\n")[1], "a=1 b=2 c=3");
  EXPECT_EQ(readAll(head + "1\xe3\x80\x80"
                           "2\n")[1],
            "a=1 b=2");
  // A non-breaking space is not white space.
  EXPECT_EQ(readAll(head + "1\xc2\xa0"
                           "2\n")[1],
            "a=1\xc2\xa0"
            "2");
}

TEST(W3CFile, EveryLineEndIsOneLineAndBlankLinesAreSkipped) {
  const Lines expected{"# a", "a=1", "a=2", "a=3", "a=4"};
  EXPECT_EQ(readAll("#Fields: a\r\n1\r\n2\r\n3\r\n4\r\n"), expected);
  EXPECT_EQ(readAll("#Fields: a\n1\n2\n3\n4\n"), expected);
  EXPECT_EQ(readAll("#Fields: a\r1\r2\r3\r4\r"), expected);
  EXPECT_EQ(readAll("#Fields: a\n\r\n1\r\r\r2\n\n\n3\n\r4"), expected);
}

TEST(W3CFile, NulEndsTheFile) {
  using namespace std::string_literals;
  EXPECT_EQ(readAll("#Fields: a b\n1 2\n3\0 4\n5 6\n"s), (Lines{"# a b", "a=1 b=2", "a=3"}));
  EXPECT_EQ(readAll("#Fields: a b\n1 2\n\0#Fields: c\n5\n"s), (Lines{"# a b", "a=1 b=2"}));
  EXPECT_EQ(readAll("#Fields: a\0 b\n1 2\n"s), (Lines{"# a"}));
}

TEST(W3CFile, FileEndingInsideALineYieldsThatLine) {
  EXPECT_EQ(readAll("#Fields: a b\n1 2\n3 4"), (Lines{"# a b", "a=1 b=2", "a=3 b=4"}));
  EXPECT_EQ(readAll("#Fields: a b"), (Lines{"# a b"}));
}

TEST(W3CFile, OnlyDirectivesGiveOneBlockWithoutRecords) {
  EXPECT_EQ(readAll("#Software: x\r\n#Fields: a b\r\n#Date: y\r\n"), (Lines{"# a b"}));
}

TEST(W3CFile, InvalidUtf8DecodesToReplacementCharacters) {
  EXPECT_EQ(readAll("#Fields: a b\n\xff\xfe x\xc3\n")[1], "a=\xef\xbf\xbd\xef\xbf\xbd b=x\xef\xbf\xbd");
  EXPECT_EQ(readAll("#Fields: \xe4\xb8\xad\n\xe4\xb8\xad\n")[1], "\xe4\xb8\xad=\xe4\xb8\xad");
}

TEST(W3CFile, DecodesWithTheGivenCodePage) {
  W3CFile::iterator block(std::make_unique<LogByteSource>("#Fields: caf\xe9\n\xe9t\xe9\n"),
                          text::NarrowCodec("ISO-8859-1"));
  W3CFile::line_iterator line(*block);
  EXPECT_EQ(line->get(L"caf\u00e9"), L"\u00e9t\u00e9");
}

TEST(W3CFile, RecordsCopiedOutStayValid) {
  W3CFile::record kept;
  {
    auto block = fromUtf8Bytes("#Fields: a b\n1 2\n3 4\n");
    W3CFile::line_iterator line(*block);
    kept = *line;
    ++line;
    EXPECT_EQ(line->get(L"a"), L"3");
  }
  // Iterator and file are gone; the copy holds its own text and names.
  EXPECT_EQ(kept.get(L"a"), L"1");
  EXPECT_EQ(kept.line(), L"1 2");
  EXPECT_EQ(kept.toMap(), (std::map<std::wstring, std::wstring>{{L"a", L"1"}, {L"b", L"2"}}));
}

TEST(W3CFile, MovedIteratorKeepsReading) {
  auto first = fromUtf8Bytes("#Fields: a\n1\n#Fields: b\n2\n");
  W3CFile::iterator second = std::move(first);
  EXPECT_TRUE(first.atEnd());
  EXPECT_EQ(w3c_test::render(*W3CFile::line_iterator(*second)), "a=1");
  ++second;
  EXPECT_EQ(w3c_test::render(*W3CFile::line_iterator(*second)), "b=2");
}

TEST(W3CFile, ReadingLinesDoesNotAllocateOnceWarmedUp) {
  // Lines of every length up to the longest seen, ASCII and not, through a descriptor.
  std::string log = "#Fields: date time cs-host sc-bytes cs(User-Agent)\n";
  log += "2008-01-01 00:00:00 " + std::string(1500, 'w') + " 1 ua\n";
  for (int i = 0; i < 3000; ++i) {
    log += "2008-01-01 00:00:0" + std::to_string(i % 10) + " host" +
           std::string(static_cast<size_t>(i % 700), 'x');
    log += i % 7 == 0 ? " 12 Mozilla\xc3\xa9\n" : i % 11 == 0 ? "  \t\r\n" : " 345 -\n";
  }
  int fd = ::memfd_create("log", MFD_CLOEXEC);
  ASSERT_EQ(::write(fd, log.data(), log.size()), static_cast<ssize_t>(log.size()));
  ::lseek(fd, 0, SEEK_SET);
  W3CFile::iterator block(std::make_unique<LogByteSource>(fd, L"memfd", 64 * 1024),
                          text::NarrowCodec("UTF-8"));
  const W3CFile::field bytes = block->field(L"sc-bytes");
  W3CFile::line_iterator line(*block);
  ++line;  // the longest line sized the record
  size_t lines = 0, total = 0;
  const unsigned long before = testing_support::allocationsOnThisThread();
  for (; !line.atEnd(); ++line, ++lines)
    total += line->get(bytes).size() + line->get(L"cs(User-Agent)").size();
  EXPECT_EQ(testing_support::allocationsOnThisThread() - before, 0u);
  EXPECT_EQ(lines, 3000u);
  EXPECT_GT(total, 0u);
}
