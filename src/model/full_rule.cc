// SPDX-License-Identifier: GPL-3.0-or-later
// Full recurrence rules: the kept text, expansion with libical in local time
// with a cache per item, and the text for people.
#include "model/full_rule.h"

#include <libical/ical.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "model/item.h"
#include "model/model.h"
#include "model/recur.h"
#include "model/time_zone.h"
#include "model/zone_offsets.h"
#include "support/log.h"
#include "support/strings.h"
#include "support/text.h"

#include <glib.h>

namespace {

bool array_empty(const short* a) { return a[0] == ICAL_RECURRENCE_ARRAY_MAX; }

int64_t local_wall_of(int64_t t);
int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// The wall clock a series keeps: its zone's, else the local one.
struct SeriesClock {
  const TimeZone* zone = nullptr;

  // tm_year, tm_mon, tm_mday, tm_wday and the time of day of t.
  struct tm wall(int64_t t) const {
    struct tm tm {};
    if (!zone) {
      time_t tt = static_cast<time_t>(t);
      localtime_r(&tt, &tm);
      return tm;
    }
    int64_t w = wall_of(t), day = floor_div(w, 86400), y, secs = w - day * 86400;
    int m, d;
    civil_from_days(day, &y, &m, &d);
    tm.tm_year = static_cast<int>(y) - 1900;
    tm.tm_mon = m - 1;
    tm.tm_mday = d;
    tm.tm_hour = static_cast<int>(secs / 3600);
    tm.tm_min = static_cast<int>(secs / 60 % 60);
    tm.tm_sec = static_cast<int>(secs % 60);
    tm.tm_wday = weekday_of(day);
    return tm;
  }
  // Wall seconds (day number * 86400 + seconds into the day) of t.
  int64_t wall_of(int64_t t) const {
    if (!zone) return local_wall_of(t);
    int64_t wall;
    if (zone_wall_of(zone, t, &wall)) return wall;
    WallTime w = time_zone_wall(zone, t);
    return days_from_civil(w.year, w.month, w.day) * 86400 + w.hour * 3600 + w.minute * 60 + w.second;
  }
  // By the zone's table where its clock shows the time once.
  int64_t time_of(int y, int m, int d, int h, int mi, int sec) const {
    if (!zone) return local_time_of(y, m, d, h, mi, sec);
    ZoneSpan span;
    int64_t wall = days_from_civil(y, m, d) * 86400 + h * 3600 + mi * 60 + sec;
    if (m >= 1 && m <= 12 && zone_span_of(zone, wall, &span)) return wall - span.offset;
    return time_zone_time_of(zone, WallTime{y, m, d, h, mi, sec});
  }
};

// --- Day rules ---------------------------------------------------------------
// The rules of whole days (DAILY to YEARLY with BYMONTH, BYMONTHDAY, BYDAY and
// BYSETPOS) are expanded here, period by period on day numbers: libical does
// the same through a general calendar library at several microseconds an
// occurrence, which a year of ten thousand series cannot afford. Anything
// finer (BYHOUR, BYWEEKNO, BYYEARDAY, other calendars) goes to libical.

struct DayRule {
  int freq = 0;  // ICAL_DAILY_RECURRENCE .. ICAL_YEARLY_RECURRENCE
  int interval = 1;
  std::vector<int> months, monthdays, setpos;
  std::vector<std::pair<int, int>> weekdays;  // (position, weekday 0 Sunday)
  int wkst = 1;                              // Monday
  int count = 0;
  int64_t until = 0;  // 0: none
};

bool day_rule_of(const icalrecurrencetype& r, const SeriesClock& clock, DayRule* out) {
  if (r.freq < ICAL_DAILY_RECURRENCE || r.freq > ICAL_YEARLY_RECURRENCE || r.rscale || !array_empty(r.by_second) ||
      !array_empty(r.by_minute) || !array_empty(r.by_hour) || !array_empty(r.by_year_day) ||
      !array_empty(r.by_week_no))
    return false;
  out->freq = r.freq;
  out->interval = r.interval > 0 ? r.interval : 1;
  for (int i = 0; r.by_month[i] != ICAL_RECURRENCE_ARRAY_MAX; i++) {
    if (r.by_month[i] < 1 || r.by_month[i] > 12) return false;  // leap months of other calendars
    out->months.push_back(r.by_month[i]);
  }
  for (int i = 0; r.by_month_day[i] != ICAL_RECURRENCE_ARRAY_MAX; i++) out->monthdays.push_back(r.by_month_day[i]);
  for (int i = 0; r.by_set_pos[i] != ICAL_RECURRENCE_ARRAY_MAX; i++) out->setpos.push_back(r.by_set_pos[i]);
  for (int i = 0; r.by_day[i] != ICAL_RECURRENCE_ARRAY_MAX; i++)
    out->weekdays.emplace_back(icalrecurrencetype_day_position(r.by_day[i]),
                               static_cast<int>(icalrecurrencetype_day_day_of_week(r.by_day[i])) - 1);
  if (r.week_start >= ICAL_SUNDAY_WEEKDAY && r.week_start <= ICAL_SATURDAY_WEEKDAY)
    out->wkst = static_cast<int>(r.week_start) - 1;
  out->count = r.count;
  if (!icaltime_is_null_time(r.until))
    out->until = clock.time_of(r.until.year, r.until.month, r.until.day, r.until.is_date ? 23 : r.until.hour,
                               r.until.is_date ? 59 : r.until.minute, r.until.is_date ? 59 : r.until.second);
  return true;
}

bool has(const std::vector<int>& v, int x) { return std::find(v.begin(), v.end(), x) != v.end(); }

// The days of the weekday entries within [first, last], positions counted
// in that range.
void weekdays_in(const DayRule& r, int64_t first, int64_t last, std::vector<int64_t>* out) {
  for (const auto& [pos, wd] : r.weekdays) {
    int64_t f = first + ((wd - weekday_of(first)) % 7 + 7) % 7;
    int64_t l = last - ((weekday_of(last) - wd) % 7 + 7) % 7;
    if (pos == 0) {
      for (int64_t d = f; d <= last; d += 7) out->push_back(d);
    } else if (pos > 0) {
      int64_t d = f + int64_t(pos - 1) * 7;
      if (d <= last) out->push_back(d);
    } else {
      int64_t d = l + int64_t(pos + 1) * 7;
      if (d >= first) out->push_back(d);
    }
  }
}

// BYMONTHDAY of one month, negatives from its end.
void monthdays_in(const DayRule& r, int64_t y, int m, std::vector<int64_t>* out) {
  int dim = days_in_month(y, m);
  int64_t first = days_from_civil(y, m, 1);
  for (int md : r.monthdays) {
    int d = md > 0 ? md : dim + md + 1;
    if (d >= 1 && d <= dim) out->push_back(first + d - 1);
  }
}

// The candidate days of one month: its month days, weekdays, both, or the
// start's day of the month.
void month_days(const DayRule& r, int64_t y, int m, int start_mday, std::vector<int64_t>* out) {
  int64_t first = days_from_civil(y, m, 1), last = first + days_in_month(y, m) - 1;
  if (!r.monthdays.empty()) {
    std::vector<int64_t> days;
    monthdays_in(r, y, m, &days);
    if (r.weekdays.empty()) {
      out->insert(out->end(), days.begin(), days.end());
      return;
    }
    std::vector<int64_t> wds;
    weekdays_in(r, first, last, &wds);
    for (int64_t d : days)
      if (std::find(wds.begin(), wds.end(), d) != wds.end()) out->push_back(d);
  } else if (!r.weekdays.empty()) {
    weekdays_in(r, first, last, out);
  } else if (start_mday <= days_in_month(y, m)) {
    out->push_back(first + start_mday - 1);
  }
}

// The candidates of period `key` (a day, a week's first day, months since
// year 0, or a year), sorted, BYSETPOS applied.
// `sm` and `sd`: the month and day of the month of `start_day`.
void period_days(const DayRule& r, int64_t key, int64_t start_day, int sm, int sd, std::vector<int64_t>* out) {
  out->clear();
  switch (r.freq) {
    case ICAL_DAILY_RECURRENCE: {
      int64_t y;
      int m, d;
      civil_from_days(key, &y, &m, &d);
      if (!r.months.empty() && !has(r.months, m)) return;
      if (!r.monthdays.empty()) {
        std::vector<int64_t> md;
        monthdays_in(r, y, m, &md);
        if (std::find(md.begin(), md.end(), key) == md.end()) return;
      }
      if (!r.weekdays.empty()) {
        bool ok = false;
        for (const auto& w : r.weekdays) ok = ok || w.second == weekday_of(key);
        if (!ok) return;
      }
      out->push_back(key);
      break;
    }
    case ICAL_WEEKLY_RECURRENCE: {
      if (r.weekdays.empty()) {
        out->push_back(key + ((weekday_of(start_day) - r.wkst) % 7 + 7) % 7);
      } else {
        for (const auto& w : r.weekdays) out->push_back(key + ((w.second - r.wkst) % 7 + 7) % 7);
      }
      if (!r.months.empty()) {
        std::vector<int64_t> kept;
        for (int64_t d : *out) {
          int64_t y;
          int m, dd;
          civil_from_days(d, &y, &m, &dd);
          if (has(r.months, m)) kept.push_back(d);
        }
        out->swap(kept);
      }
      break;
    }
    case ICAL_MONTHLY_RECURRENCE: {
      int64_t y = floor_div(key, 12);
      int m = static_cast<int>(key - y * 12) + 1;
      if (!r.months.empty() && !has(r.months, m)) return;
      month_days(r, y, m, sd, out);
      break;
    }
    default: {  // yearly
      int64_t y = key;
      if (!r.months.empty()) {
        for (int m : r.months) month_days(r, y, m, sd, out);
      } else if (!r.monthdays.empty()) {
        month_days(r, y, sm, sd, out);  // the start's month, as libical reads it
      } else if (!r.weekdays.empty()) {
        weekdays_in(r, days_from_civil(y, 1, 1), days_from_civil(y, 12, 31), out);
      } else if (sd <= days_in_month(y, sm)) {
        out->push_back(days_from_civil(y, sm, sd));
      }
      break;
    }
  }
  std::sort(out->begin(), out->end());
  out->erase(std::unique(out->begin(), out->end()), out->end());
  if (!r.setpos.empty() && !out->empty()) {
    std::vector<int64_t> picked;
    int n = static_cast<int>(out->size());
    for (int p : r.setpos) {
      int i = p > 0 ? p - 1 : n + p;
      if (i >= 0 && i < n) picked.push_back((*out)[static_cast<size_t>(i)]);
    }
    std::sort(picked.begin(), picked.end());
    picked.erase(std::unique(picked.begin(), picked.end()), picked.end());
    out->swap(picked);
  }
}

// The local wall seconds (day number * 86400 + seconds into the day) of UTC
// time `t`.
int64_t local_wall_of(int64_t t) {
  int64_t wall;
  if (zone_wall_of(t, &wall)) return wall;
  time_t tt = static_cast<time_t>(t);
  struct tm tm {};
  localtime_r(&tt, &tm);
  return days_from_civil(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) * 86400 + tm.tm_hour * 3600 + tm.tm_min * 60 +
         tm.tm_sec;
}

// Expansion state of a day rule: the period under way and its days.
struct DayIter {
  const DayRule& rule;  // the Compiled's own, which outlives this
  int64_t start = 0;      // the series' start
  int64_t start_day = 0;  // its day number
  int start_month = 1, start_mday = 1;
  int hour = 0, minute = 0, second = 0;
  int64_t key = 0;
  std::vector<int64_t> days;
  size_t next = 0;
  int emitted = 0;  // rule days so far, the start's own included
  bool done = false;

  DayIter(const DayRule& r, int64_t due, const SeriesClock& c) : rule(r), start(due), clock(c) {
    int64_t wall = clock.wall_of(due);
    start_day = floor_div(wall, 86400);
    int64_t secs = wall - start_day * 86400;
    hour = static_cast<int>(secs / 3600);
    minute = static_cast<int>(secs / 60 % 60);
    second = static_cast<int>(secs % 60);
    int64_t y;
    int m, d;
    civil_from_days(start_day, &y, &m, &d);
    start_month = m;
    start_mday = d;
    switch (r.freq) {
      case ICAL_DAILY_RECURRENCE: key = start_day; break;
      case ICAL_WEEKLY_RECURRENCE: key = start_day - ((weekday_of(start_day) - r.wkst) % 7 + 7) % 7; break;
      case ICAL_MONTHLY_RECURRENCE: key = y * 12 + m - 1; break;
      default: key = y; break;
    }
    period_days(rule, key, start_day, start_month, start_mday, &days);
  }

  // The local time of day `d` at the start's clock: by the zone's table
  // where the clock shows that time once; otherwise the last offset from UTC
  // is tried first (one conversion instead of two), then the full search.
  int64_t local_at(int64_t d) {
    int64_t wall = d * 86400 + hour * 3600 + minute * 60 + second;
    if ((wall >= span.wall_from && wall < span.wall_to) || zone_span_of(clock.zone, wall, &span)) {
      offset = span.offset;
      have_offset = true;
      return wall - span.offset;
    }
    if (clock.zone) {
      int64_t y;
      int m, dd;
      civil_from_days(d, &y, &m, &dd);
      return time_zone_time_of(clock.zone, WallTime{static_cast<int>(y), m, dd, hour, minute, second});
    }
    if (have_offset) {
      time_t t = static_cast<time_t>(wall - offset);
      struct tm tm {};
      if (localtime_r(&t, &tm) && tm.tm_gmtoff == offset && tm.tm_hour == hour && tm.tm_min == minute &&
          tm.tm_sec == second)
        return t;
    }
    int64_t y;
    int m, dd;
    civil_from_days(d, &y, &m, &dd);
    int64_t t = local_time_of(static_cast<int>(y), m, dd, hour, minute, second);
    if (t) {
      offset = wall - t;
      have_offset = true;
    }
    return t;
  }
  long offset = 0;
  bool have_offset = false;
  ZoneSpan span;  // the last span of the zone's table used
  SeriesClock clock;

  // Moves to the last period that starts on or before `day` (a rule without
  // COUNT only: a count needs every occurrence before). False when it
  // cannot move forward.
  bool skip_to(int64_t day) {
    if (rule.count > 0 || done) return false;
    int64_t target, k;
    int64_t y;
    int m, d;
    civil_from_days(day, &y, &m, &d);
    switch (rule.freq) {
      case ICAL_DAILY_RECURRENCE: target = day; break;
      case ICAL_WEEKLY_RECURRENCE: target = day - ((weekday_of(day) - rule.wkst) % 7 + 7) % 7; break;
      case ICAL_MONTHLY_RECURRENCE: target = y * 12 + m - 1; break;
      default: target = y; break;
    }
    int64_t unit = rule.freq == ICAL_WEEKLY_RECURRENCE ? 7 * int64_t(rule.interval) : rule.interval;
    k = floor_div(target - key, unit);
    if (k <= 0) return false;
    key += k * unit;
    period_days(rule, key, start_day, start_month, start_mday, &days);
    next = 0;
    return true;
  }
  // The first day of the period under way.
  int64_t period_start() const {
    switch (rule.freq) {
      case ICAL_MONTHLY_RECURRENCE: return days_from_civil(floor_div(key, 12), static_cast<int>(key - floor_div(key, 12) * 12) + 1, 1);
      case ICAL_YEARLY_RECURRENCE: return days_from_civil(key, 1, 1);
      default: return key;
    }
  }

  // The next occurrence after the start; false when the rule has ended.
  bool step(int64_t* out) {
    if (done) return false;
    int empty_periods = 0;
    for (;;) {
      while (next < days.size()) {
        if (rule.count > 0 && emitted >= rule.count) return done = true, false;
        int64_t d = days[next++];
        if (d < start_day) continue;
        if (d == start_day) {
          emitted++;  // the start, which the series has already
          continue;
        }
        int64_t t = local_at(d);
        if (!t) continue;
        if (rule.until && t > rule.until) return done = true, false;
        emitted++;
        *out = t;
        return true;
      }
      // A rule whose days never come (31 February) ends.
      if (++empty_periods > 2000) return done = true, false;
      switch (rule.freq) {
        case ICAL_DAILY_RECURRENCE: key += rule.interval; break;
        case ICAL_WEEKLY_RECURRENCE: key += 7 * int64_t(rule.interval); break;
        default: key += rule.interval; break;
      }
      period_days(rule, key, start_day, start_month, start_mday, &days);
      next = 0;
      if (!days.empty()) empty_periods = 0;
    }
  }
};

// A rule with what has been expanded of it so far. Occurrences below
// `covered` are all in `occ`; the added and moved ones are there from the
// start, since they can fall anywhere.
struct Compiled {
  // What every query reads comes first: the parsed rule is kilobytes.
  int64_t anchor = -1;  // the due time the cache was made from
  int64_t covered = 0;
  // Occurrences from here on are known (an open series is not expanded
  // through the years nobody looks at); a query before it starts again.
  int64_t known_from = INT64_MIN;
  bool complete = false;
  std::vector<int64_t> occ;
  bool has_rrule = false;
  bool day_rule = false;
  bool open_ended = false;  // neither COUNT nor UNTIL
  FullRule rule;
  std::unique_ptr<icalrecurrencetype> recur;  // for libical's expansion only
  icalrecur_iterator* it = nullptr;
  std::unique_ptr<DayIter> days;  // instead of `it` for rules of whole days
  DayRule day;
  SeriesClock clock;

  Compiled() = default;
  Compiled(const Compiled&) = delete;
  Compiled& operator=(const Compiled&) = delete;
  ~Compiled() { drop_iterator(); }
  void drop_iterator() {
    if (it) icalrecur_iterator_free(it);
    it = nullptr;
    days.reset();
  }
};

// Indexed by Item::full_rule - 1.
std::vector<std::unique_ptr<Compiled>>& rules() {
  static std::vector<std::unique_ptr<Compiled>> r;
  return r;
}

// More occurrences than this count as a rule without an end: a daily rule
// over centuries is not worth the memory.
constexpr size_t kMaxOccurrences = 200000;
// Each expansion step reaches this far past what was asked for, so that the
// queries of one view (a month of the calendar, the upcoming days) rarely
// expand twice.
constexpr int64_t kLookAhead = 35 * 86400;

Compiled* compiled_of(const Item* item) {
  if (!item || item->full_rule <= 0 || static_cast<size_t>(item->full_rule) > rules().size()) return nullptr;
  return rules()[static_cast<size_t>(item->full_rule - 1)].get();
}

icaltimetype wall_ical(const SeriesClock& clock, int64_t t) {
  struct tm tm = clock.wall(t);
  icaltimetype v = icaltime_null_time();
  v.year = tm.tm_year + 1900;
  v.month = tm.tm_mon + 1;
  v.day = tm.tm_mday;
  v.hour = tm.tm_hour;
  v.minute = tm.tm_min;
  v.second = tm.tm_sec;
  v.is_date = 0;
  return v;
}

int64_t ical_wall(const SeriesClock& clock, const icaltimetype& v) {
  return clock.time_of(v.year, v.month, v.day, v.hour, v.minute, v.second);
}

bool contains(const std::vector<int64_t>& sorted, int64_t t) { return std::binary_search(sorted.begin(), sorted.end(), t); }

bool is_moved(const FullRule& r, int64_t t) {
  auto it = std::lower_bound(r.moved.begin(), r.moved.end(), std::make_pair(t, INT64_MIN));
  return it != r.moved.end() && it->first == t;
}

void reset_cache(Compiled* c, int64_t due) {
  c->drop_iterator();
  c->anchor = due;
  c->occ.clear();
  c->complete = false;
  c->covered = INT64_MIN;
  c->known_from = INT64_MIN;
  const FullRule& r = c->rule;
  // The start is an occurrence of its own, unless taken out or moved.
  if (due && !contains(r.exdates, due) && !is_moved(r, due)) c->occ.push_back(due);
  for (int64_t t : r.rdates)
    if (!contains(r.exdates, t)) c->occ.push_back(t);
  for (const auto& m : r.moved) c->occ.push_back(m.second);
  std::sort(c->occ.begin(), c->occ.end());
  c->occ.erase(std::unique(c->occ.begin(), c->occ.end()), c->occ.end());
  if (c->has_rrule && due && c->day_rule) {
    c->days = std::make_unique<DayIter>(c->day, due, c->clock);
  } else if (c->has_rrule && due) {
    c->it = icalrecur_iterator_new(*c->recur, wall_ical(c->clock, due));
    if (!c->it) log_message(LOG_ERROR, "full_rule: no iterator");
  }
  if (!c->it && !c->days) {
    c->complete = true;
    c->covered = INT64_MAX;
  }
}

// Expands until `until` is covered (at least one occurrence further).
void extend(Compiled* c, int64_t until) {
  // New occurrences go straight after the known ones and are merged in.
  std::vector<int64_t>& got = c->occ;
  const size_t mid = got.size();
  for (int i = 0;; i++) {
    if (i > 0 && c->covered >= until) break;
    int64_t t = 0;
    if (c->days) {
      if (!c->days->step(&t)) {
        c->complete = true;
        break;
      }
    } else {
      icaltimetype v = icalrecur_iterator_next(c->it);
      if (icaltime_is_null_time(v)) {
        c->complete = true;
        break;
      }
      t = ical_wall(c->clock, v);
    }
    if (!t) continue;
    c->covered = t;
    if (contains(c->rule.exdates, t) || is_moved(c->rule, t)) continue;
    got.push_back(t);
  }
  if (c->complete) c->covered = INT64_MAX;
  if (got.size() > mid) {
    std::inplace_merge(c->occ.begin(), c->occ.begin() + static_cast<std::ptrdiff_t>(mid), c->occ.end());
    c->occ.erase(std::unique(c->occ.begin(), c->occ.end()), c->occ.end());
  }
  if (c->occ.size() > kMaxOccurrences && !c->complete) {
    log_message(LOG_WARNING, "full_rule: expansion cut at %zu occurrences", c->occ.size());
    c->complete = true;
    c->covered = INT64_MAX;
  }
  if (c->complete) c->drop_iterator();
}

// A series expanded this far behind a query is skipped ahead instead.
constexpr int64_t kSkipAfter = 62 * 86400;

// The item's rule, ready for a query from `from`.
Compiled* ready(const Item* item, int64_t from = INT64_MIN) {
  Compiled* c = compiled_of(item);
  if (!c) return nullptr;
  if (c->anchor != item->due || from < c->known_from) reset_cache(c, item->due);
  int64_t reached = c->covered == INT64_MIN ? c->anchor : c->covered;
  if (c->days && !c->complete && from != INT64_MIN && from - reached > kSkipAfter) {
    if (c->days->skip_to(floor_div(c->clock.wall_of(from - 86400), 86400))) {
      int64_t day = c->days->period_start();
      ZoneSpan span;
      if (zone_span_of(c->clock.zone, day * 86400, &span)) {
        c->known_from = c->covered = day * 86400 - span.offset;
      } else {
        int64_t y;
        int m, d;
        civil_from_days(day, &y, &m, &d);
        c->known_from = c->covered = c->clock.time_of(static_cast<int>(y), m, d, 0, 0, 0);
      }
    }
  }
  return c;
}

// --- Text form ---------------------------------------------------------------

void append_times(std::string* out, const char* name, const std::vector<int64_t>& ts) {
  if (ts.empty()) return;
  *out += name;
  *out += ':';
  for (size_t i = 0; i < ts.size(); i++) {
    if (i) *out += ',';
    *out += std::to_string(ts[i]);
  }
  *out += '\n';
}

bool parse_number(const std::string& s, int64_t* out) {
  if (s.empty()) return false;
  char* end = nullptr;
  long long v = std::strtoll(s.c_str(), &end, 10);
  if (*end) return false;
  *out = v;
  return true;
}

bool parse_list(const std::string& value, std::vector<int64_t>* out) {
  size_t pos = 0;
  while (pos <= value.size()) {
    size_t comma = value.find(',', pos);
    if (comma == std::string::npos) comma = value.size();
    int64_t t;
    if (!parse_number(value.substr(pos, comma - pos), &t)) return false;
    out->push_back(t);
    pos = comma + 1;
  }
  std::sort(out->begin(), out->end());
  return true;
}

// libical hands an RSCALE value over as a fresh copy that nothing frees: keep
// one copy per calendar name for the process instead.
char* interned_rscale(char* owned) {
  static std::mutex lock;
  static std::set<std::string> names;
  std::lock_guard<std::mutex> guard(lock);
  const char* kept = names.insert(owned).first->c_str();
  icalmemory_free_buffer(owned);
  return const_cast<char*>(kept);
}

bool parse_rrule(const std::string& value, icalrecurrencetype* out) {
  icalerror_clear_errno();
  *out = icalrecurrencetype_from_string(value.c_str());
  if (out->rscale) out->rscale = interned_rscale(out->rscale);
  return out->freq != ICAL_NO_RECURRENCE && icalerrno == ICAL_NO_ERROR;
}

// About how far a rule runs from `start`: to its UNTIL, over its COUNT, or
// open (INT64_MAX).
int64_t series_reach(const icalrecurrencetype& r, const SeriesClock& clock, int64_t start) {
  if (!icaltime_is_null_time(r.until)) return clock.time_of(r.until.year, r.until.month, r.until.day, 23, 59, 59);
  if (r.count <= 0) return INT64_MAX;
  static const int64_t kPeriod[] = {0, 0, 0, 86400, 7 * 86400, 31 * 86400, 366 * 86400};
  int64_t period = r.freq >= ICAL_DAILY_RECURRENCE && r.freq <= ICAL_YEARLY_RECURRENCE ? kPeriod[r.freq] : 86400;
  int64_t span = period * (r.interval > 0 ? r.interval : 1) * r.count;
  return span > INT64_MAX - start ? INT64_MAX : start + span;
}

}  // namespace

std::string full_rule_format(const FullRule& rule) {
  std::string out;
  if (!rule.rrule.empty()) out += "RRULE:" + rule.rrule + "\n";
  append_times(&out, "EXDATE", rule.exdates);
  append_times(&out, "RDATE", rule.rdates);
  if (!rule.moved.empty()) {
    out += "MOVED:";
    for (size_t i = 0; i < rule.moved.size(); i++) {
      if (i) out += ',';
      out += std::to_string(rule.moved[i].first) + "=" + std::to_string(rule.moved[i].second);
    }
    out += '\n';
  }
  if (!rule.tzid.empty()) out += "TZID:" + rule.tzid + "\n";
  size_t pos = 0;
  while (pos < rule.vtimezone.size()) {
    size_t end = rule.vtimezone.find('\n', pos);
    if (end == std::string::npos) end = rule.vtimezone.size();
    size_t e = end > pos && rule.vtimezone[end - 1] == '\r' ? end - 1 : end;
    if (e > pos) out += "VTIMEZONE:" + rule.vtimezone.substr(pos, e - pos) + "\n";
    pos = end + 1;
  }
  return out;
}

const TimeZone* full_rule_zone(const FullRule& rule) {
  return rule.tzid.empty() ? nullptr : time_zone_find(rule.tzid, rule.vtimezone);
}

int full_rule_parse(const std::string& text, FullRule* out) {
  *out = FullRule();
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) nl = text.size();
    std::string line = text.substr(pos, nl - pos);
    pos = nl + 1;
    if (line.empty()) continue;
    size_t colon = line.find(':');
    if (colon == std::string::npos) return -1;
    std::string name = line.substr(0, colon), value = line.substr(colon + 1);
    if (name == "RRULE") {
      icalrecurrencetype r;
      if (!parse_rrule(value, &r)) return -1;
      out->rrule = value;
    } else if (name == "EXDATE") {
      if (!parse_list(value, &out->exdates)) return -1;
    } else if (name == "RDATE") {
      if (!parse_list(value, &out->rdates)) return -1;
    } else if (name == "MOVED") {
      size_t p = 0;
      while (p <= value.size()) {
        size_t comma = value.find(',', p);
        if (comma == std::string::npos) comma = value.size();
        std::string pair = value.substr(p, comma - p);
        size_t eq = pair.find('=');
        int64_t a, b;
        if (eq == std::string::npos || !parse_number(pair.substr(0, eq), &a) || !parse_number(pair.substr(eq + 1), &b))
          return -1;
        out->moved.emplace_back(a, b);
        p = comma + 1;
      }
      std::sort(out->moved.begin(), out->moved.end());
    } else if (name == "TZID") {
      out->tzid = value;
    } else if (name == "VTIMEZONE") {
      out->vtimezone += value + "\r\n";
    } else {
      return -1;
    }
  }
  return 0;
}

bool full_rule_needed(const FullRule& rule, int64_t start) {
  if (!rule.exdates.empty() || !rule.rdates.empty() || !rule.moved.empty()) return true;
  if (rule.rrule.empty()) return false;
  icalrecurrencetype r;
  if (!parse_rrule(rule.rrule, &r)) return true;
  if (r.freq < ICAL_DAILY_RECURRENCE || r.freq > ICAL_YEARLY_RECURRENCE) return true;
  SeriesClock clock{full_rule_zone(rule)};
  if (clock.zone && !time_zone_same_as_local(clock.zone, start, series_reach(r, clock, start))) return true;
  if (r.rscale || !array_empty(r.by_second) || !array_empty(r.by_minute) || !array_empty(r.by_hour) ||
      !array_empty(r.by_year_day) || !array_empty(r.by_week_no) || !array_empty(r.by_set_pos))
    return true;
  struct tm tm = clock.wall(start);
  // A BYMONTH or BYMONTHDAY that names only the start's own month or day
  // says nothing more.
  if (!array_empty(r.by_month) && (r.freq != ICAL_YEARLY_RECURRENCE || r.by_month[0] != tm.tm_mon + 1 ||
                                   r.by_month[1] != ICAL_RECURRENCE_ARRAY_MAX))
    return true;
  if (!array_empty(r.by_month_day) &&
      ((r.freq != ICAL_MONTHLY_RECURRENCE && r.freq != ICAL_YEARLY_RECURRENCE) || r.by_month_day[0] != tm.tm_mday ||
       r.by_month_day[1] != ICAL_RECURRENCE_ARRAY_MAX))
    return true;
  if (array_empty(r.by_day)) return false;
  if (r.freq == ICAL_WEEKLY_RECURRENCE) {
    for (int i = 0; r.by_day[i] != ICAL_RECURRENCE_ARRAY_MAX; i++)
      if (icalrecurrencetype_day_position(r.by_day[i]) != 0) return true;
    return false;
  }
  if (r.freq == ICAL_MONTHLY_RECURRENCE && array_empty(r.by_month_day) && r.by_day[1] == ICAL_RECURRENCE_ARRAY_MAX) {
    int pos = icalrecurrencetype_day_position(r.by_day[0]);
    int wday = static_cast<int>(icalrecurrencetype_day_day_of_week(r.by_day[0])) - 1;  // 0 Sunday
    return !(pos >= 1 && pos <= 4 && wday == tm.tm_wday && week_of_month(tm.tm_mday) == pos - 1);
  }
  return true;
}

// --- Items ---------------------------------------------------------------------

int item_full_rule_set(int64_t slot, const std::string& text) {
  Item* item = item_get(slot);
  if (!item) return -1;
  int rc = 0;
  if (text.empty()) {
    if (compiled_of(item)) rules()[static_cast<size_t>(item->full_rule - 1)].reset();
    item->full_rule = 0;
  } else {
    auto c = std::make_unique<Compiled>();
    if (full_rule_parse(text, &c->rule) != 0) {
      log_message(LOG_ERROR, "item_full_rule_set: malformed rule");
      rc = -1;
      item->full_rule = 0;
    } else {
      auto recur = std::make_unique<icalrecurrencetype>();
      c->has_rrule = !c->rule.rrule.empty() && parse_rrule(c->rule.rrule, recur.get());
      c->clock.zone = full_rule_zone(c->rule);
      c->day_rule = c->has_rrule && day_rule_of(*recur, c->clock, &c->day);
      c->open_ended = c->has_rrule && recur->count == 0 && icaltime_is_null_time(recur->until);
      if (c->has_rrule && !c->day_rule) c->recur = std::move(recur);
      if (compiled_of(item)) {
        rules()[static_cast<size_t>(item->full_rule - 1)] = std::move(c);
      } else {
        rules().push_back(std::move(c));
        item->full_rule = static_cast<int32_t>(rules().size());
      }
    }
  }
  item_set_last_occurrence(item);
  return rc;
}

const FullRule* item_full_rule(const Item* item) {
  const Compiled* c = compiled_of(item);
  return c ? &c->rule : nullptr;
}

void full_rules_reset() { rules().clear(); }

void full_rules_expire() {
  zone_offsets_reset();
  for (auto& c : rules())
    if (c) {
      c->drop_iterator();
      c->anchor = -1;
    }
}

int64_t full_rule_from(const Item* item, int64_t from) {
  Compiled* c = ready(item, from);
  if (!c) return 0;
  for (;;) {
    auto it = std::lower_bound(c->occ.begin(), c->occ.end(), from);
    if (it != c->occ.end() && (*it <= c->covered || c->complete)) return *it;
    if (c->complete) return 0;
    int64_t need = std::max(from, c->covered == INT64_MIN ? c->anchor : c->covered);
    extend(c, need > INT64_MAX - kLookAhead ? INT64_MAX : need + kLookAhead);
  }
}

void full_rule_each(const Item* item, int64_t from, int64_t to, const std::function<void(int64_t)>& fn) {
  Compiled* c = ready(item, from);
  if (!c || to <= from) return;
  while (!c->complete && c->covered < to) extend(c, to > INT64_MAX - kLookAhead ? INT64_MAX : to + kLookAhead);
  for (auto it = std::lower_bound(c->occ.begin(), c->occ.end(), from); it != c->occ.end() && *it < to; ++it) fn(*it);
}

int64_t full_rule_last(const Item* item) {
  Compiled* c = ready(item);
  if (!c) return 0;
  if (c->open_ended) return RECUR_FOREVER_TIME;
  while (!c->complete) extend(c, INT64_MAX);
  if (c->occ.size() > kMaxOccurrences) return RECUR_FOREVER_TIME;
  return c->occ.empty() ? 0 : c->occ.back();
}

// --- Text for people --------------------------------------------------------------

namespace {

std::string line_of(StrId id, int n) {
  const char *start, *end;
  text_line(ui_text(id), n, &start, &end);
  return std::string(start, end);
}

// "a", "a and b", "a, b and c".
std::string join_and(const std::vector<std::string>& parts) {
  std::string out;
  for (size_t i = 0; i < parts.size(); i++) {
    if (i) out += i + 1 == parts.size() ? std::string(" ") + ui_text(STR_RULE_AND) + " " : std::string(", ");
    out += parts[i];
  }
  return out;
}

// The text's first letter as a capital (the "every n ..." texts start small).
std::string capitalised(const std::string& s) {
  if (s.empty()) return s;
  gunichar c = g_utf8_get_char_validated(s.c_str(), static_cast<gssize>(s.size()));
  if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) return s;
  char buf[8];
  int n = g_unichar_to_utf8(g_unichar_toupper(c), buf);
  const char* rest = g_utf8_next_char(s.c_str());
  return std::string(buf, static_cast<size_t>(n)) + rest;
}

// Monday-first index of an iCalendar weekday (1 Sunday .. 7 Saturday).
int monday_first(int ical_weekday) { return (ical_weekday + 5) % 7; }

std::string ordinal(int pos, int weekday_m1) {
  int idx = pos >= 1 && pos <= 5 ? pos - 1 : pos == -1 ? 5 : pos == -2 ? 6 : -1;
  if (idx < 0) return std::to_string(pos) + ".";
  std::string genders = ui_text(STR_RULE_WEEKDAY_GENDERS);
  char g = weekday_m1 >= 0 && static_cast<size_t>(weekday_m1) < genders.size() ? genders[static_cast<size_t>(weekday_m1)] : 'm';
  StrId list = g == 'f' ? STR_RULE_ORDINALS_F : g == 'n' ? STR_RULE_ORDINALS_N : STR_RULE_ORDINALS;
  return line_of(list, idx);
}

std::string date_text(int64_t t) {
  time_t tt = static_cast<time_t>(t);
  struct tm tm {};
  localtime_r(&tt, &tm);
  time_t now = time(nullptr);
  struct tm today {};
  localtime_r(&now, &today);
  std::string month = line_of(STR_RULE_MONTHS_OF, tm.tm_mon);
  std::string date = ui_format(STR_RULE_DATE, std::to_string(tm.tm_mday).c_str(), month.c_str());
  if (tm.tm_year == today.tm_year) return date;
  return ui_format(STR_RULE_DATE_YEAR, date.c_str(), std::to_string(tm.tm_year + 1900).c_str());
}

std::string dates_text(const std::vector<int64_t>& ts) {
  std::vector<std::string> parts;
  for (int64_t t : ts) parts.push_back(date_text(t));
  return join_and(parts);
}

std::vector<short> values(const short* a) {
  std::vector<short> v;
  for (int i = 0; a[i] != ICAL_RECURRENCE_ARRAY_MAX; i++) v.push_back(a[i]);
  return v;
}

// What the rule says before its end: frequency, days, months, positions.
std::string rule_body(const icalrecurrencetype& r, int64_t start) {
  int interval = r.interval > 1 ? r.interval : 1;
  std::vector<short> days = values(r.by_day), mdays = values(r.by_month_day), months = values(r.by_month),
                     setpos = values(r.by_set_pos);
  bool plain_days = !days.empty();
  for (short d : days)
    if (icalrecurrencetype_day_position(d) != 0) plain_days = false;
  std::vector<std::string> parts;
  // Plain weekdays of a daily or weekly rule read "Every Monday and Thursday".
  if (plain_days && interval == 1 &&
      (r.freq == ICAL_WEEKLY_RECURRENCE || r.freq == ICAL_DAILY_RECURRENCE) && setpos.empty()) {
    std::vector<std::string> names;
    for (short d : days) names.push_back(line_of(STR_RULE_WEEKDAYS_EVERY, monday_first(icalrecurrencetype_day_day_of_week(d))));
    parts.push_back(ui_format(STR_RULE_EVERY_WEEKDAYS, join_and(names).c_str()));
    days.clear();
  } else {
    switch (r.freq) {
      case ICAL_DAILY_RECURRENCE:
        parts.push_back(interval > 1 ? capitalised(ui_plural_format(STR_EVERY_N_DAYS, interval)) : ui_text(STR_FREQ_DAILY));
        break;
      case ICAL_WEEKLY_RECURRENCE:
        parts.push_back(interval > 1 ? capitalised(ui_plural_format(STR_EVERY_N_WEEKS, interval)) : ui_text(STR_FREQ_WEEKLY));
        break;
      case ICAL_MONTHLY_RECURRENCE:
        parts.push_back(interval > 1 ? capitalised(ui_plural_format(STR_EVERY_N_MONTHS, interval)) : ui_text(STR_FREQ_MONTHLY));
        break;
      case ICAL_YEARLY_RECURRENCE:
        parts.push_back(interval > 1 ? capitalised(ui_plural_format(STR_EVERY_N_YEARS, interval)) : ui_text(STR_FREQ_YEARLY));
        break;
      default:
        // Hourly and finer: the rule's own text says it best.
        parts.push_back(icalrecurrencetype_as_string(const_cast<icalrecurrencetype*>(&r)));
        return parts[0];
    }
  }
  if (!days.empty()) {
    std::vector<std::string> names;
    bool numbered = false;
    for (short d : days) {
      int wd = monday_first(icalrecurrencetype_day_day_of_week(d));
      int pos = icalrecurrencetype_day_position(d);
      if (pos == 0) {
        names.push_back(line_of(STR_RULE_WEEKDAYS_NTH, wd));
      } else {
        numbered = true;
        names.push_back(ui_format(STR_RULE_NTH_WEEKDAY, ordinal(pos, wd).c_str(), line_of(STR_RULE_WEEKDAYS_NTH, wd).c_str()));
      }
    }
    std::string list = join_and(names);
    if (numbered && r.freq == ICAL_MONTHLY_RECURRENCE) list = ui_format(STR_RULE_OF_MONTH, list.c_str());
    if (numbered && r.freq == ICAL_YEARLY_RECURRENCE && months.empty()) list = ui_format(STR_RULE_OF_YEAR, list.c_str());
    parts.push_back(ui_format(STR_RULE_ON, list.c_str()));
  }
  if (!mdays.empty()) {
    if (mdays.size() == 1 && mdays[0] == -1) {
      parts.push_back(ui_text(STR_RULE_LAST_DAY));
    } else if (mdays.size() == 1 && mdays[0] > 0) {
      parts.push_back(ui_format(STR_ON_DAY_N, static_cast<int>(mdays[0])));
    } else {
      std::vector<std::string> nums;
      for (short d : mdays) nums.push_back(std::to_string(d));
      parts.push_back(ui_format(STR_RULE_ON_MONTH_DAYS, join_and(nums).c_str()));
    }
  }
  if (!months.empty()) {
    std::vector<std::string> names;
    for (short m : months)
      if (m >= 1 && m <= 12) names.push_back(line_of(STR_RULE_MONTHS_IN, m - 1));
    parts.push_back(ui_format(STR_RULE_IN_MONTHS, join_and(names).c_str()));
  }
  if (!setpos.empty()) {
    std::vector<std::string> nums;
    for (short p : setpos) nums.push_back(p == -1 ? ordinal(-1, 0) : std::to_string(p));
    parts.push_back(ui_format(STR_RULE_SETPOS, join_and(nums).c_str()));
  }
  if (r.count > 0) {
    parts.push_back(ui_plural_format(STR_ENDS_AFTER_N, r.count));
  } else if (!icaltime_is_null_time(r.until)) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", r.until.year, r.until.month, r.until.day);
    parts.push_back(ui_format(STR_UNTIL_DATE, buf));
  }
  (void)start;
  std::string out;
  for (size_t i = 0; i < parts.size(); i++) {
    if (i) out += ", ";
    out += parts[i];
  }
  return out;
}

}  // namespace

std::string full_rule_text(const FullRule& rule, int64_t start) {
  std::string out;
  icalrecurrencetype r;
  if (!rule.rrule.empty() && parse_rrule(rule.rrule, &r)) out = rule_body(r, start);
  auto add = [&out](const std::string& part) {
    if (!out.empty()) out += ", ";
    out += part;
  };
  if (!rule.rdates.empty()) add(ui_format(STR_RULE_ALSO, dates_text(rule.rdates).c_str()));
  if (!rule.exdates.empty()) add(ui_format(STR_RULE_EXCEPT, dates_text(rule.exdates).c_str()));
  if (!rule.moved.empty()) add(ui_plural_format(STR_RULE_N_CHANGED, static_cast<long long>(rule.moved.size())));
  // The series keeps another clock than this one: say whose, since that is
  // why its times move against local ones.
  if (!out.empty() && !rule.tzid.empty()) out += " (" + rule.tzid + ")";
  return out;
}
