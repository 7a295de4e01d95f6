// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/recur.h"

#include <algorithm>
#include <ctime>

#include "model/full_rule.h"
#include "model/model.h"
#include "support/log.h"

// --- Civil dates (proleptic Gregorian, as the C library counts) ---------------

static int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

int64_t days_from_civil(int64_t y, int m, int d) {
  y -= m <= 2;
  int64_t era = floor_div(y, 400);
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civil_from_days(int64_t z, int64_t* y, int* m, int* d) {
  z += 719468;
  int64_t era = floor_div(z, 146097);
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = yoe + era * 400 + (*m <= 2);
}

int weekday_of(int64_t day) {  // day 0 was a Thursday
  int64_t w = (day + 4) % 7;
  return static_cast<int>(w < 0 ? w + 7 : w);
}

static bool leap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int days_in_month(int64_t y, int m) {
  static const int len[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leap(y) ? 29 : len[m - 1];
}

// Local broken-down time as day number and seconds into the day.
struct LocalTime {
  int64_t day;
  int64_t y;
  int month;  // 1..12
  int mday, wday, hour, min, sec;
  long gmtoff;
};

static bool local_of(int64_t t, LocalTime* lt) {
  time_t tt = static_cast<time_t>(t);
  struct tm tm;
  if (!localtime_r(&tt, &tm)) return false;
  lt->y = int64_t(tm.tm_year) + 1900;
  lt->month = tm.tm_mon + 1;
  lt->mday = tm.tm_mday;
  lt->wday = tm.tm_wday;
  lt->hour = tm.tm_hour;
  lt->min = tm.tm_min;
  lt->sec = tm.tm_sec;
  lt->gmtoff = tm.tm_gmtoff;
  lt->day = days_from_civil(lt->y, lt->month, lt->mday);
  return true;
}

// The time at which the local clock shows the given day and time of day (the
// fields may run over, like mktime's). Tries the offsets in force near that
// moment first; a time the clock skips, or one that stays ambiguous, is left to
// mktime with the DST flag -1. Sets *actual_day to the local date of the
// result. Returns 0 when the time cannot be represented.
static int64_t local_make(int64_t day, int64_t hour, int64_t min, int64_t sec, long hint, int64_t* actual_day = nullptr) {
  int64_t wall = day * 86400 + hour * 3600 + min * 60 + sec;
  long off = hint;
  for (int attempt = 0; attempt < 2; attempt++) {
    time_t t = static_cast<time_t>(wall - off);
    struct tm tm;
    if (!localtime_r(&t, &tm)) return 0;
    int64_t got = days_from_civil(int64_t(tm.tm_year) + 1900, tm.tm_mon + 1, tm.tm_mday) * 86400 +
                  tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
    if (got == wall) {
      if (actual_day) *actual_day = floor_div(wall, 86400);
      return t;
    }
    if (tm.tm_gmtoff == off) break;
    off = tm.tm_gmtoff;
  }
  int64_t wday_number = floor_div(wall, 86400);
  int64_t rest = wall - wday_number * 86400;
  int64_t y;
  int m, d;
  civil_from_days(wday_number, &y, &m, &d);
  if (y < -100000 || y > 100000) return 0;
  struct tm tm = {};
  tm.tm_year = static_cast<int>(y - 1900);
  tm.tm_mon = m - 1;
  tm.tm_mday = d;
  tm.tm_hour = static_cast<int>(rest / 3600);
  tm.tm_min = static_cast<int>(rest / 60 % 60);
  tm.tm_sec = static_cast<int>(rest % 60);
  tm.tm_isdst = -1;
  time_t t = mktime(&tm);
  if (t == static_cast<time_t>(-1)) return 0;
  if (actual_day) *actual_day = days_from_civil(int64_t(tm.tm_year) + 1900, tm.tm_mon + 1, tm.tm_mday);
  return t;
}

int64_t local_midnight(int64_t t) {
  LocalTime lt;
  if (!local_of(t, &lt)) return 0;
  return local_make(lt.day, 0, 0, 0, lt.gmtoff);
}

int64_t local_midnight_after(int64_t t, int days) {
  LocalTime lt;
  if (!local_of(t, &lt)) return 0;
  return local_make(lt.day + days, 0, 0, 0, lt.gmtoff);
}

int64_t local_day_at(int64_t t, int days, int64_t clock) {
  LocalTime day, at;
  if (!local_of(t, &day) || !local_of(clock, &at)) return 0;
  return local_make(day.day + days, at.hour, at.min, 0, day.gmtoff);
}

int week_of_month(int mday) {
  int week = (mday - 1) / 7;
  return week < 0 ? 0 : week > 3 ? 3 : week;
}

int64_t local_time_of(int year, int month, int day, int hour, int minute, int second) {
  // Months beyond 1..12 carry into the year, as in mktime.
  int64_t months = int64_t(year) * 12 + (month - 1);
  int64_t y = floor_div(months, 12);
  int m = static_cast<int>(months - y * 12) + 1;
  int64_t dn = days_from_civil(y, m, 1) + day - 1;
  LocalTime near;
  long hint = 0;
  if (local_of(dn * 86400, &near)) hint = near.gmtoff;
  return local_make(dn, hour, minute, second, hint);
}

// --- Recurrence ------------------------------------------------------------------

bool recur_active(const Recurrence& r) { return r.freq >= FREQ_DAILY && r.freq <= FREQ_YEARLY; }

// A rule anchored at its first occurrence. Occurrence candidates are numbered
// from 0 (the anchor): per period for daily, weekly, monthly and yearly
// rules, per day of the week grid for weekly rules with weekdays.
struct Series {
  int64_t anchor;
  int freq;
  int64_t n;
  int by_day;  // weekdays (0x7f) for weekly rules, any non-zero for monthly
  LocalTime a;
  int week;  // monthly by weekday: week of the month, 0..3
};

static bool series_init(Series* s, int64_t anchor, int freq, int interval_minus_one, int by_day) {
  if (freq < FREQ_DAILY || freq > FREQ_YEARLY) return false;
  if (!local_of(anchor, &s->a)) return false;
  s->anchor = anchor;
  s->freq = freq;
  s->n = int64_t(interval_minus_one & 0xff) + 1;
  s->by_day = freq == FREQ_WEEKLY ? (by_day & 0x7f) : (by_day & 0xff);
  s->week = week_of_month(s->a.mday);
  return true;
}

enum { CAND_OK, CAND_NONE, CAND_END };
constexpr int64_t kMaxYearSpan = 20000;  // candidates beyond this many years end a series

// Local date of candidate idx; CAND_NONE when that candidate is not an
// occurrence (a month without the day, a weekday not in the rule).
static int candidate_day(const Series& s, int64_t idx, int64_t* day) {
  const LocalTime& a = s.a;
  switch (s.freq) {
    case FREQ_DAILY:
      if (idx > kMaxYearSpan * 366 / s.n) return CAND_END;
      *day = a.day + idx * s.n;
      return CAND_OK;
    case FREQ_WEEKLY: {
      if (!s.by_day) {
        if (idx > kMaxYearSpan * 53 / s.n) return CAND_END;
        *day = a.day + idx * 7 * s.n;
        return CAND_OK;
      }
      // Grid of the days of the weeks from the anchor's Sunday on; idx 0 is the anchor.
      int64_t g = idx + a.wday;
      int64_t j = g / 7;
      int wd = static_cast<int>(g % 7);
      if (j > kMaxYearSpan * 53 / s.n) return CAND_END;
      bool ok = (j == 0 && wd == a.wday) || (s.by_day >> wd & 1);
      if (!ok) return CAND_NONE;
      *day = a.day - a.wday + j * 7 * s.n + wd;
      return CAND_OK;
    }
    case FREQ_MONTHLY: {
      if (idx > kMaxYearSpan * 12 / s.n) return CAND_END;
      int64_t months = a.y * 12 + (a.month - 1) + idx * s.n;
      int64_t y = floor_div(months, 12);
      int m = static_cast<int>(months - y * 12) + 1;
      if (!s.by_day) {
        if (a.mday > days_in_month(y, m)) return CAND_NONE;
        *day = days_from_civil(y, m, a.mday);
        return CAND_OK;
      }
      int64_t first = days_from_civil(y, m, 1);
      int d = 1 + a.wday - weekday_of(first);
      if (d <= 0) d += 7;
      *day = first + d - 1 + 7 * s.week;
      return CAND_OK;
    }
    case FREQ_YEARLY: {
      if (idx > kMaxYearSpan / s.n) return CAND_END;
      int64_t y = a.y + idx * s.n;
      *day = days_from_civil(y, a.month, 1) + a.mday - 1;  // 29 February runs over into 1 March
      return CAND_OK;
    }
  }
  return CAND_END;
}

// Time of candidate idx (the anchor itself for 0).
static int candidate(const Series& s, int64_t idx, int64_t* t, int64_t* actual_day = nullptr) {
  if (idx == 0) {
    *t = s.anchor;
    if (actual_day) *actual_day = s.a.day;
    return CAND_OK;
  }
  int64_t day;
  int c = candidate_day(s, idx, &day);
  if (c != CAND_OK) return c;
  *t = local_make(day, s.a.hour, s.a.min, s.a.sec, s.a.gmtoff, actual_day);
  return *t ? CAND_OK : CAND_END;
}

// A candidate index at or before the first occurrence on the local day `day`.
static int64_t estimate_index(const Series& s, int64_t day) {
  int64_t y, dd = day - s.a.day;
  int m, d;
  int64_t idx = 0;
  switch (s.freq) {
    case FREQ_DAILY:
      idx = floor_div(dd, s.n) - 1;
      break;
    case FREQ_WEEKLY:
      if (!s.by_day)
        idx = floor_div(dd, 7 * s.n) - 1;
      else
        idx = (floor_div(dd + s.a.wday, 7 * s.n) - 1) * 7 - s.a.wday;
      break;
    case FREQ_MONTHLY:
      civil_from_days(day, &y, &m, &d);
      idx = floor_div((y - s.a.y) * 12 + (m - s.a.month), s.n) - 1;
      break;
    case FREQ_YEARLY:
      civil_from_days(day, &y, &m, &d);
      idx = floor_div(y - s.a.y, s.n) - 1;
      break;
  }
  return idx < 0 ? 0 : idx;
}

// First occurrence at or after `from`, starting the search at idx; sets *at to
// its index. 0 when the series has none.
// `from_local`, when given, is the local time of `from` (callers that look at
// many items work it out once).
static int64_t series_from(const Series& s, int64_t from, int64_t* at = nullptr, int64_t* actual_day = nullptr,
                           const LocalTime* from_local = nullptr) {
  if (from <= s.anchor) {
    if (at) *at = 0;
    if (actual_day) *actual_day = s.a.day;
    return s.anchor;
  }
  LocalTime f;
  if (from_local)
    f = *from_local;
  else if (!local_of(from, &f))
    return 0;
  for (int64_t idx = estimate_index(s, f.day);; idx++) {
    int64_t day;
    int c = candidate_day(s, idx, &day);
    if (c == CAND_END) return 0;
    if (c == CAND_NONE && idx != 0) continue;
    // A local date two days before that of `from` cannot reach it.
    if (idx != 0 && day < f.day - 2) continue;
    int64_t t;
    c = candidate(s, idx, &t, actual_day);
    if (c == CAND_END) return 0;
    if (c == CAND_OK && t >= from) {
      if (at) *at = idx;
      return t;
    }
  }
}

int64_t recur_step(int64_t time, int freq, int interval_minus_one, int by_day) {
  Series s;
  if (!series_init(&s, time, freq, interval_minus_one, by_day)) return time;
  for (int64_t idx = 1;; idx++) {
    int64_t t;
    int c = candidate(s, idx, &t);
    if (c == CAND_END) return time;
    if (c == CAND_OK) return t;
  }
}

int64_t recur_first_at_or_after(int64_t due, const Recurrence& r, int64_t from) {
  Series s;
  if (!series_init(&s, due, r.freq, r.interval_minus_one, r.by_day)) return from <= due ? due : 0;
  return series_from(s, from);
}

int64_t recur_advance(int64_t due, const Recurrence& r, int64_t steps) {
  Series s;
  if (steps <= 0 || !series_init(&s, due, r.freq, r.interval_minus_one, r.by_day)) return due;
  int64_t idx = steps;
  if (s.freq == FREQ_WEEKLY && s.by_day) {
    int per_week = __builtin_popcount(static_cast<unsigned>(s.by_day));
    int first_week = 1 + __builtin_popcount(static_cast<unsigned>(s.by_day) & ~((2u << s.a.wday) - 1));
    if (steps < first_week) {
      idx = 0;
      int64_t left = steps;
      while (left > 0) {
        idx++;
        int64_t day;
        if (candidate_day(s, idx, &day) == CAND_OK) left--;
      }
    } else {
      int64_t rest = steps - first_week;
      int64_t week = 1 + rest / per_week;
      int64_t left = rest % per_week;
      idx = week * 7 - s.a.wday;
      for (;; idx++) {
        int64_t day;
        int c = candidate_day(s, idx, &day);
        if (c == CAND_END) return RECUR_FOREVER_TIME;
        if (c == CAND_OK && left-- == 0) break;
      }
    }
  } else if (s.freq == FREQ_MONTHLY && !s.by_day && s.a.mday > 28) {
    // Months without the day do not count; walk them by date only.
    idx = 0;
    int64_t left = steps;
    while (left > 0) {
      idx++;
      int64_t day;
      int c = candidate_day(s, idx, &day);
      if (c == CAND_END) return RECUR_FOREVER_TIME;
      if (c == CAND_OK) left--;
    }
  }
  int64_t t;
  if (candidate(s, idx, &t) != CAND_OK) return RECUR_FOREVER_TIME;
  return t;
}

static int64_t occurrence_from(const Item* item, int64_t from, const LocalTime* from_local) {
  if (!item->due) return 0;
  if (item->full_rule > 0) {
    int64_t t = full_rule_from(item, from);
    return t && t <= item->last_occurrence ? t : 0;
  }
  if (!recur_active(item->recurrence)) return item->due >= from ? item->due : 0;
  Series s;
  const Recurrence& r = item->recurrence;
  if (!series_init(&s, item->due, r.freq, r.interval_minus_one, r.by_day)) return 0;
  int64_t t = series_from(s, from, nullptr, nullptr, from_local);
  if (!t || t > item->last_occurrence) return 0;
  return t;
}

int64_t item_occurrence_from(const Item* item, int64_t from) { return occurrence_from(item, from, nullptr); }

// --- Default due time -------------------------------------------------------------

int64_t next_half_hour_at(int64_t now) {
  LocalTime lt;
  if (!local_of(now + 1800, &lt)) return 0;
  if (lt.min < 30) return local_make(lt.day, lt.hour, 30, 0, lt.gmtoff);
  return local_make(lt.day, lt.hour + 1, 0, 0, lt.gmtoff);
}

int64_t next_half_hour() { return next_half_hour_at(time(nullptr)); }

// --- Timer and calendar --------------------------------------------------------------------

int64_t get_next_timer(int64_t now) {
  LocalTime now_local;
  if (!local_of(now, &now_local)) return 86400 + 2;
  int64_t best = local_make(now_local.day + 1, 0, 0, 0, now_local.gmtoff) - now;
  if (best <= 0) best = 86400;
  Model& m = model();
  int64_t cursor = -1;
  while (const Item* item = slot_next<Item>(m.items, &cursor)) {
    if (!item->due || item->flags || !repo_counts(item->repo)) continue;
    if (item->remind_offset && item->next_remind >= now && item->next_remind - now < best)
      best = item->next_remind - now;
    int64_t occ = item->due;
    if (item_repeats(item) && item->due < now) {
      occ = 0;
      if (item->last_occurrence >= item->due && item->last_occurrence >= now)
        occ = occurrence_from(item, now, &now_local);
    }
    if (!occ || occ < now) continue;
    if (item->type != ITEM_TASK && item->type != ITEM_EVENT) continue;
    int64_t wait = occ - now < 86400 ? occ - now : occ - now - 86400;
    if (wait < best) best = wait;
  }
  log_message(LOG_DEBUG, "get_next_timer: %lld", static_cast<long long>(best + 2));
  return best + 2;
}

uint32_t calendar_month_marks(int year, int month) {
  if (month < 1 || month > 12) return 0;
  int64_t first_day = days_from_civil(year, month, 1);
  int64_t next_day = first_day + days_in_month(year, month);
  int64_t first = local_time_of(year, month, 1, 0, 0, 0);
  int64_t next = local_time_of(year, month + 1, 1, 0, 0, 0);
  const uint32_t all = (1u << days_in_month(year, month)) - 1;
  LocalTime first_local;
  if (!first || !local_of(first, &first_local)) return 0;
  // The local midnight starting each day, so that a single time finds its
  // day by search instead of a local time conversion per item.
  const int days = static_cast<int>(next_day - first_day);
  int64_t starts[32];
  for (int d = 0; d < days; d++) starts[d] = local_time_of(year, month, d + 1, 0, 0, 0);
  starts[days] = next;
  uint32_t marks = 0;
  Model& m = model();
  int64_t cursor = -1;
  while (const Item* item = slot_next<Item>(m.items, &cursor)) {
    if (marks == all) break;
    if (!item->due || item->due >= next || item->last_occurrence < first || item->flags || !repo_counts(item->repo))
      continue;
    if (item->full_rule > 0) {
      full_rule_each(item, first, next, [&](int64_t t) {
        if (t > item->last_occurrence) return;
        int d = static_cast<int>(std::upper_bound(starts, starts + days + 1, t) - starts) - 1;
        if (d >= 0 && d < days) marks |= 1u << d;
      });
      continue;
    }
    if (!recur_active(item->recurrence)) {
      if (item->due >= first) {
        int d = static_cast<int>(std::upper_bound(starts, starts + days + 1, item->due) - starts) - 1;
        if (d >= 0 && d < days) marks |= 1u << d;
      }
      continue;
    }
    Series s;
    if (!series_init(&s, item->due, item->recurrence.freq, item->recurrence.interval_minus_one,
                     item->recurrence.by_day))
      continue;
    int64_t idx, day;
    int64_t t = series_from(s, first, &idx, &day, &first_local);
    if (!t) continue;
    while (t < next && t <= item->last_occurrence) {
      if (day >= first_day && day < next_day) marks |= 1u << (day - first_day);
      int c;
      do {
        c = candidate(s, ++idx, &t, &day);
      } while (c == CAND_NONE);
      if (c == CAND_END) break;
    }
  }
  return marks;
}
