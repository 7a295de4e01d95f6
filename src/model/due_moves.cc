// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/due_moves.h"

#include <ctime>

#include "model/item.h"
#include "model/model.h"
#include "model/recur.h"
#include "model/reminders.h"

// --- Stored changes ---------------------------------------------------------------------

static void changed(int64_t slot) {
  reminder_sync(slot);
  Model& m = model();
  if (m.item_changed) m.item_changed(slot_get<Item>(m.items, slot), 1);
}

namespace {

// The moved fields, put back when storing fails: memory stays as stored.
struct Moved {
  int64_t due, next_remind, last_occurrence;
  int32_t remind_offset;
  explicit Moved(const Item* i)
      : due(i->due), next_remind(i->next_remind), last_occurrence(i->last_occurrence), remind_offset(i->remind_offset) {}
  void restore(Item* i) const {
    i->due = due;
    i->next_remind = next_remind;
    i->last_occurrence = last_occurrence;
    i->remind_offset = remind_offset;
  }
};

}  // namespace

int reminder_next_at(int64_t slot, int64_t now) {
  Item* item = slot_get<Item>(model().items, slot);
  if (!item) return -1;
  Moved old(item);
  reminder_advance(item, now);
  int rc = item_update(item);
  if (rc == 0) changed(slot);
  else old.restore(item);
  return rc;
}

int reminder_next(int64_t slot) { return reminder_next_at(slot, time(nullptr)); }

int due_move_at(int64_t slot, int days, int64_t now) {
  Item* item = slot_get<Item>(model().items, slot);
  if (!item || !item->due) return -1;
  Moved old(item);
  if (days) {
    int64_t t = local_day_at(now, days, item->due);
    if (!t) return -1;
    item->due = t;
  } else {
    int64_t t = next_half_hour_at(now);
    if (item->due < t) item->due = t;
  }
  // A series with a number of occurrences moves with its first one, as it
  // will when the repository is next mounted.
  item_set_last_occurrence(item);
  if (item->next_remind) item->next_remind = item->due - remind_lead(item);
  int rc = item_update(item);
  if (rc == 0) changed(slot);
  else old.restore(item);
  return rc;
}

int due_move(int64_t slot, int days) { return due_move_at(slot, days, time(nullptr)); }
