// SPDX-License-Identifier: GPL-3.0-or-later
// The source store: one encrypted SQLite file per repository beside "data".
#include "storage/source_store.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <set>
#include <vector>

#include "crypto/crypto.h"
#include "crypto/wipe.h"
#include "storage/db.h"
#include "storage/page_vfs.h"
#include "storage/repo.h"
#include "storage/schema.h"
#include "support/files.h"
#include "support/log.h"

namespace {

RepoEntry* entry_of(int repo) {
  auto& table = repo_table();
  if (repo < 0 || repo >= static_cast<int>(table.size())) return nullptr;
  return &table[static_cast<size_t>(repo)];
}

// 0 when t0 of the open connection verifies under the key.
int check_key(sqlite3* db, const uint8_t key[32]) {
  uint8_t check[64];
  WipeOnExit w(check, sizeof check);
  if (key_check_read(db, check) != 0) return -1;
  return key_check_verify(key, check) == 0 ? 0 : -1;
}

// Opens dir/"sources" under the key and proves the key; nullptr otherwise.
sqlite3* open_existing(const std::string& file, const uint8_t key[32]) {
  DbHandle db(db_open(file.c_str()));
  if (!db || page_db_key(db.get(), key, 32) != 0) return nullptr;
  if (check_key(db.get(), key) != 0) return nullptr;
  return db.release();
}

sqlite3* create_file(const std::string& file, const uint8_t key[32]) {
  sqlite3* raw = nullptr;
  int rc = page_db_open(file.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  DbHandle db(raw);
  if (rc == SQLITE_OK) rc = page_db_key(db.get(), key, 32);
  if (rc == SQLITE_OK) {
    Transaction tx(db.get());
    rc = tx.status();
    if (rc == SQLITE_OK) rc = db_exec(db.get(), schema::kSources);
    uint8_t check[64];
    WipeOnExit w(check, sizeof check);
    key_check_make(key, check);
    if (rc == SQLITE_OK) rc = key_check_write(db.get(), check);
    if (rc == SQLITE_OK) rc = tx.commit();
  }
  if (rc != SQLITE_OK) {
    log_message(LOG_ERROR, "source_open: create: %d", rc);
    db.reset();
    ::unlink(file.c_str());
    return nullptr;
  }
  return db.release();
}

// The open store of a repository; with create, made when missing.
sqlite3* store_of(int repo, bool create) {
  RepoEntry* e = entry_of(repo);
  if (!e) return nullptr;
  if (e->sources) return e->sources;
  if (!create && !file_exists(path_join(e->path, kSourcesFile))) return nullptr;
  return source_open(e) == 0 ? e->sources : nullptr;
}

void bind_str(sqlite3_stmt* s, int i, const std::string& v) { bind_blob(s, i, v.data(), v.size()); }

bool is_zero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; i++)
    if (p[i]) return false;
  return true;
}

void bind_optional(sqlite3_stmt* s, int i, const uint8_t* p, size_t n) {
  if (is_zero(p, n))
    sqlite3_bind_null(s, i);
  else
    bind_blob(s, i, p, n);
}

void read_fixed(sqlite3_stmt* s, int i, uint8_t* out, int n) {
  const uint8_t* p = column_fixed(s, i, n);
  if (p)
    std::memcpy(out, p, static_cast<size_t>(n));
  else
    std::memset(out, 0, static_cast<size_t>(n));
}

constexpr char kSelect[] = "SELECT c1, c2, c3, c4, c5, c6, c7 FROM t1";

int read_record(sqlite3_stmt* s, SourceRecord* out) {
  const uint8_t* u = column_fixed(s, 0, 16);
  if (!u) return -1;
  std::memcpy(out->uuid, u, 16);
  out->component = column_bytes(s, 1);
  out->rule = column_bytes(s, 2);
  out->href = column_bytes(s, 3);
  out->etag = column_bytes(s, 4);
  read_fixed(s, 5, out->collection, 16);
  read_fixed(s, 6, out->synced_hash, 20);
  return 0;
}

int step_done(sqlite3_stmt* s, const char* what) {
  int rc = sqlite3_step(s);
  if (rc == SQLITE_DONE) return 0;
  log_message(LOG_ERROR, "%s: %d", what, rc);
  return -1;
}

int exec_tag(int repo, const char* sql, const uint8_t key[16], const char* what) {
  sqlite3* db = store_of(repo, false);
  if (!db) return entry_of(repo) ? 0 : -1;  // nothing stored, nothing to remove
  Stmt st;
  if (stmt_prepare(db, sql, &st) != SQLITE_OK) {
    log_message(LOG_ERROR, "%s: %s", what, sqlite3_errmsg(db));
    return -1;
  }
  bind_blob(st.get(), 1, key, 16);
  return step_done(st.get(), what);
}

}  // namespace

int source_open(RepoEntry* e) {
  if (!e || e->path.empty()) return -1;
  if (e->sources) return 0;
  std::string file = path_join(e->path, kSourcesFile);
  sqlite3* db = file_exists(file) ? open_existing(file, e->key) : create_file(file, e->key);
  // A store made before the sync kept its records pending gains the table.
  if (db && db_exec(db, schema::kSourcesPending) != SQLITE_OK) {
    db_close(db);
    db = nullptr;
  }
  if (!db) {
    log_message(LOG_ERROR, "source_open: %s", e->path.c_str());
    return -1;
  }
  e->sources = db;
  return 0;
}

void source_close(RepoEntry* e) {
  if (!e || !e->sources) return;
  db_close(e->sources);
  e->sources = nullptr;
}

bool source_exists(int repo) {
  RepoEntry* e = entry_of(repo);
  return e && (e->sources || file_exists(path_join(e->path, kSourcesFile)));
}

int source_get(int repo, const uint8_t uuid[16], SourceRecord* out) {
  if (!entry_of(repo)) return -1;
  sqlite3* db = store_of(repo, false);
  if (!db) return source_exists(repo) ? -1 : 1;
  Stmt st;
  if (stmt_prepare(db, "SELECT c1, c2, c3, c4, c5, c6, c7 FROM t1 WHERE c1=?", &st) != SQLITE_OK) return -1;
  bind_blob(st.get(), 1, uuid, 16);
  int rc = sqlite3_step(st.get());
  if (rc == SQLITE_DONE) return 1;
  if (rc != SQLITE_ROW || read_record(st.get(), out) != 0) {
    log_message(LOG_ERROR, "source_get: %d", rc);
    return -1;
  }
  return 0;
}

namespace {

// The record into t1, or with `drop` >= 0 into t3 with c8 = drop.
int write_record(int repo, const SourceRecord& r, int drop, const char* what) {
  sqlite3* db = store_of(repo, true);
  if (!db) return -1;
  Stmt st;
  const char* sql = drop < 0 ? "INSERT OR REPLACE INTO t1 VALUES (?,?,?,?,?,?,?)"
                             : "INSERT OR REPLACE INTO t3 VALUES (?,?,?,?,?,?,?,?)";
  if (stmt_prepare(db, sql, &st) != SQLITE_OK) {
    log_message(LOG_ERROR, "%s: %s", what, sqlite3_errmsg(db));
    return -1;
  }
  bind_blob(st.get(), 1, r.uuid, 16);
  bind_str(st.get(), 2, r.component);
  bind_str(st.get(), 3, r.rule);
  bind_str(st.get(), 4, r.href);
  bind_str(st.get(), 5, r.etag);
  bind_optional(st.get(), 6, r.collection, 16);
  bind_optional(st.get(), 7, r.synced_hash, 20);
  if (drop >= 0) sqlite3_bind_int(st.get(), 8, drop);
  return step_done(st.get(), what);
}

}  // namespace

int source_put(int repo, const SourceRecord& r) { return write_record(repo, r, -1, "source_put"); }

int source_pending_put(int repo, const SourceRecord& r, bool drop) {
  return write_record(repo, r, drop ? 1 : 0, "source_pending_put");
}

namespace {

// fn(record, row) for every row of the query, whose first columns are those
// of kSelect; a non-zero return of fn stops the walk and is returned.
int walk_records(int repo, const char* sql, const std::function<int(const SourceRecord&, sqlite3_stmt*)>& fn) {
  if (!entry_of(repo)) return -1;
  sqlite3* db = store_of(repo, false);
  if (!db) return source_exists(repo) ? -1 : 0;
  Stmt st;
  if (stmt_prepare(db, sql, &st) != SQLITE_OK) return -1;
  int rc;
  SourceRecord r;
  while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
    if (read_record(st.get(), &r) != 0) {
      log_message(LOG_ERROR, "source_each: malformed row");
      continue;
    }
    int stop = fn(r, st.get());
    if (stop != 0) return stop;
  }
  return rc == SQLITE_DONE ? 0 : -1;
}

}  // namespace

int source_pending_each(int repo, const std::function<int(const SourceRecord&, bool drop)>& fn) {
  return walk_records(repo, "SELECT c1, c2, c3, c4, c5, c6, c7, c8 FROM t3 ORDER BY c1",
                      [&fn](const SourceRecord& r, sqlite3_stmt* row) { return fn(r, sqlite3_column_int(row, 7) != 0); });
}

int source_pending_clear(int repo) {
  sqlite3* db = store_of(repo, false);
  if (!db) return entry_of(repo) ? 0 : -1;
  int rc = db_exec(db, "DELETE FROM t3;");
  if (rc != SQLITE_OK) log_message(LOG_ERROR, "source_pending_clear: %d", rc);
  return rc == SQLITE_OK ? 0 : -1;
}

int source_remove(int repo, const uint8_t uuid[16]) {
  return exec_tag(repo, "DELETE FROM t1 WHERE c1=?", uuid, "source_remove");
}

int source_each(int repo, const std::function<int(const SourceRecord&)>& fn) {
  std::string sql = std::string(kSelect) + " ORDER BY c1";
  return walk_records(repo, sql.c_str(), [&fn](const SourceRecord& r, sqlite3_stmt*) { return fn(r); });
}

int source_rules(int repo, const std::function<void(const uint8_t uuid[16], const std::string& rule)>& fn) {
  if (!entry_of(repo)) return -1;
  sqlite3* db = store_of(repo, false);
  if (!db) return source_exists(repo) ? -1 : 0;
  Stmt st;
  if (stmt_prepare(db, "SELECT c1, c3 FROM t1 WHERE length(c3) > 0", &st) != SQLITE_OK) return -1;
  int rc;
  while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
    const uint8_t* u = column_fixed(st.get(), 0, 16);
    if (u) fn(u, column_bytes(st.get(), 1));
  }
  return rc == SQLITE_DONE ? 0 : -1;
}

int source_collections(int repo, std::vector<SourceCollection>* out) {
  out->clear();
  if (!entry_of(repo)) return -1;
  sqlite3* db = store_of(repo, false);
  if (!db) return source_exists(repo) ? -1 : 0;
  Stmt st;
  if (stmt_prepare(db, "SELECT c1, c2, c3, c4, c5, c6, c7 FROM t2 ORDER BY rowid", &st) != SQLITE_OK) return -1;
  int rc;
  while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
    SourceCollection c;
    const uint8_t* t = column_fixed(st.get(), 0, 16);
    if (!t) continue;
    std::memcpy(c.tag, t, 16);
    c.href = column_bytes(st.get(), 1);
    c.display_name = column_bytes(st.get(), 2);
    c.color = column_bytes(st.get(), 3);
    c.kind = column_bytes(st.get(), 4);
    c.sync_token = column_bytes(st.get(), 5);
    c.ctag = column_bytes(st.get(), 6);
    out->push_back(std::move(c));
  }
  return rc == SQLITE_DONE ? 0 : -1;
}

int source_collection_put(int repo, const SourceCollection& c) {
  sqlite3* db = store_of(repo, true);
  if (!db) return -1;
  Stmt st;
  // An update keeps the row (and so the order collections were added in).
  if (stmt_prepare(db,
                   "INSERT INTO t2 VALUES (?,?,?,?,?,?,?) ON CONFLICT(c1) DO UPDATE SET c2=excluded.c2, "
                   "c3=excluded.c3, c4=excluded.c4, c5=excluded.c5, c6=excluded.c6, c7=excluded.c7",
                   &st) != SQLITE_OK) {
    log_message(LOG_ERROR, "source_collection_put: %s", sqlite3_errmsg(db));
    return -1;
  }
  bind_blob(st.get(), 1, c.tag, 16);
  bind_str(st.get(), 2, c.href);
  bind_str(st.get(), 3, c.display_name);
  bind_str(st.get(), 4, c.color);
  bind_str(st.get(), 5, c.kind);
  bind_str(st.get(), 6, c.sync_token);
  bind_str(st.get(), 7, c.ctag);
  return step_done(st.get(), "source_collection_put");
}

int source_collection_remove(int repo, const uint8_t tag[16]) {
  return exec_tag(repo, "DELETE FROM t2 WHERE c1=?", tag, "source_collection_remove");
}

namespace {

using Key = std::array<uint8_t, 16>;

// The first column of every row of the query, as 16-byte keys.
int keys_of(sqlite3* db, const char* sql, std::set<Key>* out) {
  Stmt st;
  if (stmt_prepare(db, sql, &st) != SQLITE_OK) return -1;
  int rc;
  while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
    const uint8_t* k = column_fixed(st.get(), 0, 16);
    if (!k) continue;
    Key key;
    std::copy(k, k + 16, key.begin());
    out->insert(key);
  }
  return rc == SQLITE_DONE ? 0 : -1;
}

}  // namespace

int source_sweep(int repo) {
  RepoEntry* e = entry_of(repo);
  if (!e || !e->db) return -1;
  sqlite3* db = store_of(repo, false);
  if (!db) return 0;
  std::set<Key> synced;
  if (keys_of(db, "SELECT c1 FROM t2", &synced) != 0) return -1;
  // Records that are no synced member, the only ones that may go.
  std::vector<Key> gone;
  {
    Stmt st;
    if (stmt_prepare(db, "SELECT c1, length(c4), c6 FROM t1", &st) != SQLITE_OK) return -1;
    while (sqlite3_step(st.get()) == SQLITE_ROW) {
      const uint8_t* u = column_fixed(st.get(), 0, 16);
      if (!u) continue;
      Key uuid, col{};
      std::copy(u, u + 16, uuid.begin());
      if (const uint8_t* c = column_fixed(st.get(), 2, 16)) std::copy(c, c + 16, col.begin());
      if (sqlite3_column_int(st.get(), 1) == 0 || !synced.count(col)) gone.push_back(uuid);
    }
  }
  if (gone.empty()) return 0;
  // Journal entries of t1 name the object first.
  std::set<Key> held, journaled;
  if (keys_of(e->db, "SELECT DISTINCT c1 FROM t1", &held) != 0 ||
      keys_of(e->db, "SELECT DISTINCT c1 FROM t5 WHERE c7=1", &journaled) != 0) {
    log_message(LOG_ERROR, "source_sweep: %s", sqlite3_errmsg(e->db));
    return -1;
  }
  gone.erase(std::remove_if(gone.begin(), gone.end(),
                            [&](const Key& k) { return held.count(k) || journaled.count(k); }),
             gone.end());
  if (gone.empty()) return 0;
  Transaction tx(db);
  int rc = tx.status();
  for (const Key& k : gone)
    if (rc == SQLITE_OK && exec_tag(repo, "DELETE FROM t1 WHERE c1=?", k.data(), "source_sweep") != 0) rc = -1;
  if (rc == SQLITE_OK) rc = tx.commit();
  if (rc != SQLITE_OK) {
    log_message(LOG_ERROR, "source_sweep: %d", rc);
    return -1;
  }
  log_message(LOG_INFO, "source_sweep: %zu records of items gone", gone.size());
  return 0;
}

int source_begin(int repo) {
  sqlite3* db = store_of(repo, true);
  if (!db) return -1;
  int rc = db_exec(db, "BEGIN;");
  if (rc != SQLITE_OK) log_message(LOG_ERROR, "source_begin: %d", rc);
  return rc == SQLITE_OK ? 0 : -1;
}

int source_commit(int repo) {
  RepoEntry* e = entry_of(repo);
  if (!e || !e->sources) return -1;
  int rc = db_exec(e->sources, "COMMIT;");
  if (rc != SQLITE_OK) {
    log_message(LOG_ERROR, "source_commit: %d", rc);
    source_rollback(repo);
    return -1;
  }
  return 0;
}

void source_rollback(int repo) {
  RepoEntry* e = entry_of(repo);
  if (!e || !e->sources || sqlite3_get_autocommit(e->sources)) return;
  db_exec(e->sources, "ROLLBACK;");
}

int source_rekey_file(const char* dir, const uint8_t old_key[32], const uint8_t new_key[32]) {
  std::string file = path_join(dir, kSourcesFile);
  if (!file_exists(file)) return 0;
  {
    // Readable under the old key: the check is made for the new key first,
    // then the pages follow. A crash between the two leaves pages under the
    // old key with the new check, which the second branch finishes.
    DbHandle db(db_open(file.c_str()));
    if (!db || page_db_key(db.get(), old_key, 32) != 0) return -1;
    if (db_query_state(db.get(), "SELECT 1 FROM t0") == 0) {
      if (check_key(db.get(), old_key) == 0) {
        uint8_t check[64];
        WipeOnExit w(check, sizeof check);
        key_check_make(new_key, check);
        Transaction tx(db.get());
        int rc = tx.status();
        if (rc == SQLITE_OK) rc = db_exec(db.get(), "DELETE FROM t0;");
        if (rc == SQLITE_OK) rc = key_check_write(db.get(), check);
        if (rc == SQLITE_OK) rc = tx.commit();
        if (rc != SQLITE_OK) {
          log_message(LOG_ERROR, "source_rekey_file: %d", rc);
          return -1;
        }
      } else if (check_key(db.get(), new_key) != 0) {
        log_message(LOG_ERROR, "source_rekey_file: %s matches neither key", dir);
        return -1;
      }
      db.reset();
      return reencode_named(dir, kSourcesFile, "sources.tmp", old_key, new_key);
    }
  }
  DbHandle db(open_existing(file, new_key));
  if (db) return 0;
  log_message(LOG_ERROR, "source_rekey_file: %s opens with neither key", dir);
  return -1;
}
