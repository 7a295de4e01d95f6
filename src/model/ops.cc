#include "model/ops.h"


#include <climits>
#include <cstring>
#include <ctime>
#include <unordered_set>

#include "crypto/wipe.h"
#include "model/item.h"
#include "model/model.h"
#include "model/recur.h"
#include "model/tag.h"
#include "storage/db.h"
#include "storage/journal.h"
#include "storage/repo.h"
#include "support/log.h"
#include "support/text.h"

namespace {

std::vector<int32_t> g_clipboard;

// Bodies may hold passwords (keys): wipe the copies this module makes.
void wipe_body(ItemForm* f) {
  wipe(&f->body);
}

const RepoDb& repo_db(const RepoRef& ref) { return ref.store; }

void links_remove_item(int64_t item_slot) {
  Model& m = model();
  int64_t cursor = -1;
  while (const TagLink* l = slot_next<TagLink>(m.tag_links, &cursor))
    if (l->item == item_slot) slot_array_remove(m.tag_links, cursor);
}

void link_remove_memory(int32_t tag_slot, int32_t item_slot) {
  Model& m = model();
  int64_t cursor = -1;
  while (const TagLink* l = slot_next<TagLink>(m.tag_links, &cursor))
    if (l->tag == tag_slot && l->item == item_slot) slot_array_remove(m.tag_links, cursor);
}

void clipboard_forget(int64_t item_slot) {
  for (size_t i = 0; i < g_clipboard.size();) {
    if (g_clipboard[i] == item_slot)
      g_clipboard.erase(g_clipboard.begin() + static_cast<long>(i));
    else
      i++;
  }
  if (g_clipboard.empty()) std::vector<int32_t>().swap(g_clipboard);
}

// The form of an item exactly as it is stored (no defaults for missing
// times), for operations that rewrite an item without an editor.
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

// Values that the header string could not carry back unchanged (the reader
// rejects negative times and offsets, flags outside 0..4, and recurrence
// bytes above 127 turn the packed value negative).
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

void mark_subtree(int64_t root, std::vector<int64_t>* marked) {
  Model& m = model();
  marked->push_back(root);
  std::unordered_set<int64_t> seen{root};
  for (size_t i = 0; i < marked->size(); i++) {
    const Tag* parent = tag_get((*marked)[i]);
    int64_t cursor = 0;  // children are real tags, slot 1 and above
    while (const Tag* t = slot_next<Tag>(m.tags, &cursor)) {
      if (memcmp(t->parent, parent->uuid, 16) == 0 && !seen.count(cursor)) {
        seen.insert(cursor);
        marked->push_back(cursor);
      }
    }
  }
}

}  // namespace

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

// --- Forms ---------------------------------------------------------------------------

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

// --- Tag links ------------------------------------------------------------------------------

int create_tag_item(int32_t tag_slot, int32_t item_slot) {
  if (tag_slot < 1) {
    tag_link_append(tag_slot, item_slot);
    return 0;
  }
  const Tag* tag = tag_get(tag_slot);
  const Item* item = item_get(item_slot);
  RepoRef ref;
  int rc = -1;
  if (tag && item && item->repo == tag->repo && repo_ref(tag->repo, &ref) == 0)
    rc = link_add(repo_db(ref), tag->uuid, item->uuid);
  if (rc != 0) {
    log_message(LOG_ERROR, "create_tag_item(%d, %d): %d", tag_slot, item_slot, rc);
    return rc;
  }
  tag_link_append(tag_slot, item_slot);
  return 0;
}

int update_tag_item(int32_t tag_slot, int32_t item_slot, int set) {
  if (!tag_link_exists(tag_slot, item_slot)) return set ? create_tag_item(tag_slot, item_slot) : 0;
  if (set) return 0;
  if (tag_slot >= 1) {
    const Tag* tag = tag_get(tag_slot);
    const Item* item = item_get(item_slot);
    RepoRef ref;
    int rc = -1;
    if (tag && item && repo_ref(tag->repo, &ref) == 0) rc = link_remove(repo_db(ref), tag->uuid, item->uuid);
    if (rc != 0) {
      log_message(LOG_ERROR, "update_tag_item(%d, %d, 0): %d", tag_slot, item_slot, rc);
      return rc;
    }
  }
  link_remove_memory(tag_slot, item_slot);
  return 0;
}

void tag_links_drop(int32_t tag_slot) {
  Model& m = model();
  int64_t cursor = -1;
  while (const TagLink* l = slot_next<TagLink>(m.tag_links, &cursor))
    if (l->tag == tag_slot) slot_array_remove(m.tag_links, cursor);
}

// --- Tags ----------------------------------------------------------------------------------

int tag_rename(int64_t tag_slot, const char* name) {
  Tag* tag = tag_slot >= 1 ? tag_get(tag_slot) : nullptr;
  if (!tag || !name) return -1;
  if (uuid_is_zero(tag->parent)) {
    log_message(LOG_ERROR, "tag_rename: %d", -2);
    return -2;
  }
  if (!*name || tag->name == name) return 0;
  if (!utf8_valid(name)) return -1;
  std::string old = tag->name;
  int64_t old_modified = tag->modified;
  tag->name = name;
  int rc = tags_save_tag(tag);
  if (rc != 0) {
    tag->name = old;
    tag->modified = old_modified;
  }
  return rc;
}

int repo_rename(int repo_index, const char* name) {
  if (repo_index < 0 || static_cast<size_t>(repo_index) >= repo_table.size() || !name) return -1;
  RepoEntry& e = repo_table[static_cast<size_t>(repo_index)];
  if (!*name || e.name == name) return 0;
  if (!utf8_valid(name) || std::strpbrk(name, "\r\n")) {
    log_message(LOG_ERROR, "repo_rename: %d: %d", repo_index, -1);
    return -1;
  }
  std::string old = e.name;
  e.name = name;
  int rc = repo_store(&e);
  if (rc != 0) {
    log_message(LOG_ERROR, "repo_rename: %d: %d", repo_index, rc);
    e.name = old;
    return rc;
  }
  // The root tag carries the display name in memory only; its stored name stays "/".
  int64_t cursor = -1;
  while (Tag* t = slot_next<Tag>(model().tags, &cursor))
    if (cursor > 0 && t->repo == repo_index && uuid_is_zero(t->parent)) t->name = e.name;
  return 0;
}

int delete_tag(int64_t tag_slot) {
  Model& m = model();
  Tag* tag = tag_slot >= 1 ? tag_get(tag_slot) : nullptr;
  int status = 0;
  if (!tag) status = -1;
  else if (uuid_is_zero(tag->parent)) status = -2;
  if (status) {
    log_message(LOG_ERROR, "delete_tag: %d, %d", status, 0);
    return status;
  }
  int repo = tag->repo;
  uint8_t parent_uuid[16];
  memcpy(parent_uuid, tag->parent, 16);
  int64_t parent_slot = tag_find(parent_uuid);

  std::vector<int64_t> marked;
  mark_subtree(tag_slot, &marked);
  std::unordered_set<int64_t> marked_set(marked.begin(), marked.end());

  // Items that lose a link to a deleted tag and keep no other real tag are
  // linked to the parent; items that had no tag before are left alone.
  std::unordered_set<int64_t> affected, kept;
  int64_t cursor = -1;
  while (const TagLink* l = slot_next<TagLink>(m.tag_links, &cursor)) {
    if (l->tag < 1) continue;
    if (marked_set.count(l->tag))
      affected.insert(l->item);
    else if (tag_get(l->tag))
      kept.insert(l->item);
  }
  std::vector<int64_t> orphans;
  cursor = -1;
  while (const Item* item = slot_next<Item>(m.items, &cursor))
    if (item->repo == repo && affected.count(cursor) && !kept.count(cursor)) orphans.push_back(cursor);

  RepoRef ref;
  if (repo_ref(repo, &ref) != 0) {
    log_message(LOG_ERROR, "delete_tag: %d, %d", -1, static_cast<int>(tag_slot));
    return -1;
  }
  const RepoDb& r = repo_db(ref);
  JournalGroup group(ref.store.db);
  status = group.status();
  if (status != 0) {
    log_message(LOG_ERROR, "delete_tag: %d, %d", status, static_cast<int>(tag_slot));
    return status;
  }
  for (int64_t s : marked) {
    const Tag* t = tag_get(s);
    status = object_delete_all(r, t->uuid);
    if (status == 0) status = links_delete_all(r, t->uuid, true);
    if (status != 0) {
      group.rollback();
      log_message(LOG_ERROR, "delete_tag: %d, %d", status, static_cast<int>(s));
      return status;
    }
  }
  bool relink = parent_slot >= 1;
  if (relink) {
    for (int64_t s : orphans) {
      if (link_add(r, parent_uuid, item_get(s)->uuid) != 0) {
        group.rollback();
        log_message(LOG_ERROR, "delete_tag: %d, %d", -1, static_cast<int>(tag_slot));
        return -1;
      }
    }
  }
  status = group.commit();
  if (status != 0) {
    log_message(LOG_ERROR, "delete_tag: %d, %d", status, static_cast<int>(tag_slot));
    return status;
  }

  // The database is changed; now the memory follows.
  for (int64_t s : marked) tags_remove_slot(s);
  cursor = -1;
  while (const TagLink* l = slot_next<TagLink>(m.tag_links, &cursor))
    if (l->tag >= 1 && !tag_get(l->tag)) slot_array_remove(m.tag_links, cursor);
  if (relink)
    for (int64_t s : orphans) tag_link_append(static_cast<int32_t>(parent_slot), static_cast<int32_t>(s));
  log_message(LOG_INFO, "delete_tag: %d, %d", 0, static_cast<int>(tag_slot));
  return 0;
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
  clipboard_forget(slot);
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
    size_t kept = 0;
    for (int32_t c : g_clipboard)
      if (!gone.count(c)) g_clipboard[kept++] = c;
    g_clipboard.resize(kept);
    if (g_clipboard.empty()) clipboard_clear();
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

// --- Clipboard ------------------------------------------------------------------------------

const std::vector<int32_t>& clipboard() { return g_clipboard; }

void clipboard_clear() { std::vector<int32_t>().swap(g_clipboard); }

void copy_items(const std::vector<int32_t>& slots) {
  g_clipboard.clear();
  for (int32_t s : slots)
    if (s >= 0) g_clipboard.push_back(s);
}

void copy_all_items() {
  int32_t tag = model().view;
  log_message(LOG_DEBUG, "copy_all_items: %d", tag);
  if (tag < 1 || !tag_get(tag)) return;  // -t of a fixed row would name an item slot
  g_clipboard.assign(1, -tag);
}

int paste_repo(int64_t tag) {
  // A copy: the clipboard may change under the paste (an item removed).
  std::vector<int32_t> entries = g_clipboard;
  return paste_items(tag, entries);
}

size_t paste_size(const std::vector<int32_t>& entries) {
  if (!(entries.size() == 1 && entries[0] < 0)) return entries.size();
  const Tag* src_tag = tag_get(-static_cast<int64_t>(entries[0]));
  if (!src_tag) return 0;
  size_t n = 0;
  int64_t cursor = -1;
  while (const Item* item = slot_next<Item>(model().items, &cursor))
    if (item->repo == src_tag->repo) n++;
  return n;
}

int paste_items(int64_t tag, const std::vector<int32_t>& entries, PasteProgress progress, void* ctx) {
  Model& m = model();
  const Tag* target_tag = tag >= 1 ? tag_get(tag) : nullptr;
  if (!target_tag) return -1;
  int target = target_tag->repo;
  std::vector<int64_t> sources;
  if (entries.size() == 1 && entries[0] < 0) {
    const Tag* src_tag = tag_get(-static_cast<int64_t>(entries[0]));
    int source = src_tag ? src_tag->repo : -1;
    log_message(LOG_INFO, "paste_repo: %d -> %d", source, target);
    if (source < 0 || source == target) return 0;
    int64_t cursor = -1;
    while (const Item* item = slot_next<Item>(m.items, &cursor))
      if (item->repo == source) sources.push_back(cursor);
  } else {
    log_message(LOG_INFO, "paste_items: -> %d (%d)", target, static_cast<int>(entries.size()));
    for (int32_t s : entries) {
      const Item* item = item_get(s);
      if (item && item->repo != target) sources.push_back(s);
    }
  }
  if (sources.empty()) return 0;

  // The bodies are read item by item from the source repositories: one read
  // transaction and one set of statements each, not a lock per body.
  std::vector<std::unique_ptr<StmtCacheScope>> statements;
  std::vector<std::unique_ptr<Transaction>> reads;
  std::unordered_set<int> source_repos;
  for (int64_t s : sources) {
    RepoRef ref;
    int repo = item_get(s)->repo;
    if (!source_repos.insert(repo).second || repo_ref(repo, &ref) != 0) continue;
    reads.push_back(std::make_unique<Transaction>(ref.store.db));
    statements.push_back(std::make_unique<StmtCacheScope>(ref.store.db));
  }
  // The whole paste is one journal group: one undo step takes it back.
  ItemBatch batch(target);
  for (size_t i = 0; i < sources.size(); i++) {
    // The caller may let the window draw here: the items are looked up again.
    if (progress && !progress(i, sources.size(), ctx)) {
      log_message(LOG_INFO, "paste_items: cancelled at %d", static_cast<int>(i));
      return -2;  // the batch rolls back
    }
    int64_t s = sources[i];
    const Item* item = item_get(s);
    if (!item) continue;
    ItemForm form;
    form_from_item(item, &form);
    int type = item->type;
    int flags = item->flags & (ITEM_COMPLETED | ITEM_TRASHED);
    batch.store(-1, type, form, 0, tag, flags);
    wipe_body(&form);
    if (batch.status() != 0) break;
  }
  size_t n = batch.size();
  int rc = batch.commit();
  if (rc != 0) {
    log_message(LOG_ERROR, "paste_repo: %d", rc);
    return -1;
  }
  return static_cast<int>(n);
}

int attach_items() {
  Model& m = model();
  log_message(LOG_DEBUG, "attach_items: %d", static_cast<int>(g_clipboard.size()));
  int64_t sel = m.selected_item;
  const Item* item = item_get(sel);
  if (!item || g_clipboard.empty() || g_clipboard[0] < 0) return -1;
  if (item->type != ITEM_TASK && item->type != ITEM_EVENT && item->type != ITEM_NOTE) return -1;
  const Item* first = item_get(g_clipboard[0]);
  if (!first || first->repo != item->repo) return -1;
  ItemForm form;
  form_from_item(item, &form);
  std::string lines;
  for (int32_t s : g_clipboard) {
    const Item* other = item_get(s);
    if (!other || s == sel) continue;
    lines += "[[ordika:" + uuid_to_hex(other->uuid) + "]]\r\n";
  }
  if (lines.empty()) {
    wipe_body(&form);
    return 0;
  }
  form.body.insert(0, lines);
  int64_t rc = item_store(sel, item->type, form, 0, m.view);
  wipe_body(&form);
  return rc >= 0 ? 0 : -1;
}

// --- Walking the items under a tag ---------------------------------------------------------

int items_under_tag(int64_t tag_slot, int type_mask, ItemVisitFn fn, void* ctx) {
  Model& m = model();
  auto wanted = [type_mask](const Item* item) {
    return item->type >= 0 && item->type < 31 && (type_mask >> item->type & 1);
  };
  int calls = 0;
  if (tag_slot == 0) {
    int64_t cursor = -1;
    while (Item* item = slot_next<Item>(m.items, &cursor))
      if (wanted(item)) {
        fn(cursor, item, ctx);
        calls++;
      }
    return calls;
  }
  const Tag* tag = tag_slot > 0 ? tag_get(tag_slot) : nullptr;
  if (!tag) return -1;
  auto shown = [&](const Item* item) {
    return wanted(item) && !(item->flags & ITEM_TRASHED) && repo_counts(item->repo);
  };
  if (uuid_is_zero(tag->parent)) {
    int repo = tag->repo;
    int64_t cursor = -1;
    while (Item* item = slot_next<Item>(m.items, &cursor))
      if (item->repo == repo && shown(item)) {
        fn(cursor, item, ctx);
        calls++;
      }
    return calls;
  }
  std::vector<int64_t> subtree;
  mark_subtree(tag_slot, &subtree);
  std::unordered_set<int64_t> in_set(subtree.begin(), subtree.end());
  std::unordered_set<int64_t> given;
  int64_t cursor = -1;
  while (const TagLink* l = slot_next<TagLink>(m.tag_links, &cursor)) {
    if (!in_set.count(l->tag) || given.count(l->item)) continue;
    Item* item = item_get(l->item);
    if (!item || !shown(item)) continue;
    given.insert(l->item);
    fn(l->item, item, ctx);
    calls++;
  }
  return calls;
}
