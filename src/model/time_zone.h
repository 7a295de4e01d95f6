// SPDX-License-Identifier: GPL-3.0-or-later
// Time zones of calendar data: a TZID as a component defines it (its
// VTIMEZONE) or as the system's zone database knows it, for times that are
// wall clock times somewhere else than here. Items keep UTC seconds; these
// turn a zone's wall time into them and back. Zones are made once per
// definition and live for the process; every call may come from the main
// thread or a worker.
#pragma once

#include <cstdint>
#include <string>

struct TimeZone;

// A wall clock time (month 1..12).
struct WallTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// The zone `tzid` names: the VTIMEZONE text defining it when given (a
// BEGIN:VTIMEZONE .. END:VTIMEZONE block), else the system zone of that
// Olson name ("UTC" included). nullptr when neither knows it.
const TimeZone* time_zone_find(const std::string& tzid, const std::string& vtimezone);

// The UTC seconds of a wall time in the zone.
int64_t time_zone_time_of(const TimeZone* zone, const WallTime& w);
// The wall time in the zone of UTC seconds.
WallTime time_zone_wall(const TimeZone* zone, int64_t t);

// True when the zone's clock and the local one (TZ) agree at every day
// between from and to (both UTC seconds, to at most ten years on): a
// series in that zone falls where a local one does.
bool time_zone_same_as_local(const TimeZone* zone, int64_t from, int64_t to);
