// SPDX-License-Identifier: GPL-3.0-or-later
// Encrypted pages written by the connection that reads them: a transaction
// larger than the page cache spills pages to the file and reads them back
// while it scans and updates, and must see exactly what a plain database
// sees.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <string>

#include "common/test_support.h"
#include "storage/page_vfs.h"

namespace {

using test_support::query_int;
using test_support::TempDir;

int exec(sqlite3* db, const std::string& sql) { return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr); }

std::string text(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* s = nullptr;
  std::string out = "ERR";
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW) {
    const unsigned char* t = sqlite3_column_text(s, 0);
    out = t ? reinterpret_cast<const char*>(t) : "";
  }
  sqlite3_finalize(s);
  return out;
}

// One summary of the whole table: any lost, duplicated or altered row
// changes it.
const char kSummary[] =
    "SELECT count(*) || ':' || count(DISTINCT id) || ':' || total(k) || ':' || total(length(v)) || ':' || "
    "all_rows FROM t, (SELECT group_concat(id || '=' || k || '=' || v, ',') AS all_rows FROM "
    "(SELECT * FROM t ORDER BY id))";

// The summary with the rows folded into a digest, short enough to print.
std::string summary(sqlite3* db) {
  std::string all = text(db, kSummary);
  size_t cut = all.rfind(':');
  if (cut == std::string::npos) return all;
  return all.substr(0, cut + 1) + std::to_string(std::hash<std::string>()(all.substr(cut + 1)));
}

// Deterministic work on a table with an index: scans that read pages in
// order while the same statements rewrite and append pages, more of them
// than the cache holds.
void run_workload(sqlite3* db, std::string* inside) {
  ASSERT_EQ(exec(db, "CREATE TABLE t(id INTEGER PRIMARY KEY, k INT, v TEXT); CREATE INDEX t_k ON t(k);"), SQLITE_OK);
  ASSERT_EQ(exec(db, "BEGIN"), SQLITE_OK);
  for (int i = 1; i <= 3000; i++) {
    std::string sql = "INSERT INTO t(k, v) VALUES(" + std::to_string((i * 7919) % 10007) + ", printf('%.*c', " +
                      std::to_string(40 + (i * 37) % 260) + ", 'a') || '" + std::to_string(i) + "')";
    ASSERT_EQ(exec(db, sql), SQLITE_OK);
  }
  ASSERT_EQ(exec(db, "COMMIT"), SQLITE_OK);
  ASSERT_EQ(exec(db, "PRAGMA cache_size=10"), SQLITE_OK);
  ASSERT_EQ(exec(db, "BEGIN"), SQLITE_OK);
  ASSERT_EQ(exec(db, "UPDATE t SET v = v || printf('%.*c', 120, 'b'), k = (k * 31) % 10007 WHERE id % 2 = 0"), SQLITE_OK);
  ASSERT_EQ(exec(db, "INSERT INTO t(k, v) SELECT (k * 13) % 10007, 'copy-' || v FROM t WHERE id % 3 = 0"), SQLITE_OK);
  ASSERT_EQ(exec(db, "DELETE FROM t WHERE id % 5 = 0"), SQLITE_OK);
  ASSERT_EQ(exec(db, "UPDATE t SET v = substr(v, 1, 30) WHERE k % 4 = 1"), SQLITE_OK);
  ASSERT_EQ(exec(db, "INSERT INTO t(k, v) SELECT k + 1, v FROM t WHERE id % 7 = 0 ORDER BY k"), SQLITE_OK);
  *inside = summary(db);
  EXPECT_EQ(text(db, "PRAGMA integrity_check"), "ok");
  ASSERT_EQ(exec(db, "COMMIT"), SQLITE_OK);
}

TEST(PageVfsOwnWrites, LargeTransactionsWithASmallCacheMatchAPlainDatabase) {
  TempDir dir("page-vfs-writes");
  sqlite3* plain = nullptr;
  ASSERT_EQ(sqlite3_open(dir.file("plain").c_str(), &plain), SQLITE_OK);
  ASSERT_EQ(exec(plain, "PRAGMA page_size=1024"), SQLITE_OK);
  std::string expected_inside;
  run_workload(plain, &expected_inside);
  std::string expected = summary(plain);
  sqlite3_close(plain);
  ASSERT_NE(expected, "ERR");

  const uint8_t key[32] = {9, 8, 7, 6, 5, 4, 3, 2, 1};
  sqlite3* db = nullptr;
  ASSERT_EQ(page_db_open(dir.file("data").c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE), SQLITE_OK);
  ASSERT_EQ(page_db_key(db, key, 32), 0);
  std::string inside;
  run_workload(db, &inside);
  EXPECT_EQ(inside, expected_inside);
  EXPECT_EQ(summary(db), expected);
  EXPECT_EQ(query_int(db, "SELECT count(*) - count(DISTINCT id) FROM t"), 0);
  EXPECT_EQ(text(db, "PRAGMA integrity_check"), "ok");
  sqlite3_close(db);

  // And as stored: a fresh connection reads the same table.
  db = nullptr;
  ASSERT_EQ(page_db_open(dir.file("data").c_str(), &db, SQLITE_OPEN_READWRITE), SQLITE_OK);
  ASSERT_EQ(page_db_key(db, key, 32), 0);
  EXPECT_EQ(summary(db), expected);
  EXPECT_EQ(text(db, "PRAGMA integrity_check"), "ok");
  sqlite3_close(db);
}

}  // namespace
