// SPDX-License-Identifier: GPL-3.0-or-later
// The recurrence details dialog of the event editor: interval, weekdays or
// monthly mode, and the end of the series.
#pragma once

#include <cstdint>

// The rule being edited: the recurrence fields of an ItemForm.
struct RecurrenceRule {
  int32_t freq = 0;  // 1 daily .. 4 yearly
  int32_t interval_minus_one = 0;
  int32_t by_day = 0;
  int32_t end_kind = 0;  // 0 forever, 1 after recur_count, 2 until
  int32_t recur_count = 0;
  int64_t until = 0;
};

// Runs the dialog on the rule of a series starting at `start`. A rule that
// does not end by date is offered start + 30 days as its until date; that
// proposal is taken back unless the user confirms an end by date. Returns
// true when the user confirmed (the rule then holds the dialog's values);
// false for cancel and for a frequency outside 1..4 (nothing opens).
bool recurrence_dialog(RecurrenceRule* rule, int64_t start);
