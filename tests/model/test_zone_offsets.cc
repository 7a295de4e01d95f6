// SPDX-License-Identifier: GPL-3.0-or-later
// The zone's offset table: clock times around the changes of several zones,
// the local one and a series' own, the spans it hands out, and a change of
// zone.
#include "model/zone_offsets.h"

#include <string>
#include <thread>
#include <vector>

#include "model/time_zone.h"
#include "model_fixture.h"

namespace {

int64_t wall(int y, int mon, int d, int h, int mi = 0, int s = 0) {
  return days_from_civil(y, mon, d) * 86400 + h * 3600 + mi * 60 + s;
}

constexpr long kNone = -1;  // the clock skips the time or shows it twice

TEST(ZoneOffsets, ClockTimesAroundChanges) {
  struct Case {
    const char* zone;
    int64_t wall;
    long offset;  // or kNone
  } cases[] = {
      {"Europe/Berlin", wall(2026, 3, 29, 1, 59, 59), 3600},
      {"Europe/Berlin", wall(2026, 3, 29, 2, 0, 0), kNone},
      {"Europe/Berlin", wall(2026, 3, 29, 2, 59, 59), kNone},
      {"Europe/Berlin", wall(2026, 3, 29, 3, 0, 0), 7200},
      {"Europe/Berlin", wall(2026, 10, 25, 1, 59, 59), 7200},
      {"Europe/Berlin", wall(2026, 10, 25, 2, 0, 0), kNone},
      {"Europe/Berlin", wall(2026, 10, 25, 2, 59, 59), kNone},
      {"Europe/Berlin", wall(2026, 10, 25, 3, 0, 0), 3600},
      {"Europe/Berlin", wall(2027, 1, 1, 0, 0, 0), 3600},
      {"America/New_York", wall(2026, 3, 8, 2, 30), kNone},
      {"America/New_York", wall(2026, 3, 8, 3, 0), -4 * 3600},
      {"America/New_York", wall(2026, 11, 1, 1, 30), kNone},
      {"America/New_York", wall(2025, 12, 31, 23, 59, 59), -5 * 3600},
      {"Australia/Lord_Howe", wall(2026, 4, 5, 1, 45), kNone},  // half an hour back
      {"Australia/Lord_Howe", wall(2026, 4, 5, 2, 0), 10 * 3600 + 1800},
      {"Australia/Sydney", wall(2026, 1, 15, 12, 0), 11 * 3600},
      {"Pacific/Apia", wall(2011, 12, 30, 12, 0), kNone},  // the day the island skipped
      {"Pacific/Apia", wall(2011, 12, 31, 12, 0), 14 * 3600},
      {"UTC", wall(2026, 3, 29, 2, 30), 0},
  };
  for (const Case& c : cases) {
    ScopedTz tz(c.zone);
    ZoneSpan span;
    bool found = zone_span_of(c.wall, &span);
    std::string what = std::string(c.zone) + " " + std::to_string(c.wall);
    ASSERT_EQ(found, c.offset != kNone) << what;
    if (!found) continue;
    EXPECT_EQ(span.offset, c.offset) << what;
    EXPECT_TRUE(span.wall_from <= c.wall && c.wall < span.wall_to) << what;
    int64_t back = 0;
    ASSERT_TRUE(zone_wall_of(c.wall - span.offset, &back)) << what;
    EXPECT_EQ(back, c.wall) << what;
  }
}

TEST(ZoneOffsets, SpansEndAtTheChangesAndTheYear) {
  struct Case {
    const char* zone;
    int64_t wall;
    int64_t from, to;
  } cases[] = {
      {"Europe/Berlin", wall(2026, 6, 1, 12), wall(2026, 3, 29, 3), wall(2026, 10, 25, 2)},
      {"Europe/Berlin", wall(2026, 2, 1, 12), wall(2026, 1, 1, 0), wall(2026, 3, 29, 2)},
      {"Europe/Berlin", wall(2026, 12, 1, 12), wall(2026, 10, 25, 3), wall(2027, 1, 1, 0)},
      {"UTC", wall(2026, 6, 1, 12), wall(2026, 1, 1, 0), wall(2027, 1, 1, 0)},
  };
  for (const Case& c : cases) {
    ScopedTz tz(c.zone);
    ZoneSpan span;
    ASSERT_TRUE(zone_span_of(c.wall, &span)) << c.zone;
    EXPECT_EQ(span.wall_from, c.from) << c.zone;
    EXPECT_EQ(span.wall_to, c.to) << c.zone;
  }
}

TEST(ZoneOffsets, FollowsAChangeOfZone) {
  const int64_t noon = wall(2026, 7, 1, 12);
  ZoneSpan span;
  {
    ScopedTz tz("Europe/Berlin");
    ASSERT_TRUE(zone_span_of(noon, &span));
    EXPECT_EQ(span.offset, 7200);
  }
  {
    ScopedTz tz("Asia/Tokyo");
    ASSERT_TRUE(zone_span_of(noon, &span));
    EXPECT_EQ(span.offset, 9 * 3600);
  }
}

// Four and a half hours ahead in summer: clocks go from 02:00 to 03:30 on the
// first Sunday of April and from 03:00 back to 01:30 on that of October.
const char kCustomZone[] =
    "BEGIN:VTIMEZONE\r\nTZID:Custom/Half\r\n"
    "BEGIN:STANDARD\r\nDTSTART:19701004T030000\r\nRRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=1SU\r\n"
    "TZOFFSETFROM:+0430\r\nTZOFFSETTO:+0300\r\nEND:STANDARD\r\n"
    "BEGIN:DAYLIGHT\r\nDTSTART:19700405T020000\r\nRRULE:FREQ=YEARLY;BYMONTH=4;BYDAY=1SU\r\n"
    "TZOFFSETFROM:+0300\r\nTZOFFSETTO:+0430\r\nEND:DAYLIGHT\r\nEND:VTIMEZONE\r\n";

TEST(ZoneOffsets, ZonedClockTimesAgreeWithTheExactConversion) {
  struct Case {
    const char* tzid;
    const char* vtimezone;
    int64_t wall;
    long offset;  // or kNone
  } cases[] = {
      {"America/New_York", "", wall(2026, 3, 8, 1, 59, 59), -5 * 3600},
      {"America/New_York", "", wall(2026, 3, 8, 2, 30), kNone},
      {"America/New_York", "", wall(2026, 3, 8, 3, 0), -4 * 3600},
      {"America/New_York", "", wall(2026, 11, 1, 0, 59, 59), -4 * 3600},
      {"America/New_York", "", wall(2026, 11, 1, 1, 30), kNone},
      {"America/New_York", "", wall(2026, 11, 1, 2, 0), -5 * 3600},
      {"Australia/Lord_Howe", "", wall(2026, 4, 5, 1, 29, 59), 11 * 3600},
      {"Australia/Lord_Howe", "", wall(2026, 4, 5, 1, 45), kNone},  // half an hour back
      {"Australia/Lord_Howe", "", wall(2026, 4, 5, 2, 0), 10 * 3600 + 1800},
      {"Australia/Lord_Howe", "", wall(2026, 10, 4, 2, 15), kNone},  // half an hour on
      {"Australia/Lord_Howe", "", wall(2026, 10, 4, 2, 30), 11 * 3600},
      {"Custom/Half", kCustomZone, wall(2026, 4, 5, 1, 59, 59), 3 * 3600},
      {"Custom/Half", kCustomZone, wall(2026, 4, 5, 2, 30), kNone},
      {"Custom/Half", kCustomZone, wall(2026, 4, 5, 3, 30), 4 * 3600 + 1800},
      {"Custom/Half", kCustomZone, wall(2026, 10, 4, 1, 29, 59), 4 * 3600 + 1800},
      {"Custom/Half", kCustomZone, wall(2026, 10, 4, 2, 0), kNone},
      {"Custom/Half", kCustomZone, wall(2026, 10, 4, 3, 0), 3 * 3600},
  };
  ScopedTz tz("Europe/Berlin");
  for (const Case& c : cases) {
    const TimeZone* zone = time_zone_find(c.tzid, c.vtimezone);
    ASSERT_NE(zone, nullptr) << c.tzid;
    ZoneSpan span;
    bool found = zone_span_of(zone, c.wall, &span);
    std::string what = std::string(c.tzid) + " " + std::to_string(c.wall);
    ASSERT_EQ(found, c.offset != kNone) << what;
    if (!found) continue;
    EXPECT_EQ(span.offset, c.offset) << what;
    EXPECT_TRUE(span.wall_from <= c.wall && c.wall < span.wall_to) << what;
    int64_t day = c.wall / 86400, secs = c.wall % 86400, y;
    int m, d;
    civil_from_days(day, &y, &m, &d);
    WallTime w{static_cast<int>(y), m, d, static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60),
               static_cast<int>(secs % 60)};
    EXPECT_EQ(time_zone_time_of(zone, w), c.wall - c.offset) << what;
    int64_t back = 0;
    ASSERT_TRUE(zone_wall_of(zone, c.wall - span.offset, &back)) << what;
    EXPECT_EQ(back, c.wall) << what;
  }
}

TEST(ZoneOffsets, ZonedSpansEndWhereTheClockIsAmbiguous) {
  ScopedTz tz("Asia/Tokyo");  // whatever the local zone, the series' own clock
  const TimeZone* ny = time_zone_find("America/New_York", "");
  ASSERT_NE(ny, nullptr);
  ZoneSpan span;
  ASSERT_TRUE(zone_span_of(ny, wall(2026, 6, 1, 12), &span));
  EXPECT_EQ(span.wall_from, wall(2026, 3, 8, 3));
  EXPECT_EQ(span.wall_to, wall(2026, 11, 1, 1));
}

// The worker and the main thread expand at once, one of them perhaps
// starting cold: both see the same offsets.
TEST(ZoneOffsets, ZonedTablesAreSharedBetweenThreads) {
  ScopedTz tz("Europe/Berlin");
  const TimeZone* zones[] = {time_zone_find("America/New_York", ""), time_zone_find("Custom/Half", kCustomZone)};
  std::vector<long> seen[2];
  auto expand = [&zones](std::vector<long>* out, bool cold) {
    for (int day = 0; day < 730; day++) {
      if (cold && day % 100 == 0) zone_offsets_reset();
      for (const TimeZone* zone : zones) {
        ZoneSpan span;
        out->push_back(zone_span_of(zone, wall(2025, 1, 1, 12) + day * 86400, &span) ? span.offset : kNone);
      }
    }
  };
  std::thread worker(expand, &seen[0], true);
  expand(&seen[1], false);
  worker.join();
  EXPECT_EQ(seen[0], seen[1]);
  EXPECT_EQ(seen[0][0], -5 * 3600);
  EXPECT_EQ(seen[0][1], 3 * 3600);
}

TEST(ZoneOffsets, YearsOutOfReachAreLeftToTheCLibrary) {
  ScopedTz tz("Europe/Berlin");
  ZoneSpan span;
  int64_t w = 0;
  EXPECT_FALSE(zone_span_of(wall(1800, 6, 1, 12), &span));
  EXPECT_FALSE(zone_wall_of(wall(2400, 6, 1, 12), &w));
  const TimeZone* ny = time_zone_find("America/New_York", "");
  EXPECT_FALSE(zone_span_of(ny, wall(1800, 6, 1, 12), &span));
  EXPECT_FALSE(zone_wall_of(ny, wall(2400, 6, 1, 12), &w));
}

}  // namespace
