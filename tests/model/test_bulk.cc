// SPDX-License-Identifier: GPL-3.0-or-later
// Stores into an explicit tag, batches of stores, and the bulk forms of
// trashing and deleting a selection: one journal group per repository,
// and nothing half done in the database or in memory when a batch fails.
#include "model/clipboard.h"
#include "test_ops_fixture.h"

namespace {

class BulkTest : public RepoModelTest {
 protected:
  static ItemForm form(const char* title, int64_t due = 0, int remind_unit = 0) {
    ItemForm f;
    f.title = title;
    f.body = std::string("body of ") + title;
    f.due = due;
    f.remind_unit = remind_unit;
    f.remind_count = remind_unit ? 10 : 0;
    return f;
  }
  static int markers(sqlite3* d) { return storage_test::count_in(d, "t5 WHERE c6=0"); }
  static int64_t in_future() { return time(nullptr) + 7 * 86400; }
  // A task due next week with a reminder ten minutes before.
  static int64_t reminded_task(int64_t tag, const char* title, const char* body = "") {
    ItemForm f = form(title, in_future(), 1);
    f.body = body;
    return item_store(-1, ITEM_TASK, f, 0, tag);
  }
};

TEST_F(BulkTest, ItemStoreUsesTheGivenTagNotTheView) {
  int64_t t = make_tag(g_repos[0].root, "target");
  model().view = VIEW_REMINDERS;
  int64_t slot = item_store(-1, ITEM_NOTE, form("n"), 0, t);
  ASSERT_GE(slot, 0);
  EXPECT_EQ(model().view, VIEW_REMINDERS);
  EXPECT_EQ(linked_items(static_cast<int32_t>(t)), (std::vector<int32_t>{static_cast<int32_t>(slot)}));
  // A tag of the other repository puts the item there.
  int64_t other = item_store(-1, ITEM_NOTE, form("o"), 0, g_repos[1].root);
  ASSERT_GE(other, 0);
  EXPECT_EQ(item_get(other)->repo, 1);
  // No real tag, no new item.
  EXPECT_EQ(item_store(-1, ITEM_NOTE, form("x"), 0, VIEW_SEARCH), -1);
  EXPECT_EQ(item_store(-1, ITEM_NOTE, form("x"), 0, 999), -1);
}

TEST_F(BulkTest, BatchIsOneUndoStepAndLogsEveryRowForSync) {
  g_repos[0].sync = true;
  int64_t t = make_tag(g_repos[0].root, "t");
  int64_t existing = make_item(t, ITEM_TASK, "old", "", in_future());
  int before_markers = markers(db());
  expect_one_undo_step(0, [&] {
    ItemBatch batch(0);
    ASSERT_EQ(batch.status(), 0);
    for (int i = 0; i < 100; i++) ASSERT_GE(batch.store(-1, ITEM_EVENT, form("e", in_future(), 1), 0, t), 0);
    ASSERT_EQ(batch.store(existing, ITEM_TASK, form("new title", in_future()), 0, -1), existing);
    EXPECT_EQ(batch.size(), 101u);
    ASSERT_EQ(batch.commit(), 0);
  });
  EXPECT_EQ(markers(db()), before_markers + 1);
  EXPECT_EQ(linked_items(static_cast<int32_t>(t)).size(), 101u);
  EXPECT_EQ(item_get(existing)->title, "new title");
  // Every new version and link is in the change logs: the tag and 101
  // items; the task's first version, never synced, cancels out.
  EXPECT_EQ(storage_test::count_in(db(), "t3 WHERE c3=1"), 1 + 101);
  EXPECT_EQ(storage_test::count_in(db(), "t3 WHERE c3=0"), 0);
  EXPECT_EQ(storage_test::count_in(db(), "t4 WHERE c3=1"), 101);
  // Reminders of a large batch are rebuilt in one pass and still complete.
  int with_reminder = 0;
  for (int32_t s : linked_items(static_cast<int32_t>(t))) with_reminder += reminder_find(s) != nullptr;
  EXPECT_EQ(with_reminder, 100);
}

TEST_F(BulkTest, UncommittedBatchLeavesDatabaseAndMemoryAsBefore) {
  int64_t t = make_tag(g_repos[0].root, "t");
  int64_t existing = reminded_task(t, "old", "old body");
  Item copy = *item_get(existing);
  auto rows = dump();
  int64_t items_before = slot_array_count(model().items);
  int changes = 0;
  model().item_changed = [](Item*, int) {};
  {
    ItemBatch batch(0);
    for (int i = 0; i < 10; i++) ASSERT_GE(batch.store(-1, ITEM_NOTE, form("n"), 0, t), 0);
    ASSERT_EQ(batch.store(existing, ITEM_TASK, form("changed", 0), 0, -1), existing);
    ASSERT_EQ(batch.store(existing, ITEM_TASK, form("changed twice", 5), 0, -1), existing);
    changes = static_cast<int>(batch.size());
  }
  EXPECT_EQ(changes, 12);
  EXPECT_EQ(dump(), rows);
  EXPECT_EQ(slot_array_count(model().items), items_before);
  EXPECT_EQ(linked_items(static_cast<int32_t>(t)), (std::vector<int32_t>{static_cast<int32_t>(existing)}));
  const Item* back = item_get(existing);
  EXPECT_EQ(back->title, copy.title);
  EXPECT_EQ(back->due, copy.due);
  EXPECT_EQ(back->modified, copy.modified);
  EXPECT_NE(reminder_find(existing), nullptr);
  EXPECT_EQ(item_body_load(back), "old body");
  // The repository takes the next change normally.
  EXPECT_GE(make_item(t, ITEM_NOTE, "after"), 0);
}

// Pages written out in the middle of a batch are still the batch's: its
// commit is one undo step, and a batch never committed leaves nothing.
TEST_F(BulkTest, BatchWrittenOutInPiecesIsOneUndoStepOrNothing) {
  int64_t t = make_tag(g_repos[0].root, "t");
  for (bool commit : {true, false}) {
    SCOPED_TRACE(commit);
    auto rows = dump();
    auto store = [&] {
      ItemBatch batch(0);
      for (int i = 0; i < 60; i++) {
        std::string title = "n" + std::to_string(i);
        ASSERT_GE(batch.store(-1, ITEM_NOTE, form(title.c_str()), 0, t), 0);
        if (i % 20 == 19) batch.write_out();
      }
      ASSERT_EQ(batch.status(), 0);
      if (commit) {
        ASSERT_EQ(batch.commit(), 0);
      }
    };
    if (commit) {
      expect_one_undo_step(0, store);
    } else {
      store();
      EXPECT_EQ(dump(), rows);
    }
  }
}

TEST_F(BulkTest, BatchRefusesItemsOfOtherRepositoriesAndGoesOn) {
  int64_t t0 = make_tag(g_repos[0].root, "t0");
  int64_t foreign = make_item(g_repos[1].root, ITEM_NOTE, "foreign");
  ItemBatch batch(0);
  EXPECT_EQ(batch.store(-1, ITEM_NOTE, form("a"), 0, g_repos[1].root), -1);
  EXPECT_EQ(batch.store(foreign, ITEM_NOTE, form("b"), 0, -1), -1);
  EXPECT_EQ(batch.set_flags(foreign, ITEM_TRASHED), -1);
  ItemForm bad = form("c");
  bad.title = "\xFF";
  EXPECT_EQ(batch.store(-1, ITEM_NOTE, bad, 0, t0), -1);
  EXPECT_EQ(batch.status(), 0);
  EXPECT_GE(batch.store(-1, ITEM_NOTE, form("d"), 0, t0), 0);
  ASSERT_EQ(batch.commit(), 0);
  EXPECT_EQ(linked_items(static_cast<int32_t>(t0)).size(), 1u);
  EXPECT_EQ(item_get(foreign)->title, "foreign");
  EXPECT_NE(batch.commit(), 0);  // once only
}

TEST_F(BulkTest, BatchOnAMissingRepositoryRefusesEverything) {
  ItemBatch batch(5);
  EXPECT_NE(batch.status(), 0);
  EXPECT_EQ(batch.store(-1, ITEM_NOTE, form("a"), 0, g_repos[0].root), -1);
  EXPECT_NE(batch.commit(), 0);
}

TEST_F(BulkTest, FailedCommitTakesEveryItemBack) {
  int64_t t = make_tag(g_repos[0].root, "t");
  auto rows = dump();
  int64_t items_before = slot_array_count(model().items);
  // A reader on a second connection keeps the writer from committing.
  sqlite3* raw = nullptr;
  ASSERT_EQ(SQLITE_OK, page_db_open(g_repos[0].file.c_str(), &raw, SQLITE_OPEN_READWRITE));
  DbHandle reader(raw);
  ASSERT_EQ(0, page_db_key(raw, g_repos[0].key, 32));
  ASSERT_EQ(SQLITE_OK, db_exec(raw, "BEGIN;"));
  Stmt hold;
  ASSERT_EQ(SQLITE_OK, stmt_prepare(raw, "SELECT * FROM t5", &hold));
  ASSERT_EQ(SQLITE_ROW, sqlite3_step(hold.get()));
  {
    ItemBatch batch(0);
    for (int i = 0; i < 5; i++) ASSERT_GE(batch.store(-1, ITEM_NOTE, form("n"), 0, t), 0);
    EXPECT_NE(batch.commit(), 0);
    EXPECT_EQ(slot_array_count(model().items), items_before);
  }
  hold.reset();
  reader.reset();
  EXPECT_EQ(dump(), rows);
  EXPECT_TRUE(linked_items(static_cast<int32_t>(t)).empty());
}

TEST_F(BulkTest, ToggleFlagIsOneUndoStepPerRepository) {
  int64_t a = reminded_task(g_repos[0].root, "a");
  int64_t b = make_item(g_repos[0].root, ITEM_NOTE, "b");
  int64_t c = make_item(g_repos[1].root, ITEM_NOTE, "c");
  ASSERT_EQ(item_set_flags(b, ITEM_TRASHED), 0);
  ASSERT_NE(reminder_find(a), nullptr);
  int m0 = markers(db(0)), m1 = markers(db(1));
  EXPECT_EQ(items_toggle_flag({a, b, c, a}, ITEM_TRASHED), 3);  // a listed twice counts once
  EXPECT_EQ(item_get(a)->flags, ITEM_TRASHED);
  EXPECT_EQ(item_get(b)->flags, 0);  // back out of the trash
  EXPECT_EQ(item_get(c)->flags, ITEM_TRASHED);
  EXPECT_EQ(reminder_find(a), nullptr);
  EXPECT_EQ(markers(db(0)), m0 + 1);
  EXPECT_EQ(markers(db(1)), m1 + 1);
  // What is stored is what memory says.
  ASSERT_EQ(0, journal_undo(db(0)));
  ASSERT_EQ(0, journal_redo(db(0)));
  reopen(0);
  EXPECT_EQ(items_toggle_flag({a}, ITEM_COMPLETED), 1);
  EXPECT_EQ(item_get(a)->flags, ITEM_TRASHED | ITEM_COMPLETED);
  EXPECT_EQ(items_toggle_flag({a}, 4), -1);
}

TEST_F(BulkTest, RemoveSelectionCleansLinksClipboardAndReminders) {
  int64_t t = make_tag(g_repos[0].root, "t");
  std::vector<int64_t> doomed;
  for (int i = 0; i < 20; i++) doomed.push_back(reminded_task(t, "d"));
  int64_t keep = reminded_task(t, "keep");
  int64_t other = make_item(g_repos[1].root, ITEM_NOTE, "other");
  doomed.push_back(other);
  copy_items({static_cast<int32_t>(doomed[0]), static_cast<int32_t>(keep), static_cast<int32_t>(doomed[5])});
  int notices = 0;
  static int* counter;
  counter = &notices;
  model().item_changed = [](Item*, int) { ++*counter; };
  auto before0 = dump(0), before1 = dump(1);
  int m0 = markers(db(0));
  EXPECT_EQ(items_remove(doomed), 21);
  EXPECT_EQ(notices, 21);
  for (int64_t s : doomed) {
    EXPECT_EQ(item_get(s), nullptr);
    EXPECT_EQ(reminder_find(s), nullptr);
  }
  EXPECT_EQ(linked_items(static_cast<int32_t>(t)), (std::vector<int32_t>{static_cast<int32_t>(keep)}));
  EXPECT_EQ(clipboard(), (std::vector<int32_t>{static_cast<int32_t>(keep)}));
  EXPECT_NE(reminder_find(keep), nullptr);
  EXPECT_EQ(storage_test::count_in(db(0), "t1"), 3);  // root, t, keep
  EXPECT_EQ(markers(db(0)), m0 + 1);
  // One undo per repository brings every row back.
  ASSERT_EQ(0, journal_undo(db(0)));
  ASSERT_EQ(0, journal_undo(db(1)));
  EXPECT_EQ(dump(0), before0);
  EXPECT_EQ(dump(1), before1);
  EXPECT_EQ(items_remove({}), 0);
}

TEST_F(BulkTest, PasteSkipsWhatCannotBeStoredAndCopiesTheRest) {
  int64_t src = make_tag(g_repos[0].root, "src");
  int32_t a = static_cast<int32_t>(make_item(src, ITEM_NOTE, "a", "x"));
  int32_t b = static_cast<int32_t>(make_item(src, ITEM_NOTE, "b", "y"));
  // A record the form rules refuse (a recurrence byte out of range).
  item_get(a)->recurrence.freq = 9;
  copy_items({a, b});
  int64_t dest = tag_create(1, g_repos[1].root, "dest");
  model().view = VIEW_REMINDERS;  // paste goes where it is told
  EXPECT_EQ(paste_repo(dest), 1);
  std::vector<int32_t> pasted = linked_items(static_cast<int32_t>(dest));
  ASSERT_EQ(pasted.size(), 1u);
  EXPECT_EQ(item_get(pasted[0])->title, "b");
  EXPECT_EQ(model().view, VIEW_REMINDERS);
}

}  // namespace
