// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/tag.h"

#include <openssl/crypto.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "crypto/crypto.h"
#include "model/item.h"
#include "model/model.h"
#include "storage/db.h"
#include "storage/journal.h"
#include "support/log.h"

std::string tag_string_format(const Tag& tag) {
  std::string s = uuid_to_hex(tag.parent);
  s += ':';
  s += std::to_string(static_cast<long long>(tag.modified));
  s += ':';
  s += tag.name;
  return s;
}

static void free_tags(SlotArray* array) {
  if (!array) return;
  int64_t cursor = -1;
  while (Tag* tag = slot_next<Tag>(array, &cursor)) tag->~Tag();
  slot_array_free(array);
}

void tags_reset() {
  Model& m = model();
  slot_array_free(m.tag_links);
  m.tag_links = slot_array_new(sizeof(TagLink));
  free_tags(m.tags);
  m.tags = slot_array_new(sizeof(Tag));
  int64_t slot;
  new (slot_array_add(m.tags, &slot)) Tag{};
}

Tag* tag_get(int64_t slot) {
  if (slot < 0) return nullptr;
  return slot_get<Tag>(model().tags, slot);
}

int64_t tag_find(const uint8_t uuid[16]) {
  int64_t cursor = -1;
  while (Tag* tag = slot_next<Tag>(model().tags, &cursor))
    if (memcmp(tag->uuid, uuid, 16) == 0) return cursor;
  return -1;
}

int64_t tag_find_hex(const char* text) {
  uint8_t uuid[16];
  if (hex_to_uuid(text, uuid) != 0) return -1;
  return tag_find(uuid);
}

int64_t tags_add_from_str(int repo, const uint8_t uuid[16], const char* tag_string) {
  if (!tag_string) return -1;
  const char* colon1 = strchr(tag_string, ':');
  if (!colon1 || colon1 - tag_string != 32) return -1;
  std::string parent_hex(tag_string, 32);
  uint8_t parent[16];
  if (hex_to_uuid(parent_hex.c_str(), parent) != 0) return -1;
  const char* colon2 = strchr(colon1 + 1, ':');
  if (!colon2) return -1;
  std::string time_text(colon1 + 1, colon2);
  const char* digits = time_text.c_str() + (time_text[0] == '-');
  if (!*digits || strspn(digits, "0123456789") != strlen(digits)) return -1;
  errno = 0;
  long long modified = strtoll(time_text.c_str(), nullptr, 10);
  if (errno == ERANGE) return -1;

  int64_t cursor = 0;  // slots above the root entry
  while (Tag* tag = slot_next<Tag>(model().tags, &cursor)) {
    if (memcmp(tag->uuid, uuid, 16) == 0) {
      log_message(LOG_ERROR, "tags_add_from_str: duplicate tag uuid");
      model().duplicate_tag = true;
      return -1;
    }
  }
  int64_t slot;
  void* p = slot_array_add(model().tags, &slot);
  if (!p) return -1;
  Tag* tag = new (p) Tag{};
  memcpy(tag->uuid, uuid, 16);
  memcpy(tag->parent, parent, 16);
  tag->name = colon2 + 1;
  tag->modified = modified;
  tag->repo = repo;
  return slot;
}

void tags_remove_slot(int64_t slot) {
  Tag* tag = tag_get(slot);
  if (!tag || slot == 0) return;
  std::string().swap(tag->name);
  slot_array_remove(model().tags, slot);
}

void tag_link_append(int32_t tag_slot, int32_t item_slot) {
  int64_t s;
  TagLink* link = static_cast<TagLink*>(slot_array_add(model().tag_links, &s));
  if (!link) return;
  link->tag = tag_slot;
  link->item = item_slot;
}

void tag_link_add(const uint8_t tag_uuid[16], const uint8_t item_uuid[16]) {
  int64_t tag = tag_find(tag_uuid);
  if (tag < 0) return;
  int64_t item = item_find(item_uuid);
  if (item < 0) return;
  tag_link_append(static_cast<int32_t>(tag), static_cast<int32_t>(item));
}

bool tag_link_exists(int32_t tag_slot, int32_t item_slot) {
  int64_t cursor = -1;
  while (const TagLink* link = slot_next<TagLink>(model().tag_links, &cursor))
    if (link->tag == tag_slot && link->item == item_slot) return true;
  return false;
}

int tags_save_tag(Tag* tag) {
  std::string hex = uuid_to_hex(tag->uuid);
  log_message(LOG_DEBUG, "tags_save_tag(%s, %d)", hex.c_str(), tag->repo);
  tag->modified = time(nullptr);
  std::string text = tag_string_format(*tag);
  std::vector<uint8_t> padded = pad16(text);
  uint8_t hash[20];
  sha1(hash, text.data(), text.size());

  RepoRef ref;
  int rc = repo_ref(tag->repo, &ref);
  if (rc == 0) {
    JournalGroup group(ref.store.db);
    rc = group.status();
    if (rc == 0) rc = object_write(ref.store, tag->uuid, hash, padded.data(), padded.size(), nullptr, 0, false);
    if (rc == 0) rc = group.commit();
  }
  if (rc != 0) log_message(LOG_ERROR, "tags_save_tag(%s, %d): %d", hex.c_str(), tag->repo, rc);
  return rc;
}

int64_t tag_create(int repo, int64_t parent_slot, const char* name) {
  Tag* parent = tag_get(parent_slot);
  if (!parent || !name) return -1;
  uint8_t uuid[16];
  if (random_uuid(uuid) != 0) return -1;
  uint8_t parent_uuid[16];
  memcpy(parent_uuid, parent->uuid, 16);
  int parent_repo = parent->repo;
  int64_t slot;
  void* p = slot_array_add(model().tags, &slot);
  if (!p) return -1;
  Tag* tag = new (p) Tag{};
  memcpy(tag->uuid, uuid, 16);
  if (parent_slot != 0) memcpy(tag->parent, parent_uuid, 16);
  tag->name = name;
  tag->repo = parent_slot == 0 ? repo : parent_repo;
  if (tags_save_tag(tag) != 0) {
    tags_remove_slot(slot);
    return -1;
  }
  return slot;
}

int64_t item_home_tag(int64_t item_slot) {
  Model& m = model();
  const Item* item = item_get(item_slot);
  if (!item) return -1;
  int64_t cursor = -1;
  while (const TagLink* l = slot_next<TagLink>(m.tag_links, &cursor))
    if (l->item == item_slot && l->tag >= 1 && tag_get(l->tag)) return l->tag;
  cursor = -1;
  while (const Tag* t = slot_next<Tag>(m.tags, &cursor))
    if (cursor > 0 && t->repo == item->repo && uuid_is_zero(t->parent)) return cursor;
  return -1;
}
