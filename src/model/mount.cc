// SPDX-License-Identifier: GPL-3.0-or-later
// Mounting the repositories into the item model.
#include "model/mount.h"

#include <unistd.h>

#include <cstring>
#include <vector>

#include "crypto/crypto.h"
#include "crypto/wipe.h"
#include "model/clipboard.h"
#include "model/full_rule.h"
#include "model/item.h"
#include "model/model.h"
#include "model/ops.h"
#include "model/recur.h"
#include "model/tag.h"
#include "storage/db.h"
#include "storage/journal.h"
#include "storage/repo.h"
#include "storage/source_store.h"
#include "support/log.h"
#include "support/strings.h"

namespace {

constexpr int kMaxRepoIndex = 127;

int lookup(int repo, RepoRef* out) {
  if (repo < 0 || repo >= static_cast<int>(repo_table().size())) return -1;
  const RepoEntry& e = repo_table()[repo];
  out->store = RepoDb{e.db, e.key, !e.server_id.empty()};
  out->hidden = e.hidden;
  return 0;
}

// Deciphers the stored header of each current version into one reused buffer
// with a few reused cipher contexts, keyed a group of rows at a time, and
// hands it to the item or tag parser.
// Links resolve through the item index, taking only slots this load filled
// (not another repository's copy of a uuid), and the repository's own tag
// table. No allocation per row here beyond what the records themselves keep
// (the waiting rows' buffers are reused).
//
// With many items the index outgrows the cache, so each uuid's entry is
// prefetched ahead of its use: before deciphering a row, and for links a
// ring of links ahead.
struct Loader {
  int repo;
  const uint8_t* key;
  std::vector<uint8_t> buf;
  std::vector<bool> mine;  // by item slot: loaded from this repository
  UuidSlotMap tags;
  std::vector<int64_t> roots;  // tags of this repository whose parent is zero

  // Links wait in a ring so that each item's index entry is fetched that
  // many links before it is needed; they are resolved in the order read.
  static constexpr size_t kLinksAhead = 16;
  struct PendingLink {
    uint8_t tag[16];
    uint8_t item[16];
  };
  PendingLink links[kLinksAhead];
  size_t links_in = 0, links_out = 0;

  // Rows wait in groups whose keys are scheduled together (the schedule of
  // one is a chain of dependent steps; side by side they overlap).
  struct Row {
    uint8_t uuid[16];
    uint8_t hash[20];
    std::vector<uint8_t> c4;  // as stored: ciphertext
  };
  Row rows[kDerivedKeysAtOnce];
  int waiting = 0;
  CipherContext ciphers[kDerivedKeysAtOnce];

  void object(const uint8_t uuid[16], const uint8_t hash[20], const uint8_t* c4, size_t len) {
    if (!c4 || len == 0 || len % 16) {
      log_message(LOG_WARNING, "repo_mount_all: row of %d with %zu bytes", repo, len);
      return;
    }
    uuid_map_prefetch(model().item_index, uuid);
    Row& r = rows[waiting++];
    std::memcpy(r.uuid, uuid, 16);
    std::memcpy(r.hash, hash, 20);
    r.c4.assign(c4, c4 + len);
    if (waiting == kDerivedKeysAtOnce) flush_objects();
  }

  // Deciphers and parses the waiting rows, in the order they came.
  void flush_objects() {
    CipherContext* ctx[kDerivedKeysAtOnce];
    const uint8_t* uuids[kDerivedKeysAtOnce];
    const uint8_t* hashes[kDerivedKeysAtOnce];
    for (int j = 0; j < waiting; j++) {
      ctx[j] = &ciphers[j];
      uuids[j] = rows[j].uuid;
      hashes[j] = rows[j].hash;
    }
    object_ciphers(ctx, key, uuids, hashes, waiting, CIPHER_DECRYPT);
    for (int j = 0; j < waiting; j++) parse(rows[j], &ciphers[j]);
    waiting = 0;
  }

  void parse(const Row& r, CipherContext* cipher) {
    size_t len = r.c4.size();
    if (buf.size() < len + 1) buf.resize(len + 1);
    buf[len] = 0;
    // The row cipher: c4 is the start of the row's CBC stream.
    if (aes_decrypt(cipher, r.c4.data(), buf.data(), len, MODE_CBC) != static_cast<long>(len)) return;
    const char* text = reinterpret_cast<const char*>(buf.data());
    if (text[0] && text[1] == ':') {
      int64_t slot = -1;
      if (Item* item = items_add_from_str(repo, r.uuid, text, &slot)) {
        item_set_last_occurrence(item);
        if (mine.size() <= static_cast<size_t>(slot)) mine.resize(static_cast<size_t>(slot) + 1 + mine.size() / 2);
        mine[static_cast<size_t>(slot)] = true;
      }
    } else {
      int64_t slot = tags_add_from_str(repo, r.uuid, text);
      if (slot > 0) {
        uuid_map_set(&tags, r.uuid, slot);
        const Tag* tag = tag_get(slot);
        if (tag && uuid_is_zero(tag->parent)) roots.push_back(slot);
      }
    }
  }

  // Queues the link, resolving the oldest when the ring is full.
  void link(const uint8_t tag_uuid[16], const uint8_t item_uuid[16]) {
    uuid_map_prefetch(model().item_index, item_uuid);
    if (links_in - links_out == kLinksAhead) resolve(links[links_out++ % kLinksAhead]);
    PendingLink& p = links[links_in++ % kLinksAhead];
    std::memcpy(p.tag, tag_uuid, 16);
    std::memcpy(p.item, item_uuid, 16);
  }

  void flush_links() {
    while (links_out < links_in) resolve(links[links_out++ % kLinksAhead]);
  }

  void resolve(const PendingLink& p) {
    int64_t tag = uuid_map_find(tags, p.tag);
    if (tag < 0) return;
    int64_t item = uuid_map_find(model().item_index, p.item);
    if (item < 0 || static_cast<size_t>(item) >= mine.size() || !mine[static_cast<size_t>(item)]) return;
    tag_link_append(static_cast<int32_t>(tag), static_cast<int32_t>(item));
  }

  ~Loader() {
    wipe(&buf);
  }
};

// Loads one opened repository; false when it must be left out.
// The full recurrence rules kept beside the repository's items. A rule that
// does not parse leaves its item with its own Recurrence.
void attach_full_rules(int index) {
  if (!source_exists(index)) return;
  int rc = source_rules(index, [index](const uint8_t uuid[16], const std::string& rule) {
    int64_t slot = item_find(uuid);
    const Item* item = item_get(slot);
    if (item && item->repo == index) item_full_rule_set(slot, rule);
  });
  if (rc != 0) log_message(LOG_ERROR, "repo_mount_all: sources: %d", rc);
  // The kept sources of items that can no longer come back go.
  if (source_sweep(index) != 0) log_message(LOG_ERROR, "repo_mount_all: sweep");
}

bool load_repo(int index) {
  RepoEntry& e = repo_table()[index];
  Loader loader;
  loader.repo = index;
  loader.key = e.key;
  RepoDb r{e.db, e.key, !e.server_id.empty()};
  int rc = objects_load_current(r, index, [&loader](int, const uint8_t* uuid, const uint8_t* hash, const uint8_t* c4,
                                                    size_t len) { loader.object(uuid, hash, c4, len); });
  loader.flush_objects();
  if (rc == 0 && !model().duplicate_tag) {
    rc = links_load(r, [&loader](const uint8_t tag[16], const uint8_t item[16]) { loader.link(tag, item); });
    loader.flush_links();
  }
  if (rc != 0) {
    log_message(LOG_ERROR, "repo_mount_all: %d: %d", index, rc);
    return false;
  }
  if (model().duplicate_tag) return false;
  for (int64_t slot : loader.roots) {
    if (Tag* tag = tag_get(slot)) tag->name = e.name;
  }
  attach_full_rules(index);
  return true;
}

int db_create_hook(int index) { return repo_db_create(index); }

}  // namespace

void mount_init() {
  model().repo_lookup = lookup;
  RepoHooks hooks;
  hooks.db_create = db_create_hook;
  repo_set_hooks(hooks);
}

int repo_db_create(int index) {
  mount_init();
  if (index < 0 || index >= static_cast<int>(repo_table().size())) return -1;
  sqlite3* db = nullptr;
  int rc = repo_db_create_file(&repo_table()[index], &db);
  if (rc != 0) return rc;
  sqlite3* previous = repo_table()[index].db;
  repo_table()[index].db = db;

  Tag root;
  rc = random_uuid(root.uuid);
  root.name = "/";
  root.repo = index;
  if (rc == 0) rc = tags_save_tag(&root);
  if (rc == 0 && repo_table().size() == 1) {
    static const StrId kDefaultTags[] = {STR_LIST_CONTACTS, STR_DEFAULT_TAG_PERSONAL, STR_LIST_KEYS,
                                         STR_DEFAULT_TAG_WORK};
    for (StrId id : kDefaultTags) {
      Tag tag;
      if ((rc = random_uuid(tag.uuid)) != 0) break;
      std::memcpy(tag.parent, root.uuid, 16);
      const char* name = ui_string(id);
      tag.name = name ? name : "";
      tag.repo = index;
      if ((rc = tags_save_tag(&tag)) != 0) break;
    }
  }
  // A new repository starts with nothing to undo.
  if (rc == 0) {
    Transaction tx(db);
    rc = tx.status();
    if (rc == 0) rc = journal_reset(db);
    if (rc == 0) rc = tx.commit();
  }
  db_close(db);
  repo_table()[index].db = previous;
  if (rc != 0) {
    log_message(LOG_ERROR, "repo_db_create: %d", rc);
    ::unlink((repo_table()[index].path + "/data").c_str());
  }
  return rc;
}

int repo_mount_all() {
  mount_init();
  Model& m = model();
  std::vector<bool> left_out(repo_table().size(), false);
  int failed = 0;
  bool saw_duplicate = false;
  for (;;) {
    m.duplicate_tag = false;
    items_reset();
    tags_reset();
    m.selected_item = -1;
    bool restart = false;
    for (size_t i = 0; i < repo_table().size() && !restart; i++) {
      RepoEntry& e = repo_table()[i];
      int index = static_cast<int>(i);
      if (!e.enabled || left_out[i]) {
        log_message(LOG_NOTICE, "skipping: %d", index);
        repo_close(&e);
        continue;
      }
      log_message(LOG_NOTICE, "mounting: %d", index);
      // Items keep their repository index in a signed byte.
      bool ok = index <= kMaxRepoIndex && repo_open(&e) == 0;
      if (ok && !load_repo(index)) {
        ok = false;
        if (m.duplicate_tag) {
          // Its tags are partly loaded: start again without it.
          left_out[i] = true;
          restart = true;
          saw_duplicate = true;
        }
      }
      log_message(LOG_NOTICE, ok ? "mounted" : "not mounted");
      e.mounted = ok;
      if (!ok) {
        repo_close(&e);
        left_out[i] = true;
      }
    }
    if (!restart) break;
  }
  for (size_t i = 0; i < repo_table().size(); i++) {
    if (repo_table()[i].enabled && left_out[i]) failed++;
  }
  if (failed) set_last_error(-1);
  // Each pass starts with the flag cleared; the shell still has to hear of it.
  if (saw_duplicate) m.duplicate_tag = true;
  reminders_rebuild();
  if (m.reminder_changed) m.reminder_changed();
  return failed;
}

void repo_remount() {
  Model& m = model();
  uint8_t tag_uuid[16], item_uuid[16];
  bool had_tag = false, had_item = false;
  if (const Tag* tag = model_selected_tag()) {
    std::memcpy(tag_uuid, tag->uuid, 16);
    had_tag = true;
  }
  if (const Item* item = item_get(m.selected_item)) {
    std::memcpy(item_uuid, item->uuid, 16);
    had_item = true;
  }
  m.view = VIEW_REMINDERS;
  repo_mount_all();
  if (had_tag) {
    int64_t slot = tag_find(tag_uuid);
    if (slot > 0) m.view = static_cast<int32_t>(slot);
  }
  if (had_item) m.selected_item = item_find(item_uuid);
  clipboard_clear();
}

void clean_data() {
  repo_reset_journals();
  for (size_t i = 0; i < repo_table().size(); i++)
    if (repo_table()[i].db && repo_table()[i].mounted) source_sweep(static_cast<int>(i));
  for (auto& e : repo_table()) repo_close(&e);
  items_reset();
  tags_reset();
  reminders_rebuild();
}

int repo_journal_step(int index, int redo) {
  if (index < 0 || static_cast<size_t>(index) >= repo_table().size() || !repo_table()[index].mounted ||
      !repo_table()[index].db)
    return -1;
  sqlite3* db = repo_table()[index].db;
  if (!(journal_state(db) & (redo ? 2 : 1))) return 1;
  int rc = redo ? journal_redo(db) : journal_undo(db);
  if (rc != 0) {
    log_message(LOG_ERROR, "repo_journal_step: %d %d: %d", index, redo, rc);
    return rc;
  }
  repo_remount();
  return 0;
}
