// The domains' log windows: where a window starts, that consecutive windows tile, and the
// window bounds of each log type.
#include "traffic/log_window.h"

#include <gtest/gtest.h>

#include "app/domain_info.h"
#include "platform/registry/registry.h"
#include "platform/text/text_codec.h"
#include "testing/temp_dir.h"

using testing_support::ScopedSystemRoot;

namespace {

void store(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  if (!value.empty()) registry::write(HKEY_LOCAL_MACHINE, key, name, value);
}

}  // namespace

TEST(LogWindow, StartsAtTheForcedStartElseTheDomainsValueElseTheLastRunElseZero) {
  const struct {
    const wchar_t* forced;
    const wchar_t* domainValue;
    const wchar_t* lastRun;
    VDateTime start;
  } cases[] = {
      {L"2007/04/06 18:02:32", L"2008/01/01 00:00:00", L"2006/01/01 00:00:00", VDateTime(2007, 4, 6, 18, 2, 32)},
      {L"", L"2008/01/01 10:11:12", L"2006/01/01 00:00:00", VDateTime(2008, 1, 1, 10, 11, 12)},
      {L"", L"", L"2006/01/01 00:00:01", VDateTime(2006, 1, 1, 0, 0, 1)},
      {L"", L"", L"", VDateTime()},
      {L"07-4-6 18:2", L"", L"", VDateTime(2007, 4, 6, 18, 2, 0)},  // each number after non-digits
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(text::toUtf8(c.forced) + "|" + text::toUtf8(c.domainValue) + "|" + text::toUtf8(c.lastRun));
    ScopedSystemRoot root;
    store(registry::domainKey(L"7"), L"LastHttpStatisticsRun", c.domainValue);
    store(registry::kConfigKey, L"LastStatisticsRun", c.lastRun);
    LogWindow window;
    window.load(L"7", L"LastHttpStatisticsRun", c.forced);
    EXPECT_FALSE(window.notLoaded);
    EXPECT_EQ(window.start, c.start);
  }
}

TEST(LogWindow, TheStoredEndIsTheNextStartToTheMillisecond) {
  ScopedSystemRoot root;
  LogWindow first;
  first.load(L"7", L"LastFtpStatisticsRun", L"");
  EXPECT_EQ(first.end.milliseconds, 0);
  // Loaded once: a second load keeps the bounds.
  const VDateTime end = first.end;
  first.load(L"7", L"LastFtpStatisticsRun", L"2001/01/01 00:00:00");
  EXPECT_EQ(first.end, end);
  EXPECT_TRUE(first.start.isZero());

  first.save(L"7", L"LastFtpStatisticsRun");
  LogWindow next;
  next.load(L"7", L"LastFtpStatisticsRun", L"");
  EXPECT_EQ(next.start, first.end);
  // A line stamped at the boundary belongs to the later window only.
  EXPECT_FALSE(first.contains(end));
  EXPECT_TRUE((LogWindow{next.start, next.start + 1, false}.contains(end)));
  EXPECT_TRUE(first.contains(end - 1));

  LogWindow unloaded;
  unloaded.save(L"8", L"LastFtpStatisticsRun");
  EXPECT_FALSE(registry::exists(HKEY_LOCAL_MACHINE, registry::domainKey(L"8")));
}

TEST(LogWindow, ADomainHasAnHttpWindowAndOneFtpWindowForBothFtpTypes) {
  ScopedSystemRoot root;
  registry::write(HKEY_LOCAL_MACHINE, registry::domainKey(L"5"), L"LastHttpStatisticsRun",
                  std::wstring(L"2008/02/29 12:00:00"));
  registry::write(HKEY_LOCAL_MACHINE, registry::domainKey(L"5"), L"LastFtpStatisticsRun",
                  std::wstring(L"2008/03/01 12:00:00"));
  DomainInfo domain(L"5", L"five.com", 0, 3, false);
  auto message = [&](auto&& call) {
    try {
      call();
    } catch (const vexception& e) {
      return e.message();
    }
    return std::wstring();
  };
  EXPECT_EQ(message([&] { domain.getStartLogTime(0); }), L"Unable to return start log type for 0");
  domain.loadLogWindows(true, false, L"");
  EXPECT_EQ(domain.getStartLogTime(0), VDateTime(2008, 2, 29, 12));
  EXPECT_EQ(message([&] { domain.getEndLogTime(1); }), L"Unable to return end log type for 1");
  domain.loadLogWindows(true, true, L"");
  EXPECT_EQ(domain.getStartLogTime(1), VDateTime(2008, 3, 1, 12));
  EXPECT_EQ(&domain.getStartLogTime(2), &domain.getStartLogTime(1));
  EXPECT_EQ(message([&] { domain.getStartLogTime(3); }), L"Unable to return start log type for 3");
  EXPECT_EQ(message([&] { domain.getEndLogTime(-1); }), L"Unable to return end log type for -1");
}
