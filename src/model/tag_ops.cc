// SPDX-License-Identifier: GPL-3.0-or-later
// Tag links in memory and storage, renaming and deleting tags, the items
// under a tag.
#include "model/tag_ops.h"

#include <cstring>
#include <unordered_set>
#include <vector>

#include "model/item.h"
#include "model/model.h"
#include "model/tag.h"
#include "storage/db.h"
#include "storage/journal.h"
#include "storage/repo.h"
#include "support/log.h"
#include "support/text.h"

namespace {

const RepoDb& repo_db(const RepoRef& ref) { return ref.store; }

void link_remove_memory(int32_t tag_slot, int32_t item_slot) {
  Model& m = model();
  int64_t cursor = -1;
  while (const TagLink* l = slot_next<TagLink>(m.tag_links, &cursor))
    if (l->tag == tag_slot && l->item == item_slot) slot_array_remove(m.tag_links, cursor);
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
  if (repo_index < 0 || static_cast<size_t>(repo_index) >= repo_table().size() || !name) return -1;
  RepoEntry& e = repo_table()[static_cast<size_t>(repo_index)];
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
