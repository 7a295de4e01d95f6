// SPDX-License-Identifier: GPL-3.0-or-later
// Statements kept for the length of a journal group (or of an undo, a redo
// or a bulk read): a bulk command (an import, a paste) runs the same dozen
// statements for every item, and preparing them again each time costs
// more than running them.
#include <sqlite3.h>

#include <cstring>
#include <string>
#include <vector>

#include "storage/sqlite_util.h"

namespace {

struct Entry {
  sqlite3* db;
  std::string sql;
  sqlite3_stmt* stmt;
  bool busy;
};

// Connections are used by one thread at a time and the server's threads
// never open a cache, so each thread has its own.
struct Cache {
  std::vector<sqlite3*> dbs;  // connections whose statements are kept
  std::vector<Entry> entries;
  // Statements still held by their callers when the cache ended: finalized
  // when they are given back.
  std::vector<sqlite3_stmt*> orphans;
};
thread_local Cache t_cache;

bool active(const Cache& c, sqlite3* db) {
  for (sqlite3* d : c.dbs)
    if (d == db) return true;
  return false;
}

}  // namespace

void stmt_cache_begin(sqlite3* db) {
  if (db && !active(t_cache, db)) t_cache.dbs.push_back(db);
}

bool stmt_cache_on(sqlite3* db) { return db && active(t_cache, db); }

void stmt_cache_end(sqlite3* db) {
  Cache& c = t_cache;
  if (!db || !active(c, db)) return;
  size_t kept = 0;
  for (Entry& e : c.entries) {
    if (e.db != db) {
      c.entries[kept++] = std::move(e);
    } else if (e.busy) {
      c.orphans.push_back(e.stmt);
    } else {
      sqlite3_finalize(e.stmt);
    }
  }
  c.entries.resize(kept);
  for (size_t i = 0; i < c.dbs.size(); i++)
    if (c.dbs[i] == db) c.dbs.erase(c.dbs.begin() + static_cast<long>(i));
}

sqlite3_stmt* stmt_cache_take(sqlite3* db, const char* sql) {
  Cache& c = t_cache;
  if (!db || c.dbs.empty() || !active(c, db)) return nullptr;
  for (Entry& e : c.entries) {
    if (!e.busy && e.db == db && e.sql == sql) {
      e.busy = true;
      return e.stmt;
    }
  }
  return nullptr;
}

void stmt_cache_adopt(sqlite3* db, const char* sql, sqlite3_stmt* stmt) {
  Cache& c = t_cache;
  if (!db || !stmt || !active(c, db)) return;
  c.entries.push_back(Entry{db, sql, stmt, true});
}

bool stmt_cache_give_back(sqlite3_stmt* stmt) {
  Cache& c = t_cache;
  for (Entry& e : c.entries) {
    if (e.stmt == stmt) {
      sqlite3_reset(stmt);
      sqlite3_clear_bindings(stmt);
      e.busy = false;
      return true;
    }
  }
  for (size_t i = 0; i < c.orphans.size(); i++) {
    if (c.orphans[i] == stmt) {
      c.orphans.erase(c.orphans.begin() + static_cast<long>(i));
      return false;  // the caller finalizes it
    }
  }
  return false;
}
