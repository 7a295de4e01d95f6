// SPDX-License-Identifier: GPL-3.0-or-later
// Small RAII and binding helpers around the SQLite C interface, shared by the
// storage layer and its callers. Header only.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Statement cache (stmt_cache.cc): while it is on for a connection (a
// journal group from journal_begin to journal_commit or journal_rollback,
// an undo or redo step, a StmtCacheScope), stmt_prepare hands out
// statements kept until it ends, and a Stmt gives them back reset instead
// of finalizing them.
void stmt_cache_begin(sqlite3* db);
bool stmt_cache_on(sqlite3* db);
// Finalizes the group's statements (ones still held are finalized when
// given back). Does nothing unless the cache belongs to db.
void stmt_cache_end(sqlite3* db);
// A free cached statement for sql, now in use; nullptr when there is none.
sqlite3_stmt* stmt_cache_take(sqlite3* db, const char* sql);
// Keeps a freshly prepared statement (in use) when a cache is open on db.
void stmt_cache_adopt(sqlite3* db, const char* sql, sqlite3_stmt* stmt);
// Resets a cached statement and marks it free; false when it is not the
// cache's (the caller finalizes it).
bool stmt_cache_give_back(sqlite3_stmt* stmt);

struct StmtFinalizer {
  void operator()(sqlite3_stmt* s) const {
    if (!stmt_cache_give_back(s)) sqlite3_finalize(s);
  }
};
// A prepared statement, finalized (or given back to the group's cache)
// when it goes out of scope.
using Stmt = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
// A connection, closed when it goes out of scope (release() hands it on).
using DbHandle = std::unique_ptr<sqlite3, DbCloser>;

// Prepares one statement; returns the SQLite code (SQLITE_OK on success).
inline int stmt_prepare(sqlite3* db, const char* sql, Stmt* out) {
  if (sqlite3_stmt* cached = stmt_cache_take(db, sql)) {
    out->reset(cached);
    return SQLITE_OK;
  }
  sqlite3_stmt* s = nullptr;
  out->reset();
  int rc = sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
  if (rc == SQLITE_OK && !s) rc = SQLITE_MISUSE;  // empty text
  if (rc == SQLITE_OK) stmt_cache_adopt(db, sql, s);
  out->reset(s);
  return rc;
}

// Binds a blob copied by SQLite; a null pointer binds NULL. A zero-length
// blob is bound as an empty blob, not NULL.
inline int bind_blob(sqlite3_stmt* s, int i, const void* p, size_t n) {
  if (!p) return sqlite3_bind_null(s, i);
  return sqlite3_bind_blob64(s, i, n ? p : "", n, SQLITE_TRANSIENT);
}
// Binds NULL when the blob is absent or empty (journal columns c4, c5).
inline int bind_blob_or_null(sqlite3_stmt* s, int i, const void* p, size_t n) {
  if (!p || !n) return sqlite3_bind_null(s, i);
  return sqlite3_bind_blob64(s, i, p, n, SQLITE_TRANSIENT);
}
inline int bind_text(sqlite3_stmt* s, int i, const char* text) {
  return sqlite3_bind_text(s, i, text, -1, SQLITE_TRANSIENT);
}

// Column i as bytes (empty for NULL).
inline std::string column_bytes(sqlite3_stmt* s, int i) {
  const void* p = sqlite3_column_blob(s, i);
  int n = sqlite3_column_bytes(s, i);
  return p && n > 0 ? std::string(static_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
}
// Column i as a blob and its length, with one call that takes the
// connection's mutex instead of two: bulk reads step hundreds of thousands of
// rows. The value is read at once, on the thread that steps the statement,
// which is what makes the unprotected value safe to use.
inline const uint8_t* column_blob(sqlite3_stmt* s, int i, size_t* len) {
  sqlite3_value* v = sqlite3_column_value(s, i);
  const void* p = sqlite3_value_blob(v);
  int n = sqlite3_value_bytes(v);
  *len = p && n > 0 ? static_cast<size_t>(n) : 0;
  return static_cast<const uint8_t*>(p);
}
// Pointer to column i when it is a blob of exactly n bytes, else nullptr.
inline const uint8_t* column_fixed(sqlite3_stmt* s, int i, int n) {
  size_t len = 0;
  const uint8_t* p = column_blob(s, i, &len);
  return p && len == static_cast<size_t>(n) ? p : nullptr;
}

// The statement cache on for a connection during one scope (a bulk read
// from a repository other than the one a group is open on). Leaves a cache
// that was already on alone.
class StmtCacheScope {
 public:
  explicit StmtCacheScope(sqlite3* db) : db_(db && !stmt_cache_on(db) ? db : nullptr) {
    if (db_) stmt_cache_begin(db_);
  }
  ~StmtCacheScope() {
    if (db_) stmt_cache_end(db_);
  }
  StmtCacheScope(const StmtCacheScope&) = delete;
  StmtCacheScope& operator=(const StmtCacheScope&) = delete;

 private:
  sqlite3* db_;
};

// Runs one or more statements without results (sqlite3_exec); SQLite code.
inline int db_exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }

// One transaction on a connection: begun by the constructor, ended by
// commit(), and rolled back when the scope ends without a commit (or when
// COMMIT fails), so no early return leaves a transaction open.
class Transaction {
 public:
  explicit Transaction(sqlite3* db, const char* begin_sql = "BEGIN;")
      : db_(db), status_(db ? db_exec(db, begin_sql) : SQLITE_MISUSE), open_(status_ == SQLITE_OK) {}
  ~Transaction() { rollback(); }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // SQLITE_OK when the transaction began.
  int status() const { return status_; }
  bool open() const { return open_; }
  // SQLITE_OK, or the SQLite code of the failure (the transaction is then
  // rolled back).
  int commit() {
    if (!open_) return status_ != SQLITE_OK ? status_ : SQLITE_MISUSE;
    int rc = db_exec(db_, "COMMIT;");
    if (rc != SQLITE_OK) rollback();
    open_ = false;
    return rc;
  }
  void rollback() {
    if (open_ && !sqlite3_get_autocommit(db_)) db_exec(db_, "ROLLBACK;");
    open_ = false;
  }

 private:
  sqlite3* db_;
  int status_;
  bool open_;
};
