// SPDX-License-Identifier: GPL-3.0-or-later
// Failing I/O, injected at the n-th write, sync, open or rename for every n
// until the operation gets through: each failure is reported, the database
// stays sound, and what was stored before is still there (or, for a change
// that reported success, the change is).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "common/file_calls.h"
#include "common/test_support.h"
#include "crypto/crypto.h"
#include "storage/db.h"
#include "storage/journal.h"
#include "storage/page_vfs.h"
#include "storage/repo.h"
#include "storage_fixture.h"
#include "support/log.h"
#include "support/strings.h"

namespace {

using storage_test::dump_data;
using storage_test::dump_table;
using storage_test::fill_uuid;
using storage_test::u8;
using storage_test::Version;
using test_support::read_file;
using test_support::TempDir;
using test_support::write_file;

struct State {
  std::vector<std::string> data, journal;
  std::string integrity;
  bool operator==(const State& o) const { return data == o.data && journal == o.journal; }
};

State read_state(const std::string& file, const uint8_t key[32]) {
  State s;
  sqlite3* db = db_open(file.c_str());
  if (!db) return s;
  page_db_key(db, key, 32);
  s.data = dump_data(db);
  s.journal = dump_table(db, "t5");
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
    s.integrity = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  sqlite3_finalize(st);
  db_close(db);
  return s;
}

int write_item(const RepoDb& r, int n, const std::string& text, bool keep) {
  uint8_t uuid[16];
  fill_uuid(uuid, n);
  Version v("2:0:0:0:0:0;0:0;0:1:1:" + text, std::string(300 + 7 * n, char('a' + n % 26)));
  return object_write(r, uuid, v.hash, u8(v.header), v.header.size(), u8(v.body), v.body.size(), keep);
}

class IoErrors : public ::testing::Test {
 protected:
  void SetUp() override {
    log_stop();  // the failures log; nothing of it is needed here
    ASSERT_EQ(0, random_bytes(key, 32));
    file = dir.file("data");
    sqlite3* db = db_create_repo(file.c_str(), key);
    ASSERT_NE(nullptr, db);
    RepoDb r{db, key, true};
    ASSERT_EQ(0, journal_begin(db));
    for (int i = 0; i < 40; i++) ASSERT_EQ(0, write_item(r, i, "stored " + std::to_string(i), false));
    ASSERT_EQ(0, journal_commit(db));
    db_close(db);
    pristine = read_file(file);
    before = read_state(file, key);
    ASSERT_EQ("ok", before.integrity);
  }
  void TearDown() override {
    file_calls::stop();
    log_reenable();
  }

  // Runs `op` on a fresh connection to the pristine file, failing the n-th
  // counted call (0: none). Returns op's result; *injected tells whether a
  // failure was injected at all.
  int run(const std::function<int(sqlite3*)>& op, long n, int err, bool persistent, bool* injected, int cache = 0) {
    write_file(file, pristine);
    ::unlink((file + "-journal").c_str());
    sqlite3* db = db_open(file.c_str());
    if (!db || page_db_key(db, key, 32) != 0) return -100;
    if (cache) db_exec(db, ("PRAGMA cache_size=" + std::to_string(cache) + ";").c_str());
    file_calls::watch(dir.path());
    if (n > 0) file_calls::fail_at(n, err, persistent);
    int rc = op(db);
    *injected = file_calls::injected();
    file_calls::stop();
    db_close(db);
    return rc;
  }

  // Every n from the first call on, until the operation needs fewer calls.
  void sweep(const char* what, const std::function<int(sqlite3*)>& op, int cache) {
    bool injected = false;
    ASSERT_EQ(0, run(op, 0, 0, false, &injected, cache)) << what;
    if (cache) {
      // The shape under test: pages of the database written while the
      // journal still grows (the cache spilled before the commit).
      std::vector<file_calls::Event> ev = file_calls::events();
      long db_write = file_calls::find(ev, "write", "/data");
      ASSERT_GE(db_write, 0);
      EXPECT_GE(file_calls::find(ev, "write", "/data-journal", db_write + 1), 0) << what << ": the cache never spilled";
    }
    State after = read_state(file, key);
    ASSERT_EQ("ok", after.integrity);
    ASSERT_FALSE(after == before) << what << ": the operation changes nothing";
    int failures = 0;
    for (bool persistent : {false, true}) {
      int err = persistent ? ENOSPC : EIO;
      for (long n = 1; n < 2000; n++) {
        SCOPED_TRACE(std::string(what) + (persistent ? ", full disk" : ", one failing call") + " at call " +
                     std::to_string(n));
        int rc = run(op, n, err, persistent, &injected, cache);
        // Reading back may roll a hot journal back: its syncs are recorded,
        // not made, which keeps the sweep fast.
        file_calls::watch(dir.path());
        State now = read_state(file, key);
        file_calls::stop();
        EXPECT_EQ("ok", now.integrity);
        if (rc == 0) {
          EXPECT_TRUE(now == after) << "reported success, change not stored";
        } else {
          failures++;
          EXPECT_TRUE(now == before || now == after) << "failure left a partial change";
        }
        // A disk that stays full fails every later write: the change cannot
        // have been reported as made unless it was made before.
        if (persistent && injected && rc == 0) {
          EXPECT_TRUE(now == after);
        }
        if (!injected) break;
        if (HasFailure()) return;
      }
    }
    EXPECT_GT(failures, 0) << what << ": no failure was ever reported";
  }

  TempDir dir{"ordika-io-errors"};
  std::string file, pristine;
  uint8_t key[32];
  State before;
};

// One journal group: new versions (history kept for some), links, a delete.
int edit_group(sqlite3* db, const uint8_t* key, int writes = 25) {
  RepoDb r{db, key, true};
  int rc = journal_begin(db);
  for (int i = 0; rc == 0 && i < writes; i++) rc = write_item(r, i * 3 % 40, "edited " + std::to_string(i), i % 2 == 0);
  uint8_t tag[16], item[16];
  fill_uuid(tag, 200);
  for (int i = 0; rc == 0 && i < 10; i++) {
    fill_uuid(item, i);
    rc = link_add(r, tag, item);
  }
  fill_uuid(item, 39);
  if (rc == 0) rc = object_delete_all(r, item);
  if (rc != 0) {
    journal_rollback(db);
    return rc;
  }
  return journal_commit(db);
}

TEST_F(IoErrors, JournalGroupFailingAtEveryCallKeepsTheStoredRows) {
  sweep("group", [&](sqlite3* db) { return edit_group(db, key); }, 0);
}

TEST_F(IoErrors, JournalGroupSpillingASmallCacheFailingAtEveryCall) {
  sweep("spilling group", [&](sqlite3* db) { return edit_group(db, key, 12); }, 4);
}

TEST_F(IoErrors, UndoAndRedoFailingAtEveryCallKeepTheStoredRows) {
  // The pristine file's last group is undone (and redone) under failures.
  sweep("undo", [&](sqlite3* db) { return journal_undo(db); }, 0);
  {
    sqlite3* db = db_open(file.c_str());
    ASSERT_NE(nullptr, db);
    page_db_key(db, key, 32);
    ASSERT_EQ(0, journal_undo(db));
    db_close(db);
    pristine = read_file(file);
    before = read_state(file, key);
  }
  sweep("redo", [&](sqlite3* db) { return journal_redo(db); }, 0);
}

// --- Repository lifecycle ----------------------------------------------------

using storage_test::kMaster;

class LifecycleIoErrors : public storage_test::ProfileTest {
 protected:
  void SetUp() override {
    log_stop();
    ProfileTest::SetUp();
    ASSERT_EQ(0, add_repo("r", kPasswords[0]));
    RepoEntry* e = &repo_table()[0];
    ASSERT_EQ(0, repo_open(e));
    RepoDb r{e->db, e->key, false};
    ASSERT_EQ(0, journal_begin(e->db));
    for (int i = 0; i < 12; i++) ASSERT_EQ(0, write_item(r, i, "item " + std::to_string(i), false));
    ASSERT_EQ(0, journal_commit(e->db));
    repo_close(e);
  }
  void TearDown() override {
    ProfileTest::TearDown();
    log_reenable();
  }

  static constexpr const char* kPasswords[2] = {"First-Password-12345!", "Second-Password-6789?"};
};

TEST_F(LifecycleIoErrors, RepositoryPasswordChangeFailingAtEveryCallLosesNothing) {
  int current = 0, failures = 0;
  for (bool persistent : {false, true}) {
    for (long n = 1; n < 2000; n++) {
      SCOPED_TRACE(std::string(persistent ? "full disk" : "one failing call") + " at call " + std::to_string(n));
      int next = 1 - current;
      file_calls::watch(dir.path());
      file_calls::fail_at(n, persistent ? ENOSPC : EIO, persistent);
      int rc = change_repo_password(&repo_table()[0], kPasswords[next]);
      bool injected = file_calls::injected();
      file_calls::stop();
      if (rc != 0) failures++;
      // The next start, with the disk working again.
      ASSERT_EQ(0, repo_table_load());
      ASSERT_EQ(1u, repo_table().size());
      RepoEntry* e = &repo_table()[0];
      ASSERT_TRUE(e->enabled);
      std::string pw = repo_password(e);
      if (rc == 0) {
        EXPECT_EQ(kPasswords[next], pw);
      }
      ASSERT_TRUE(pw == kPasswords[0] || pw == kPasswords[1]) << pw;
      current = pw == kPasswords[0] ? 0 : 1;
      ASSERT_EQ(12, readable_rows(e));
      if (!injected) break;
    }
  }
  EXPECT_GT(failures, 0);
}

TEST_F(LifecycleIoErrors, MasterPasswordChangeFailingAtEveryCallLeavesAWorkingConfiguration) {
  const char* masters[2] = {kMaster, "Other-Master-Pass-99"};
  int current = 0, failures = 0;
  for (bool persistent : {false, true}) {
    for (long n = 1; n < 2000; n++) {
      SCOPED_TRACE(std::string(persistent ? "full disk" : "one failing call") + " at call " + std::to_string(n));
      int next = 1 - current;
      file_calls::watch(dir.path());
      file_calls::fail_at(n, persistent ? ENOSPC : EIO, persistent);
      int rc = change_master_password(masters[next]);
      bool injected = file_calls::injected();
      file_calls::stop();
      if (rc != 0) failures++;
      config_set(nullptr, dir.path());
      repo_table_clear();
      int opened = -1;
      for (int k : {next, current})
        if (config_unlock(masters[k]) == 0) {
          opened = k;
          break;
        }
      ASSERT_GE(opened, 0) << "the configuration opens with neither password";
      if (rc == 0) {
        EXPECT_EQ(next, opened);
      }
      current = opened;
      ASSERT_EQ(0, repo_table_load());
      ASSERT_EQ(1u, repo_table().size());
      EXPECT_EQ(kPasswords[0], repo_password(&repo_table()[0]));
      EXPECT_EQ(12, readable_rows(&repo_table()[0]));
      if (!injected) break;
    }
  }
  EXPECT_GT(failures, 0);
}

TEST_F(LifecycleIoErrors, ReadOnlyDirectoriesRefuseChangesAndKeepWhatIsStored) {
  std::string path = repo_table()[0].path;
  file_calls::watch(dir.path());
  file_calls::fail_at(1, EACCES, true, "open");
  EXPECT_NE(0, change_repo_password(&repo_table()[0], kPasswords[1]));
  EXPECT_NE(0, change_master_password("Other-Master-Pass-99"));
  std::string fresh;
  int created = repo_create_dir(root.c_str(), &fresh);
  if (created == 0) {
    RepoRecord rec;
    rec.name = "new";
    rec.path = fresh;
    rec.password = kPasswords[1];
    EXPECT_NE(0, repo_register(rec, nullptr));
  }
  EXPECT_TRUE(file_calls::injected());
  file_calls::stop();
  ASSERT_EQ(0, repo_table_load());
  ASSERT_EQ(1u, repo_table().size());
  EXPECT_EQ(kPasswords[0], repo_password(&repo_table()[0]));
  EXPECT_EQ(12, readable_rows(&repo_table()[0]));
  config_set(nullptr, dir.path());
  repo_table_clear();
  EXPECT_EQ(0, config_unlock(kMaster));
}

}  // namespace
