// SPDX-License-Identifier: GPL-3.0-or-later
// Zones through libical: a VTIMEZONE becomes an icaltimezone of its own, an
// Olson name the builtin one libical reads from the system's zoneinfo.
#include "model/time_zone.h"

#include <libical/ical.h>

#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>
#include <cstdlib>

#include "support/log.h"

struct TimeZone {
  icaltimezone* zone = nullptr;
  bool owned = false;
  ~TimeZone() {
    if (owned && zone) icaltimezone_free(zone, 1);
  }
};

namespace {

// libical fills a zone's table of changes lazily, so conversions are
// serialised too.
std::mutex& zone_lock() {
  static std::mutex m;
  return m;
}

// By definition: the VTIMEZONE text, or the name of a system zone.
std::map<std::string, std::unique_ptr<TimeZone>>& zones() {
  static std::map<std::string, std::unique_ptr<TimeZone>> z;
  return z;
}

icaltimezone* from_definition(const std::string& text) {
  icalcomponent* c = icalparser_parse_string(text.c_str());
  if (!c) return nullptr;
  if (icalcomponent_isa(c) != ICAL_VTIMEZONE_COMPONENT) {
    icalcomponent* inner = icalcomponent_get_first_component(c, ICAL_VTIMEZONE_COMPONENT);
    if (inner) icalcomponent_remove_component(c, inner);
    icalcomponent_free(c);
    c = inner;
  }
  if (!c) return nullptr;
  icaltimezone* z = icaltimezone_new();
  if (!icaltimezone_set_component(z, c)) {
    icalcomponent_free(c);
    icaltimezone_free(z, 1);
    return nullptr;
  }
  return z;
}

}  // namespace

const TimeZone* time_zone_find(const std::string& tzid, const std::string& vtimezone) {
  if (tzid.empty() && vtimezone.empty()) return nullptr;
  std::lock_guard<std::mutex> guard(zone_lock());
  const std::string key = vtimezone.empty() ? "\x01" + tzid : vtimezone;
  auto found = zones().find(key);
  if (found != zones().end()) return found->second->zone ? found->second.get() : nullptr;
  auto z = std::make_unique<TimeZone>();
  // A definition without observances says nothing libical could use.
  bool defines = vtimezone.find("BEGIN:STANDARD") != std::string::npos ||
                 vtimezone.find("BEGIN:DAYLIGHT") != std::string::npos;
  if (defines) {
    z->zone = from_definition(vtimezone);
    z->owned = z->zone != nullptr;
  }
  // A definition libical cannot read still leaves the name.
  if (!z->zone && !tzid.empty()) {
    z->zone = tzid == "UTC" || tzid == "Etc/UTC" || tzid == "Z" ? icaltimezone_get_utc_timezone()
                                                                 : icaltimezone_get_builtin_timezone(tzid.c_str());
    if (!z->zone) z->zone = icaltimezone_get_builtin_timezone_from_tzid(tzid.c_str());
  }
  icalerror_clear_errno();
  // An unknown zone is remembered too, so that it is looked up and logged once.
  if (!z->zone) log_message(LOG_WARNING, "time_zone_find: unknown zone");
  const TimeZone* made = (zones()[key] = std::move(z)).get();
  return made->zone ? made : nullptr;
}

int64_t time_zone_time_of(const TimeZone* zone, const WallTime& w) {
  icaltimetype v = icaltime_null_time();
  v.is_date = 0;
  v.year = w.year, v.month = w.month, v.day = w.day;
  v.hour = w.hour, v.minute = w.minute, v.second = w.second;
  v = icaltime_normalize(v);
  std::lock_guard<std::mutex> guard(zone_lock());
  return static_cast<int64_t>(icaltime_as_timet_with_zone(v, zone ? zone->zone : nullptr));
}

WallTime time_zone_wall(const TimeZone* zone, int64_t t) {
  icaltimetype v;
  {
    std::lock_guard<std::mutex> guard(zone_lock());
    v = icaltime_from_timet_with_zone(static_cast<time_t>(t), 0, zone ? zone->zone : nullptr);
  }
  return WallTime{v.year, v.month, v.day, v.hour, v.minute, v.second};
}

namespace {

// Whether the zone and the local clock agree on every day of one year
// (days from 1 January, UTC noon and midnight both tried).
bool same_year(icaltimezone* zone, int year) {
  struct tm jan {};
  jan.tm_year = year - 1900;
  jan.tm_mday = 1;
  const int64_t first = static_cast<int64_t>(timegm(&jan));
  for (int64_t t = first; t < first + 366 * 86400; t += 43200) {
    time_t tt = static_cast<time_t>(t);
    struct tm tm {};
    if (!localtime_r(&tt, &tm)) return false;
    icaltimetype v = icaltime_from_timet_with_zone(tt, 0, zone);
    if (v.hour != tm.tm_hour || v.minute != tm.tm_min || v.day != tm.tm_mday) return false;
  }
  return true;
}

}  // namespace

bool time_zone_same_as_local(const TimeZone* zone, int64_t from, int64_t to) {
  if (!zone) return true;
  const int64_t span = 3653 * int64_t(86400);
  if (to < from || to - from > span) to = from + span;
  const char* tz = getenv("TZ");
  std::string local = tz ? tz : "";
  auto year_of = [](int64_t t) {
    time_t tt = static_cast<time_t>(t);
    struct tm tm {};
    gmtime_r(&tt, &tm);
    return tm.tm_year + 1900;
  };
  std::lock_guard<std::mutex> guard(zone_lock());
  // An import of thousands of series asks about a handful of zones.
  static std::map<std::tuple<const TimeZone*, std::string, int>, bool> known;
  for (int y = year_of(from), last = year_of(to); y <= last; y++) {
    auto key = std::make_tuple(zone, local, y);
    auto found = known.find(key);
    bool same = found != known.end() ? found->second : (known[key] = same_year(zone->zone, y));
    if (!same) return false;
  }
  return true;
}
