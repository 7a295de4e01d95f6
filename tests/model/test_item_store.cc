// SPDX-License-Identifier: GPL-3.0-or-later
// Items and tags stored in a real (encrypted) repository database.
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "model/due_moves.h"
#include "model_fixture.h"
#include "storage/db.h"
#include "storage/journal.h"

namespace {

sqlite3* g_db = nullptr;
uint8_t g_key[32];
bool g_sync = false;

int lookup(int repo, RepoRef* out) {
  if (repo != 0) return -1;
  out->store.db = g_db;
  out->store.key = g_key;
  out->store.sync = g_sync;
  return 0;
}

int count_for(const char* sql, const uint8_t* uuid) {
  Stmt s;
  EXPECT_EQ(SQLITE_OK, stmt_prepare(g_db, sql, &s));
  if (uuid) bind_blob(s.get(), 1, uuid, 16);
  return sqlite3_step(s.get()) == SQLITE_ROW ? sqlite3_column_int(s.get(), 0) : -1;
}

class Stored : public ModelTest {
 protected:
  void SetUp() override {
    ModelTest::SetUp();
    char tmpl[] = "/tmp/ordika-model-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    for (int i = 0; i < 32; i++) g_key[i] = static_cast<uint8_t>(i * 7 + 1);
    g_db = db_create_repo((dir_ + "/data").c_str(), g_key);
    ASSERT_NE(g_db, nullptr);
    g_sync = false;
    model().repo_lookup = lookup;
  }
  void TearDown() override {
    db_close(g_db);
    g_db = nullptr;
    std::filesystem::remove_all(dir_);
    ModelTest::TearDown();
  }

  // A new item stored in a group of its own.
  Item* store_new(const char* title, const std::string& body, int64_t* slot) {
    Item* item = item_new(slot);
    item->type = ITEM_NOTE;
    item->title = title;
    EXPECT_EQ(0, journal_begin(g_db));
    EXPECT_EQ(0, item_save(item, body, 0));
    EXPECT_EQ(0, journal_commit(g_db));
    return item;
  }

  // Reloads everything stored, as mounting does.
  void reload() {
    items_reset();
    tags_reset();
    RepoDb r{g_db, g_key, false};
    ASSERT_EQ(0, objects_load_current(r, 0, [](int repo, const uint8_t uuid[16], const uint8_t hash[20],
                                                const uint8_t* c4, size_t len) {
                std::string text;
                ASSERT_EQ(0, row_decipher_header(g_key, uuid, hash, c4, len, &text));
                if (text.size() > 1 && text[1] == ':') {
                  Item* item = items_add_from_str(repo, uuid, text.c_str());
                  ASSERT_NE(item, nullptr);
                  item_set_last_occurrence(item);
                } else {
                  tags_add_from_str(repo, uuid, text.c_str());
                }
              }));
    ASSERT_EQ(0, links_load(r, [](const uint8_t tag[16], const uint8_t item[16]) { tag_link_add(tag, item); }));
  }

  std::string dir_;
};

TEST_F(Stored, SavedItemLoadsBackWithItsBodyAndHash) {
  int64_t slot;
  Item* item = store_new("title: with colon", "one\ntwo\r\nthree", &slot);
  EXPECT_GT(item->created, 0);
  EXPECT_EQ(item->created, item->modified);
  uint8_t uuid[16];
  memcpy(uuid, item->uuid, 16);
  std::string header = item_header_format(*item);

  uint8_t hash[20];
  item_version_hash(header, "one\r\ntwo\r\nthree", hash);
  Stmt s;
  ASSERT_EQ(SQLITE_OK, stmt_prepare(g_db, "SELECT c2 FROM t1 WHERE c1=? AND c3=0", &s));
  bind_blob(s.get(), 1, uuid, 16);
  ASSERT_EQ(SQLITE_ROW, sqlite3_step(s.get()));
  EXPECT_EQ(column_bytes(s.get(), 0), std::string(reinterpret_cast<char*>(hash), 20));
  EXPECT_EQ(object_read_current(RepoDb{g_db, g_key, false}, uuid), "one\r\ntwo\r\nthree");

  reload();
  int64_t back_slot = item_find(uuid);
  Item* back = item_get(back_slot);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(item_header_format(*back), header);
  EXPECT_EQ(item_body_load(back), "one\ntwo\nthree");
}

TEST_F(Stored, UpdateReplacesAndHistoryKeepsVersions) {
  int64_t slot;
  Item* item = store_new("v1", "first body", &slot);
  item->title = "v2";
  ASSERT_EQ(0, item_update(item));
  EXPECT_EQ(count_for("SELECT count(*) FROM t1 WHERE c1=?", item->uuid), 1);
  EXPECT_EQ(item_body_load(item), "first body");

  item->title = "v3";
  ASSERT_EQ(0, journal_begin(g_db));
  ASSERT_EQ(0, item_save(item, "third body", 1));
  ASSERT_EQ(0, journal_commit(g_db));
  EXPECT_EQ(count_for("SELECT count(*) FROM t1 WHERE c1=? AND c3=1", item->uuid), 1);

  HistoryView history;
  EXPECT_EQ(history_load(&history, item), 1);
  int64_t cursor = -1;
  Item* old = slot_next<Item>(history.versions, &cursor);
  ASSERT_NE(old, nullptr);
  EXPECT_EQ(old->title, "v2");
  EXPECT_EQ(item_body_load(old), "first body");
  // The item collection answers as before while the versions are shown.
  EXPECT_EQ(item_find(item->uuid), slot);
  EXPECT_EQ(item_get(slot)->title, "v3");
  EXPECT_EQ(0, history_remove(&history, cursor));
  EXPECT_EQ(slot_array_count(history.versions), 0);
  EXPECT_EQ(count_for("SELECT count(*) FROM t1 WHERE c1=? AND c3=1", item->uuid), 0);
  EXPECT_EQ(item_get(slot)->title, "v3");
  EXPECT_EQ(item_body_load(item_get(slot)), "third body");
}

TEST_F(Stored, DeleteRemovesVersionsLinksAndTheRecord) {
  int64_t slot;
  Item* item = store_new("gone", "x", &slot);
  uint8_t uuid[16];
  memcpy(uuid, item->uuid, 16);
  int64_t root = tag_create(0, 0, "/");
  ASSERT_GT(root, 0);
  ASSERT_EQ(0, journal_begin(g_db));
  ASSERT_EQ(0, link_add(RepoDb{g_db, g_key, false}, tag_get(root)->uuid, uuid));
  ASSERT_EQ(0, journal_commit(g_db));

  ASSERT_EQ(0, item_delete(slot));
  EXPECT_TRUE(item->flags & ITEM_DELETED);
  EXPECT_EQ(item_get(slot), nullptr);
  EXPECT_EQ(count_for("SELECT count(*) FROM t1 WHERE c1=?", uuid), 0);
  EXPECT_EQ(count_for("SELECT count(*) FROM t2 WHERE c2=?", uuid), 0);
  // One undo step brings back the item with its link.
  ASSERT_EQ(0, journal_undo(g_db));
  EXPECT_EQ(count_for("SELECT count(*) FROM t1 WHERE c1=?", uuid), 1);
  EXPECT_EQ(count_for("SELECT count(*) FROM t2 WHERE c2=?", uuid), 1);
}

TEST_F(Stored, TagsAreCreatedUnderTheirParentAndLoadBack) {
  int64_t root = tag_create(0, 0, "/");
  ASSERT_GT(root, 0);
  int64_t child = tag_create(5, root, "work: projects");
  ASSERT_GT(child, 0);
  EXPECT_EQ(tag_get(child)->repo, 0);  // the parent's repository
  EXPECT_EQ(0, memcmp(tag_get(child)->parent, tag_get(root)->uuid, 16));
  EXPECT_GT(tag_get(child)->modified, 0);
  uint8_t child_uuid[16], root_uuid[16];
  memcpy(child_uuid, tag_get(child)->uuid, 16);
  memcpy(root_uuid, tag_get(root)->uuid, 16);

  int64_t slot;
  Item* item = store_new("tagged", "", &slot);
  uint8_t item_uuid[16];
  memcpy(item_uuid, item->uuid, 16);
  ASSERT_EQ(0, journal_begin(g_db));
  ASSERT_EQ(0, link_add(RepoDb{g_db, g_key, false}, child_uuid, item_uuid));
  ASSERT_EQ(0, journal_commit(g_db));

  reload();
  int64_t c = tag_find(child_uuid);
  ASSERT_GT(c, 0);
  EXPECT_EQ(tag_get(c)->name, "work: projects");
  EXPECT_TRUE(uuid_is_zero(tag_get(tag_find(root_uuid))->parent));
  EXPECT_TRUE(tag_link_exists(static_cast<int32_t>(c), static_cast<int32_t>(item_find(item_uuid))));
  EXPECT_FALSE(model().duplicate_tag);
}

TEST_F(Stored, FailuresLeaveTheDatabaseUnchanged) {
  int64_t slot;
  Item* item = store_new("kept", "body", &slot);
  item->repo = 3;  // no such repository
  EXPECT_NE(0, item_update(item));
  EXPECT_NE(0, item_delete(slot));
  EXPECT_NE(item_get(slot), nullptr);
  item->repo = 0;

  Tag tag;
  tag.repo = 3;
  EXPECT_NE(0, tags_save_tag(&tag));
  EXPECT_EQ(tag_create(3, 0, "x"), -1);
  EXPECT_EQ(slot_array_count(model().tags), 1);

  // A group already open makes the item's own group fail; nothing is written.
  ASSERT_EQ(0, journal_begin(g_db));
  item->title = "changed";
  EXPECT_NE(0, item_update(item));
  journal_rollback(g_db);
  uint8_t uuid[16];
  memcpy(uuid, item->uuid, 16);
  reload();
  Item* back = item_get(item_find(uuid));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->title, "kept");
}

struct Notified {
  int calls = 0;
  int kind = -1;
};
Notified g_notified;

TEST_F(Stored, DueMoveAndNextReminderStoreAndNotify) {
  ScopedTz tz("Europe/Berlin");
  g_notified = Notified{};
  model().item_changed = [](Item*, int kind) {
    g_notified.calls++;
    g_notified.kind = kind;
  };
  int64_t now = lt(2026, 3, 28, 10);
  int64_t slot;
  Item* task = store_new("task", "", &slot);
  task->type = ITEM_TASK;
  task->due = lt(2026, 3, 21, 14, 30, 15);
  task->remind_offset = 600;
  task->next_remind = task->due - 600;
  ASSERT_EQ(0, due_move_at(slot, 1, now));
  EXPECT_EQ(fmt(task->due), "2026-03-29 14:30:00");  // across the clock change
  EXPECT_EQ(task->next_remind, task->due - 600);
  EXPECT_EQ(g_notified.calls, 1);
  EXPECT_EQ(g_notified.kind, 1);
  ASSERT_NE(reminder_find(slot), nullptr);
  EXPECT_EQ(reminder_find(slot)->remind_at, task->next_remind);
  EXPECT_EQ(reminder_find(slot)->due_at, task->due);

  ASSERT_EQ(0, due_move_at(slot, 0, now));  // later than the next half hour: stays
  EXPECT_EQ(fmt(task->due), "2026-03-29 14:30:00");
  task->due = lt(2026, 3, 20, 9);
  ASSERT_EQ(0, due_move_at(slot, 0, now));
  EXPECT_EQ(fmt(task->due), "2026-03-28 11:00:00");

  // The reminder was shown; a non-repeating task has no further one.
  task->last_occurrence = task->due;
  ASSERT_EQ(0, reminder_next_at(slot, task->due - 300));
  EXPECT_EQ(task->next_remind, 0);
  EXPECT_EQ(task->remind_offset, 0);
  EXPECT_EQ(reminder_find(slot), nullptr);

  uint8_t uuid[16];
  memcpy(uuid, task->uuid, 16);
  reload();
  Item* back = item_get(item_find(uuid));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->due, lt(2026, 3, 28, 11));
  EXPECT_EQ(back->remind_offset, 0);

  Item* note = store_new("no due", "", &slot);
  EXPECT_EQ(-1, due_move_at(slot, 2, now));
  EXPECT_EQ(note->due, 0);
}

TEST_F(Stored, ChangesAreLoggedForSyncedRepositories) {
  g_sync = true;
  int64_t slot;
  Item* item = store_new("synced", "b", &slot);
  EXPECT_EQ(count_for("SELECT count(*) FROM t3 WHERE c1=?", item->uuid), 1);
  g_sync = false;
  Item* local = store_new("local", "b", &slot);
  EXPECT_EQ(count_for("SELECT count(*) FROM t3 WHERE c1=?", local->uuid), 0);
}

}  // namespace
