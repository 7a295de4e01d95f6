// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstring>
#include <ctime>

#include "model/clipboard.h"
#include "model/tag_ops.h"
#include "test_ops_fixture.h"

namespace {

std::vector<std::pair<Item*, int>> g_changes;
void record_change(Item* item, int kind) { g_changes.emplace_back(item, kind); }

int count(sqlite3* db, const char* sql) { return storage_test::count_in(db, sql); }

class OpsTest : public RepoModelTest {
 protected:
  void SetUp() override {
    RepoModelTest::SetUp();
    g_changes.clear();
    model().item_changed = record_change;
  }
  ScopedTz tz{"Europe/Berlin"};
};

// --- Forms ----------------------------------------------------------------------

TEST(RemindSplit, LargestEvenUnit) {
  struct Case {
    int64_t offset;
    int unit, count;
  } cases[] = {{0, 0, 0},       {-60, 0, 0},     {1, 1, 0},     {90, 1, 1},        {5400, 1, 90},
               {7200, 2, 2},    {259200, 3, 3},  {1209600, 4, 2}, {604800 + 3600, 2, 169}};
  for (const Case& c : cases) {
    int32_t unit = -1, n = -1;
    remind_split(c.offset, &unit, &n);
    EXPECT_EQ(unit, c.unit) << c.offset;
    EXPECT_EQ(n, c.count) << c.offset;
  }
}

TEST_F(OpsTest, FormDefaultsOfNewItems) {
  ItemForm f;
  int64_t before = next_half_hour();
  item_form_fill(-1, ITEM_TASK, &f);
  int64_t after = next_half_hour();
  EXPECT_TRUE(f.due == before || f.due == after);
  EXPECT_EQ(f.remind_unit, 1);
  EXPECT_EQ(f.remind_count, 10);
  EXPECT_EQ(f.end, 0);
  EXPECT_TRUE(f.title.empty() && f.body.empty());
  item_form_fill(-1, ITEM_EVENT, &f);
  EXPECT_EQ(f.end, f.due + 3600);
  item_form_fill(-1, ITEM_NOTE, &f);
  EXPECT_EQ(f.due, 0);
  EXPECT_EQ(f.remind_unit, 0);
  EXPECT_EQ(f.markup, 0);
  item_form_fill(-1, ITEM_KEY, &f);
  EXPECT_EQ(f.markup, 1);
  EXPECT_EQ(f.due, 0);
}

TEST_F(OpsTest, FormDiffersOnEditableFieldsOnly) {
  ItemForm a;
  a.title = "t";
  a.body = "b";
  EXPECT_EQ(item_form_differs(a, a), 0);
  std::vector<std::function<void(ItemForm&)>> changes = {
      [](ItemForm& f) { f.markup = 1; },          [](ItemForm& f) { f.due = 5; },
      [](ItemForm& f) { f.end = 5; },             [](ItemForm& f) { f.freq = 1; },
      [](ItemForm& f) { f.interval_minus_one = 1; }, [](ItemForm& f) { f.by_day = 2; },
      [](ItemForm& f) { f.end_kind = 1; },        [](ItemForm& f) { f.recur_count = 3; },
      [](ItemForm& f) { f.until = 9; },           [](ItemForm& f) { f.remind_unit = 2; },
      [](ItemForm& f) { f.remind_count = 4; },    [](ItemForm& f) { f.title = "T"; },
      [](ItemForm& f) { f.body = std::string("b\0", 2); }};
  for (size_t i = 0; i < changes.size(); i++) {
    ItemForm b = a;
    changes[i](b);
    EXPECT_EQ(item_form_differs(a, b), 1) << i;
  }
  ItemForm b = a;
  b.flags = ITEM_COMPLETED;  // not an editable field
  EXPECT_EQ(item_form_differs(a, b), 0);
}

TEST_F(OpsTest, StoredFormFillsBackUnchanged) {
  int64_t tag = make_tag(g_repos[0].root, "work");
  model().view = static_cast<int32_t>(tag);
  ItemForm f;
  f.title = "Review";
  f.body = "line 1\nline 2\n";
  f.markup = 1;
  f.due = lt(2035, 5, 10, 9, 30);
  f.end = f.due + 5400;
  f.remind_unit = 2;
  f.remind_count = 3;
  f.freq = FREQ_WEEKLY;
  f.by_day = 0x22;
  f.end_kind = RECUR_UNTIL;
  f.until = lt(2035, 12, 31);
  int64_t slot = item_store(-1, ITEM_EVENT, f, 0, model().view);
  ASSERT_GE(slot, 0);
  ItemForm back;
  item_form_fill(slot, ITEM_EVENT, &back);
  EXPECT_EQ(item_form_differs(f, back), 0);
  EXPECT_EQ(back.body, f.body);
  EXPECT_EQ(item_get(slot)->remind_offset, 3 * 3600);
}

TEST_F(OpsTest, ExistingTaskWithoutDueGetsDefaultsInItsForm) {
  int64_t slot = make_item(g_repos[0].root, ITEM_EVENT, "no time");
  ASSERT_GE(slot, 0);
  ASSERT_EQ(item_get(slot)->due, 0);
  ItemForm f;
  item_form_fill(slot, ITEM_EVENT, &f);
  EXPECT_GT(f.due, time(nullptr));
  EXPECT_EQ(f.end, f.due + 3600);
}

// --- item_store -----------------------------------------------------------------------

TEST_F(OpsTest, NewItemIsStoredWithItsLinkAsOneUndoStep) {
  int64_t tag = make_tag(g_repos[0].root, "home");
  int64_t slot = -1;
  expect_one_undo_step(0, [&] { slot = make_item(tag, ITEM_NOTE, "Shopping", "milk\neggs"); });
  ASSERT_GE(slot, 0);
  EXPECT_EQ(model().selected_item, slot);
  EXPECT_EQ(linked_items(static_cast<int32_t>(tag)), (std::vector<int32_t>{static_cast<int32_t>(slot)}));
  EXPECT_EQ(count(db(), "t2"), 1);
  EXPECT_EQ(item_body_load(item_get(slot)), "milk\neggs");
  ASSERT_EQ(g_changes.size(), 1u);
  EXPECT_EQ(g_changes[0].first, item_get(slot));
  EXPECT_EQ(g_changes[0].second, 0);
}

TEST_F(OpsTest, EditReportsTheChangeKindAndIsOneUndoStep) {
  int64_t due = lt(2036, 1, 1, 12);
  int64_t slot = make_item(g_repos[0].root, ITEM_TASK, "Pay", "", due);
  ASSERT_GE(slot, 0);
  ItemForm f;
  item_form_fill(slot, ITEM_TASK, &f);

  g_changes.clear();
  f.title = "Pay rent";
  expect_one_undo_step(0, [&] { ASSERT_EQ(item_store(slot, ITEM_TASK, f, 0, model().view), slot); });
  ASSERT_EQ(g_changes.size(), 1u);
  EXPECT_EQ(g_changes[0].second, 2);

  g_changes.clear();
  f.due += 3600;
  expect_one_undo_step(0, [&] { ASSERT_EQ(item_store(slot, ITEM_TASK, f, 1, model().view), slot); });
  EXPECT_EQ(g_changes.at(0).second, 1);
  EXPECT_EQ(count(db(), "t1 WHERE c3=1"), 1);  // the kept earlier version

  g_changes.clear();
  f.body = "new text";
  ASSERT_EQ(item_store(slot, ITEM_TASK, f, 0, model().view), slot);
  EXPECT_EQ(g_changes.at(0).second, 0);

  // Neither side has a due time: kind 0 even for a new title.
  int64_t note = make_item(g_repos[0].root, ITEM_NOTE, "n");
  item_form_fill(note, ITEM_NOTE, &f);
  f.title = "n2";
  g_changes.clear();
  ASSERT_EQ(item_store(note, ITEM_NOTE, f, 0, model().view), note);
  EXPECT_EQ(g_changes.at(0).second, 0);
}

TEST_F(OpsTest, ReminderUnitWithCountZeroRemindsAtTheDueTime) {
  model().view = static_cast<int32_t>(g_repos[0].root);
  ItemForm f;
  f.title = "call";
  f.due = time(nullptr) + 7200;
  f.remind_unit = 2;
  f.remind_count = 0;
  int64_t slot = item_store(-1, ITEM_TASK, f, 0, model().view);
  ASSERT_GE(slot, 0);
  EXPECT_EQ(item_get(slot)->remind_offset, 1);
  EXPECT_EQ(item_get(slot)->next_remind, f.due);
  EXPECT_EQ(reminder_of(slot), f.due);
  const Reminder* r = reminder_find(slot);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->due_at, f.due);

  f.remind_count = 15;
  f.remind_unit = 1;
  ASSERT_EQ(item_store(slot, ITEM_TASK, f, 0, model().view), slot);
  EXPECT_EQ(item_get(slot)->remind_offset, 900);
  EXPECT_EQ(reminder_of(slot), f.due - 900);
  EXPECT_EQ(reminder_find(slot)->due_at, f.due);

  f.remind_unit = 0;
  ASSERT_EQ(item_store(slot, ITEM_TASK, f, 0, model().view), slot);
  EXPECT_EQ(item_get(slot)->remind_offset, 0);
  EXPECT_EQ(reminder_find(slot), nullptr);
}

TEST_F(OpsTest, InvalidFormsChangeNothing) {
  int64_t slot = make_item(g_repos[0].root, ITEM_NOTE, "keep", "body");
  ASSERT_GE(slot, 0);
  auto rows = dump();
  int64_t items_before = slot_array_count(model().items);
  ItemForm f;
  item_form_fill(slot, ITEM_NOTE, &f);
  std::vector<std::function<void(ItemForm&)>> bad = {
      [](ItemForm& x) { x.title = "bad \xC3\x28"; },  [](ItemForm& x) { x.body = "\xED\xA0\x80"; },
      [](ItemForm& x) { x.due = -5; },                [](ItemForm& x) { x.freq = 9; },
      [](ItemForm& x) { x.end_kind = 200; },          [](ItemForm& x) { x.remind_count = -1; },
      [](ItemForm& x) { x.remind_unit = 4, x.remind_count = 100000; },
      [](ItemForm& x) { x.flags = ITEM_DELETED; }};
  for (size_t i = 0; i < bad.size(); i++) {
    ItemForm g = f;
    bad[i](g);
    EXPECT_EQ(item_store(slot, ITEM_NOTE, g, 0, model().view), -1) << i;
    EXPECT_EQ(item_store(-1, ITEM_NOTE, g, 0, model().view), -1) << i;
  }
  EXPECT_EQ(item_store(slot, 7, f, 0, model().view), -1);
  EXPECT_EQ(dump(), rows);
  EXPECT_EQ(slot_array_count(model().items), items_before);
  EXPECT_EQ(item_get(slot)->title, "keep");
}

TEST_F(OpsTest, NewItemNeedsASelectedRealTag) {
  model().view = VIEW_FIXED;
  ItemForm f;
  f.title = "x";
  EXPECT_EQ(item_store(-1, ITEM_NOTE, f, 0, model().view), -1);
  model().view = 4242;
  EXPECT_EQ(item_store(-1, ITEM_NOTE, f, 0, model().view), -1);
  EXPECT_EQ(slot_array_count(model().items), 0);
}

TEST_F(OpsTest, FailedStoreLeavesDatabaseAndMemoryAsTheyWere) {
  int64_t slot = make_item(g_repos[0].root, ITEM_TASK, "old", "", lt(2036, 2, 2, 8));
  ASSERT_GE(slot, 0);
  Item before = *item_get(slot);
  auto rows = dump();
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db(), "BEGIN;", nullptr, nullptr, nullptr));  // a group cannot open now
  ItemForm f;
  item_form_fill(slot, ITEM_TASK, &f);
  f.title = "new";
  f.due += 86400;
  g_changes.clear();
  EXPECT_EQ(item_store(slot, ITEM_TASK, f, 0, model().view), -1);
  int64_t items_before = slot_array_count(model().items);
  model().view = static_cast<int32_t>(g_repos[0].root);
  EXPECT_EQ(item_store(-1, ITEM_TASK, f, 0, model().view), -1);
  EXPECT_EQ(slot_array_count(model().items), items_before);
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db(), "ROLLBACK;", nullptr, nullptr, nullptr));
  EXPECT_EQ(dump(), rows);
  EXPECT_EQ(item_get(slot)->title, "old");
  EXPECT_EQ(item_get(slot)->due, before.due);
  EXPECT_EQ(item_get(slot)->modified, before.modified);
  EXPECT_TRUE(g_changes.empty());
  EXPECT_EQ(linked_items(static_cast<int32_t>(g_repos[0].root)).size(), 1u);
}

// --- Tag links ------------------------------------------------------------------------

TEST_F(OpsTest, LinksToPseudoTagsStayInMemory) {
  int64_t slot = make_item(g_repos[0].root, ITEM_NOTE, "n");
  auto rows = dump();
  EXPECT_EQ(create_tag_item(VIEW_SEARCH, static_cast<int32_t>(slot)), 0);
  EXPECT_EQ(create_tag_item(VIEW_REMINDERS, static_cast<int32_t>(slot)), 0);
  EXPECT_EQ(dump(), rows);
  EXPECT_EQ(linked_items(VIEW_SEARCH).size(), 1u);
  tag_links_drop(VIEW_SEARCH);
  EXPECT_TRUE(linked_items(VIEW_SEARCH).empty());
  EXPECT_EQ(linked_items(VIEW_REMINDERS).size(), 1u);
}

TEST_F(OpsTest, LinkAcrossRepositoriesIsRefused) {
  int64_t slot = make_item(g_repos[0].root, ITEM_NOTE, "n");
  auto rows = dump(1);
  EXPECT_NE(create_tag_item(static_cast<int32_t>(g_repos[1].root), static_cast<int32_t>(slot)), 0);
  EXPECT_EQ(dump(1), rows);
  EXPECT_FALSE(tag_link_exists(static_cast<int32_t>(g_repos[1].root), static_cast<int32_t>(slot)));
}

TEST_F(OpsTest, BatchOfTagAssignmentsIsOneUndoStep) {
  int64_t a = make_tag(g_repos[0].root, "a"), b = make_tag(g_repos[0].root, "b");
  int32_t item = static_cast<int32_t>(make_item(a, ITEM_NOTE, "n"));
  expect_one_undo_step(0, [&] {
    ASSERT_EQ(group_begin(0), 0);
    EXPECT_EQ(update_tag_item(static_cast<int32_t>(a), item, 0), 0);
    EXPECT_EQ(update_tag_item(static_cast<int32_t>(b), item, 1), 0);
    EXPECT_EQ(update_tag_item(static_cast<int32_t>(b), item, 1), 0);  // already set
    EXPECT_EQ(update_tag_item(static_cast<int32_t>(g_repos[0].root), item, 0), 0);  // not set
    ASSERT_EQ(group_end(0, 0), 0);
  });
  EXPECT_FALSE(tag_link_exists(static_cast<int32_t>(a), item));
  EXPECT_TRUE(tag_link_exists(static_cast<int32_t>(b), item));
  EXPECT_EQ(count(db(), "t2"), 1);
}

TEST_F(OpsTest, ServerLinkedRepositoryLogsLinkChangesAndUndoesThem) {
  g_repos[1].sync = true;
  int64_t t = tag_create(1, g_repos[1].root, "synced");
  int32_t item = static_cast<int32_t>(make_item(t, ITEM_NOTE, "n"));
  ASSERT_GE(item, 0);
  EXPECT_GT(count(db(1), "t3"), 0);
  EXPECT_EQ(count(db(1), "t4"), 1);
  expect_one_undo_step(1, [&] {
    ASSERT_EQ(group_begin(1), 0);
    EXPECT_EQ(update_tag_item(static_cast<int32_t>(t), item, 0), 0);
    ASSERT_EQ(group_end(1, 0), 0);
  });
  EXPECT_EQ(count(db(1), "t4"), 0);  // added and removed again before a sync

  // Storing a new item logs its version and link; one undo takes all back.
  int64_t slot = -1;
  expect_one_undo_step(1, [&] { slot = make_item(t, ITEM_TASK, "synced task", "x", lt(2037, 1, 1)); });
  EXPECT_GE(slot, 0);
  // So does deleting the tag with its relinking to the root.
  expect_one_undo_step(1, [&] { ASSERT_EQ(delete_tag(t), 0); });
  EXPECT_TRUE(tag_link_exists(static_cast<int32_t>(g_repos[1].root), static_cast<int32_t>(slot)));
}

TEST_F(OpsTest, CreatingATagIsOneUndoStep) {
  int64_t t = -1;
  expect_one_undo_step(0, [&] { t = tag_create(0, g_repos[0].root, "fresh"); });
  ASSERT_GE(t, 1);
  EXPECT_EQ(tag_get(t)->repo, 0);
  EXPECT_EQ(0, memcmp(tag_get(t)->parent, tag_get(g_repos[0].root)->uuid, 16));
}

// --- Tags ----------------------------------------------------------------------------

TEST_F(OpsTest, RenameTagIsOneUndoStepAndIgnoresEmptyNames) {
  int64_t t = make_tag(g_repos[0].root, "old");
  expect_one_undo_step(0, [&] { ASSERT_EQ(tag_rename(t, "new: name"), 0); });
  EXPECT_EQ(tag_get(t)->name, "new: name");
  auto rows = dump();
  EXPECT_EQ(tag_rename(t, ""), 0);
  EXPECT_EQ(tag_get(t)->name, "new: name");
  EXPECT_EQ(dump(), rows);
  EXPECT_EQ(tag_rename(t, "\xFF"), -1);
  EXPECT_EQ(tag_rename(VIEW_FIXED, "x"), -1);
}

TEST_F(OpsTest, DeleteTagRelinksItemsLeftWithoutATag) {
  int64_t root = g_repos[0].root;
  int64_t parent = make_tag(root, "parent");
  int64_t doomed = make_tag(parent, "doomed");
  int64_t child = make_tag(doomed, "child");
  int64_t other = make_tag(root, "other");
  int32_t only_child = static_cast<int32_t>(make_item(child, ITEM_NOTE, "only in child"));
  int32_t both = static_cast<int32_t>(make_item(doomed, ITEM_NOTE, "doomed and other"));
  int32_t untagged = static_cast<int32_t>(make_item(other, ITEM_NOTE, "untagged"));
  int32_t elsewhere = static_cast<int32_t>(make_item(other, ITEM_NOTE, "elsewhere"));
  ASSERT_EQ(group_begin(0), 0);
  ASSERT_EQ(update_tag_item(static_cast<int32_t>(other), both, 1), 0);
  ASSERT_EQ(update_tag_item(static_cast<int32_t>(other), untagged, 0), 0);
  ASSERT_EQ(group_end(0, 0), 0);
  tag_link_append(VIEW_SEARCH, only_child);

  expect_one_undo_step(0, [&] { ASSERT_EQ(delete_tag(doomed), 0); });
  EXPECT_EQ(tag_get(doomed), nullptr);
  EXPECT_EQ(tag_get(child), nullptr);
  EXPECT_NE(tag_get(parent), nullptr);
  EXPECT_EQ(linked_items(static_cast<int32_t>(parent)), (std::vector<int32_t>{only_child}));
  EXPECT_TRUE(tag_link_exists(static_cast<int32_t>(other), both));
  EXPECT_FALSE(tag_link_exists(static_cast<int32_t>(parent), both));
  EXPECT_FALSE(tag_link_exists(static_cast<int32_t>(parent), untagged));  // had no tag before: left alone
  EXPECT_TRUE(tag_link_exists(static_cast<int32_t>(other), elsewhere));
  EXPECT_TRUE(tag_link_exists(VIEW_SEARCH, only_child));
  // Memory and storage agree: every stored link is an in-memory one.
  int real_links = 0;
  int64_t c = -1;
  while (const TagLink* l = slot_next<TagLink>(model().tag_links, &c)) real_links += l->tag >= 1;
  EXPECT_EQ(count(db(), "t2"), real_links);
  EXPECT_EQ(count(db(), "t1"), 3 + 4);  // root, parent, other and the four items
}

TEST_F(OpsTest, DeleteTagRefusesRootsAndUnknownTags) {
  auto rows = dump();
  EXPECT_EQ(delete_tag(g_repos[0].root), -2);
  EXPECT_EQ(delete_tag(999), -1);
  EXPECT_EQ(delete_tag(VIEW_TRASH), -1);
  EXPECT_EQ(dump(), rows);
  EXPECT_NE(tag_get(g_repos[0].root), nullptr);
}

TEST_F(OpsTest, FailedTagDeletionChangesNothing) {
  int64_t t = make_tag(g_repos[0].root, "t");
  int32_t item = static_cast<int32_t>(make_item(t, ITEM_NOTE, "n"));
  auto rows = dump();
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db(), "BEGIN;", nullptr, nullptr, nullptr));
  EXPECT_NE(delete_tag(t), 0);
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db(), "ROLLBACK;", nullptr, nullptr, nullptr));
  EXPECT_EQ(dump(), rows);
  EXPECT_NE(tag_get(t), nullptr);
  EXPECT_TRUE(tag_link_exists(static_cast<int32_t>(t), item));
}

// --- Flags and removal ------------------------------------------------------------------

TEST_F(OpsTest, CompletingAndTrashingAreUndoSteps) {
  model().view = static_cast<int32_t>(g_repos[0].root);
  ItemForm f;
  f.title = "task";
  f.due = time(nullptr) + 86400;
  f.remind_unit = 1;
  f.remind_count = 10;
  int64_t slot = item_store(-1, ITEM_TASK, f, 0, model().view);
  ASSERT_GE(slot, 0);
  ASSERT_NE(reminder_find(slot), nullptr);
  g_changes.clear();
  expect_one_undo_step(0, [&] { ASSERT_EQ(item_set_flags(slot, item_get(slot)->flags ^ ITEM_COMPLETED), 0); });
  EXPECT_EQ(item_get(slot)->flags, ITEM_COMPLETED);
  EXPECT_EQ(reminder_find(slot), nullptr);
  EXPECT_EQ(g_changes.at(0).second, 1);
  ASSERT_EQ(item_set_flags(slot, 0), 0);
  EXPECT_NE(reminder_find(slot), nullptr);
  expect_one_undo_step(0, [&] { ASSERT_EQ(item_set_flags(slot, ITEM_TRASHED), 0); });
  EXPECT_EQ(reminder_find(slot), nullptr);
  EXPECT_EQ(item_set_flags(slot, ITEM_DELETED), -1);
  EXPECT_EQ(item_set_flags(12345, 0), -1);
}

TEST_F(OpsTest, FailedFlagChangeKeepsTheOldFlags) {
  int64_t slot = make_item(g_repos[0].root, ITEM_TASK, "t");
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db(), "BEGIN;", nullptr, nullptr, nullptr));
  EXPECT_NE(item_set_flags(slot, ITEM_COMPLETED), 0);
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db(), "ROLLBACK;", nullptr, nullptr, nullptr));
  EXPECT_EQ(item_get(slot)->flags, 0);
}

TEST_F(OpsTest, RemovedItemLeavesMemoryLinksClipboardAndReminders) {
  int64_t t = make_tag(g_repos[0].root, "t");
  model().view = static_cast<int32_t>(t);
  ItemForm f;
  f.title = "gone";
  f.due = time(nullptr) + 86400;
  f.remind_unit = 2;
  f.remind_count = 1;
  int64_t slot = item_store(-1, ITEM_EVENT, f, 0, model().view);
  int64_t keep = make_item(t, ITEM_NOTE, "keep");
  ASSERT_GE(slot, 0);
  tag_link_append(VIEW_SEARCH, static_cast<int32_t>(slot));
  copy_items({static_cast<int32_t>(slot), static_cast<int32_t>(keep), static_cast<int32_t>(slot)});
  expect_one_undo_step(0, [&] { ASSERT_EQ(item_remove(slot), 0); });
  EXPECT_EQ(item_get(slot), nullptr);
  EXPECT_EQ(linked_items(static_cast<int32_t>(t)), (std::vector<int32_t>{static_cast<int32_t>(keep)}));
  EXPECT_TRUE(linked_items(VIEW_SEARCH).empty());
  EXPECT_EQ(clipboard(), (std::vector<int32_t>{static_cast<int32_t>(keep)}));
  EXPECT_EQ(reminder_find(slot), nullptr);
  ASSERT_EQ(item_remove(keep), 0);
  EXPECT_TRUE(clipboard().empty());
  EXPECT_EQ(item_remove(slot), -1);
}

// --- Clipboard, paste and attach -----------------------------------------------------------

TEST_F(OpsTest, PasteIntoTheSameRepositoryCopiesNothing) {
  int64_t t = make_tag(g_repos[0].root, "t");
  int32_t a = static_cast<int32_t>(make_item(t, ITEM_NOTE, "a"));
  copy_items({a});
  auto rows = dump();
  model().view = static_cast<int32_t>(g_repos[0].root);
  EXPECT_EQ(paste_repo(model().view), 0);
  copy_all_items();
  EXPECT_EQ(clipboard(), (std::vector<int32_t>{-static_cast<int32_t>(g_repos[0].root)}));
  EXPECT_EQ(paste_repo(model().view), 0);
  EXPECT_EQ(dump(), rows);
  model().view = VIEW_FIXED;
  EXPECT_EQ(paste_repo(model().view), -1);
  copy_all_items();  // a fixed row stands for no repository
  EXPECT_EQ(clipboard(), (std::vector<int32_t>{-static_cast<int32_t>(g_repos[0].root)}));
}

TEST_F(OpsTest, PasteCopiesIntoAnotherRepositoryAsOneUndoStep) {
  int64_t src = make_tag(g_repos[0].root, "src");
  model().view = static_cast<int32_t>(src);
  ItemForm f;
  f.title = "done task";
  f.body = "text";
  f.remind_unit = 1;
  f.remind_count = 5;
  int32_t done = static_cast<int32_t>(item_store(-1, ITEM_TASK, f, 0, model().view));  // no due time
  ASSERT_GE(done, 0);
  ASSERT_EQ(item_set_flags(done, ITEM_COMPLETED), 0);
  int32_t note = static_cast<int32_t>(make_item(src, ITEM_NOTE, "note", "body"));
  auto source_rows = dump(0);
  int64_t target = tag_create(1, g_repos[1].root, "dest");
  copy_items({done, note});
  model().view = static_cast<int32_t>(target);
  int copied = -1;
  expect_one_undo_step(1, [&] { copied = paste_repo(model().view); });
  EXPECT_EQ(copied, 2);
  EXPECT_EQ(dump(0), source_rows);
  std::vector<int32_t> pasted = linked_items(static_cast<int32_t>(target));
  ASSERT_EQ(pasted.size(), 2u);
  const Item* c0 = item_get(pasted[0]);
  EXPECT_EQ(c0->repo, 1);
  EXPECT_EQ(c0->title, "done task");
  EXPECT_EQ(c0->flags, ITEM_COMPLETED);
  EXPECT_EQ(c0->due, 0);  // a copy keeps the times it had
  EXPECT_EQ(c0->remind_offset, item_get(done)->remind_offset);
  EXPECT_NE(0, memcmp(c0->uuid, item_get(done)->uuid, 16));
  EXPECT_EQ(item_body_load(c0), "text");
  EXPECT_EQ(item_get(pasted[1])->title, "note");
  EXPECT_EQ(item_body_load(item_get(pasted[1])), "body");

  // The whole source repository.
  model().view = static_cast<int32_t>(src);
  copy_all_items();
  model().view = static_cast<int32_t>(g_repos[1].root);
  EXPECT_EQ(paste_repo(model().view), 2);
  EXPECT_EQ(linked_items(static_cast<int32_t>(g_repos[1].root)).size(), 2u);
}

TEST_F(OpsTest, AttachPutsLinkLinesInFrontOfTheBody) {
  int64_t t = make_tag(g_repos[0].root, "t");
  int32_t task = static_cast<int32_t>(make_item(t, ITEM_TASK, "task", "own text"));  // no due time
  int32_t x = static_cast<int32_t>(make_item(t, ITEM_NOTE, "x"));
  int32_t y = static_cast<int32_t>(make_item(t, ITEM_VCARD, "y"));
  copy_items({x, task, y});
  model().selected_item = task;
  expect_one_undo_step(0, [&] { ASSERT_EQ(attach_items(), 0); });
  std::string expected = "[[ordika:" + uuid_to_hex(item_get(x)->uuid) + "]]\n[[ordika:" +
                         uuid_to_hex(item_get(y)->uuid) + "]]\nown text";
  EXPECT_EQ(item_body_load(item_get(task)), expected);
  EXPECT_EQ(item_get(task)->due, 0);
  EXPECT_EQ(std::string("[[ordika:" + uuid_to_hex(item_get(x)->uuid) + "]]\r\n").size(), 45u);

  auto rows = dump();
  model().selected_item = y;  // a contact takes no links
  EXPECT_EQ(attach_items(), -1);
  int64_t other = tag_create(1, g_repos[1].root, "o");
  int32_t far = static_cast<int32_t>(make_item(other, ITEM_NOTE, "far"));
  copy_items({far, x});
  model().selected_item = task;  // first clipboard item in another repository
  EXPECT_EQ(attach_items(), -1);
  clipboard_clear();
  EXPECT_EQ(attach_items(), -1);
  copy_items({task});  // only itself: nothing to attach
  EXPECT_EQ(attach_items(), 0);
  EXPECT_EQ(dump(), rows);
}

// --- Items under a tag -----------------------------------------------------------------------

void collect(int64_t slot, Item*, void* ctx) { static_cast<std::vector<int64_t>*>(ctx)->push_back(slot); }

TEST_F(OpsTest, ItemsUnderTagWalkTheSubtreeOnce) {
  int64_t root = g_repos[0].root;
  int64_t a = make_tag(root, "a"), a1 = make_tag(a, "a1"), b = make_tag(root, "b");
  int64_t n1 = make_item(a, ITEM_NOTE, "n1");
  int64_t t1 = make_item(a1, ITEM_TASK, "t1");
  int64_t k1 = make_item(b, ITEM_KEY, "k1");
  ASSERT_EQ(group_begin(0), 0);
  ASSERT_EQ(update_tag_item(static_cast<int32_t>(a1), static_cast<int32_t>(n1), 1), 0);
  ASSERT_EQ(group_end(0, 0), 0);
  int64_t trashed = make_item(a1, ITEM_NOTE, "trashed");
  ASSERT_EQ(item_set_flags(trashed, ITEM_TRASHED), 0);
  int64_t far = make_item(g_repos[1].root, ITEM_NOTE, "far");

  std::vector<int64_t> got;
  EXPECT_EQ(items_under_tag(a, 0x1F, collect, &got), 2);
  EXPECT_EQ(got, (std::vector<int64_t>{n1, t1}));
  got.clear();
  EXPECT_EQ(items_under_tag(a, 1 << ITEM_TASK, collect, &got), 1);
  EXPECT_EQ(got, (std::vector<int64_t>{t1}));
  got.clear();
  EXPECT_EQ(items_under_tag(root, 0x1F, collect, &got), 3);
  EXPECT_EQ(got, (std::vector<int64_t>{n1, t1, k1}));
  got.clear();
  EXPECT_EQ(items_under_tag(0, 1 << ITEM_NOTE, collect, &got), 3);
  EXPECT_EQ(got, (std::vector<int64_t>{n1, trashed, far}));

  g_repos[0].hidden = true;
  got.clear();
  EXPECT_EQ(items_under_tag(a, 0x1F, collect, &got), 0);
  model().show_hidden = true;
  EXPECT_EQ(items_under_tag(a, 0x1F, collect, &got), 2);
  EXPECT_EQ(items_under_tag(-3, 0x1F, collect, &got), -1);
}

}  // namespace
