// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/forms.h"

#include <climits>

#include "model/item.h"
#include "model/recur.h"
#include "support/text.h"

int form_set_rule(ItemForm* f, const RuleFields& r) {
  if (r.freq < FREQ_DAILY || r.freq > FREQ_YEARLY) return -1;
  if (r.end_kind == RECUR_UNTIL && r.until < 0) return -1;  // every occurrence before 1970
  form_clear_rule(f);
  f->freq = r.freq;
  // The record holds intervals 1..128.
  int interval = r.interval < 1 ? 1 : r.interval > 128 ? 128 : r.interval;
  f->interval_minus_one = interval - 1;
  if (r.freq == FREQ_WEEKLY) f->by_day = r.by_day & 0x7F;
  else if (r.freq == FREQ_MONTHLY) f->by_day = r.by_day ? 1 : 0;
  if (r.end_kind == RECUR_COUNT) {
    f->end_kind = RECUR_COUNT;
    f->recur_count = r.count < 1 ? 1 : r.count > kRecurCountMax ? kRecurCountMax : r.count;
  } else if (r.end_kind == RECUR_UNTIL) {
    f->end_kind = RECUR_UNTIL;
    f->until = r.until;
  }
  return 0;
}

void form_clear_rule(ItemForm* f) {
  f->freq = f->interval_minus_one = f->by_day = f->end_kind = f->recur_count = 0;
  f->until = 0;
}

namespace {

bool same_reminder(const ItemForm& a, const ItemForm& b) {
  return a.remind_unit == b.remind_unit && a.remind_count == b.remind_count;
}

bool same_rule(const ItemForm& a, const ItemForm& b) {
  return a.freq == b.freq && a.interval_minus_one == b.interval_minus_one && a.by_day == b.by_day &&
         a.end_kind == b.end_kind && a.recur_count == b.recur_count && a.until == b.until;
}

}  // namespace

void form_take_changes(ItemForm* form, const ItemForm& shown, const ItemForm& now) {
  if (now.title != shown.title) form->title = now.title;
  if (now.body != shown.body) form->body = now.body;
  if (now.markup != shown.markup) form->markup = now.markup;
  if (now.due != shown.due) form->due = now.due;
  if (now.end != shown.end) form->end = now.end;
  if (now.flags != shown.flags) form->flags = now.flags;
  if (!same_reminder(now, shown)) {
    form->remind_unit = now.remind_unit;
    form->remind_count = now.remind_count;
  }
  if (!same_rule(now, shown)) {
    form->freq = now.freq;
    form->interval_minus_one = now.interval_minus_one;
    form->by_day = now.by_day;
    form->end_kind = now.end_kind;
    form->recur_count = now.recur_count;
    form->until = now.until;
  }
}

void key_form_set_expiry(ItemForm* f, int64_t expiry) {
  if (expiry < 0) expiry = 0;
  f->due = expiry;
  f->remind_unit = expiry ? 3 : 0;  // days
  f->remind_count = expiry ? 3 : 0;
}

std::string contact_default_body(const std::string& name) {
  return "BEGIN:VCARD\nVERSION:3.0\nN:;\nFN:" + vcard_escape(name.c_str()) + "\nEND:VCARD\n";
}

int64_t remind_unit_seconds(int unit) {
  switch (unit) {
    case 1:
      return 60;
    case 2:
      return 3600;
    case 3:
      return 86400;
    case 4:
      return 604800;
    default:
      return 0;
  }
}

void remind_split(int64_t offset, int32_t* unit, int32_t* count) {
  *unit = 0;
  *count = 0;
  if (offset <= 0) return;
  for (int u = 4; u >= 2; u--) {
    int64_t s = remind_unit_seconds(u);
    if (offset % s == 0) {
      *unit = u;
      *count = static_cast<int32_t>(offset / s);
      return;
    }
  }
  *unit = 1;
  *count = static_cast<int32_t>(offset / 60);
}

void item_form_fill(int64_t slot, int type, ItemForm* form) {
  const Item* item = slot >= 0 ? item_get(slot) : nullptr;
  if (item) {
    form_from_item(item, form);
  } else {
    *form = ItemForm{};
    if (type == ITEM_TASK || type == ITEM_EVENT) {
      form->remind_unit = 1;
      form->remind_count = 10;
    }
    if (type == ITEM_KEY) form->markup = 1;
  }
  if (type == ITEM_TASK || type == ITEM_EVENT) {
    if (!form->due) form->due = next_half_hour();
    if (type == ITEM_EVENT && !form->end) form->end = form->due + 3600;
  }
}

int item_form_differs(const ItemForm& a, const ItemForm& b) {
  return a.markup != b.markup || a.due != b.due || a.end != b.end || a.freq != b.freq ||
         a.interval_minus_one != b.interval_minus_one || a.by_day != b.by_day || a.end_kind != b.end_kind ||
         a.recur_count != b.recur_count || a.until != b.until || a.remind_unit != b.remind_unit ||
         a.remind_count != b.remind_count || a.title != b.title || a.body != b.body;
}

void form_from_item(const Item* item, ItemForm* f) {
  *f = ItemForm{};
  f->title = item->title;
  f->body = item_body_load(item);
  f->markup = static_cast<uint8_t>(item->markup);
  remind_split(item->remind_offset, &f->remind_unit, &f->remind_count);
  f->freq = item->recurrence.freq;
  f->interval_minus_one = item->recurrence.interval_minus_one;
  f->by_day = item->recurrence.by_day;
  f->end_kind = item->recurrence.end_kind;
  f->recur_count = item->recur_count;
  f->until = item->recurrence.end_kind == RECUR_UNTIL ? item->last_occurrence : 0;
  f->due = item->due;
  f->end = item->end;
}

bool form_storable(int type, const ItemForm& f, int64_t* offset) {
  if (type < ITEM_TASK || type > ITEM_KEY) return false;
  if (f.flags < 0 || f.flags > (ITEM_COMPLETED | ITEM_TRASHED)) return false;
  if (f.freq < FREQ_NONE || f.freq > FREQ_YEARLY) return false;
  if (f.interval_minus_one < 0 || f.interval_minus_one > 127) return false;
  if (f.by_day < 0 || f.by_day > 127) return false;
  if (f.end_kind < RECUR_FOREVER || f.end_kind > RECUR_UNTIL) return false;
  if (f.recur_count < 0 || f.due < 0 || f.end < 0 || f.until < 0) return false;
  if (f.remind_unit < 0 || f.remind_unit > 4 || f.remind_count < 0) return false;
  int64_t o = 0;
  if (f.remind_unit > 0) o = f.remind_count ? remind_unit_seconds(f.remind_unit) * f.remind_count : 1;
  if (o > INT32_MAX) return false;
  *offset = o;
  return true;
}
