// SPDX-License-Identifier: GPL-3.0-or-later
// The dates that depend on what the window shows: the occurrence of an item
// that a list row and the detail view show for the selected view, the
// calendar's selected day and the upcoming list's window. The arithmetic
// under them is recur.h.
#pragma once

#include <cstdint>

struct Item;

// The occurrence shown in lists and the detail view (depends on the view).
int64_t displayed_occurrence(const Item* item);
int64_t displayed_occurrence_at(const Item* item, int64_t now);

// Sets the model's calendar_day to local midnight of the date.
void calendar_select_day(int year, int month, int day);
// Sets the upcoming window, today and the `days` days after it (only while
// the upcoming list is selected, else 0).
void upcoming_window(int64_t now, int days);
