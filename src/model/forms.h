// Form rules shared by the editors, the importers and the command-line tool:
// a recurrence rule into the editor form, what an editor's widgets changed,
// what a key's expiry means for its due time and reminder, and the body of a
// new contact.
#pragma once

#include <cstdint>
#include <string>

#include "model/ops.h"

// A recurrence rule as iCalendar states it: freq 1 daily .. 4 yearly,
// interval (0 when absent), weekday bits (bit 0 Sunday), end 0 forever,
// 1 after `count` occurrences, 2 until `until`.
struct RuleFields {
  int freq = 0;
  int interval = 0;
  int by_day = 0;
  int end_kind = 0;
  int count = 0;
  int64_t until = 0;
};

// Largest occurrence count a form takes.
constexpr int32_t kRecurCountMax = 100000;

// Sets the recurrence fields of the form from a rule: interval clamped to
// 1..128; weekly rules keep their weekdays, monthly rules with any weekday
// repeat on the same weekday of the same week; count clamped to
// 1..kRecurCountMax. -1, with the form unchanged, for a frequency outside
// 1..4 or an until time before 1970.
int form_set_rule(ItemForm* f, const RuleFields& r);
// No recurrence.
void form_clear_rule(ItemForm* f);

// How an editor saves: `form` holds the item as stored and takes from `now`
// each group of fields that differs between `shown` (the editor's widgets
// as first filled) and `now` (the widgets as they are), so that a field no
// widget changed stays as stored. The groups: title, body, markup, due, end,
// flags, the reminder (unit and count) and the recurrence (its four fields,
// count and until).
void form_take_changes(ItemForm* form, const ItemForm& shown, const ItemForm& now);

// A key's expiry is also its due time, with a reminder three days ahead; no
// expiry (0) means no due time and no reminder.
void key_form_set_expiry(ItemForm* f, int64_t expiry);

// The vCard body of a new contact that has only its formatted name.
std::string contact_default_body(const std::string& name);
