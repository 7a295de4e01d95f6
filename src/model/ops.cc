// SPDX-License-Identifier: GPL-3.0-or-later
// Journal groups and the item changes made inside them: one store, a batch
// of stores, flags, deletion.
#include "model/ops.h"

#include <climits>
#include <cstring>
#include <ctime>
#include <unordered_set>

#include "crypto/wipe.h"
#include "model/clipboard.h"
#include "model/item.h"
#include "model/model.h"
#include "model/recur.h"
#include "model/tag.h"
#include "model/tag_ops.h"
#include "storage/db.h"
#include "storage/journal.h"
#include "storage/repo.h"
#include "support/log.h"
#include "support/text.h"

namespace {

void links_remove_item(int64_t item_slot) {
  Model& m = model();
  int64_t cursor = -1;
  while (const TagLink* l = slot_next<TagLink>(m.tag_links, &cursor))
    if (l->item == item_slot) slot_array_remove(m.tag_links, cursor);
}

// What changed between the record and the form, for the notification.
int change_kind(const Item* item, const ItemForm& f) {
  if (!item->due && !f.due) return 0;
  const Recurrence& r = item->recurrence;
  bool recur_changed = r.freq != f.freq || r.interval_minus_one != f.interval_minus_one || r.by_day != f.by_day ||
                       r.end_kind != f.end_kind;
  if (!recur_changed && f.end_kind == RECUR_COUNT && item->recur_count != f.recur_count) recur_changed = true;
  if (!recur_changed && f.end_kind == RECUR_UNTIL && item->last_occurrence != f.until) recur_changed = true;
  if (item->due != f.due || recur_changed) return 1;
  if (item->end != f.end || item->title != f.title) return 2;
  return 0;
}

// One item_store inside a group that the caller opened.
struct Stored {
  int64_t slot = -1;
  Item* item = nullptr;
  bool is_new = false;
  Item before;  // the record before the form was applied (existing items)
  int kind = 0;
};

// Validates and applies the form in memory (a new item is created in
// repository `repo`); flags >= 0 then replaces the item's flags. -1 when the
// form cannot be stored.
int store_apply(int64_t slot, int type, const ItemForm& form, int repo, int flags, Stored* st) {
  if (!utf8_valid(form.title.c_str()) || !utf8_valid(form.body.c_str())) {
    log_message(LOG_WARNING, "item_store: invalid UTF-8");
    return -1;
  }
  int64_t offset = 0;
  if (!form_storable(type, form, &offset)) {
    log_message(LOG_WARNING, "item_store: invalid form (%d)", type);
    return -1;
  }
  if (flags > (ITEM_COMPLETED | ITEM_TRASHED)) return -1;
  Item* item = nullptr;
  if (slot < 0) {
    item = item_new(&slot);
    if (!item) return -1;
    item->repo = static_cast<int8_t>(repo);
    st->is_new = true;
    st->kind = form.due ? 1 : 0;
  } else {
    item = item_get(slot);
    if (!item) {
      log_message(LOG_ERROR, "item_store: no item %lld", static_cast<long long>(slot));
      return -1;
    }
    st->before = *item;
    st->kind = change_kind(item, form);
    // A reminder the form holds as it was read keeps its exact offset, which
    // whole minutes may not express (a reminder 90 seconds ahead).
    int32_t unit = 0, count = 0;
    remind_split(item->remind_offset, &unit, &count);
    if (unit && unit == form.remind_unit && count == form.remind_count) offset = item->remind_offset;
  }
  st->slot = slot;
  st->item = item;

  if (item->title != form.title) item->title = form.title;
  item->type = static_cast<int8_t>(type);
  item->markup = static_cast<int8_t>(form.markup);
  item->due = form.due;
  item->end = form.end;
  item->recurrence.freq = static_cast<uint8_t>(form.freq);
  item->recurrence.interval_minus_one = static_cast<uint8_t>(form.interval_minus_one);
  item->recurrence.by_day = static_cast<uint8_t>(form.by_day);
  item->recurrence.end_kind = static_cast<uint8_t>(form.end_kind);
  item->recur_count = form.recur_count;
  item->last_occurrence = form.until;
  item->remind_offset = static_cast<int32_t>(offset);
  item_set_last_occurrence(item);
  int64_t old_remind = item->next_remind;
  item_next_remind(item, time(nullptr));
  if (form.flags) item->flags = static_cast<int8_t>(form.flags);
  if (flags >= 0) item->flags = static_cast<int8_t>(flags);
  if (!st->is_new && item->next_remind != old_remind) st->kind = 1;
  return 0;
}

// Takes the in-memory side of a store back after its group was rolled back.
void store_revert(Stored* st) {
  if (!st->item) return;
  if (st->is_new) {
    links_remove_item(st->slot);
    items_remove_slot(st->slot);
  } else {
    *st->item = st->before;
  }
}

void store_finish(Stored* st, bool sync_reminder) {
  if (sync_reminder) reminder_sync(st->slot);
  if (st->is_new) model().selected_item = st->slot;
  notify_item_changed(st->item, st->kind);
}

// Above this many items a batch rebuilds the reminder list in one pass
// instead of looking each item up in it.
constexpr size_t kReminderRebuildAt = 64;

// The slots grouped by repository, repositories in order of first
// appearance; slots without an item are left out.
std::vector<std::pair<int, std::vector<int64_t>>> by_repository(const std::vector<int64_t>& slots) {
  std::vector<std::pair<int, std::vector<int64_t>>> groups;
  std::unordered_set<int64_t> seen;
  for (int64_t s : slots) {
    const Item* item = item_get(s);
    if (!item || !seen.insert(s).second) continue;
    size_t g = 0;
    while (g < groups.size() && groups[g].first != item->repo) g++;
    if (g == groups.size()) groups.push_back({item->repo, {}});
    groups[g].second.push_back(s);
  }
  return groups;
}


}  // namespace


void notify_item_changed(Item* item, int kind) {
  if (ItemChangedFn fn = model().item_changed) fn(item, kind);
}

int group_begin(int repo) {
  RepoRef ref;
  if (repo_ref(repo, &ref) != 0) {
    log_message(LOG_ERROR, "group_begin: %d", repo);
    return -1;
  }
  return journal_begin(ref.store.db);
}

int group_end(int repo, int rollback) {
  RepoRef ref;
  if (repo_ref(repo, &ref) != 0) {
    log_message(LOG_ERROR, "group_end: %d", repo);
    return -1;
  }
  return rollback ? journal_rollback(ref.store.db) : journal_commit(ref.store.db);
}

RepoGroup::RepoGroup(int repo) {
  RepoRef ref;
  if (repo_ref(repo, &ref) != 0) {
    log_message(LOG_ERROR, "group_begin: %d", repo);
    return;
  }
  group_ = std::make_unique<JournalGroup>(ref.store.db);
}

RepoGroup::~RepoGroup() = default;

int RepoGroup::status() const { return group_ ? group_->status() : -1; }

int RepoGroup::commit() { return group_ ? group_->commit() : -1; }

void RepoGroup::rollback() {
  if (group_) group_->rollback();
}

// --- Storing an item --------------------------------------------------------------------

struct ItemBatch::State {
  int repo = -1;
  std::unique_ptr<JournalGroup> group;
  int status = -1;
  bool committed = false;
  std::vector<Stored> done;

  // Takes the in-memory side back, newest first (an item stored twice
  // returns to its first state).
  void revert() {
    for (size_t i = done.size(); i-- > 0;) store_revert(&done[i]);
    done.clear();
  }
};

ItemBatch::ItemBatch(int repo) : s_(std::make_unique<State>()) {
  s_->repo = repo;
  RepoRef ref;
  if (repo_ref(repo, &ref) != 0) {
    log_message(LOG_ERROR, "item_batch: no repository %d", repo);
    return;
  }
  s_->group = std::make_unique<JournalGroup>(ref.store.db);
  s_->status = s_->group->status();
}

ItemBatch::~ItemBatch() {
  if (s_->committed) return;
  if (s_->group) s_->group->rollback();
  s_->revert();
}

int ItemBatch::status() const { return s_->status; }
int ItemBatch::repo() const { return s_->repo; }
size_t ItemBatch::size() const { return s_->done.size(); }

void ItemBatch::write_out() {
  if (s_->status != 0 || !s_->group) return;
  int rc = s_->group->write_out();
  // Not fatal: what is not written now is written by the commit.
  if (rc != 0) log_message(LOG_WARNING, "item_batch: write out: %d", rc);
}

int64_t ItemBatch::store(int64_t slot, int type, const ItemForm& form, int keep_history, int64_t tag, int flags) {
  if (s_->status != 0) return -1;
  if (slot >= 0) {
    const Item* item = item_get(slot);
    if (!item || item->repo != s_->repo) {
      log_message(LOG_ERROR, "item_store: no item %lld", static_cast<long long>(slot));
      return -1;
    }
  } else {
    const Tag* t = tag >= 1 ? tag_get(tag) : nullptr;
    if (!t || t->repo != s_->repo) {
      log_message(LOG_ERROR, "item_store: no tag %lld", static_cast<long long>(tag));
      return -1;
    }
  }
  Stored st;
  if (store_apply(slot, type, form, s_->repo, flags, &st) != 0) return -1;
  int rc = item_save(st.item, form.body, keep_history);
  if (rc == 0 && st.is_new) rc = create_tag_item(static_cast<int32_t>(tag), static_cast<int32_t>(st.slot));
  if (rc != 0) {
    // Part of this item may be written: only rolling the group back takes
    // it out again.
    log_message(LOG_ERROR, "item_store: %d", rc);
    s_->status = rc;
    store_revert(&st);
    return -1;
  }
  s_->done.push_back(std::move(st));
  return s_->done.back().slot;
}

int ItemBatch::set_flags(int64_t slot, int flags) {
  if (s_->status != 0) return -1;
  Item* item = item_get(slot);
  if (!item || item->repo != s_->repo || flags < 0 || flags > (ITEM_COMPLETED | ITEM_TRASHED)) return -1;
  Stored st;
  st.slot = slot;
  st.item = item;
  st.before = *item;
  st.kind = item->due ? 1 : 0;
  item->flags = static_cast<int8_t>(flags);
  std::string body = item_body_load(item);
  int rc = item_save(item, body, 0);
  wipe(&body);
  if (rc != 0) {
    log_message(LOG_ERROR, "item_set_flags: %d", rc);
    s_->status = rc;
    store_revert(&st);
    return -1;
  }
  s_->done.push_back(std::move(st));
  return 0;
}

int ItemBatch::commit() {
  if (s_->committed) return -1;
  int rc = s_->status;
  if (rc == 0) rc = s_->group->commit();
  if (rc != 0) {
    s_->status = rc;
    if (s_->group) s_->group->rollback();
    s_->revert();
    return rc;
  }
  s_->committed = true;
  bool rebuild = s_->done.size() > kReminderRebuildAt;
  if (rebuild) {
    reminders_rebuild();
    if (ReminderChangedFn fn = model().reminder_changed) fn();
  }
  for (Stored& st : s_->done) store_finish(&st, !rebuild);
  return 0;
}

int64_t item_store(int64_t slot, int type, const ItemForm& form, int keep_history, int64_t tag) {
  int repo = -1;
  if (slot >= 0) {
    const Item* item = item_get(slot);
    if (!item) {
      log_message(LOG_ERROR, "item_store: no item %lld", static_cast<long long>(slot));
      return -1;
    }
    repo = item->repo;
  } else {
    const Tag* t = tag >= 1 ? tag_get(tag) : nullptr;
    if (!t) {
      log_message(LOG_ERROR, "item_store: no tag %lld", static_cast<long long>(tag));
      return -1;
    }
    repo = t->repo;
  }
  ItemBatch batch(repo);
  int64_t stored = batch.store(slot, type, form, keep_history, tag);
  if (stored < 0) return -1;
  int rc = batch.commit();
  if (rc != 0) {
    log_message(LOG_ERROR, "item_store: %d", rc);
    return -1;
  }
  return stored;
}

// --- Flags and removal ---------------------------------------------------------------------

int item_set_flags(int64_t slot, int flags) {
  Item* item = item_get(slot);
  if (!item || flags < 0 || flags > (ITEM_COMPLETED | ITEM_TRASHED)) return -1;
  int8_t old = item->flags;
  item->flags = static_cast<int8_t>(flags);
  int rc = item_update(item);
  if (rc != 0) {
    item->flags = old;
    log_message(LOG_ERROR, "item_set_flags: %d", rc);
    return rc;
  }
  reminder_sync(slot);
  notify_item_changed(item, item->due ? 1 : 0);
  return 0;
}

int item_remove(int64_t slot) {
  Item* item = item_get(slot);
  if (!item) return -1;
  int rc = item_delete(slot);
  if (rc != 0) return rc;
  links_remove_item(slot);
  clipboard_forget({slot});
  reminder_remove(slot);
  notify_item_changed(item, item->due ? 1 : 0);
  return 0;
}

int items_toggle_flag(const std::vector<int64_t>& slots, int flag) {
  if (flag != ITEM_COMPLETED && flag != ITEM_TRASHED) return -1;
  int changed = 0;
  for (const auto& [repo, members] : by_repository(slots)) {
    ItemBatch batch(repo);
    for (int64_t s : members) {
      if (batch.set_flags(s, item_get(s)->flags ^ flag) != 0 && batch.status() != 0) break;
    }
    size_t n = batch.size();
    if (batch.commit() != 0) {
      log_message(LOG_ERROR, "items_toggle_flag: %d", repo);
      return -1;
    }
    changed += static_cast<int>(n);
  }
  return changed;
}

int items_remove(const std::vector<int64_t>& slots) {
  Model& m = model();
  int removed = 0;
  for (const auto& [repo, members] : by_repository(slots)) {
    RepoRef ref;
    if (repo_ref(repo, &ref) != 0) return -1;
    JournalGroup group(ref.store.db);
    int rc = group.status();
    for (size_t i = 0; rc == 0 && i < members.size(); i++) {
      const Item* item = item_get(members[i]);
      rc = object_delete_all(ref.store, item->uuid);
      if (rc == 0) rc = links_delete_all(ref.store, item->uuid, false);
    }
    if (rc == 0) rc = group.commit();
    if (rc != 0) {
      log_message(LOG_ERROR, "items_remove: %d, %d", rc, repo);
      return -1;
    }
    // The memory follows in one pass over links, clipboard and reminders.
    std::unordered_set<int64_t> gone(members.begin(), members.end());
    int64_t cursor = -1;
    while (const TagLink* l = slot_next<TagLink>(m.tag_links, &cursor))
      if (gone.count(l->item)) slot_array_remove(m.tag_links, cursor);
    clipboard_forget(gone);
    bool reminders = false;
    cursor = -1;
    while (const Reminder* r = slot_next<Reminder>(m.reminders, &cursor))
      if (gone.count(r->item)) {
        slot_array_remove(m.reminders, cursor);
        reminders = true;
      }
    for (int64_t s : members) {
      Item* item = item_get(s);
      items_remove_slot(s);
      notify_item_changed(item, item->due ? 1 : 0);
    }
    if (reminders && m.reminder_changed) m.reminder_changed();
    removed += static_cast<int>(members.size());
  }
  return removed;
}

