// SPDX-License-Identifier: GPL-3.0-or-later
// A zone's offsets from UTC, a year at a time, so that expanding thousands of
// occurrences converts between the clock and UTC by table instead of a C
// library call (the local zone) or a locked libical conversion (a series'
// own zone) per time.
//
// "Wall" seconds are a date and time on the zone's clock counted as if it
// were UTC (day number * 86400 + seconds into the day). A year's table is
// found by probing the zone every twelve hours and narrowing each change down
// to the second, so clock changes are taken to be at least half a day apart.
#pragma once

#include <cstdint>

struct TimeZone;

// The wall seconds around `wall` that map to UTC by one offset, every one of
// them shown by the clock exactly once.
struct ZoneSpan {
  int64_t wall_from = 0;  // first wall second of the span
  int64_t wall_to = 0;    // one past the last
  long offset = 0;        // UTC = wall - offset
};

// The span holding `wall`; false when the clock skips that time or shows it
// twice (a clock change), or its year is out of reach: the caller then asks
// the C library as before.
bool zone_span_of(int64_t wall, ZoneSpan* out);
// The wall seconds of UTC time `t`; false when its year is out of reach.
bool zone_wall_of(int64_t t, int64_t* wall);

// The same on the clock of `zone` (nullptr: the local one); false sends the
// caller to the zone's exact conversions.
bool zone_span_of(const TimeZone* zone, int64_t wall, ZoneSpan* out);
bool zone_wall_of(const TimeZone* zone, int64_t t, int64_t* wall);

// Forgets every table (the local zone changed, or a cold start is measured).
void zone_offsets_reset();
