// SPDX-License-Identifier: GPL-3.0-or-later
// Mounting: remounting with the selection kept, deleting and disabling
// repositories, undo seen through a remount, and the journal reset at
// shutdown.
#include "model/clipboard.h"
#include "storage/journal.h"
#include "support/string_ids.h"
#include "test_startup_fixture.h"

using namespace startup_test;

namespace {

class MountTest : public StartupTest {};

TEST_F(MountTest, RemountKeepsSelectionByUuidAndEmptiesClipboard) {
  first_run();
  int64_t tag = tag_create(0, root_tag(0), "projects");
  int64_t note = add_note(tag, "kept");
  ASSERT_GE(note, 0);
  uint8_t tag_uuid[16], note_uuid[16];
  std::memcpy(tag_uuid, tag_get(tag)->uuid, 16);
  std::memcpy(note_uuid, item_get(note)->uuid, 16);
  model().view = static_cast<int32_t>(tag);
  model().selected_item = note;
  copy_items({static_cast<int32_t>(note)});

  // A repository added before slots shift.
  add_repository("other");
  repo_remount();
  EXPECT_EQ(tag_find(tag_uuid), model().view);
  EXPECT_EQ(item_find(note_uuid), model().selected_item);
  EXPECT_TRUE(clipboard().empty());

  // A selected fixed row falls back to the reminders view.
  model().view = VIEW_TRASH;
  repo_remount();
  EXPECT_EQ(VIEW_REMINDERS, model().view);
}

TEST_F(MountTest, DeletingTheFirstOfThreeRenumbersTheOthers) {
  first_run();
  int b = add_repository("b");
  int c = add_repository("c");
  repo_remount();
  ASSERT_GE(add_note(root_tag(b), "note b"), 0);
  ASSERT_GE(add_note(root_tag(c), "note c"), 0);
  ASSERT_EQ(0, repo_delete(0));
  repo_remount();
  ASSERT_EQ(2u, repo_table().size());
  EXPECT_EQ("b", tag_get(root_tag(0))->name);
  EXPECT_EQ("c", tag_get(root_tag(1))->name);
  int64_t cursor = -1;
  while (const Item* item = slot_next<Item>(model().items, &cursor)) {
    EXPECT_EQ(item->title == "note b" ? 0 : 1, item->repo) << item->title;
  }
  EXPECT_EQ(2, count_items());
  // Writing still reaches the right database.
  ASSERT_GE(add_note(root_tag(1), "second note c"), 0);
  restart();
  EXPECT_EQ(3, count_items());
  EXPECT_EQ(2, count_tags(1) + count_tags(0));
}

TEST_F(MountTest, DisabledAndHiddenRepositories) {
  first_run();
  int b = add_repository("b");
  repo_remount();
  ASSERT_GE(add_note(root_tag(b), "in b"), 0);
  repo_table()[b].enabled = false;
  ASSERT_EQ(0, repo_store(&repo_table()[b]));
  repo_remount();
  EXPECT_FALSE(repo_table()[b].mounted);
  EXPECT_EQ(nullptr, repo_table()[b].db);
  EXPECT_EQ(0, count_items());
  EXPECT_EQ(0, last_error());  // skipping is not a failure

  repo_table()[b].enabled = true;
  repo_table()[b].hidden = true;
  repo_remount();
  EXPECT_TRUE(repo_table()[b].mounted);
  EXPECT_EQ(1, count_items());
  EXPECT_FALSE(repo_counts(b));
  EXPECT_TRUE(repo_counts(0));
}

TEST_F(MountTest, UndoIsSeenAfterRemount) {
  first_run();
  int64_t note = add_note(root_tag(0), "first title");
  ASSERT_GE(note, 0);
  ItemForm form;
  item_form_fill(note, ITEM_NOTE, &form);
  form.title = "second title";
  ASSERT_GE(item_store(note, ITEM_NOTE, form, 0, model().view), 0);
  ASSERT_EQ(0, journal_undo(repo_table()[0].db));
  repo_remount();
  ASSERT_EQ(1, count_items());
  int64_t cursor = -1;
  EXPECT_EQ("first title", slot_next<Item>(model().items, &cursor)->title);
}

TEST_F(MountTest, ShutdownResetsJournalsOfLocalRepositoriesOnly) {
  first_run();
  int b = add_repository("linked");
  repo_remount();
  ASSERT_GE(add_note(root_tag(0), "local change"), 0);
  ASSERT_GE(add_note(root_tag(b), "linked change"), 0);
  // Linked to a server from now on (the change logs then matter).
  repo_table()[b].server_id = "srv-9";
  ASSERT_EQ(0, repo_store(&repo_table()[b]));
  EXPECT_NE(0, journal_state(repo_table()[0].db));
  EXPECT_NE(0, journal_state(repo_table()[b].db));
  restart();
  EXPECT_EQ(0, journal_state(repo_table()[0].db));
  EXPECT_NE(0, journal_state(repo_table()[b].db));
  EXPECT_EQ(2, count_items());

  clean_data();
  EXPECT_EQ(nullptr, repo_table()[0].db);
  EXPECT_EQ(0, count_items());
  EXPECT_EQ(0, slot_array_count(model().reminders));
}

TEST_F(MountTest, PasswordChangeThenRemountLoadsEverything) {
  first_run();
  for (int i = 0; i < 20; i++) ASSERT_GE(add_note(root_tag(0), "n" + std::to_string(i)), 0);
  ASSERT_EQ(0, change_repo_password(&repo_table()[0], "Brand-New-Password-42!"));
  repo_remount();
  EXPECT_TRUE(repo_table()[0].mounted);
  EXPECT_EQ(20, count_items());
  EXPECT_EQ(5, count_tags(0));
  restart();
  EXPECT_EQ(20, count_items());
  EXPECT_EQ("Brand-New-Password-42!", repo_password(&repo_table()[0]));
}

TEST_F(MountTest, MasterPasswordChangeKeepsMountedRepositories) {
  first_run();
  ASSERT_GE(add_note(root_tag(0), "before"), 0);
  ASSERT_EQ(0, change_master_password("Another-Master-77"));
  // Still mounted, and writing still works.
  ASSERT_GE(add_note(root_tag(0), "after"), 0);
  repo_table()[0].name = "renamed";
  ASSERT_EQ(0, repo_store(&repo_table()[0]));
  app_shutdown();
  model_clean();
  passwords = {{kMaster}, {"Another-Master-77"}};
  ASSERT_EQ(STARTUP_READY, start());
  EXPECT_EQ((std::vector<StrId>{STR_MSG_WRONG_PASSWORD}), messages);
  EXPECT_EQ(2, count_items());
  EXPECT_EQ("renamed", tag_get(root_tag(0))->name);
}

}  // namespace
