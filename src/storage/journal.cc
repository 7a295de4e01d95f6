// SPDX-License-Identifier: GPL-3.0-or-later
#include "storage/journal.h"

#include <sqlite3.h>

#include "storage/sqlite_util.h"
#include "support/log.h"

namespace {

// SQLite's own default (-2000, in KiB): no owner chose a size.
bool cache_size_is_default(sqlite3* db) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, "PRAGMA cache_size;", -1, &raw, nullptr) != SQLITE_OK) return false;
  Stmt s(raw);
  return sqlite3_step(s.get()) == SQLITE_ROW && sqlite3_column_int64(s.get(), 0) == -2000;
}

int64_t g_last = 0;
UndoStateFn g_notify = nullptr;

void notify(sqlite3* db, int64_t position, int64_t end) {
  if (g_notify) g_notify(db, position > 2, position < end - 1);
}

// Position (c6) and end (c7) of the cursor row.
int read_cursor(sqlite3* db, int64_t* position, int64_t* end) {
  Stmt s;
  int rc = stmt_prepare(db, "SELECT c6, c7 FROM t5 WHERE rowid=1", &s);
  if (rc != SQLITE_OK) return rc;
  rc = sqlite3_step(s.get());
  if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? -1 : rc;
  if (sqlite3_column_type(s.get(), 0) != SQLITE_INTEGER || sqlite3_column_type(s.get(), 1) != SQLITE_INTEGER)
    return -1;
  *position = sqlite3_column_int64(s.get(), 0);
  *end = sqlite3_column_int64(s.get(), 1);
  return 0;
}

// Runs a write statement to completion: 0, the SQLite code, or 1 when it did
// not finish.
int step_done(sqlite3_stmt* s) {
  int rc = sqlite3_step(s);
  if (rc == SQLITE_DONE) return 0;
  return rc == SQLITE_ROW ? 1 : rc;
}

int set_position(sqlite3* db, int64_t position) {
  Stmt s;
  int rc = stmt_prepare(db, "UPDATE t5 SET c6=? WHERE rowid=1", &s);
  if (rc != SQLITE_OK) return rc;
  sqlite3_bind_int64(s.get(), 1, position);
  return step_done(s.get());
}

// Rolls back only when a transaction is open, so an outer failure that
// already ended it is not reported twice.
void rollback_if_open(sqlite3* db) {
  if (!sqlite3_get_autocommit(db)) db_exec(db, "ROLLBACK;");
}

// One statement of an undo or redo step on the entry's keys. The row's c3
// is bound as the third parameter where the statement has one.
int run_entry_sql(sqlite3* db, const char* sql, sqlite3_stmt* row, bool bind_c3, bool bind_c45) {
  Stmt s;
  int rc = stmt_prepare(db, sql, &s);
  if (rc != SQLITE_OK) return rc;
  const void* k1 = sqlite3_column_blob(row, 0);
  int n1 = sqlite3_column_bytes(row, 0);
  if ((rc = bind_blob(s.get(), 1, k1, static_cast<size_t>(n1))) != SQLITE_OK) return rc;
  const void* k2 = sqlite3_column_blob(row, 1);
  int n2 = sqlite3_column_bytes(row, 1);
  if ((rc = bind_blob(s.get(), 2, k2, static_cast<size_t>(n2))) != SQLITE_OK) return rc;
  if (bind_c3 && (rc = sqlite3_bind_int(s.get(), 3, sqlite3_column_int(row, 2))) != SQLITE_OK) return rc;
  if (bind_c45) {
    const void* c4 = sqlite3_column_blob(row, 3);
    if ((rc = bind_blob_or_null(s.get(), 4, c4, static_cast<size_t>(sqlite3_column_bytes(row, 3)))) != SQLITE_OK)
      return rc;
    const void* c5 = sqlite3_column_blob(row, 4);
    if ((rc = bind_blob_or_null(s.get(), 5, c5, static_cast<size_t>(sqlite3_column_bytes(row, 4)))) != SQLITE_OK)
      return rc;
  }
  rc = step_done(s.get());
  if (rc == 0 && sqlite3_changes(db) == 0) {
    // The table no longer holds what the journal expects; going on would
    // leave the data and the cursor out of step.
    log_message(LOG_WARNING, "journal: entry had no effect: %s", sql);
  }
  return rc;
}

// Columns of "SELECT *, rowid FROM t5 ...": 0 c1, 1 c2, 2 c3, 3 c4, 4 c5,
// 5 c6, 6 c7, 7 rowid.

// The t1 statements name c3 so that a history row and a current row with
// the same hash (an unchanged save with keep-history) stay apart.
// Undo applies the inverse of an entry, redo the entry itself: an inserted
// row is deleted again, a deleted row inserted again. The demotion of a
// current version to history (t1, inserted, c3 1) flips c3 instead.
int apply_entry(sqlite3* db, sqlite3_stmt* row, bool undo) {
  int op = sqlite3_column_int(row, 5);
  int table = sqlite3_column_int(row, 6);
  int c3 = sqlite3_column_int(row, 2);
  const char* who = undo ? "journal_undo" : "journal_redo";
  if ((op != JOURNAL_INSERT && op != JOURNAL_DELETE) || table < 1 || table > 4) {
    log_message(LOG_ERROR, "%s: bad entry %d %d", who, op, table);
    return -1;
  }
  if (table == 1 && op == JOURNAL_INSERT && c3 == 1)
    return run_entry_sql(db, undo ? "UPDATE t1 SET c3=0 WHERE c1=? AND c2=? AND c3=1"
                                  : "UPDATE t1 SET c3=1 WHERE c1=? AND c2=? AND c3=0",
                         row, false, false);
  bool insert = (op == JOURNAL_INSERT) != undo;
  static const char* const kInsert[] = {"INSERT INTO t1 VALUES (?,?,?,?,?)", "INSERT INTO t2 VALUES (?,?)",
                                        "INSERT INTO t3 VALUES (?,?,?)", "INSERT INTO t4 VALUES (?,?,?)"};
  static const char* const kDelete[] = {"DELETE FROM t1 WHERE c1=? AND c2=? AND c3=?",
                                        "DELETE FROM t2 WHERE c1=? AND c2=?", "DELETE FROM t3 WHERE c1=? AND c2=?",
                                        "DELETE FROM t4 WHERE c1=? AND c2=?"};
  // Which columns the statement binds beyond the two keys: c3 for t1, t3 and
  // t4 inserts and for the t1 delete; c4 and c5 for t1 inserts.
  bool bind_c3 = insert ? table != 2 : table == 1;
  bool bind_blobs = insert && table == 1;
  return run_entry_sql(db, insert ? kInsert[table - 1] : kDelete[table - 1], row, bind_c3, bind_blobs);
}

int undo_entry(sqlite3* db, sqlite3_stmt* row) { return apply_entry(db, row, true); }
int redo_entry(sqlite3* db, sqlite3_stmt* row) { return apply_entry(db, row, false); }

bool is_marker(sqlite3_stmt* row) {
  return sqlite3_column_type(row, 5) == SQLITE_INTEGER && sqlite3_column_int(row, 5) == 0;
}

}  // namespace

int64_t journal_last() { return g_last; }

void journal_set_notify(UndoStateFn fn) { g_notify = fn; }

int journal_begin(sqlite3* db) {
  int64_t position = 0, end = 0;
  int rc = read_cursor(db, &position, &end);
  if (rc != 0) {
    log_message(LOG_ERROR, "journal_begin: no cursor: %d", rc);
    return rc;
  }
  if (!sqlite3_get_autocommit(db)) {
    // Groups never nest; rolling back here would take the caller's work too.
    log_message(LOG_ERROR, "journal_begin: transaction already open");
    return -1;
  }
  rc = db_exec(db, "BEGIN;");
  if (rc != SQLITE_OK) {
    log_message(LOG_ERROR, "journal_begin: BEGIN: %d", rc);
    return rc;
  }
  if (position != end) {
    Stmt s;
    rc = stmt_prepare(db, "DELETE FROM t5 WHERE rowid > ?", &s);
    if (rc == SQLITE_OK) {
      sqlite3_bind_int64(s.get(), 1, position);
      rc = step_done(s.get());
    }
    if (rc != 0) {
      log_message(LOG_ERROR, "journal_begin: drop redo: %d", rc);
      rollback_if_open(db);
      return rc;
    }
  }
  Stmt s;
  rc = stmt_prepare(db, "INSERT INTO t5 (c6) VALUES (0)", &s);
  if (rc == SQLITE_OK) rc = step_done(s.get());
  if (rc != 0) {
    log_message(LOG_ERROR, "journal_begin: marker: %d", rc);
    rollback_if_open(db);
    return rc;
  }
  g_last = sqlite3_last_insert_rowid(db);
  stmt_cache_begin(db);
  // A page cache large enough that a bulk command (thousands of items whose
  // keys land all over the indexes) does not spill pages into the file, with
  // a journal sync each time, before it commits. It grows only as used. A
  // size the connection's owner chose (anything but the default) stays.
  if (cache_size_is_default(db) && db_exec(db, "PRAGMA cache_size=-32768;") != SQLITE_OK)
    log_message(LOG_WARNING, "journal_begin: cache_size");
  return 0;
}

int journal_append(sqlite3* db, int op, int table, const uint8_t* key1, const uint8_t* key2, int c3,
                   const uint8_t* c4, size_t c4_len, const uint8_t* c5, size_t c5_len) {
  if (!key1 || !key2 || table < 1 || table > 4) return -1;
  Stmt s;
  int rc = stmt_prepare(db, "INSERT INTO t5 VALUES (?,?,?,?,?,?,?)", &s);
  if (rc != SQLITE_OK) return rc;
  size_t key2_len = (table == 1 || table == 3) ? 20 : 16;
  if ((rc = bind_blob(s.get(), 1, key1, 16)) != SQLITE_OK || (rc = bind_blob(s.get(), 2, key2, key2_len)) != SQLITE_OK ||
      (rc = sqlite3_bind_int(s.get(), 3, c3)) != SQLITE_OK ||
      (rc = bind_blob_or_null(s.get(), 4, c4, c4_len)) != SQLITE_OK ||
      (rc = bind_blob_or_null(s.get(), 5, c5, c5_len)) != SQLITE_OK ||
      (rc = sqlite3_bind_int(s.get(), 6, op)) != SQLITE_OK || (rc = sqlite3_bind_int(s.get(), 7, table)) != SQLITE_OK)
    return rc;
  rc = step_done(s.get());
  if (rc != 0) {
    log_message(LOG_ERROR, "journal_append: %d", rc);
    return rc;
  }
  g_last = sqlite3_last_insert_rowid(db);
  return 0;
}

int journal_append_demotion(sqlite3* db, const uint8_t uuid[16]) {
  Stmt s;
  int rc = stmt_prepare(db, "INSERT INTO t5 (c1,c2,c3,c6,c7) SELECT c1, c2, 1, 1, 1 FROM t1 WHERE c1=? AND c3=0", &s);
  if (rc != SQLITE_OK) return rc;
  if ((rc = bind_blob(s.get(), 1, uuid, 16)) != SQLITE_OK) return rc;
  rc = step_done(s.get());
  if (rc != 0) {
    log_message(LOG_ERROR, "journal_append_demotion: %d", rc);
    return rc;
  }
  if (sqlite3_changes(db) > 0) g_last = sqlite3_last_insert_rowid(db);
  return 0;
}

int journal_commit(sqlite3* db) {
  if (sqlite3_get_autocommit(db)) {
    log_message(LOG_ERROR, "journal_commit: no transaction");
    stmt_cache_end(db);
    return -1;
  }
  Stmt s;
  int rc = stmt_prepare(db, "UPDATE t5 SET c6=?, c7=? WHERE rowid=1", &s);
  if (rc == SQLITE_OK) {
    sqlite3_bind_int64(s.get(), 1, g_last);
    sqlite3_bind_int64(s.get(), 2, g_last);
    rc = step_done(s.get());
    // A missing cursor row would leave the group unreachable by undo.
    if (rc == 0 && sqlite3_changes(db) != 1) rc = -1;
  }
  s.reset();
  if (rc == 0) rc = db_exec(db, "COMMIT;");
  if (rc != 0) {
    log_message(LOG_ERROR, "journal_commit: %d", rc);
    rollback_if_open(db);
  }
  stmt_cache_end(db);
  if (rc != 0) return rc;
  if (g_notify) g_notify(db, g_last > 2, false);
  return 0;
}

int journal_write_out(sqlite3* db) {
  if (sqlite3_get_autocommit(db)) return -1;
  return sqlite3_db_cacheflush(db);
}

int journal_rollback(sqlite3* db) {
  stmt_cache_end(db);
  // A failing statement may already have ended the transaction.
  if (sqlite3_get_autocommit(db)) return 0;
  int rc = db_exec(db, "ROLLBACK;");
  if (rc != SQLITE_OK) log_message(LOG_ERROR, "journal_rollback: %d", rc);
  return rc;
}

int journal_reset(sqlite3* db) {
  int rc = db_exec(db, "DELETE FROM t5;");
  if (rc == SQLITE_OK) {
    Stmt s;
    rc = stmt_prepare(db, "INSERT INTO t5 (c6,c7) VALUES (1,1)", &s);
    if (rc == SQLITE_OK) rc = step_done(s.get());
  }
  if (rc != 0) {
    log_message(LOG_ERROR, "journal_reset: %d", rc);
    return rc;
  }
  g_last = 1;
  return 0;
}

int journal_state(sqlite3* db) {
  int64_t position = 0, end = 0;
  if (read_cursor(db, &position, &end) != 0) return 0;
  return (position > 2 ? 1 : 0) + (position < end - 1 ? 2 : 0);
}

int journal_undo(sqlite3* db) {
  int64_t position = 0, end = 0;
  int rc = read_cursor(db, &position, &end);
  if (rc != 0) {
    log_message(LOG_ERROR, "journal_undo: no cursor: %d", rc);
    return rc;
  }
  if (position <= 1) return 0;
  if (!sqlite3_get_autocommit(db)) {
    log_message(LOG_ERROR, "journal_undo: transaction open");
    return -1;
  }
  Stmt rows;
  rc = stmt_prepare(db, "SELECT *, rowid FROM t5 WHERE rowid <= ? AND rowid > 1 ORDER BY rowid DESC", &rows);
  if (rc != SQLITE_OK) {
    log_message(LOG_ERROR, "journal_undo: %d", rc);
    return rc;
  }
  sqlite3_bind_int64(rows.get(), 1, position);
  Transaction tx(db);
  if ((rc = tx.status()) != SQLITE_OK) {
    log_message(LOG_ERROR, "journal_undo: BEGIN: %d", rc);
    return rc;
  }
  // One step may hold thousands of entries (a whole import).
  StmtCacheScope statements(db);
  int64_t new_position = position;
  bool marker = false;
  while ((rc = sqlite3_step(rows.get())) == SQLITE_ROW) {
    new_position = sqlite3_column_int64(rows.get(), 7) - 1;
    if (is_marker(rows.get())) {
      marker = true;
      break;
    }
    if ((rc = undo_entry(db, rows.get())) != 0) break;
  }
  if (rc == SQLITE_DONE) rc = 0;
  if (rc == SQLITE_ROW && marker) rc = 0;
  rows.reset();
  if (rc == 0) rc = set_position(db, new_position);
  if (rc == 0) rc = tx.commit();
  if (rc != 0) {
    log_message(LOG_ERROR, "journal_undo: %d", rc);
    return rc;
  }
  notify(db, new_position, end);
  return 0;
}

int journal_redo(sqlite3* db) {
  int64_t position = 0, end = 0;
  int rc = read_cursor(db, &position, &end);
  if (rc != 0) {
    log_message(LOG_ERROR, "journal_redo: no cursor: %d", rc);
    return rc;
  }
  if (position >= end - 1) return 0;
  if (!sqlite3_get_autocommit(db)) {
    log_message(LOG_ERROR, "journal_redo: transaction open");
    return -1;
  }
  Stmt rows;
  rc = stmt_prepare(db, "SELECT *, rowid FROM t5 WHERE rowid > ? ORDER BY rowid", &rows);
  if (rc != SQLITE_OK) {
    log_message(LOG_ERROR, "journal_redo: %d", rc);
    return rc;
  }
  sqlite3_bind_int64(rows.get(), 1, position + 1);
  Transaction tx(db);
  if ((rc = tx.status()) != SQLITE_OK) {
    log_message(LOG_ERROR, "journal_redo: BEGIN: %d", rc);
    return rc;
  }
  // One step may hold thousands of entries (a whole import).
  StmtCacheScope statements(db);
  int64_t new_position = end;
  while ((rc = sqlite3_step(rows.get())) == SQLITE_ROW) {
    if (is_marker(rows.get())) {
      new_position = sqlite3_column_int64(rows.get(), 7) - 1;
      rc = 0;
      break;
    }
    if ((rc = redo_entry(db, rows.get())) != 0) break;
  }
  if (rc == SQLITE_DONE) rc = 0;
  rows.reset();
  if (rc == 0) rc = set_position(db, new_position);
  if (rc == 0) rc = tx.commit();
  if (rc != 0) {
    log_message(LOG_ERROR, "journal_redo: %d", rc);
    return rc;
  }
  notify(db, new_position, end);
  return 0;
}
