// SPDX-License-Identifier: GPL-3.0-or-later
// Reminders: the next reminder time of an item and the list of pending
// reminder entries that the timer, the tray and the reminders view read.
// Memory only; storing the moved times is due_moves.h and ops.h.
#pragma once

#include <cstdint>

#include "model/item.h"

// One entry per item with a pending reminder.
struct Reminder {
  int64_t remind_at;  // when it fires: the item's next_remind
  int64_t due_at;     // the occurrence it announces
  int32_t item;       // item slot
};

// Seconds between a reminder and its occurrence (an offset of 1, "at the due
// time", is 0).
int64_t remind_lead(const Item* item);

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
