// SPDX-License-Identifier: GPL-3.0-or-later
// Synchronisation's statements on the repository and snapshot databases.
#include "storage/sync_store.h"

#include <cstring>

#include "storage/page_vfs.h"
#include "storage/db.h"
#include "storage/untrusted.h"
#include "support/files.h"
#include "support/log.h"
#include "support/text.h"

namespace {

int exec_uuid(sqlite3* db, const char* sql, const uint8_t uuid[16]) {
  Stmt st;
  int rc = stmt_prepare(db, sql, &st);
  if (rc != SQLITE_OK) return rc;
  bind_blob(st.get(), 1, uuid, 16);
  rc = sqlite3_step(st.get());
  return rc == SQLITE_DONE ? 0 : rc;
}

// Binds the uuid to every parameter (statements like "... c1=? OR c2=?").
int exec_uuid_all(sqlite3* db, const char* sql, const uint8_t uuid[16]) {
  Stmt st;
  int rc = stmt_prepare(db, sql, &st);
  if (rc != SQLITE_OK) return rc;
  for (int i = 1; i <= sqlite3_bind_parameter_count(st.get()); ++i) bind_blob(st.get(), i, uuid, 16);
  rc = sqlite3_step(st.get());
  return rc == SQLITE_DONE ? 0 : rc;
}

int exec_pair(sqlite3* db, const char* sql, const uint8_t* a, size_t na, const uint8_t* b, size_t nb) {
  Stmt st;
  int rc = stmt_prepare(db, sql, &st);
  if (rc != SQLITE_OK) return rc;
  bind_blob(st.get(), 1, a, na);
  bind_blob(st.get(), 2, b, nb);
  rc = sqlite3_step(st.get());
  return rc == SQLITE_DONE ? 0 : rc;
}

// A version record's uuid and hash bound to the first two parameters.
int exec_version(sqlite3* db, const char* sql, const uint8_t v[REC_VERSION]) {
  return exec_pair(db, sql, v, 16, v + 16, 20);
}

// The first row's state of a statement on a version: SQLITE_ROW, SQLITE_DONE
// or an error; *c3 gets the first column of a row when asked for.
int step_version(sqlite3* db, const char* sql, const uint8_t* v, size_t n, int* c3 = nullptr) {
  Stmt st;
  int rc = stmt_prepare(db, sql, &st);
  if (rc != SQLITE_OK) return rc;
  bind_blob(st.get(), 1, v, 16);
  if (n > 16) bind_blob(st.get(), 2, v + 16, n - 16);
  rc = sqlite3_step(st.get());
  if (rc == SQLITE_ROW && c3) *c3 = sqlite3_column_int(st.get(), 0);
  return rc;
}

// First current tag of "data" whose parent is the zero uuid.
int find_root_tag(sqlite3* db, const uint8_t key[32], uint8_t out[16]) {
  Stmt st;
  int rc = stmt_prepare(db, "SELECT c1, c2, c4 FROM t1 WHERE c3=0 AND c5 IS NULL ORDER BY rowid", &st);
  if (rc != SQLITE_OK) return rc;
  const std::string zero(32, '0');
  while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
    const uint8_t* u = column_fixed(st.get(), 0, 16);
    const uint8_t* h = column_fixed(st.get(), 1, 20);
    if (!u || !h) continue;
    std::string c4 = column_bytes(st.get(), 2);
    std::string text;
    if (row_decipher_header(key, u, h, reinterpret_cast<const uint8_t*>(c4.data()), c4.size(), &text) != 0) continue;
    if (text.size() > 32 && text.compare(0, 32, zero) == 0 && text[32] == ':') {
      std::memcpy(out, u, 16);
      return 0;
    }
  }
  return -1;
}

struct SetQuery {
  const char* sql;
  size_t size;
};

const SetQuery kSetQueries[] = {
    {"SELECT c1, c2 FROM t1 ORDER BY 1, 2", REC_VERSION},
    {"SELECT c1, c2 FROM t3 WHERE c3=1 ORDER BY 1, 2", REC_VERSION},
    {"SELECT c1, c2 FROM t3 WHERE c3=0 ORDER BY 1, 2", REC_VERSION},
    {"SELECT c1, c2 FROM t1 WHERE c3=0 ORDER BY 1, 2", REC_VERSION},
    {"SELECT c1, c2 FROM t2 ORDER BY c1, c2", REC_LINK},
    {"SELECT c1, c2 FROM t4 WHERE c3=0 ORDER BY c1, c2", REC_LINK},
    {"SELECT c1, c2 FROM t4 WHERE c3=1 ORDER BY c1, c2", REC_LINK},
    {"SELECT c1, c2 FROM s3 ORDER BY rowid", REC_VERSION},
    {"SELECT c1, c2 FROM s2 ORDER BY rowid", REC_LINK},
    {"SELECT c1, c2 FROM s3 WHERE c3=0 ORDER BY rowid", REC_VERSION},
};
static_assert(sizeof kSetQueries / sizeof kSetQueries[0] == SYNC_SET_LIST_CURRENT + 1, "one query per set");

}  // namespace

DbHandle sync_store_open(const std::string& path, const uint8_t key[32]) {
  if (!file_exists(path)) return DbHandle();
  DbHandle db(db_open(path.c_str()));
  if (db && page_db_key(db.get(), key, 32) != 0) db.reset();
  return db;
}

int sync_store_check_received_repo(const std::string& path, const uint8_t key[32]) {
  DbHandle db(db_open(path.c_str()));
  if (!db || page_db_key(db.get(), key, 32) != 0 || db_query_state(db.get(), "SELECT 1 FROM sqlite_master") < 0)
    return SYNC_RECEIVED_UNREADABLE;
  if (db_open_untrusted_check(db.get(), "main", DB_SCHEMA_REPO) != 0) return SYNC_RECEIVED_FOREIGN;
  return SYNC_RECEIVED_OK;
}

// (c1, c2) rows: c1 16 bytes, c2 the rest of the record.
int sync_store_load(sqlite3* db, SyncSetQuery which, RecordSet* out) {
  const SetQuery& q = kSetQueries[which];
  recordset_init(out, q.size, 64);
  Stmt st;
  int rc = stmt_prepare(db, q.sql, &st);
  if (rc != SQLITE_OK) return rc;
  uint8_t rec[REC_VERSION];
  while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
    const uint8_t* a = column_fixed(st.get(), 0, 16);
    const uint8_t* b = column_fixed(st.get(), 1, static_cast<int>(q.size - 16));
    if (!a || !b) {
      log_message(LOG_ERROR, "sync_store_load: malformed row");
      return -1;
    }
    std::memcpy(rec, a, 16);
    std::memcpy(rec + 16, b, q.size - 16);
    recordset_append(out, rec);
  }
  if (rc != SQLITE_DONE) return rc;
  recordset_sort(out);
  return 0;
}

int sync_store_attach_received(sqlite3* db, const std::string& file, const uint8_t key[32]) {
  if (db_distrust(db) != SQLITE_OK) return SQLITE_ERROR;
  int rc = page_db_attach(db, file.c_str(), "sync1", key, 32);
  if (rc == SQLITE_OK && db_schema_exact(db, "sync1", DB_SCHEMA_SNAPSHOT) != 0) rc = SQLITE_CORRUPT;
  return rc;
}

void sync_store_detach_received(sqlite3* db) { db_exec(db, "DETACH sync1;"); }

int sync_reader_open(SyncVersionReader* r, sqlite3* db) {
  int rc = stmt_prepare(db, "SELECT * FROM sync1.s1 WHERE c1=? AND c3=0", &r->remote);
  if (rc == SQLITE_OK) rc = stmt_prepare(db, "SELECT * FROM t1 WHERE c1=? AND c3=0", &r->local);
  return rc;
}

int sync_reader_read(SyncVersionReader* r, bool remote, const uint8_t uuid[16], const uint8_t key[32],
                     std::string* header, std::string* body, bool* has_body) {
  sqlite3_stmt* st = remote ? r->remote.get() : r->local.get();
  if (!st) return -1;
  sqlite3_reset(st);
  bind_blob(st, 1, uuid, 16);
  ObjectRow row;
  int rc = row_read(st, key, &row, true);
  if (rc == 1) return 0;
  // Every stored version has a header.
  if (rc != 0 || sqlite3_column_bytes(st, 3) == 0) return -1;
  *has_body = sqlite3_column_type(st, 4) != SQLITE_NULL;
  *header = std::move(row.header);
  *body = std::move(row.body);
  sqlite3_reset(st);
  return 1;
}

int sync_store_apply_decision(sqlite3* db, const SyncDecision& d, const RecordSet& server_links) {
  const uint8_t* u = d.uuid;
  int rc;
  if (d.choice == SYNC_TAKE_SERVER && !d.remote_exists) {
    log_message(LOG_DEBUG, "delete_obj: %s", hex_encode(u, 16).c_str());
    if ((rc = exec_uuid(db, "DELETE FROM t1 WHERE c1=?", u)) != 0) return rc;
    if ((rc = exec_uuid_all(db, "DELETE FROM t2 WHERE c1=? OR c2=?", u)) != 0) return rc;
    if ((rc = exec_uuid(db, "DELETE FROM t3 WHERE c1=?", u)) != 0) return rc;
    return exec_uuid_all(db, "DELETE FROM t4 WHERE c1=? OR c2=?", u);
  }
  if (d.choice == SYNC_TAKE_SERVER && !d.local_exists) {
    if ((rc = exec_uuid(db, "INSERT INTO t1 SELECT * FROM sync1.s1 WHERE c1=?", u)) != 0) return rc;
    for (size_t k = 0; k < server_links.count; ++k) {
      const uint8_t* link = server_links.at(k);
      if (std::memcmp(link, u, 16) != 0 && std::memcmp(link + 16, u, 16) != 0) continue;
      // a link that is already here is what the server has too
      rc = exec_pair(db, "INSERT INTO t2 VALUES (?,?)", link, 16, link + 16, 16);
      if (rc != 0 && rc != SQLITE_CONSTRAINT) return rc;
    }
    if ((rc = exec_uuid(db, "DELETE FROM t3 WHERE c1=?", u)) != 0) return rc;
    return exec_uuid_all(db, "DELETE FROM t4 WHERE c1=? OR c2=?", u);
  }
  if (d.choice == SYNC_TAKE_SERVER) {
    Stmt st;
    if ((rc = stmt_prepare(db, "SELECT c2 FROM t1 WHERE c1=? AND c3=0", &st)) != SQLITE_OK) return rc;
    bind_blob(st.get(), 1, u, 16);
    rc = sqlite3_step(st.get());
    if (rc == SQLITE_ROW) {
      std::string hash = column_bytes(st.get(), 0);
      st.reset();
      if ((rc = exec_pair(db, "DELETE FROM t3 WHERE c1=? AND c2=?", u, 16,
                          reinterpret_cast<const uint8_t*>(hash.data()), hash.size())) != 0)
        return rc;
      if ((rc = exec_uuid(db, "DELETE FROM t1 WHERE c1=? AND c3=0", u)) != 0) return rc;
    } else if (rc != SQLITE_DONE) {
      return rc;
    }
    st.reset();
    // The server's current version may be here already as an older one.
    if ((rc = exec_uuid_all(db, "DELETE FROM t1 WHERE c1=? AND c2 IN (SELECT c2 FROM sync1.s1 WHERE c1=? AND c3=0)",
                            u)) != 0)
      return rc;
    return exec_uuid(db, "INSERT INTO t1 SELECT * FROM sync1.s1 WHERE c1=? AND c3=0", u);
  }
  if (!d.local_exists) {
    // keeping the local state of a deleted object: the deletion stands
    return exec_uuid(db, "INSERT OR IGNORE INTO t3 SELECT c1, c2, 0 FROM sync1.s1 WHERE c1=?", u);
  }
  if (!d.remote_exists) {
    if ((rc = exec_uuid(db, "DELETE FROM t3 WHERE c1=?", u)) != 0) return rc;
    if ((rc = exec_uuid_all(db, "DELETE FROM t4 WHERE c1=? OR c2=?", u)) != 0) return rc;
    if ((rc = exec_uuid(db, "INSERT INTO t3 SELECT c1, c2, 1 FROM t1 WHERE c1=?", u)) != 0) return rc;
    return exec_uuid_all(db, "INSERT INTO t4 SELECT c1, c2, 1 FROM t2 WHERE c1=? OR c2=?", u);
  }
  // Already recorded when an earlier attempt was refused as stale.
  if ((rc = exec_uuid(db, "INSERT OR IGNORE INTO t3 SELECT c1, c2, 0 FROM sync1.s1 WHERE c1=? AND c3=0", u)) != 0)
    return rc;
  // The version kept may be one the server already has (an older one
  // there); sending it again makes it the server's current version, which
  // would otherwise be left without any.
  return exec_uuid(db, "INSERT OR IGNORE INTO t3 SELECT c1, c2, 1 FROM t1 WHERE c1=? AND c3=0", u);
}

int sync_store_drop_version(sqlite3* db, const uint8_t version[REC_VERSION]) {
  return exec_version(db, "DELETE FROM t1 WHERE c1=? AND c2=?", version);
}

int sync_store_take_version(sqlite3* db, const uint8_t v[REC_VERSION]) {
  // A version already stored here (an upload whose reply was lost) is kept
  // as it is rather than inserted twice.
  int rc = step_version(db, "SELECT 1 FROM t1 WHERE c1=? AND c2=?", v, REC_VERSION);
  if (rc == SQLITE_ROW) return 0;
  if (rc != SQLITE_DONE) return rc;
  int c3 = -1;
  rc = step_version(db, "SELECT c3 FROM sync1.s1 WHERE c1=? AND c2=?", v, REC_VERSION, &c3);
  if (rc == SQLITE_ROW && c3 == 0) {
    if ((rc = exec_uuid(db, "UPDATE t1 SET c3=1 WHERE c1=? AND c3=0", v)) != 0) return rc;
  } else if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
    return rc;
  }
  return exec_version(db, "INSERT INTO t1 SELECT * FROM sync1.s1 WHERE c1=? AND c2=?", v);
}

int sync_store_follow_current(sqlite3* db, const uint8_t v[REC_VERSION]) {
  int rc = step_version(db,
                        "SELECT 1 FROM t1 INNER JOIN t3 ON (t1.c1=t3.c1 AND t1.c2=t3.c2) WHERE t1.c1=? AND "
                        "t1.c3=0 AND t3.c3=1",
                        v, 16);
  if (rc == SQLITE_ROW) return 0;
  if (rc != SQLITE_DONE) return rc;
  int c3 = -1;
  rc = step_version(db, "SELECT c3 FROM t1 WHERE c1=? AND c2=?", v, REC_VERSION, &c3);
  if (rc == SQLITE_DONE || (rc == SQLITE_ROW && c3 == 0)) return 0;
  if (rc != SQLITE_ROW) return rc;
  if ((rc = exec_uuid(db, "UPDATE t1 SET c3=1 WHERE c1=? AND c3=0", v)) != 0) return rc;
  return exec_version(db, "UPDATE t1 SET c3=0 WHERE c1=? AND c2=?", v);
}

int sync_store_link(sqlite3* db, const uint8_t link[REC_LINK], bool add) {
  return exec_pair(db, add ? "INSERT INTO t2 VALUES (?,?)" : "DELETE FROM t2 WHERE c1=? AND c2=?", link, 16,
                   link + 16, 16);
}

int sync_store_unlink_all(sqlite3* db, const uint8_t uuid[16]) {
  return exec_uuid_all(db, "DELETE FROM t2 WHERE c1=? OR c2=?", uuid);
}

int sync_store_link_loose_items(sqlite3* db, const uint8_t key[32]) {
  Stmt items, linked;
  int rc;
  if ((rc = stmt_prepare(db, "SELECT c1 FROM t1 WHERE c3=0 and c5 is not NULL", &items)) != SQLITE_OK) return rc;
  if ((rc = stmt_prepare(db, "SELECT  1 FROM t2 WHERE c2=?", &linked)) != SQLITE_OK) return rc;
  bool have_root = false;
  uint8_t root[16];
  while ((rc = sqlite3_step(items.get())) == SQLITE_ROW) {
    const uint8_t* u = column_fixed(items.get(), 0, 16);
    if (!u) continue;
    sqlite3_reset(linked.get());
    bind_blob(linked.get(), 1, u, 16);
    int lrc = sqlite3_step(linked.get());
    if (lrc == SQLITE_ROW) continue;
    if (lrc != SQLITE_DONE) return lrc;
    if (!have_root) {
      if (find_root_tag(db, key, root) != 0) {
        log_message(LOG_ERROR, "send_sync_objs: no root tag");
        return -1;
      }
      have_root = true;
    }
    if ((rc = exec_pair(db, "INSERT INTO t2 VALUES (?,?)", root, 16, u, 16)) != 0) return rc;
  }
  return rc == SQLITE_DONE ? 0 : rc;
}

int sync_store_record_link_changes(sqlite3* db, const RecordSet& up, const RecordSet& down) {
  int rc = db_exec(db, "DELETE FROM t4;");
  if (rc != SQLITE_OK) return rc;
  for (size_t i = 0; i < up.count; ++i)
    if ((rc = exec_pair(db, "INSERT INTO t4 VALUES (?,?,1)", up.at(i), 16, up.at(i) + 16, 16)) != 0) return rc;
  for (size_t i = 0; i < down.count; ++i)
    if ((rc = exec_pair(db, "INSERT INTO t4 VALUES (?,?,0)", down.at(i), 16, down.at(i) + 16, 16)) != 0) return rc;
  return 0;
}

bool sync_store_has_changes(sqlite3* db) {
  return db_query_state(db, "SELECT 1 FROM t3;") != 1 || db_query_state(db, "SELECT 1 FROM t4;") != 1;
}

int sync_store_write_upload(sqlite3* db, const std::string& file, const uint8_t key[32], int* versions) {
  *versions = 0;
  {
    DbHandle snap(db_create_snapshot(file.c_str(), key));
    if (!snap) return -1;
  }
  int rc = page_db_attach(db, file.c_str(), "sync2", key, 32);
  if (rc == SQLITE_OK) {
    Transaction txn(db);
    rc = txn.status();
    if (rc == SQLITE_OK)
      rc = db_exec(db,
                   "INSERT INTO sync2.s1 SELECT t1.c1, t1.c2, t1.c3, t1.c4, t1.c5 FROM t1 INNER JOIN t3 ON "
                   "(t1.c1=t3.c1 AND t1.c2=t3.c2) WHERE t3.c3=1;");
    if (rc == SQLITE_OK) *versions = sqlite3_changes(db);
    if (rc == SQLITE_OK) rc = db_exec(db, "INSERT INTO sync2.s3 SELECT * FROM t3;");
    if (rc == SQLITE_OK) rc = db_exec(db, "INSERT INTO sync2.s4 SELECT * FROM t4;");
    if (rc == SQLITE_OK) rc = txn.commit();
  }
  db_exec(db, "DETACH sync2;");
  return rc;
}

int sync_store_clear_changes(sqlite3* db) {
  Transaction txn(db);
  int rc = txn.status();
  if (rc == SQLITE_OK) rc = db_exec(db, "DELETE FROM t3; DELETE FROM t4;");
  if (rc == SQLITE_OK) rc = txn.commit();
  return rc;
}
