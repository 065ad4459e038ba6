// The four analyser line formats, byte for byte, and the code page they are written in.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "testing/scoped_environment.h"
#include "testing/temp_dir.h"
#include "platform/text/narrow_decoder.h"
#include "traffic/w3c_field_names.h"
#include "webstat/log_for_awstats.h"
#include "webstat/log_for_webalizer.h"

using namespace testing_support;

namespace {

using Fields = std::vector<std::pair<std::wstring, std::wstring>>;

// The fields as a log line the reader reads, the values parted by `separator` (an empty
// value becomes nothing between two separators).
W3CRecord parsed(const Fields& fields, const std::string& separator) {
  std::vector<std::wstring> names;
  std::string line;
  for (const auto& [name, value] : fields) {
    names.push_back(name);
    line += (line.empty() && names.size() == 1 ? "" : separator) + text::toUtf8(value);
  }
  W3CRecord r;
  const text::NarrowDecoder decoder(text::NarrowCodec("UTF-8"));
  r.parseLine(line, W3CFieldNames::make(names), decoder);
  return r;
}

W3CRecord record(const Fields& fields) {
  std::vector<std::wstring> names;
  std::vector<std::wstring_view> values;
  for (const auto& [name, value] : fields) {
    names.push_back(name);
    values.push_back(value);
  }
  W3CRecord r;
  r.assign(W3CFieldNames::make(names), L"the line", values);
  return r;
}

// A complete IIS line of the AWStats field list.
const Fields kFullLine = {
    {L"date", L"2024-01-05"},      {L"time", L"10:20:30"},        {L"s-sitename", L"W3SVC3"},
    {L"s-computername", L"WEB1"},  {L"s-ip", L"10.0.0.1"},        {L"cs-method", L"GET"},
    {L"cs-uri-stem", L"/a.html"},  {L"cs-uri-query", L"x=1"},     {L"s-port", L"80"},
    {L"cs-username", L"bob"},      {L"c-ip", L"192.0.2.7"},       {L"cs-version", L"HTTP/1.1"},
    {L"cs(User-Agent)", L"Moz/5"}, {L"cs(Cookie)", L"-"},         {L"cs(Referer)", L"http://r/"},
    {L"cs-host", L"www.a.test"},   {L"sc-status", L"200"},        {L"sc-substatus", L"0"},
    {L"sc-win32-status", L"0"},    {L"sc-bytes", L"5120"},        {L"cs-bytes", L"310"},
    {L"time-taken", L"15"}};

Fields with(Fields fields, const std::wstring& name, const std::wstring& value) {
  for (auto& f : fields)
    if (f.first == name) {
      f.second = value;
      return fields;
    }
  fields.push_back({name, value});
  return fields;
}

Fields without(Fields fields, const std::wstring& name) {
  std::erase_if(fields, [&](const auto& f) { return f.first == name; });
  return fields;
}

enum class Writer { Webalizer, AWStats };
enum class Line { Http, FtpDownload, FtpUpload };

struct LineCase {
  const char* name;
  Writer writer;
  Line line;
  int logType;
  Fields fields;
  std::string expected;
};

class AnalyserLines : public ::testing::Test {
 protected:
  void SetUp() override {
    env.set("TMPDIR", tmp.path());
    // Central European time: 10:20:30 UTC on 5 January is 11:20:30 local.
    env.set("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    tzset();
  }
  void TearDown() override { tzset(); }

  std::string write(statistics::LogForAnalyser& w, Line line, int logType, const W3CRecord& r) {
    const VDateTime at(2024, 1, 5, 10, 20, 30);  // a Friday
    w.checkLogFile(logType);
    if (line == Line::Http)
      w.processHTTPLogLine(at, logType, r);
    else
      w.processFTPLogLine(at, logType, r, line == Line::FtpDownload);
    EXPECT_TRUE(w.hasLogData(logType));
    return readFile(text::toUtf8(w.getLogFile(logType).path()));
  }

  std::unique_ptr<statistics::LogForAnalyser> make(Writer kind, text::NarrowCodec codec = text::NarrowCodec("UTF-8")) {
    if (kind == Writer::Webalizer)
      return std::make_unique<statistics::LogForWebalizer>(L"a.test", L"www.a.test", L"", codec);
    return std::make_unique<statistics::LogForAWStats>(L"a.test", L"www.a.test", L"", codec);
  }

  TempDir tmp;
  ScopedEnvironment env;
};

}  // namespace

TEST_F(AnalyserLines, EachFormatByteForByte) {
  const std::vector<LineCase> cases = {
      {"webalizer http", Writer::Webalizer, Line::Http, 0, kFullLine,
       "192.0.2.7 bob - [05/JAN/2024:10:20:30] \"GET /a.html HTTP/1.1\" 200 5120 http://r/ \"Moz/5\" \r\n"},
      {"webalizer http agent '-' is bare", Writer::Webalizer, Line::Http, 0, with(kFullLine, L"cs(User-Agent)", L"-"),
       "192.0.2.7 bob - [05/JAN/2024:10:20:30] \"GET /a.html HTTP/1.1\" 200 5120 http://r/ - \r\n"},
      {"webalizer http without agent", Writer::Webalizer, Line::Http, 0, without(kFullLine, L"cs(User-Agent)"),
       "192.0.2.7 bob - [05/JAN/2024:10:20:30] \"GET /a.html HTTP/1.1\" 200 5120 http://r/ \"\" \r\n"},
      {"webalizer http empty version, missing values", Writer::Webalizer, Line::Http, 0,
       {{L"cs-method", L"GET"}, {L"cs-uri-stem", L"/"}, {L"cs-version", L""}, {L"sc-bytes", L"-"}},
       "- - - [05/JAN/2024:10:20:30] \"GET / \" - - - \"\" \r\n"},
      {"webalizer ftp download", Writer::Webalizer, Line::FtpDownload, 2, kFullLine,
       "Fri JAN 05 10:20:30 2024 0 192.0.2.7 5120 /a.html b _ o r bob HTTP/1.1 1 * c\n"},
      {"webalizer ftp upload, anonymous", Writer::Webalizer, Line::FtpUpload, 1, kFullLine,
       "Fri JAN 05 10:20:30 2024 0 192.0.2.7 310 /a.html b _ i a bob HTTP/1.1 1 * c\n"},
      {"webalizer ftp missing values", Writer::Webalizer, Line::FtpUpload, 2, {{L"cs-bytes", L"-"}},
       "Fri JAN 05 10:20:30 2024 0 - 0 - b _ i r - ftp 1 * c\n"},
      {"awstats http in local time", Writer::AWStats, Line::Http, 0, kFullLine,
       "2024-01-05 11:20:30 W3SVC3 WEB1 10.0.0.1 GET /a.html x=1 80 bob 192.0.2.7 HTTP/1.1 Moz/5 - http://r/ "
       "www.a.test 200 0 0 5120 310 15\n"},
      {"awstats http without date keeps the time", Writer::AWStats, Line::Http, 0,
       {{L"time", L"10:20:30"}, {L"cs-method", L"GET"}},
       "- 10:20:30 - - - GET - - - - - - - - - - - - - - - -\n"},
      {"awstats ftp without host writes the writer's host", Writer::AWStats, Line::FtpDownload, 2,
       with(with(kFullLine, L"cs-host", L"-"), L"cs-method", L"sent"),
       "2024-01-05 11:20:30 W3SVC3 WEB1 10.0.0.1 sent /a.html x=1 80 bob 192.0.2.7 HTTP/1.1 Moz/5 - http://r/ "
       "www.a.test 200 0 0 5120 310 15\n"},
      {"awstats ftp upload after a connection number is sent", Writer::AWStats, Line::FtpUpload, 2,
       with(with(kFullLine, L"cs-method", L"[12]created"), L"cs-uri-stem", L"/created/x"),
       "2024-01-05 11:20:30 W3SVC3 WEB1 10.0.0.1 [12]sent /created/x x=1 80 bob 192.0.2.7 HTTP/1.1 Moz/5 - "
       "http://r/ www.a.test 200 0 0 5120 310 15\n"},
      {"awstats ftp download of a file named created is left alone", Writer::AWStats, Line::FtpDownload, 2,
       with(with(with(kFullLine, L"s-sitename", L"created"), L"cs-method", L"[3]sent"), L"cs-uri-stem", L"/created"),
       "2024-01-05 11:20:30 created WEB1 10.0.0.1 [3]sent /created x=1 80 bob 192.0.2.7 HTTP/1.1 Moz/5 - "
       "http://r/ www.a.test 200 0 0 5120 310 15\n"},
  };
  for (const LineCase& c : cases) {
    auto w = make(c.writer);
    EXPECT_EQ(write(*w, c.line, c.logType, record(c.fields)), c.expected) << c.name;
  }
}

TEST_F(AnalyserLines, TextIsWrittenInTheCodePageWithoutFailingTheLine) {
  // U+FFFD stands for bytes that were not UTF-8 in the log; U+20AC has no Latin-1 form.
  const Fields fields = {{L"c-ip", L"1.2.3.4"},
                         {L"cs-method", L"GET"},
                         {L"cs-uri-stem", L"/caf\u00e9\u20ac\ufffd"},
                         {L"cs-version", L"HTTP/1.0"}};
  struct {
    const char* codec;
    std::string stem;
  } cases[] = {{"ISO-8859-1", "/caf\xe9??"}, {"UTF-8", "/caf\xc3\xa9\xe2\x82\xac\xef\xbf\xbd"}, {"CP1252", "/caf\xe9\x80?"}};
  for (const auto& c : cases) {
    auto w = make(Writer::Webalizer, text::NarrowCodec(c.codec));
    EXPECT_EQ(write(*w, Line::Http, 0, record(fields)),
              "1.2.3.4 - - [05/JAN/2024:10:20:30] \"GET " + c.stem + " HTTP/1.0\" - - - \"\" \r\n")
        << c.codec;
  }
}

TEST_F(AnalyserLines, RawInvalidUtf8FromTheReaderIsWritten) {
  auto names = W3CFieldNames::make({L"c-ip", L"cs-method", L"cs-uri-stem", L"cs-version"});
  W3CRecord r;
  const text::NarrowDecoder decoder(text::NarrowCodec("UTF-8"));
  r.parseLine("1.2.3.4 GET /\xff\xfe" "a HTTP/1.0", names, decoder);
  auto w = make(Writer::Webalizer);
  EXPECT_EQ(write(*w, Line::Http, 0, r),
            "1.2.3.4 - - [05/JAN/2024:10:20:30] \"GET /\xef\xbf\xbd\xef\xbf\xbd" "a HTTP/1.0\" - - - \"\" \r\n");
}

TEST_F(AnalyserLines, AWStatsTimesFollowTheClockChange) {
  // Clocks go forward at 01:00 UTC on 31 March 2024 in Central Europe.
  statistics::LogForAWStats w(L"a.test", L"a.test", L"", text::NarrowCodec("UTF-8"));
  w.checkLogFile(0);
  for (const wchar_t* time : {L"00:59:59", L"01:00:00", L"01:14:59", L"00:59:58"})
    w.processHTTPLogLine(VDateTime(), 0, record({{L"date", L"2024-03-31"}, {L"time", time}}));
  ASSERT_TRUE(w.hasLogData(0));
  const std::string tail = " - - - - - - - - - - - - - - - - - - - -\n";
  EXPECT_EQ(readFile(text::toUtf8(w.getLogFile(0).path())),
            "2024-03-31 01:59:59" + tail + "2024-03-31 03:00:00" + tail + "2024-03-31 03:14:59" + tail +
                "2024-03-31 01:59:58" + tail);
}

TEST_F(AnalyserLines, AWStatsLinesOfAsciiTextAreTheSameBytesInEveryCodePage) {
  // UTF-8 keeps ASCII as it is and takes the direct way for such lines, and a line read from
  // a log copies its values as read; CP1252 goes through the converter. Dates and times of
  // other shapes than IIS writes take the converter's way in both.
  const Fields swapped = [] {
    Fields f = kFullLine;
    std::swap(f[6], f[7]);
    return f;
  }();
  const std::vector<Fields> lines = {
      kFullLine,
      with(kFullLine, L"date", L"2024-1-5"),
      with(kFullLine, L"date", L"2024-02-29"),
      with(kFullLine, L"date", L"2023-02-29"),
      with(kFullLine, L"date", L"0001-01-01"),
      with(kFullLine, L"time", L"23:59:59"),
      with(kFullLine, L"time", L"10:20:30.250"),
      with(kFullLine, L"time", L"24:00:00"),
      with(kFullLine, L"date", L"-"),
      with(kFullLine, L"cs-uri-stem", L"/a\u00e9"),
      with(kFullLine, L"cs-uri-stem", std::wstring(L"/a\0b", 4)),
      without(without(kFullLine, L"cs-host"), L"time-taken"),
      with(kFullLine, L"cs-username", L""),
      with(kFullLine, L"time-taken", L""),
      with(kFullLine, L"s-sitename", L""),
      swapped,
      with(kFullLine, L"cs-host", L"www.a.test\\'\""),
      [] {
        Fields f = kFullLine;
        f.push_back({L"sc-status", L"404"});  // a name listed twice: its last value counts
        return f;
      }(),
  };
  for (const Fields& fields : lines) {
    // The record as given, in both code pages, then as read from lines of blanks and of tabs.
    std::string written[4];
    const char* codecs[] = {"UTF-8", "CP1252"};
    const char* separators[] = {" ", "\t"};
    for (int i = 0; i < 4; ++i) {
      auto w = make(Writer::AWStats, text::NarrowCodec(codecs[i == 1 ? 1 : 0]));
      try {
        written[i] = write(*w, Line::Http, 0, i < 2 ? record(fields) : parsed(fields, separators[i - 2]));
      } catch (...) {
        written[i] = "(refused)";
      }
    }
    EXPECT_EQ(written[2], written[0]) << text::toUtf8(record(fields).get(L"date"));
    EXPECT_EQ(written[3], written[0]) << text::toUtf8(record(fields).get(L"date"));
    // The one non-ASCII case differs by its one character only.
    if (written[0].find("\xc3\xa9") != std::string::npos) {
      const size_t at = written[0].find("\xc3\xa9");
      written[0].replace(at, 2, "\xe9");
    }
    EXPECT_EQ(written[0], written[1]) << text::toUtf8(record(fields).get(L"date")) << " "
                                      << text::toUtf8(record(fields).get(L"time"));
  }
}

TEST_F(AnalyserLines, AWStatsLinesAfterOthersAreWrittenAsAlone) {
  // One writer keeps the day and the minute of the line before: a following line that
  // shares part of its date or clock text must come out as if a fresh writer wrote it.
  const std::vector<std::pair<const wchar_t*, const wchar_t*>> moments = {
      {L"2024-03-31", L"00:59:10"}, {L"2024-03-31", L"00:59:59"}, {L"2024-03-31", L"00:59:60"},
      {L"2024-03-31", L"00:59:6x"}, {L"2024-03-31", L"00:59:5"},  {L"2024-03-31", L"00:59:5.25"},
      {L"2024-03-31", L"01:00:00"}, {L"2024-03-31", L"01:00:07"}, {L"2024-04-01", L"01:00:07"},
      {L"2024-4-01", L"01:00:07"},  {L"2024-03-31", L"01:00:07"}, {L"2024-03-31", L"-"},
      {L"1890-03-31", L"01:00:07"}, {L"1890-03-31", L"01:00:08"}, {L"2024-03-31", L"01:00:09"},
  };
  const auto line = [&](statistics::LogForAnalyser& w, size_t i, size_t& before) -> std::string {
    try {
      const Fields fields = with(with(kFullLine, L"date", moments[i].first), L"time", moments[i].second);
      const std::string file = write(w, Line::Http, 0, record(fields));
      const std::string added = file.substr(before);
      before = file.size();
      return added;
    } catch (...) {
      return "(refused)\n";
    }
  };
  auto shared = make(Writer::AWStats);
  size_t sharedSize = 0;
  for (size_t i = 0; i < moments.size(); ++i) {
    size_t freshSize = 0;
    const std::string alone = line(*make(Writer::AWStats), i, freshSize);
    EXPECT_EQ(line(*shared, i, sharedSize), alone) << i;
  }
}
