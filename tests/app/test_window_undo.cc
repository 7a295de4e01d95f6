// SPDX-License-Identifier: GPL-3.0-or-later
// Undo and redo from the window on a repository made by a real first start:
// the journal step is taken and the window shows the remounted model, with
// the selected tag kept.
#include <gtest/gtest.h>

#include "app/commands.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "app/window.h"
#include "gtk/gtk_fixture.h"
#include "model/ops.h"
#include "model/test_startup_fixture.h"
#include "model/undo_state.h"
#include "views/tag_tree_gtk.h"

namespace {

class UndoCommands : public startup_test::StartupTest {
 protected:
  MainWindow w;
  void SetUp() override {
    StartupTest::SetUp();
    first_run();
    w.navigating = true;
    main_window_create(&w);
    set_list_type(&w, model().fixed_kind);
    tray_create(&w);
    notify_install(&w);
    gtk_widget_show_all(w.window);
    pump();
    w.navigating = false;
  }
  void TearDown() override {
    window_stop(&w);
    pump();
    StartupTest::TearDown();
  }
  int64_t count_titled(const char* title) {
    int n = 0;
    int64_t c = -1;
    while (const Item* it = slot_next<Item>(model().items, &c))
      if (it->title == title) n++;
    return n;
  }
};

TEST_F(UndoCommands, UndoAndRedoTheLastChangeKeepingTheTag) {
  int64_t root = root_tag(0);
  ASSERT_GT(root, 0);
  ASSERT_TRUE(tag_tree_select(w.tags, static_cast<int>(root)));
  pump();
  ItemForm f;
  f.title = "Undo me";
  ASSERT_GE(item_store(-1, ITEM_NOTE, f, 0, root), 0);
  pump();
  ASSERT_EQ(1, count_titled("Undo me"));
  ASSERT_TRUE(command_enabled(CMD_UNDO, command_state(w)));
  ASSERT_EQ(0, command_run(&w, CMD_UNDO));
  pump();
  EXPECT_EQ(0, count_titled("Undo me"));
  EXPECT_EQ(root_tag(0), model().view) << "the selected tag survives the remount";
  EXPECT_EQ(model().view, tag_tree_cursor_id(w.tags));
  ASSERT_TRUE(command_enabled(CMD_REDO, command_state(w)));
  ASSERT_EQ(0, command_run(&w, CMD_REDO));
  pump();
  EXPECT_EQ(1, count_titled("Undo me"));
}

// A tag below the root, with an item of its own, stays the selected row
// through an undo that remounts and rebuilds the tree.
TEST_F(UndoCommands, UndoKeepsATagBelowTheRootSelected) {
  int64_t root = root_tag(0);
  int64_t child = tag_create(0, root, "Errands");
  ASSERT_GT(child, 0);
  window_rebuild(&w);
  pump();
  ASSERT_TRUE(tag_tree_select(w.tags, static_cast<int>(child)));
  pump();
  ItemForm f;
  f.title = "Post office";
  ASSERT_GE(item_store(-1, ITEM_TASK, f, 0, child), 0);
  pump();
  ASSERT_EQ(0, command_run(&w, CMD_UNDO));
  pump();
  EXPECT_EQ(0, count_titled("Post office"));
  const Tag* shown = tag_get(model().view);
  ASSERT_NE(nullptr, shown);
  EXPECT_EQ("Errands", shown->name);
  EXPECT_EQ(model().view, tag_tree_cursor_id(w.tags));
}

}  // namespace
