// The per-line rules: dates, the site-preview filter, the FTP method rule and where an
// HTTP line's host name comes from.
#include "traffic/log_line_rules.h"

#include <gtest/gtest.h>

#include "platform/text/text_codec.h"
#include "platform/text/vformat.h"
#include "testing/log_recorder.h"

using testing_support::LogRecorder;

TEST(LogLineRules, LineDatesAreCalendarDatesAndTimesAreTakenAsWritten) {
  const struct {
    const wchar_t* date;
    const wchar_t* time;
    VDateTime expected;
    bool valid;
  } cases[] = {
      {L"2008-02-29", L"23:59:59", VDateTime(2008, 2, 29, 23, 59, 59), true},  // leap year
      {L"2000-02-29", L"00:00:00", VDateTime(2000, 2, 29), true},              // divisible by 400
      {L"07-04-06", L"18:02:32", VDateTime(2007, 4, 6, 18, 2, 32), true},       // two-digit year
      {L"99-12-31", L"1:2:3", VDateTime(1999, 12, 31, 1, 2, 3), true},
      {L"2007-02-29", L"10:00:00", {}, false},
      {L"1900-02-29", L"10:00:00", {}, false},  // divisible by 100 only
      {L"2007-13-01", L"10:00:00", {}, false},
      {L"2007-04-00", L"10:00:00", {}, false},
      {L"2007-04-31", L"10:00:00", {}, false},
      {L"-", L"10:00:00", {}, false},
      {L"", L"", {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(text::toUtf8(c.date));
    LogRecorder log;
    const VDateTime t = w3cLineTime(c.date, c.time);
    EXPECT_EQ(checkLineDate(t), c.valid);
    if (c.valid) {
      EXPECT_EQ(t, c.expected);
      EXPECT_TRUE(log.take().empty());
    } else {
      EXPECT_TRUE(log.contains(1, vformat(L"Invalid datetime %04d/%02d/%02d skipped", t.year, t.month, t.day)));
    }
  }
}

TEST(LogLineRules, SitePreviewIsFoundAtTheStartOrOneCharacterIn) {
  const struct {
    const wchar_t* stem;
    bool preview;
  } cases[] = {
      {L"/sitepreview/sitepreview.dll", true},
      {L"/SitePreview/SITEPREVIEW.DLL/x", true},
      {L"//sitepreview/sitepreview.dll", true},
      {L"x/sitepreview/sitepreview.dll", true},
      {L"//x/sitepreview/sitepreview.dll", false},
      {L"/sitepreview/sitepreview.dl", false},
      {L"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(isSitePreview(c.stem), c.preview) << text::toUtf8(c.stem);
}

TEST(LogLineRules, FtpMethodsPassAsDownloadOrUploadAfterTheConnectionNumber) {
  const struct {
    const wchar_t* method;
    bool passes;
    bool download;
  } cases[] = {
      {L"sent", true, true},        {L"[12]sent", true, true},       {L"[3]SENT", true, true},
      {L"[1]created", true, false}, {L"Created", true, false},       {L"[1][2]created", true, false},
      {L"[1]deleted", false, false}, {L"[1]sent ", false, false},    {L"RETR", false, false},
      {L"-", false, false},         {L"", false, false},             {L"sent[1]", false, false},
  };
  for (const auto& c : cases) {
    const FtpMethod m = ftpMethodRule(c.method);
    EXPECT_EQ(m.passes, c.passes) << text::toUtf8(c.method);
    EXPECT_EQ(m.download, c.download) << text::toUtf8(c.method);
  }
}

TEST(LogLineRules, HttpHostTextFallsBackFromHostToRefererToQuery) {
  const struct {
    const wchar_t *host, *referer, *query, *expected;
  } cases[] = {
      {L"www.a.com", L"http://b.com/", L"q", L"www.a.com"},
      {L"-", L"http://b.com/x", L"q", L"http://b.com/x"},
      {L"", L"http://b.com/x", L"q", L"http://b.com/x"},
      {L"10.0.0.1", L"http://b.com/x", L"q", L"http://b.com/x"},
      {L"10.0.0.1", L"-", L"c.com", L"c.com"},
      {L"10.0.0.1:80", L"", L"-", L"-"},
      {L"1.2.x", L"-", L"q", L"1.2.x"},  // two numbers only: a name
  };
  for (const auto& c : cases)
    EXPECT_EQ(httpHostText(c.host, c.referer, c.query), std::wstring_view(c.expected)) << text::toUtf8(c.host);
  for (const wchar_t* none : {L"", L"-", L"10.0.0.1", L"192.168.1.x"}) EXPECT_TRUE(namesNoHost(none));
  EXPECT_FALSE(namesNoHost(L"a.com"));
}

TEST(LogLineRules, HostNameOfATextLosesSchemePathAndPort) {
  const struct {
    const wchar_t* text;
    bool directoryHasDomain;
    const wchar_t* expected;
  } cases[] = {
      {L"a.com", true, L"a.com"},
      {L"http://a.com/x/y", true, L"a.com"},
      {L"https://Shop.A.com:8443/x", true, L"Shop.A.com"},
      {L"HTTP://a.com", true, L"a.com"},
      {L"a.com:80", true, L"a.com"},
      {L"a.com\\x", true, L"a.com"},
      {L"/index.html", true, L""},
      {L"/a.com/x", false, L"a.com"},
      {L"http:///x", true, L""},
      {L"ftp://a.com/x", true, L"ftp"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(hostNameOf(c.text, c.directoryHasDomain), std::wstring_view(c.expected)) << text::toUtf8(c.text);
  EXPECT_EQ(withoutWww(L"WWW.a.com"), L"a.com");
  EXPECT_EQ(withoutWww(L"www2.a.com"), L"www2.a.com");
  EXPECT_EQ(withoutWww(L"www."), L"");
}
