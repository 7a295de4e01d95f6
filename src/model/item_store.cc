// SPDX-License-Identifier: GPL-3.0-or-later
// Items in the repository databases: saving versions, deleting, bodies and
// the stored history of an item.

#include <cstring>
#include <ctime>

#include "crypto/wipe.h"
#include "model/item.h"
#include "model/model.h"
#include "storage/db.h"
#include "storage/journal.h"
#include "support/log.h"

namespace {
// Plaintext buffers (bodies hold passwords) are wiped when they go.
struct WipedBuffer {
  WipedBytes b;
  explicit WipedBuffer(const std::string& text) : b(pad16(text)) {}
};

bool has_version_hash(const Item* item) {
  for (uint8_t b : item->version_hash)
    if (b) return true;
  return false;
}
}  // namespace

std::string item_body_load(const Item* item) {
  RepoRef ref;
  if (!item || repo_ref(item->repo, &ref) != 0) return std::string();
  std::string raw = has_version_hash(item)
                        ? object_read_version(ref.store, item->uuid, item->version_hash)
                        : object_read_current(ref.store, item->uuid);
  std::string body = body_from_storage(raw.data(), raw.size());
  wipe(&raw);
  return body;
}

int item_save(Item* item, const std::string& body, int keep_history) {
  log_message(LOG_DEBUG, "item_save");
  int64_t now = time(nullptr);
  if (!item->created) item->created = now;
  item->modified = now;
  std::string header = item_header_format(*item);
  std::string stored = body_to_storage(body);
  uint8_t hash[20];
  item_version_hash(header, stored, hash);

  int rc;
  RepoRef ref;
  if (repo_ref(item->repo, &ref) != 0) {
    rc = -1;
  } else {
    WipedBuffer h(header), b(stored);
    rc = object_write(ref.store, item->uuid, hash, h.b.v.data(), h.b.v.size(), b.b.v.data(), b.b.v.size(),
                      keep_history != 0);
  }
  wipe(&stored);
  if (rc != 0) log_message(LOG_ERROR, "item_save: %d", rc);
  return rc;
}

int item_update(Item* item) {
  RepoRef ref;
  if (!item || repo_ref(item->repo, &ref) != 0) {
    log_message(LOG_ERROR, "item_update: no repository");
    return -1;
  }
  std::string body = item_body_load(item);
  int rc;
  {
    JournalGroup group(ref.store.db);
    rc = group.status();
    if (rc == 0) rc = item_save(item, body, 0);
    if (rc == 0) rc = group.commit();
  }
  wipe(&body);
  return rc;
}

int item_delete(int64_t slot) {
  Item* item = item_get(slot);
  if (!item) {
    log_message(LOG_ERROR, "item_delete(%d): %d", static_cast<int>(slot), -1);
    return -1;
  }
  RepoRef ref;
  int rc = repo_ref(item->repo, &ref);
  if (rc == 0) {
    JournalGroup group(ref.store.db);
    rc = group.status();
    if (rc == 0) rc = object_delete_all(ref.store, item->uuid);
    if (rc == 0) rc = links_delete_all(ref.store, item->uuid, false);
    if (rc == 0) rc = group.commit();
  }
  if (rc != 0) {
    log_message(LOG_ERROR, "item_delete(%d): %d", static_cast<int>(slot), rc);
    return rc;
  }
  items_remove_slot(slot);
  return 0;
}

int history_load(HistoryView* view, const Item* item) {
  if (!item) {
    history_clear(view);
    return -1;
  }
  // The item may be one of the view's own records.
  uint8_t uuid[16];
  memcpy(uuid, item->uuid, 16);
  int repo = item->repo;
  history_clear(view);
  RepoRef ref;
  if (repo_ref(repo, &ref) != 0) return -1;
  Stmt stmt = object_history_query(ref.store, uuid);
  if (!stmt) return -1;
  int count = 0;
  for (;;) {
    ObjectRow row;
    int rc = row_read(stmt.get(), ref.store.key, &row);
    if (rc == 1) break;
    if (rc != 0) {
      log_message(LOG_ERROR, "history_load: %d", rc);
      return -1;
    }
    if (history_add(view, repo, row.uuid, row.header, row.hash)) count++;
  }
  return count;
}

int history_remove(HistoryView* view, int64_t slot) {
  Item* version = history_get(*view, slot);
  RepoRef ref;
  if (!version || repo_ref(version->repo, &ref) != 0) return -1;
  int rc = object_delete_version(ref.store, version->uuid, version->version_hash);
  if (rc != 0) {
    log_message(LOG_ERROR, "history_remove(%d): %d", static_cast<int>(slot), rc);
    return rc;
  }
  history_remove_slot(view, slot);
  return 0;
}
