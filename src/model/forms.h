// SPDX-License-Identifier: GPL-3.0-or-later
// The editable form of an item and its rules, shared by the editors, the
// importers, the operations and the command-line tool: filling a form from
// an item, what counts as a change, what an editor's widgets changed, what
// can be stored, reminder units, a recurrence rule into the form, what a
// key's expiry means for its due time and reminder, and the body of a new
// contact.
#pragma once

#include <cstdint>
#include <string>

struct Item;

// The editable form of an item, filled by the editors and applied by
// item_store. Times are seconds since the epoch, 0 = not set.
struct ItemForm {
  std::string title;
  std::string body;          // LF line ends
  int32_t flags = 0;         // non-zero: replaces the item's flags
  uint8_t markup = 0;
  int32_t remind_unit = 0;   // 0 none, 1 minutes, 2 hours, 3 days, 4 weeks
  int32_t remind_count = 0;  // units; 0 with a unit = at the due time
  int32_t freq = 0;
  int32_t interval_minus_one = 0;
  int32_t by_day = 0;
  int32_t end_kind = 0;
  int32_t recur_count = 0;  // occurrences for RECUR_COUNT
  int64_t until = 0;        // until time for RECUR_UNTIL
  int64_t due = 0;          // due or start time
  int64_t end = 0;          // end time
};

// Seconds of reminder unit 1..4; 0 for anything else.
int64_t remind_unit_seconds(int unit);

// Fills a form from the item at `slot`, or with the defaults of a new item
// of `type` for slot -1.
void item_form_fill(int64_t slot, int type, ItemForm* form);
// 1 when the forms differ in markup, due, end, a recurrence field, the count,
// the until time, the reminder unit or count, the title or the body.
int item_form_differs(const ItemForm& a, const ItemForm& b);
// The largest of weeks, days, hours, minutes dividing the offset (minutes,
// truncated, when none does); (0, 0) for an offset of 0 or less.
void remind_split(int64_t offset, int32_t* unit, int32_t* count);

// The form of an item exactly as it is stored (no defaults for missing
// times), for operations that rewrite an item without an editor.
void form_from_item(const Item* item, ItemForm* f);
// Whether the item header could carry the form's values back unchanged (the
// reader rejects negative times and offsets, flags outside 0..4, and
// recurrence bytes above 127 turn the packed value negative); the reminder
// offset in seconds goes to *offset.
bool form_storable(int type, const ItemForm& f, int64_t* offset);

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
