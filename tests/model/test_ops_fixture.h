// SPDX-License-Identifier: GPL-3.0-or-later
// Model tests backed by real repository databases: up to two repositories
// (index 0 and 1) in a temporary directory, installed through the model's
// repository lookup, each with its root tag.
#pragma once

#include <functional>

#include "crypto/crypto.h"
#include "model/clipboard.h"
#include "model/list.h"
#include "model/ops.h"
#include "model/search.h"
#include "model_fixture.h"
#include "storage/db.h"
#include "storage/journal.h"
#include "storage/page_vfs.h"
#include "storage/storage_fixture.h"

struct TestRepo {
  std::string file;
  uint8_t key[32] = {};
  sqlite3* db = nullptr;
  bool sync = false;
  bool hidden = false;
  int64_t root = -1;  // root tag slot
};

inline TestRepo g_repos[2];

inline int test_repo_lookup(int repo, RepoRef* out) {
  if (repo < 0 || repo > 1 || !g_repos[repo].db) return -1;
  out->store = RepoDb{g_repos[repo].db, g_repos[repo].key, g_repos[repo].sync};
  out->hidden = g_repos[repo].hidden;
  return 0;
}

class RepoModelTest : public ModelTest {
 protected:
  void SetUp() override {
    ModelTest::SetUp();
    for (int i = 0; i < 2; i++) {
      TestRepo& r = g_repos[i];
      r = TestRepo{};
      ASSERT_EQ(0, random_bytes(r.key, 32));
      r.file = dir.file(i == 0 ? "data0" : "data1");
      r.db = db_create_repo(r.file.c_str(), r.key);
      ASSERT_NE(nullptr, r.db);
    }
    model().repo_lookup = test_repo_lookup;
    for (int i = 0; i < 2; i++) {
      g_repos[i].root = tag_create(i, 0, "/");
      ASSERT_GE(g_repos[i].root, 1);
    }
  }
  void TearDown() override {
    model_clean();
    for (TestRepo& r : g_repos) {
      db_close(r.db);
      r.db = nullptr;
    }
  }

  sqlite3* db(int repo = 0) { return g_repos[repo].db; }

  void reopen(int repo = 0) {
    TestRepo& r = g_repos[repo];
    db_close(r.db);
    r.db = db_open(r.file.c_str());
    ASSERT_NE(nullptr, r.db);
    ASSERT_EQ(0, page_db_key(r.db, r.key, 32));
  }

  std::vector<std::string> dump(int repo = 0) { return storage_test::dump_data(db(repo)); }

  // Creates a tag under parent and selects it.
  int64_t make_tag(int64_t parent, const char* name) {
    int64_t slot = tag_create(0, parent, name);
    EXPECT_GE(slot, 1);
    return slot;
  }

  // Stores a new item of the type under the tag (selecting the tag).
  int64_t make_item(int64_t tag, int type, const char* title, const char* body = "", int64_t due = 0) {
    model().view = static_cast<int32_t>(tag);
    ItemForm f;
    f.title = title;
    f.body = body;
    f.due = due;
    return item_store(-1, type, f, 0, model().view);
  }

  // Runs op, then checks that one undo brings back exactly the earlier rows
  // of t1..t4 and one redo the later ones, on the open connection and again
  // after closing and reopening the database.
  void expect_one_undo_step(int repo, const std::function<void()>& op) {
    auto before = dump(repo);
    op();
    auto after = dump(repo);
    ASSERT_NE(before, after) << "the operation changed nothing";
    ASSERT_EQ(0, journal_undo(db(repo)));
    EXPECT_EQ(before, dump(repo));
    ASSERT_EQ(0, journal_redo(db(repo)));
    EXPECT_EQ(after, dump(repo));
    reopen(repo);
    ASSERT_EQ(0, journal_undo(db(repo)));
    EXPECT_EQ(before, dump(repo));
    reopen(repo);
    ASSERT_EQ(0, journal_redo(db(repo)));
    EXPECT_EQ(after, dump(repo));
  }

  storage_test::TempDir dir;
};

// Links in memory of a tag slot, as item slots in link order.
inline std::vector<int32_t> linked_items(int32_t tag) {
  std::vector<int32_t> out;
  int64_t c = -1;
  while (const TagLink* l = slot_next<TagLink>(model().tag_links, &c))
    if (l->tag == tag) out.push_back(l->item);
  return out;
}

// The current view's items as list_next yields them.
inline std::vector<int64_t> list_all() {
  std::vector<int64_t> out;
  for (int64_t s = list_next(-1); s >= 0; s = list_next(s)) out.push_back(s);
  return out;
}
