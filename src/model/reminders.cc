// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/reminders.h"

#include "model/model.h"
#include "model/recur.h"

// --- Reminder times ---------------------------------------------------------------------

int64_t remind_lead(const Item* item) { return item->remind_offset == 1 ? 0 : item->remind_offset; }

void item_next_remind(Item* item, int64_t now) {
  if (!item->remind_offset) {
    item->next_remind = 0;
    return;
  }
  // Whether the repository counts is a display choice: it decides only the
  // reminder entry (wants_reminder), never the stored offset.
  int64_t t = 0;
  if (item->due && item->last_occurrence >= now && item->last_occurrence >= item->due && item->flags == 0)
    t = item_occurrence_from(item, now);
  if (t) {
    item->next_remind = t - remind_lead(item);
  } else {
    item->remind_offset = 0;
    item->next_remind = 0;
  }
}

void reminder_advance(Item* item, int64_t now) {
  int64_t target = now + item->remind_offset;
  int64_t t = 0;
  if (item->due && item->last_occurrence >= target && item->last_occurrence >= item->due && item->flags == 0)
    t = item_occurrence_from(item, target);
  if (t) {
    item->next_remind = t - remind_lead(item);
  } else {
    item->next_remind = 0;
    item->remind_offset = 0;
  }
}

// --- The reminder list -------------------------------------------------------------------

static void notify_reminders() {
  if (model().reminder_changed) model().reminder_changed();
}

static Reminder* reminder_find_slot(int64_t item_slot, int64_t* slot) {
  int64_t cursor = -1;
  while (Reminder* r = slot_next<Reminder>(model().reminders, &cursor))
    if (r->item == item_slot) {
      if (slot) *slot = cursor;
      return r;
    }
  return nullptr;
}

Reminder* reminder_find(int64_t slot) { return reminder_find_slot(slot, nullptr); }

void reminder_set(int64_t slot, int64_t remind_at, int64_t due_at) {
  Reminder* r = reminder_find(slot);
  if (r && r->remind_at == remind_at) {
    r->due_at = due_at;
    return;
  }
  if (!r) {
    int64_t s;
    r = static_cast<Reminder*>(slot_array_add(model().reminders, &s));
    if (!r) return;
    r->item = static_cast<int32_t>(slot);
  }
  r->remind_at = remind_at;
  r->due_at = due_at;
  notify_reminders();
}

void reminder_remove(int64_t slot) {
  int64_t s;
  if (!reminder_find_slot(slot, &s)) return;
  slot_array_remove(model().reminders, s);
  notify_reminders();
}

static bool wants_reminder(const Item* item) {
  return item->due && item->remind_offset && item->next_remind && item->flags == 0 && repo_counts(item->repo);
}

static int64_t reminder_due_at(const Item* item) { return item->next_remind + remind_lead(item); }

void reminder_sync(int64_t slot) {
  const Item* item = slot_get<Item>(model().items, slot);
  if (item && wants_reminder(item))
    reminder_set(slot, item->next_remind, reminder_due_at(item));
  else
    reminder_remove(slot);
}

void reminders_rebuild() {
  Model& m = model();
  slot_array_free(m.reminders);
  m.reminders = slot_array_new(sizeof(Reminder));
  int64_t cursor = -1;
  while (const Item* item = slot_next<Item>(m.items, &cursor)) {
    if (!wants_reminder(item)) continue;
    int64_t s;
    Reminder* r = static_cast<Reminder*>(slot_array_add(m.reminders, &s));
    if (!r) return;
    r->remind_at = item->next_remind;
    r->due_at = reminder_due_at(item);
    r->item = static_cast<int32_t>(cursor);
  }
}
