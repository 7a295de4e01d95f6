// SPDX-License-Identifier: GPL-3.0-or-later
// Stored moves of due and reminder times: the reminder shown moves on, the
// due date moves to another day. Each stores the item, keeps its reminder
// entry right and tells the views.
#pragma once

#include <cstdint>

// reminder_advance, stored, then the list and the views are told. 0 or a
// storage status.
int reminder_next(int64_t slot);
int reminder_next_at(int64_t slot, int64_t now);
// Moves a due date to today + days at its old hour and minute, or for days 0
// to the next half hour when it is earlier. 0, -1 without a due time, or a
// storage status.
int due_move(int64_t slot, int days);
int due_move_at(int64_t slot, int days, int64_t now);
