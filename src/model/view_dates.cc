// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/view_dates.h"

#include <ctime>

#include "model/item.h"
#include "model/model.h"
#include "model/recur.h"

int64_t displayed_occurrence_at(const Item* item, int64_t now) {
  if (!item->due) return 0;
  if (!item_repeats(item)) return item->due;
  const Model& m = model();
  bool counts = item->flags == 0 && repo_counts(item->repo);
  if (m.view == VIEW_FIXED && m.fixed_kind == FIXED_CALENDAR_DAY) {
    int64_t day_end = local_midnight_after(m.calendar_day, 1);
    if (item->due >= day_end || item->last_occurrence < m.calendar_day || !counts) return 0;
    int64_t t = item_occurrence_from(item, m.calendar_day);
    return t && t < day_end ? t : 0;
  }
  if (m.view == VIEW_REMINDERS) {
    if (item->last_occurrence < item->due || item->last_occurrence < item->next_remind || !counts)
      return item->due;
    int64_t t = item_occurrence_from(item, item->next_remind);
    return t ? t : item->due;
  }
  if (item->due >= now || item->last_occurrence < now || !counts) return item->due;
  int64_t t = item_occurrence_from(item, now);
  return t ? t : item->due;
}

int64_t displayed_occurrence(const Item* item) { return displayed_occurrence_at(item, time(nullptr)); }

void calendar_select_day(int year, int month, int day) { model().calendar_day = local_time_of(year, month, day, 0, 0, 0); }

void upcoming_window(int64_t now, int days) {
  Model& m = model();
  if (m.view == VIEW_FIXED && m.fixed_kind == FIXED_UPCOMING) {
    m.upcoming_from = local_midnight(now);
    m.upcoming_to = local_midnight_after(now, days);
  } else {
    m.upcoming_from = 0;
    m.upcoming_to = 0;
  }
}
