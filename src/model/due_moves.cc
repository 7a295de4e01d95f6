#include "model/due_moves.h"

#include <ctime>

#include "model/model.h"
#include "model/recur.h"
#include "model/reminders.h"

// --- Stored changes ---------------------------------------------------------------------

static void changed(int64_t slot) {
  reminder_sync(slot);
  Model& m = model();
  if (m.item_changed) m.item_changed(slot_get<Item>(m.items, slot), 1);
}

int reminder_next_at(int64_t slot, int64_t now) {
  Item* item = slot_get<Item>(model().items, slot);
  if (!item) return -1;
  reminder_advance(item, now);
  int rc = item_update(item);
  if (rc == 0) changed(slot);
  return rc;
}

int reminder_next(int64_t slot) { return reminder_next_at(slot, time(nullptr)); }

int due_move_at(int64_t slot, int days, int64_t now) {
  Item* item = slot_get<Item>(model().items, slot);
  if (!item || !item->due) return -1;
  if (days) {
    int64_t t = local_day_at(now, days, item->due);
    if (!t) return -1;
    item->due = t;
  } else {
    int64_t t = next_half_hour_at(now);
    if (item->due < t) item->due = t;
  }
  if (item->next_remind) item->next_remind = item->due - remind_lead(item);
  int rc = item_update(item);
  if (rc == 0) changed(slot);
  return rc;
}

int due_move(int64_t slot, int days) { return due_move_at(slot, days, time(nullptr)); }
