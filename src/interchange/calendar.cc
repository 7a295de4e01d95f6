// SPDX-License-Identifier: GPL-3.0-or-later
// Tasks and events to and from iCalendar files.
#include <algorithm>
#include <ctime>
#include <vector>

#include "interchange/components.h"
#include "interchange/ical.h"
#include "interchange/import_internal.h"
#include "interchange/interchange.h"
#include "model/forms.h"
#include "model/full_rule.h"
#include "model/item.h"
#include "model/model.h"
#include "model/ops.h"
#include "model/recur.h"

namespace {

IcalItem ical_item_of(const Item& item) {
  IcalItem it;
  std::copy(item.uuid, item.uuid + 16, it.uuid);
  it.is_event = item.type == ITEM_EVENT;
  it.completed = item.flags & ITEM_COMPLETED;
  it.due = item.due;
  it.end = item.end;
  it.freq = item.recurrence.freq;
  it.interval_minus_one = item.recurrence.interval_minus_one;
  it.by_day = item.recurrence.by_day;
  it.end_kind = item.recurrence.end_kind;
  it.recur_count = item.recur_count;
  it.last_occurrence = item.last_occurrence;
  it.remind_offset = item.remind_offset;
  it.created = item.created;
  it.modified = item.modified;
  it.title = item.title;
  it.body = item_body_load(&item);
  return it;
}

// Drops NUL bytes: stored texts end at the first one.
std::string no_nul(std::string s) {
  s.erase(std::remove(s.begin(), s.end(), '\0'), s.end());
  return s;
}

// Moves an entry dated before 1970 to its first occurrence on or after
// 1 January 1970 (UTC). 0, or -1 when it has none (one-off, or the rule ends
// before then).
int move_to_epoch(IcalEntry* e, ItemForm* f) {
  if (e->start >= 0) return 0;
  if (f->freq == FREQ_NONE) return -1;
  Recurrence r;
  r.freq = static_cast<uint8_t>(f->freq);
  r.interval_minus_one = static_cast<uint8_t>(f->interval_minus_one);
  r.by_day = static_cast<uint8_t>(f->by_day);
  // The k-th occurrence after the start rises with k, and occurrences are at
  // most one a day: the first one after 0 (a time of 0 would read as "no
  // date") is found by bisection instead of a walk over centuries.
  auto occurrence = [&](int64_t k) { return recur_advance(e->start, r, k); };
  bool counted = f->end_kind == RECUR_COUNT;
  // A counted series uses up the occurrences it had before 1970.
  int64_t hi = -e->start / 86400 + 3;
  if (counted && hi > int64_t(f->recur_count) - 1) hi = int64_t(f->recur_count) - 1;
  if (hi < 1 || occurrence(hi) <= 0) return -1;
  int64_t lo = 1;
  while (lo < hi) {
    int64_t mid = lo + (hi - lo) / 2;
    if (occurrence(mid) > 0)
      hi = mid;
    else
      lo = mid + 1;
  }
  int64_t k = lo;
  int64_t t = occurrence(k);
  if (t == RECUR_FOREVER_TIME) {
    // The recurrence code takes an occurrence at exactly 0 for none; the
    // one after it is a step further.
    t = occurrence(++k);
    if (t <= 0 || t == RECUR_FOREVER_TIME) return -1;
  }
  if (counted && k >= f->recur_count) return -1;
  if (f->end_kind == RECUR_UNTIL && t > f->until) return -1;
  if (counted) f->recur_count = static_cast<int32_t>(f->recur_count - k);
  if (e->end) e->end += t - e->start;
  e->start = t;
  return 0;
}

// The form of an imported entry; -1 when it cannot be stored.
int form_of(IcalEntry* e, ItemForm* f) {
  *f = ItemForm{};
  f->title = no_nul(e->title);
  f->body = no_nul(e->body);
  if (e->has_rule && e->rule.freq >= FREQ_DAILY && e->rule.freq <= FREQ_YEARLY &&
      form_set_rule(f, ical_rule_fields(e->rule)) != 0)
    return -1;
  if (move_to_epoch(e, f) != 0) return -1;
  f->due = e->start;
  if (e->kind == ICAL_EVENT) f->end = e->end > 0 ? e->end : 0;
  if (e->has_reminder) {
    if (e->remind_offset <= 0) {
      f->remind_unit = 1;  // at the start
      f->remind_count = 0;
    } else {
      remind_split(e->remind_offset, &f->remind_unit, &f->remind_count);
    }
  }
  return 0;
}

}  // namespace

int ical_entry_form(IcalEntry* e, ItemForm* f) { return form_of(e, f); }

bool calendar_append_plain(int64_t slot, int64_t now, std::string* out) {
  const Item* item = item_get(slot);
  if (!item) return false;
  ical_write_item(out, ical_item_of(*item), now);
  return true;
}

bool calendar_append_item(int64_t slot, int64_t now, std::string* out) {
  const Item* item = item_get(slot);
  if (!item) return false;
  SourceRecord kept;
  if (source_get(item->repo, item->uuid, &kept) != 0 || kept.component.empty())
    return calendar_append_plain(slot, now, out);
  std::string text = component_for_item(slot, &kept);
  // The components inside the kept calendar; a time zone another item of
  // the file brought already is not written twice.
  std::vector<std::string> parts = calendar_inner_components(text);
  if (parts.empty()) return calendar_append_plain(slot, now, out);
  for (const std::string& part : parts)
    if (part.compare(0, 16, "BEGIN:VTIMEZONE\r") != 0 || out->find(part) == std::string::npos) *out += part;
  return true;
}

void calendar_plan_parse(const char* data, size_t len, ImportPlan* plan) {
  for (const std::string& component : component_split(std::string(data, len))) {
    if (component_kind(component) == COMPONENT_CARD) continue;
    plan->found_any = true;
    ImportEntry entry;
    if (calendar_entry_of(component, &entry) != 0) {
      plan->skipped++;
      continue;
    }
    plan->entries.push_back(std::move(entry));
  }
}

int64_t calendar_entry_store(const ImportEntry& e, ItemBatch* batch, int64_t tag, bool* updated, int64_t given) {
  ItemForm f = e.form;
  int64_t slot = -1;
  if (given >= 0) {
    const Item* item = item_get(given);
    if (!item || item->repo != batch->repo() || (item->type != ITEM_TASK && item->type != ITEM_EVENT)) return -1;
    slot = given;
    f.markup = static_cast<uint8_t>(item->markup);
  } else if (e.has_uuid) {
    int64_t found = item_find(e.uuid);
    const Item* item = item_get(found);
    // Only a task or an event of the target's repository is taken over; a
    // uuid of another kind of item gets a new item rather than turning
    // that item into a task.
    if (item && item->repo == batch->repo() && (item->type == ITEM_TASK || item->type == ITEM_EVENT)) {
      slot = found;
      f.markup = static_cast<uint8_t>(item->markup);
    }
  }
  // The file decides whether a task is completed; an update that reopens
  // it clears the flag.
  int flags = -1;
  if (e.completed) {
    f.flags = ITEM_COMPLETED;
  } else if (const Item* item = item_get(slot)) {
    flags = item->flags & ~ITEM_COMPLETED;
  }
  int64_t stored = batch->store(slot, e.type, f, 0, tag, flags);
  if (updated) *updated = stored >= 0 && slot >= 0;
  if (stored >= 0) item_full_rule_set(stored, e.rule);
  return stored;
}
