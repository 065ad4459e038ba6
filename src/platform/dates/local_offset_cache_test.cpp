#include "platform/dates/local_offset_cache.h"

#include <gtest/gtest.h>
#include <time.h>

#include <cstdlib>
#include <string>

#include "platform/report/vexception.h"
#include "testing/scoped_environment.h"

namespace {

struct Zone {
  const char* tz;
  bool wholeQuarters;
};

}  // namespace

TEST(LocalOffsetCache, GivesWhatTheZoneGivesForEveryMomentAcrossItsClockChanges) {
  // Central Europe (changes at 01:00 UTC), Lord Howe (half-hour summer time, changes at
  // 15:00 UTC), Nepal (+05:45), and a zone of seconds, which is converted moment by moment.
  const Zone zones[] = {{"CET-1CEST,M3.5.0,M10.5.0/3", true},
                        {"<+1030>-10:30<+11>-11,M10.1.0,M4.1.0", true},
                        {"<+0545>-5:45", true},
                        {"<-0044>0:44:30", false}};
  // Two days around each change of 2024 in both hemispheres.
  const VDateTime starts[] = {VDateTime(2024, 3, 30, 0, 0, 0), VDateTime(2024, 10, 26, 0, 0, 0),
                              VDateTime(2024, 4, 6, 0, 0, 0), VDateTime(2024, 10, 5, 0, 0, 0)};
  for (const Zone& zone : zones) {
    testing_support::ScopedEnvironment env;
    env.set("TZ", zone.tz);
    tzset();
    LocalOffsetCache cache;
    for (const VDateTime& start : starts) {
      // Steps of 7:13 land on every minute and second of the quarter hours sooner or later.
      for (int64_t t = start.toUnixTime(); t < start.toUnixTime() + 2 * 86400; t += 433) {
        const VDateTime utc = VDateTime::fromUnixTime(t, 250);
        int64_t offset = 0;
        EXPECT_EQ(cache.offsetAt(t, offset), zone.wholeQuarters) << zone.tz;
        ASSERT_EQ(cache.toLocal(utc), utc.toLocal()) << zone.tz << " " << t;
      }
    }
  }
  tzset();
}

TEST(LocalOffsetCache, AnInvalidMomentFailsAsTheConversionDoes) {
  LocalOffsetCache cache;
  VDateTime invalid(2024, 2, 30, 10, 0, 0);
  EXPECT_THROW(cache.toLocal(invalid), vexception);
}
