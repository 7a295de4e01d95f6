// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/zone_offsets.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "model/recur.h"
#include "model/time_zone.h"

namespace {

constexpr int64_t kDay = 86400;
constexpr int64_t kStep = kDay / 2;
// Each year's table reaches two days past its ends, further than any offset,
// so that every wall time of the year finds its instant in it.
constexpr int64_t kMargin = 2 * kDay;
// Times outside these years are rare enough to go to the C library.
constexpr int64_t kFirstYear = 1900;
constexpr int64_t kLastYear = 2300;

int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

struct Segment {
  int64_t from;  // UTC from which `offset` holds
  long offset;
};

struct YearTable {
  bool built = false;
  bool ok = false;
  int64_t lo = 0, hi = 0;  // UTC covered, [lo, hi)
  std::vector<Segment> segments;
};

using YearTables = std::vector<YearTable>;  // by year - kFirstYear

// One lock for every zone's tables: a lookup is a short walk over a handful
// of segments, and expansion runs on the main thread and a worker.
struct Tables {
  std::mutex lock;
  bool known = false;  // `tz` says which zone the local tables are of
  bool tz_set = false;
  std::string tz;
  YearTables local;
  // Zones live for the process and are one per definition, so the pointer
  // names the zone: its TZID and the VTIMEZONE it came from.
  std::map<const TimeZone*, YearTables> zoned;
};

Tables& tables() {
  static Tables t;
  return t;
}

// The offset from UTC of `zone` (nullptr: the local one) at UTC time `t`.
using Probe = bool (*)(const TimeZone* zone, int64_t t, long* out);

bool local_offset_at(const TimeZone*, int64_t t, long* out) {
  time_t tt = static_cast<time_t>(t);
  struct tm tm;
  if (!localtime_r(&tt, &tm)) return false;
  *out = tm.tm_gmtoff;
  return true;
}

// Through the very conversion the exact path uses, so that table and
// libical agree. It takes libical's lock inside this one; nothing holding
// libical's lock ever asks for a table.
bool zoned_offset_at(const TimeZone* zone, int64_t t, long* out) {
  WallTime w = time_zone_wall(zone, t);
  int64_t off = days_from_civil(w.year, w.month, w.day) * kDay + w.hour * 3600 + w.minute * 60 + w.second - t;
  if (off <= -kDay || off >= kDay) return false;
  *out = static_cast<long>(off);
  return true;
}

// Probes [lo, hi] every kStep; a change between two probes is narrowed down
// to its first second, and searched again from there should the offset
// have changed twice.
bool build(Probe offset_at, const TimeZone* zone, int64_t year, YearTable* y) {
  y->lo = days_from_civil(year, 1, 1) * kDay - kMargin;
  y->hi = days_from_civil(year + 1, 1, 1) * kDay + kMargin;
  long off;
  if (!offset_at(zone, y->lo, &off)) return false;
  y->segments.push_back({y->lo, off});
  for (int64_t a = y->lo; a < y->hi; a += kStep) {
    int64_t b = a + kStep;
    long ob;
    if (!offset_at(zone, b, &ob)) return false;
    int64_t from = a;
    while (off != ob) {
      int64_t lo = from, hi = b;  // offset(lo) == off, offset(hi) != off
      while (hi - lo > 1) {
        int64_t mid = lo + (hi - lo) / 2;
        long om;
        if (!offset_at(zone, mid, &om)) return false;
        if (om == off)
          lo = mid;
        else
          hi = mid;
      }
      if (!offset_at(zone, hi, &off)) return false;
      y->segments.push_back({hi, off});
      from = hi;
    }
  }
  return true;
}

// The table of `year` for `zone` (nullptr: the local zone in force), or
// nullptr. Caller holds the lock.
const YearTable* table(Tables& z, const TimeZone* zone, int64_t year) {
  if (year < kFirstYear || year > kLastYear) return nullptr;
  YearTables* years;
  if (zone) {
    years = &z.zoned[zone];
  } else {
    const char* tz = std::getenv("TZ");
    if (!z.known || z.tz_set != (tz != nullptr) || (tz && z.tz != tz)) {
      z.local.clear();
      z.known = true;
      z.tz_set = tz != nullptr;
      z.tz = tz ? tz : "";
    }
    years = &z.local;
  }
  if (years->empty()) years->resize(static_cast<size_t>(kLastYear - kFirstYear + 1));
  YearTable& y = (*years)[static_cast<size_t>(year - kFirstYear)];
  if (!y.built) {
    y.built = true;
    y.ok = zone ? build(zoned_offset_at, zone, year, &y) : build(local_offset_at, nullptr, year, &y);
  }
  return y.ok ? &y : nullptr;
}

int64_t year_of_day(int64_t day) {
  int64_t y;
  int m, d;
  civil_from_days(day, &y, &m, &d);
  return y;
}

}  // namespace

bool zone_span_of(int64_t wall, ZoneSpan* out) { return zone_span_of(nullptr, wall, out); }

bool zone_wall_of(int64_t t, int64_t* wall) { return zone_wall_of(nullptr, t, wall); }

bool zone_span_of(const TimeZone* zone, int64_t wall, ZoneSpan* out) {
  Tables& z = tables();
  std::lock_guard<std::mutex> guard(z.lock);
  int64_t year = year_of_day(floor_div(wall, kDay));
  const YearTable* y = table(z, zone, year);
  if (!y) return false;
  const auto& segs = y->segments;
  // Each segment shows the wall times [from + offset, to + offset); `wall`
  // must lie in exactly one, and its span stops where another begins.
  size_t hit = segs.size();
  for (size_t i = 0; i < segs.size(); i++) {
    int64_t to = i + 1 < segs.size() ? segs[i + 1].from : y->hi;
    int64_t t = wall - segs[i].offset;
    if (t >= segs[i].from && t < to) {
      if (hit != segs.size()) return false;  // shown twice
      hit = i;
    }
  }
  if (hit == segs.size()) return false;  // skipped
  int64_t span_from = days_from_civil(year, 1, 1) * kDay, span_to = days_from_civil(year + 1, 1, 1) * kDay;
  for (size_t i = 0; i < segs.size(); i++) {
    int64_t to = i + 1 < segs.size() ? segs[i + 1].from : y->hi;
    int64_t w_from = segs[i].from + segs[i].offset, w_to = to + segs[i].offset;
    if (i == hit) {
      span_from = std::max(span_from, w_from);
      span_to = std::min(span_to, w_to);
    } else if (w_to <= wall) {
      span_from = std::max(span_from, w_to);
    } else if (w_from > wall) {
      span_to = std::min(span_to, w_from);
    }
  }
  out->wall_from = span_from;
  out->wall_to = span_to;
  out->offset = segs[hit].offset;
  return true;
}

bool zone_wall_of(const TimeZone* zone, int64_t t, int64_t* wall) {
  Tables& z = tables();
  std::lock_guard<std::mutex> guard(z.lock);
  const YearTable* y = table(z, zone, year_of_day(floor_div(t, kDay)));
  if (!y) return false;
  const auto& segs = y->segments;
  size_t i = segs.size();
  while (i > 1 && segs[i - 1].from > t) i--;
  *wall = t + segs[i - 1].offset;
  return true;
}

void zone_offsets_reset() {
  Tables& z = tables();
  std::lock_guard<std::mutex> guard(z.lock);
  z.known = false;
  z.local.clear();
  z.zoned.clear();
}
