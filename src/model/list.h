// SPDX-License-Identifier: GPL-3.0-or-later
// Which items belong to the current view (a tag, the search results, the
// reminders view, the trash or one of the fixed lists), the icon of each
// item's due state, the time shown beside it, and the readers of the
// reminder list used by the timers and the tray icon.
#pragma once

#include <cstdint>

struct Item;

// List icons, in the order of the icons loaded at start-up.
enum ListIcon {
  ICON_TASK = 0,
  ICON_EVENT = 1,
  ICON_NOTE = 2,
  ICON_VCARD = 3,
  ICON_KEY = 4,
  ICON_TASK_OVERDUE = 5,
  ICON_TASK_SOON = 6,  // due within a day
  ICON_EVENT_OVERDUE = 7,
  ICON_EVENT_SOON = 8,
  ICON_TASK_DONE = 9,
};

// The slot of the next item of the current view (model().view and
// fixed_kind) after the item `position` returned by the previous call, or -1
// when there is none. A walk starts with -1; items come in slot order (of
// the links for tag, search and reminders views, of the items otherwise).
int64_t list_next(int64_t position);

// The time shown beside the item and used for ordering by date: its
// displayed occurrence, 0 when it has none.
int64_t list_time(const Item* item);
// The ListIcon of the item's kind and due state.
int list_icon(const Item* item, int64_t now);

// Rebuilds the pseudo links of the reminders view: one per reminder entry
// whose time has come, in the order of the reminder list.
void reminders_view_refresh(int64_t now);
// remind_at of the item's reminder entry, or 0.
int64_t reminder_of(int64_t slot);
// Entries whose reminder time has come, and those whose due time has come.
void reminders_counts(int64_t now, int* reminded, int* due);
