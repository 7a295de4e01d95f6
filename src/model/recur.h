// SPDX-License-Identifier: GPL-3.0-or-later
// Calendar arithmetic: local dates and times, recurrence series, the next
// timer and the calendar marks. Reads the items, never the view state and
// never stores (the dates a view shows are view_dates.h, the reminder list
// reminders.h, the stored due and reminder moves due_moves.h).
//
// All calendar arithmetic is in local time through the C library, with
// daylight saving time left to it. Occurrences of a repeating item are counted
// from its due time, so a rule that normalises one occurrence (29 February in a
// common year, a time of day the clock skips) does not move the later ones.
#pragma once

#include <cstdint>

#include "model/item.h"
#include "model/reminders.h"

// freq is daily, weekly, monthly or yearly.
bool recur_active(const Recurrence& r);

// The next occurrence after `time` of a rule starting at `time`; `time` itself
// for freq none or unknown.
int64_t recur_step(int64_t time, int freq, int interval_minus_one, int by_day);
// The first occurrence at or after `from` of the series that starts at `due`
// (due itself when from <= due); 0 when the rule gives none.
int64_t recur_first_at_or_after(int64_t due, const Recurrence& r, int64_t from);
// The occurrence `steps` steps after due (due for steps <= 0).
int64_t recur_advance(int64_t due, const Recurrence& r, int64_t steps);
// The item's first occurrence at or after `from` that is not after its
// last_occurrence; a single occurrence for an item that does not repeat. 0 for
// none (also without a due time).
int64_t item_occurrence_from(const Item* item, int64_t from);

// Civil dates (proleptic Gregorian) as day numbers from 1 January 1970:
// the number of a date, the date of a number, its weekday (0 Sunday), and
// the length of a month (1..12).
int64_t days_from_civil(int64_t y, int m, int d);
void civil_from_days(int64_t day, int64_t* y, int* m, int* d);
int weekday_of(int64_t day);
int days_in_month(int64_t y, int m);

// Local midnight starting the day of t, and the local midnight `days` later.
int64_t local_midnight(int64_t t);
int64_t local_midnight_after(int64_t t, int days);
// Local time of a calendar date (month 1..12).
int64_t local_time_of(int year, int month, int day, int hour, int minute, int second);
// The local day of t moved by `days`, at the local hour and minute of
// `clock` (seconds 0); 0 when it cannot be represented.
int64_t local_day_at(int64_t t, int days, int64_t clock);
// Week of the month of day `mday` (1..31) as a monthly rule by weekday
// repeats it: 0 for days 1-7 up to 3 for days 22-28; days 29-31 count as the
// fourth week too, since not every month has a fifth.
int week_of_month(int mday);

// Default due time: now + 30 minutes moved to the next :00 or :30 after it.
int64_t next_half_hour();
int64_t next_half_hour_at(int64_t now);

// Seconds until something changes: a reminder fires, an occurrence comes within
// 24 hours or arrives, or the day changes; plus 2.
int64_t get_next_timer(int64_t now);
// Bit d-1 set when day d of the month (1..12) has an occurrence.
uint32_t calendar_month_marks(int year, int month);
