#include "traffic/log_byte_source.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include "platform/text/text_codec.h"
#include "platform/report/vexception.h"
#include "testing/allocation_counter.h"
#include "testing/temp_dir.h"
#include "traffic/w3c_file.h"

namespace {

std::unique_ptr<LogByteSource> openBytes(const testing_support::TempDir& dir, const std::string& bytes) {
  testing_support::writeFile(dir.file("log"), bytes);
  return LogByteSource::openFile(text::fromUtf8(dir.file("log")), "test");
}

// A source over `bytes` in a memory file, read through a buffer of `bufferSize`.
LogByteSource memorySource(const std::string& bytes, size_t bufferSize) {
  int fd = ::memfd_create("log", MFD_CLOEXEC);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ::lseek(fd, 0, SEEK_SET);
  return LogByteSource(fd, L"memfd", bufferSize);
}

std::vector<std::string> allLines(LogByteSource& source) {
  std::vector<std::string> out;
  while (source.peek() >= 0) {
    out.emplace_back(source.readLine());
    source.skipLineBreaks();
  }
  return out;
}

}  // namespace

TEST(LogByteSource, LinesAcrossBufferBoundariesAreWhole) {
  // Line lengths chosen so that line starts, line breaks and CR/LF pairs fall on every side
  // of the buffer boundaries.
  testing_support::TempDir dir;
  std::string bytes;
  std::vector<std::string> expected;
  for (size_t i = 0; bytes.size() < 3 * LogByteSource::kBufferSize; ++i) {
    std::string line(97 + (i * 7919) % 4001, static_cast<char>('a' + i % 26));
    expected.push_back(line);
    bytes += line + (i % 3 == 0 ? "\r\n" : i % 3 == 1 ? "\n" : "\r");
  }
  auto source = openBytes(dir, bytes);
  EXPECT_EQ(allLines(*source), expected);
}

TEST(LogByteSource, EveryBufferSizeReadsAsMemoryDoes) {
  // Tiny buffers put refills and growth on every byte position of the sample.
  using namespace std::string_literals;
  const std::string sample = "ab\r\n\r\ncdef\rg\n"s + std::string(70, 'h') + "\n\ri\0never"s;
  LogByteSource memory(sample);
  const std::vector<std::string> expected = allLines(memory);
  ASSERT_EQ(expected.size(), 5u);
  for (size_t size = 1; size <= 80; ++size) {
    LogByteSource source = memorySource(sample, size);
    EXPECT_EQ(allLines(source), expected) << "buffer of " << size;
  }
}

TEST(LogByteSource, LineLongerThanTheBufferGrowsIt) {
  testing_support::TempDir dir;
  const std::string huge(5 * LogByteSource::kBufferSize + 123, 'x');
  auto source = openBytes(dir, "short\n" + huge + "\r\nafter");
  EXPECT_EQ(allLines(*source), (std::vector<std::string>{"short", huge, "after"}));
}

TEST(LogByteSource, NulInALaterBufferEndsTheInput) {
  testing_support::TempDir dir;
  std::string bytes(LogByteSource::kBufferSize + 10, 'y');
  bytes[LogByteSource::kBufferSize + 3] = '\0';
  auto source = openBytes(dir, bytes + "\nnever");
  EXPECT_EQ(allLines(*source), (std::vector<std::string>{bytes.substr(0, LogByteSource::kBufferSize + 3)}));
  EXPECT_EQ(source->peek(), -1);
}

TEST(LogByteSource, ReadErrorIsRaisedNotTakenForTheEnd) {
  // Reading /proc/self/mem at offset 0 fails with EIO: a regular file that cannot be read.
  try {
    W3CFile::iterator block(L"/proc/self/mem");
    FAIL() << "read error went unnoticed";
  } catch (const vosexception& e) {
    EXPECT_NE(e.message().find(L"/proc/self/mem"), std::wstring::npos);
  }
}

TEST(LogByteSource, HugeW3CLineKeepsEveryValue) {
  testing_support::TempDir dir;
  const std::string stem = "/" + std::string(3 << 20, 'p');
  testing_support::writeFile(dir.file("big.log"), "#Fields: date cs-uri-stem sc-bytes\r\n2008-01-01 " + stem +
                                                      " 42\r\n2008-01-02 /b 7\r\n");
  W3CFile::iterator block(text::fromUtf8(dir.file("big.log")));
  W3CFile::line_iterator line(*block);
  EXPECT_EQ(line->get(L"cs-uri-stem").size(), stem.size());
  EXPECT_EQ(line->get(L"sc-bytes"), L"42");
  ++line;
  EXPECT_EQ(line->get(L"cs-uri-stem"), L"/b");
  EXPECT_EQ(line->line(), L"2008-01-02 /b 7");
}

TEST(LogByteSource, SkippedLinesAreDroppedAsTheyAreReadAtEveryBufferSize) {
  using namespace std::string_literals;
  const std::string sample = "skip\r\nkeep\rskip me too\n\nkeep2\r\nx"s + std::string(40, 's') + "\nlast\0never"s;
  const std::vector<std::string> kept = {"keep", "keep2", "last"};
  for (size_t size = 1; size <= 64; ++size) {
    LogByteSource source = memorySource(sample, size);
    std::vector<std::string> got;
    while (source.peek() >= 0) {
      source.skipLine();
      if (source.peek() < 0) break;
      got.emplace_back(source.readLine());
      source.skipLineBreaks();
    }
    EXPECT_EQ(got, kept) << "buffer of " << size;
  }

  // A huge line before the first header costs no memory beyond the buffer.
  LogByteSource source = memorySource(std::string(4 << 20, 'j') + "\r#Fields: a\r1\r", 4096);
  const unsigned long before = testing_support::allocationsOnThisThread();
  source.skipLine();
  EXPECT_EQ(testing_support::allocationsOnThisThread(), before);
  EXPECT_EQ(source.readLine(), "#Fields: a");
}

TEST(LogByteSource, LineEndsAreFoundAtEveryOffsetOfAWord) {
  // The line end search looks at eight bytes at a time: each kind of end at each offset,
  // with other ends after it in the same word.
  for (const std::string& end : {std::string("\r"), std::string("\n"), std::string(1, '\0')}) {
    for (size_t length = 0; length < 20; ++length) {
      const std::string line(length, static_cast<char>(0x80 + length));  // high bytes: no false match
      const std::string bytes = line + end + "\n\rz";
      LogByteSource source(bytes);
      EXPECT_EQ(source.readLine(), line) << length;
    }
  }
}
