// SPDX-License-Identifier: GPL-3.0-or-later
// A client repository for load and fault tests: objects under arbitrary
// uuids, the stored rows as comparable text, and a full sync that retries
// while the server reports that its state moved meanwhile.
#pragma once

#include <chrono>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "repo_helpers.h"
#include "storage/db.h"
#include "storage/page_vfs.h"
#include "support/text.h"
#include "sync/sync_driver.h"

// uuid of object `n` of client `client` (byte 1 non-zero keeps it apart
// from uuid_of).
inline void client_uuid(uint8_t out[16], int client, int n) {
  std::memset(out, 0, 16);
  out[1] = static_cast<uint8_t>(client + 1);
  out[2] = static_cast<uint8_t>(n >> 8);
  out[3] = static_cast<uint8_t>(n);
  out[15] = 0xa5;
}

// Writes an item version under uuid in one journal group (hash over header
// and body, history kept).
inline int put_item(sqlite3* db, const uint8_t key[32], const uint8_t uuid[16], const std::string& header,
                    const std::string& body) {
  std::string all = header + body;
  uint8_t hash[20];
  sha1(hash, all.data(), all.size());
  std::string h = padded(header), b = padded(body);
  RepoDb r{db, key, true};
  if (journal_begin(db) != 0) return -1;
  int rc = object_write(r, uuid, hash, reinterpret_cast<const uint8_t*>(h.data()), h.size(),
                        reinterpret_cast<const uint8_t*>(b.data()), b.size(), true);
  if (rc != 0) {
    journal_rollback(db);
    return rc;
  }
  return journal_commit(db);
}

// Deletes every version and link of an item in one journal group.
inline int delete_item(sqlite3* db, const uint8_t key[32], const uint8_t uuid[16]) {
  RepoDb r{db, key, true};
  if (journal_begin(db) != 0) return -1;
  int rc = links_delete_all(r, uuid, false);
  if (rc == 0) rc = object_delete_all(r, uuid);
  if (rc != 0) {
    journal_rollback(db);
    return rc;
  }
  return journal_commit(db);
}

struct SyncClient {
  std::string dir;
  uint8_t key[32] = {};
  DbHandle db;

  bool open() {
    db.reset(db_open((dir + "/data").c_str()));
    if (!db || page_db_key(db.get(), key, 32) != 0) return false;
    return db_query_state(db.get(), "SELECT count(*) FROM t1") == 0;
  }
  void close() { db.reset(); }

  // Every t1 row (uuid, hash, current flag, both stored texts) and every
  // t2 link, as hex lines.
  std::set<std::string> rows() const {
    std::set<std::string> out;
    Stmt s;
    stmt_prepare(db.get(), "SELECT c1, c2, c3, c4, c5 FROM t1", &s);
    while (sqlite3_step(s.get()) == SQLITE_ROW) {
      std::string line = "1 ";
      for (int i = 0; i < 5; ++i) {
        std::string v = i == 2 ? std::to_string(sqlite3_column_int(s.get(), 2)) : column_bytes(s.get(), i);
        line += (i == 2 ? v : hex_encode(reinterpret_cast<const uint8_t*>(v.data()), v.size())) + " ";
      }
      out.insert(line);
    }
    Stmt l;
    stmt_prepare(db.get(), "SELECT c1, c2 FROM t2", &l);
    while (sqlite3_step(l.get()) == SQLITE_ROW) {
      std::string a = column_bytes(l.get(), 0), b = column_bytes(l.get(), 1);
      out.insert("2 " + hex_encode(reinterpret_cast<const uint8_t*>(a.data()), a.size()) + " " +
                 hex_encode(reinterpret_cast<const uint8_t*>(b.data()), b.size()));
    }
    return out;
  }
  int pending() const {
    return count_rows(db.get(), "SELECT * FROM t3") + count_rows(db.get(), "SELECT * FROM t4");
  }
  // Current body of an object (cut at its padding); empty when absent.
  std::string body(const uint8_t uuid[16]) const {
    RepoDb r{db.get(), key, true};
    std::string b = object_read_current(r, uuid);
    return b.substr(0, b.find('\0'));
  }
  std::string integrity() const {
    Stmt s;
    if (stmt_prepare(db.get(), "PRAGMA integrity_check", &s) != SQLITE_OK || sqlite3_step(s.get()) != SQLITE_ROW)
      return "no answer";
    return column_bytes(s.get(), 0);
  }
};

// One sync of c with server repository id through the driver; conflicts
// answered by `answer` (and appended to *asked when given). Returns the
// driver's result; *summary receives its counts when given.
inline int sync_once(const SyncClient& c, const ServerLogin& login, const std::string& id, int answer,
                     std::vector<SyncConflict>* asked = nullptr, SyncSummary* summary = nullptr) {
  SyncSession s;
  s.dir = c.dir;
  std::memcpy(s.key, c.key, 32);
  s.server_id = id;
  s.login = login;
  SyncDriver d;
  sync_begin(&d, &s);
  int rc = sync_drive(&d, [answer, asked](const SyncConflict& k) {
    if (asked) asked->push_back(k);
    return answer;
  });
  if (summary) *summary = d.summary;
  return rc;
}

// Syncs until the server takes the upload: the driver retries a stale
// refusal itself, this retries a driver that ran out of attempts (1), at
// most `tries` times; *stale counts every refusal. The last result.
inline int sync_until_done(const SyncClient& c, const ServerLogin& login, const std::string& id, int answer,
                           int tries, int* stale = nullptr) {
  int rc = -1;
  for (int i = 0; i < tries; ++i) {
    SyncSummary sum;
    rc = sync_once(c, login, id, answer, nullptr, &sum);
    if (stale) *stale += sum.attempts - 1 + (rc == SYNC_REMOTE_CHANGED ? 1 : 0);
    if (rc != SYNC_REMOTE_CHANGED) return rc;
    std::this_thread::sleep_for(std::chrono::milliseconds(1 + (i * 7) % 13));
  }
  return rc;
}
