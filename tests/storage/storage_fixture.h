// SPDX-License-Identifier: GPL-3.0-or-later
// Shared set-up for the storage tests: a fresh repository database in a
// temporary directory, padded texts, hashes and table dumps.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/file_calls.h"
#include "common/test_support.h"
#include "crypto/crypto.h"
#include "storage/db.h"
#include "storage/journal.h"
#include "storage/page_vfs.h"
#include "storage/repo.h"
#include "support/strings.h"

namespace storage_test {

// Text padded with zeros to the next multiple of 16 leaving room for a zero.
inline std::string pad(const std::string& text) {
  std::string p = text;
  p.resize((text.size() + 16) & ~size_t{15}, '\0');
  return p;
}

inline const uint8_t* u8(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

struct Version {
  std::string header, body;  // padded
  uint8_t hash[20];
  Version(const std::string& h, const std::string& b = std::string()) : header(pad(h)), body(b.empty() ? "" : pad(b)) {
    std::string all = h + b;
    sha1(hash, all.data(), all.size());
  }
};

inline void fill_uuid(uint8_t uuid[16], int n) {
  std::memset(uuid, 0, 16);
  uuid[0] = 0xA5;
  uuid[15] = static_cast<uint8_t>(n);
}

// Every row of a table, columns rendered as text (blobs in hex), in rowid
// order; enough to compare states of the database.
inline std::vector<std::string> dump_table(sqlite3* db, const std::string& table) {
  std::vector<std::string> rows;
  std::string sql = "SELECT rowid, * FROM " + table + " ORDER BY rowid";
  sqlite3_stmt* s = nullptr;
  EXPECT_EQ(SQLITE_OK, sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr)) << sql;
  while (s && sqlite3_step(s) == SQLITE_ROW) {
    std::string row;
    for (int i = 0; i < sqlite3_column_count(s); ++i) {
      switch (sqlite3_column_type(s, i)) {
        case SQLITE_NULL: row += "NULL"; break;
        case SQLITE_INTEGER: row += std::to_string(sqlite3_column_int64(s, i)); break;
        default: {
          const uint8_t* p = static_cast<const uint8_t*>(sqlite3_column_blob(s, i));
          int n = sqlite3_column_bytes(s, i);
          static const char hx[] = "0123456789abcdef";
          row += "x'";
          for (int k = 0; k < n; ++k) {
            row += hx[p[k] >> 4];
            row += hx[p[k] & 15];
          }
          row += "'";
        }
      }
      row += "|";
    }
    rows.push_back(row);
  }
  sqlite3_finalize(s);
  return rows;
}

// t1..t4 without rowids of the data tables mattering: rows sorted by content.
inline std::vector<std::string> dump_data(sqlite3* db) {
  std::vector<std::string> all;
  for (const char* t : {"t1", "t2", "t3", "t4"}) {
    std::string sql = std::string("SELECT '") + t + "', * FROM " + t;
    sqlite3_stmt* s = nullptr;
    EXPECT_EQ(SQLITE_OK, sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr));
    std::vector<std::string> rows;
    while (s && sqlite3_step(s) == SQLITE_ROW) {
      std::string row;
      for (int i = 0; i < sqlite3_column_count(s); ++i) {
        const unsigned char* p = sqlite3_column_text(s, i);
        if (sqlite3_column_type(s, i) == SQLITE_BLOB) {
          const uint8_t* b = static_cast<const uint8_t*>(sqlite3_column_blob(s, i));
          for (int k = 0; k < sqlite3_column_bytes(s, i); ++k) row += std::to_string(b[k]) + ".";
        } else {
          row += p ? reinterpret_cast<const char*>(p) : "NULL";
        }
        row += "|";
      }
      rows.push_back(row);
    }
    sqlite3_finalize(s);
    std::sort(rows.begin(), rows.end());
    all.insert(all.end(), rows.begin(), rows.end());
  }
  return all;
}

using test_support::count_in;

using test_support::TempDir;

// A fresh repository database "data" with a random key.
class RepoFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, random_bytes(key, 32));
    file = dir.file("data");
    db = db_create_repo(file.c_str(), key);
    ASSERT_NE(nullptr, db);
    repo = RepoDb{db, key, false};
    fill_uuid(item, 1);
    fill_uuid(tag, 2);
  }
  void TearDown() override { db_close(db); }

  void reopen() {
    db_close(db);
    db = db_open(file.c_str());
    ASSERT_NE(nullptr, db);
    ASSERT_EQ(0, page_db_key(db, key, 32));
    repo.db = db;
  }

  // One journal group around f; asserts it commits.
  template <class F>
  void group(F f) {
    ASSERT_EQ(0, journal_begin(db));
    int rc = f();
    if (rc != 0) {
      journal_rollback(db);
      FAIL() << "group failed: " << rc;
    }
    ASSERT_EQ(0, journal_commit(db));
  }

  int write(const Version& v, bool keep = false) {
    return object_write(repo, item, v.hash, u8(v.header), v.header.size(), v.body.empty() ? nullptr : u8(v.body),
                        v.body.size(), keep);
  }

  TempDir dir;
  std::string file;
  uint8_t key[32];
  sqlite3* db = nullptr;
  RepoDb repo;
  uint8_t item[16], tag[16];
};

inline constexpr char kMaster[] = "Master-Pass-123";

// A profile directory with a fresh configuration database under kMaster and
// an empty repository root; the repository layer's state is reset around it.
class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    repo_state_reset();
    strings_set_language(0);
    root = dir.path() + "/repos";
    ASSERT_EQ(0, mkdir(root.c_str(), 0700));
    sqlite3* cfg = config_create(dir.path().c_str(), kMaster);
    ASSERT_NE(nullptr, cfg);
    config_set(cfg, dir.path());
  }
  void TearDown() override {
    file_calls::stop();
    repo_state_reset();
  }

  // Registers a repository named `name` with `password` under the root; its index.
  int add_repo(const char* name, const char* password, int32_t account = 0, const char* server_id = "") {
    std::string path;
    EXPECT_EQ(0, repo_create_dir(root.c_str(), &path));
    RepoRecord rec;
    rec.name = name;
    rec.path = path;
    rec.password = password;
    rec.account_id = account;
    rec.server_id = server_id;
    int index = -1;
    EXPECT_EQ(0, repo_register(rec, &index));
    return index;
  }

  // Rows of t1 whose header deciphers under the entry's key and reads as a
  // note; -1 when the database does not open.
  static int readable_rows(RepoEntry* e) {
    if (repo_open(e) != 0) return -1;
    RepoDb r{e->db, e->key, false};
    int n = 0;
    objects_load_current(r, 0, [&](int, const uint8_t* uuid, const uint8_t* hash, const uint8_t* c4, size_t len) {
      std::string text;
      if (row_decipher_header(e->key, uuid, hash, c4, len, &text) == 0 && text.rfind("2:", 0) == 0) n++;
    });
    repo_close(e);
    return n;
  }

  TempDir dir;
  std::string root;
};

}  // namespace storage_test
