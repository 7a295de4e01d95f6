// Due dates, recurrence, reminders, the next timer and the calendar marks.
//
// All calendar arithmetic is in local time through the C library, with
// daylight saving time left to it. Occurrences of a repeating item are counted
// from its due time, so a rule that normalises one occurrence (29 February in a
// common year, a time of day the clock skips) does not move the later ones.
#pragma once

#include <cstdint>

#include "model/item.h"

// One entry per item with a pending reminder.
struct Reminder {
  int64_t remind_at;  // when it fires: the item's next_remind
  int64_t due_at;     // the occurrence it announces
  int32_t item;       // item slot
};

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

// Local midnight starting the day of t, and the local midnight `days` later.
int64_t local_midnight(int64_t t);
int64_t local_midnight_after(int64_t t, int days);
// Local time of a calendar date (month 1..12).
int64_t local_time_of(int year, int month, int day, int hour, int minute, int second);

// Default due time: now + 30 minutes moved to the next :00 or :30 after it.
int64_t next_half_hour();
int64_t next_half_hour_at(int64_t now);

// The occurrence shown in lists and the detail view (depends on the view).
int64_t displayed_occurrence(const Item* item);
int64_t displayed_occurrence_at(const Item* item, int64_t now);

// Works out next_remind after an edit (remind_offset 0 when no reminder can
// follow: no further occurrence, or flags set). A hidden repository keeps
// both; only its reminder entry is left out while it does not count.
void item_next_remind(Item* item, int64_t now);
// After a reminder was shown: moves next_remind to the next occurrence
// (next_remind and remind_offset 0 when there is none). Memory only.
void reminder_advance(Item* item, int64_t now);

// The reminder list.
Reminder* reminder_find(int64_t slot);
void reminder_set(int64_t slot, int64_t remind_at, int64_t due_at);
void reminder_remove(int64_t slot);
// Sets or removes the item's entry: set when it has a due time, an offset, a
// next_remind, no flags and its repository counts.
void reminder_sync(int64_t slot);
// Rebuilds the whole list from the items, without notifications (mounting,
// and whenever hidden repositories start or stop counting).
void reminders_rebuild();

// reminder_advance, stored, then the list and the views are told. 0 or a
// storage status.
int reminder_next(int64_t slot);
int reminder_next_at(int64_t slot, int64_t now);
// Moves a due date to today + days at its old hour and minute, or for days 0
// to the next half hour when it is earlier. 0, -1 without a due time, or a
// storage status.
int due_move(int64_t slot, int days);
int due_move_at(int64_t slot, int days, int64_t now);

// Seconds until something changes: a reminder fires, an occurrence comes within
// 24 hours or arrives, or the day changes; plus 2.
int64_t get_next_timer(int64_t now);
// Bit d-1 set when day d of the month (1..12) has an occurrence.
uint32_t calendar_month_marks(int year, int month);
// Sets the model's calendar_day to local midnight of the date.
void calendar_select_day(int year, int month, int day);
// Sets the upcoming window (only while the upcoming list is selected, else 0).
void upcoming_window(int64_t now);
