// Statements kept for the length of a journal group: a bulk command (an
// import, a paste) runs the same dozen statements for every item, and
// preparing them again each time costs more than running them.
#include <sqlite3.h>

#include <cstring>
#include <string>
#include <vector>

#include "storage/sqlite_util.h"

namespace {

struct Entry {
  std::string sql;
  sqlite3_stmt* stmt;
  bool busy;
};

// One group is open at a time, on the thread that uses the connection; the
// server's threads never open one, so each thread has its own (empty) cache.
struct Cache {
  sqlite3* db = nullptr;
  std::vector<Entry> entries;
  // Statements still held by their callers when the cache ended: finalized
  // when they are given back.
  std::vector<sqlite3_stmt*> orphans;
};
thread_local Cache t_cache;

}  // namespace

void stmt_cache_begin(sqlite3* db) {
  stmt_cache_end(t_cache.db);
  t_cache.db = db;
}

void stmt_cache_end(sqlite3* db) {
  Cache& c = t_cache;
  if (!db || c.db != db) return;
  for (Entry& e : c.entries) {
    if (e.busy)
      c.orphans.push_back(e.stmt);
    else
      sqlite3_finalize(e.stmt);
  }
  c.entries.clear();
  c.db = nullptr;
}

sqlite3_stmt* stmt_cache_take(sqlite3* db, const char* sql) {
  Cache& c = t_cache;
  if (!db || c.db != db) return nullptr;
  for (Entry& e : c.entries) {
    if (!e.busy && e.sql == sql) {
      e.busy = true;
      return e.stmt;
    }
  }
  return nullptr;
}

void stmt_cache_adopt(sqlite3* db, const char* sql, sqlite3_stmt* stmt) {
  Cache& c = t_cache;
  if (!db || c.db != db || !stmt) return;
  c.entries.push_back(Entry{sql, stmt, true});
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
