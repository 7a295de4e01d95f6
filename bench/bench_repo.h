// SPDX-License-Identifier: GPL-3.0-or-later
// Client repositories for the server benchmarks: items under a fixed
// key, written and changed in one journal group, and a sync that retries
// while the server reports that the state moved.
#pragma once

#include <cstring>
#include <string>

#include "crypto/crypto.h"
#include "storage/db.h"
#include "storage/journal.h"
#include "storage/page_vfs.h"
#include "sync/requests.h"
#include "sync/sync_driver.h"

inline const uint8_t* repo_key() {
  static uint8_t k[32];
  static bool made = false;
  if (!made) {
    derive_key("bench-repo-pw", k);
    made = true;
  }
  return k;
}

inline void item_uuid(uint8_t u[16], int n) {
  std::memset(u, 0, 16);
  u[0] = 0x42;
  u[1] = static_cast<uint8_t>(n >> 16);
  u[2] = static_cast<uint8_t>(n >> 8);
  u[3] = static_cast<uint8_t>(n);
}

// Writes items [first, first+count) (new or changed), each with a link to
// the root tag for new ones, in one journal group.
inline int write_items(sqlite3* db, bool sync, int first, int count, int round, bool link) {
  const uint8_t* key = repo_key();
  RepoDb r{db, key, sync};
  if (journal_begin(db) != 0) return -1;
  uint8_t root[16] = {0x01};
  for (int i = first; i < first + count; ++i) {
    uint8_t u[16];
    item_uuid(u, i);
    std::string header = "2:0:1:0:0:0;0:0;0:100:" + std::to_string(1000 + round) + ":300:item " + std::to_string(i);
    std::string body = "Body of item " + std::to_string(i) + " round " + std::to_string(round) +
                       " with some text to make it a typical note of about two hundred bytes. " +
                       std::string(100, 'x');
    std::string all = header + body;
    uint8_t hash[20];
    sha1(hash, all.data(), all.size());
    header.resize((header.size() + 16) & ~size_t(15), '\0');
    body.resize((body.size() + 16) & ~size_t(15), '\0');
    if (object_write(r, u, hash, reinterpret_cast<const uint8_t*>(header.data()), header.size(),
                     reinterpret_cast<const uint8_t*>(body.data()), body.size(), false) != 0 ||
        (link && link_add(r, root, u) != 0)) {
      journal_rollback(db);
      return -1;
    }
  }
  return journal_commit(db);
}

// dir/"data" with a root tag and n items.
inline int make_local_repo(const std::string& dir, int n) {
  DbHandle db(db_create_repo((dir + "/data").c_str(), repo_key()));
  if (!db) return -1;
  std::string tag = std::string(32, '0') + ":10:/";
  uint8_t hash[20];
  sha1(hash, tag.data(), tag.size());
  tag.resize((tag.size() + 16) & ~size_t(15), '\0');
  uint8_t root[16] = {0x01};
  RepoDb r{db.get(), repo_key(), false};
  if (journal_begin(db.get()) != 0 ||
      object_write(r, root, hash, reinterpret_cast<const uint8_t*>(tag.data()), tag.size(), nullptr, 0, false) != 0 ||
      journal_commit(db.get()) != 0)
    return -1;
  return write_items(db.get(), false, 0, n, 0, true);
}

inline bool never_there(const uint8_t*) { return false; }

inline int run_sync(const std::string& dir, const std::string& id, const ServerLogin& login) {
  for (int i = 0; i < 7; ++i) {
    SyncSession s;
    s.dir = dir;
    std::memcpy(s.key, repo_key(), 32);
    s.server_id = id;
    s.login = login;
    SyncDriver d;
    sync_begin(&d, &s);
    int rc = sync_drive(&d, [](const SyncConflict&) { return SYNC_TAKE_SERVER; });
    if (rc != SYNC_REMOTE_CHANGED) return rc;
  }
  return SYNC_REMOTE_CHANGED;
}
