// SPDX-License-Identifier: GPL-3.0-or-later
// The item clipboard through the command table: copy a selection or a whole
// repository, paste it into a tag of another repository as one undo step,
// and attach links; the paste and attach commands follow the clipboard.
#include <gtest/gtest.h>

#include <string>

#include "dialogs/step_progress.h"
#include "gtk/editor_driver.h"
#include "model/clipboard.h"
#include "model/ops.h"
#include "model/tag.h"
#include "storage/journal.h"
#include "window_fixture.h"

namespace {

using PasteCommands = WindowTest;

std::vector<int64_t> items_of_repo(int repo) {
  std::vector<int64_t> out;
  int64_t c = -1;
  while (const Item* it = slot_next<Item>(model().items, &c))
    if (it->repo == repo) out.push_back(c);
  return out;
}

int64_t titled_in(int repo, const char* title) {
  for (int64_t s : items_of_repo(repo))
    if (item_get(s)->title == title) return s;
  return -1;
}

void select_all_rows(MainWindow& w) {
  gtk_tree_selection_select_all(gtk_tree_view_get_selection(GTK_TREE_VIEW(w.item_list)));
  pump();
}

TEST_F(PasteCommands, CopiedItemsPasteIntoAnotherRepositoryAsOneUndoStep) {
  int64_t a = add(work, ITEM_NOTE, "alpha", "body of alpha");
  int64_t b = add(work, ITEM_TASK, "beta", "", 1900000000);
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  int64_t root1 = g_repos[1].root;

  // Nothing copied yet: paste has nothing to do anywhere.
  select(static_cast<int>(root1));
  EXPECT_FALSE(sensitive(CMD_PASTE));
  EXPECT_EQ(-1, command_run(&w, CMD_PASTE));

  select(static_cast<int>(work));
  select_all_rows(w);
  ASSERT_EQ(2, w.items->item_rows);
  ASSERT_EQ(2u, item_list_selected(w.items).size());
  ASSERT_EQ(0, command_run(&w, CMD_COPY_ITEMS));
  EXPECT_EQ(2u, clipboard().size());
  // Pasting where the items already are copies nothing.
  EXPECT_TRUE(sensitive(CMD_PASTE));
  auto repo0 = dump(0);
  ASSERT_EQ(0, command_run(&w, CMD_PASTE));
  pump();
  EXPECT_EQ(repo0, dump(0));
  EXPECT_EQ(2u, items_of_repo(0).size());

  select(static_cast<int>(root1));
  EXPECT_TRUE(sensitive(CMD_PASTE));
  auto before = dump(1);
  ASSERT_EQ(0, command_run(&w, CMD_PASTE));
  pump();
  ASSERT_EQ(2u, items_of_repo(1).size());
  int64_t a2 = titled_in(1, "alpha"), b2 = titled_in(1, "beta");
  ASSERT_GE(a2, 0);
  ASSERT_GE(b2, 0);
  EXPECT_TRUE(tag_link_exists(static_cast<int32_t>(root1), static_cast<int32_t>(a2)));
  EXPECT_EQ("body of alpha", read_back_slot(a2).body);
  EXPECT_EQ(1900000000, item_get(b2)->due);
  EXPECT_NE(0, memcmp(item_get(a)->uuid, item_get(a2)->uuid, 16)) << "a copy is a new item";
  // The sources stay, and the window shows the copies after one refresh.
  EXPECT_EQ(2u, items_of_repo(0).size());
  EXPECT_EQ(0u, w.refresh_idle);
  EXPECT_EQ(2, w.items->item_rows);

  ASSERT_EQ(0, journal_undo(db(1)));
  EXPECT_EQ(before, dump(1));
}

TEST_F(PasteCommands, CopyAllStandsForTheWholeRepository) {
  add(work, ITEM_NOTE, "one");
  add(home, ITEM_NOTE, "two");
  add(g_repos[0].root, ITEM_KEY, "three", "https://x.example\nme\npw\n0\n");
  // Only a repository row copies everything.
  select(static_cast<int>(work));
  EXPECT_FALSE(sensitive(CMD_COPY_ALL));
  select(static_cast<int>(g_repos[0].root));
  ASSERT_EQ(0, command_run(&w, CMD_COPY_ALL));
  ASSERT_EQ(1u, clipboard().size());
  EXPECT_LT(clipboard()[0], 0);
  EXPECT_FALSE(sensitive(CMD_ATTACH)) << "a whole repository is nothing to link to";

  int64_t inbox = make_tag(g_repos[1].root, "Inbox");
  ASSERT_EQ(1, tag_get(inbox)->repo);
  select(static_cast<int>(inbox));
  auto before = dump(1);
  ASSERT_EQ(0, command_run(&w, CMD_PASTE));
  pump();
  std::vector<int64_t> copies = items_of_repo(1);
  ASSERT_EQ(3u, copies.size());
  for (int64_t s : copies) EXPECT_TRUE(tag_link_exists(static_cast<int32_t>(inbox), static_cast<int32_t>(s)));
  EXPECT_EQ(3, w.items->item_rows);
  ASSERT_EQ(0, journal_undo(db(1)));
  EXPECT_EQ(before, dump(1));
}

// Watches the dialogs on top while a command runs: counts those with a
// progress bar and, when asked, cancels them.
struct ProgressWatch {
  int seen = 0;
  bool cancel = false;
  guint source = 0;
  explicit ProgressWatch(bool cancel_it) : cancel(cancel_it) {
    source = g_timeout_add(
        5,
        [](gpointer p) -> gboolean {
          auto* self = static_cast<ProgressWatch*>(p);
          GtkWindow* d = top_window();
          if (!d || !GTK_IS_DIALOG(d) || !find_widget<GtkProgressBar>(GTK_WIDGET(d), GTK_TYPE_PROGRESS_BAR))
            return G_SOURCE_CONTINUE;
          if (self->seen++ == 0 && self->cancel) gtk_dialog_response(GTK_DIALOG(d), GTK_RESPONSE_CANCEL);
          return G_SOURCE_CONTINUE;
        },
        this);
  }
  ~ProgressWatch() { g_source_remove(source); }
};

TEST_F(PasteCommands, LargePasteKeepsTheWindowDrawingAndCanBeCancelled) {
  const int n = 600;
  {
    ItemBatch batch(0);
    for (int i = 0; i < n; i++) {
      ItemForm f;
      f.title = "item " + std::to_string(i);
      f.body = "body " + std::to_string(i);
      ASSERT_GE(batch.store(-1, ITEM_NOTE, f, 0, work), 0);
    }
    ASSERT_EQ(0, batch.commit());
  }
  StepProgress::set_interval(0);
  select(static_cast<int>(g_repos[0].root));
  ASSERT_EQ(0, command_run(&w, CMD_COPY_ALL));
  select(static_cast<int>(g_repos[1].root));
  auto before = dump(1);
  {
    ProgressWatch watch(true);
    ASSERT_EQ(0, command_run(&w, CMD_PASTE));
    EXPECT_GE(watch.seen, 1);
  }
  pump();
  EXPECT_EQ(before, dump(1)) << "a cancelled paste stores nothing";
  EXPECT_TRUE(items_of_repo(1).empty());
  EXPECT_EQ(GTK_WINDOW(w.window), top_window());

  {
    ProgressWatch watch(false);
    ASSERT_EQ(0, command_run(&w, CMD_PASTE));
    EXPECT_GE(watch.seen, 1);
  }
  pump();
  EXPECT_EQ(static_cast<size_t>(n), items_of_repo(1).size());
  EXPECT_EQ(n, w.items->item_rows);
  ASSERT_EQ(0, journal_undo(db(1)));
  EXPECT_EQ(before, dump(1));
  StepProgress::set_interval(40);
}

TEST_F(PasteCommands, AttachLinksTheClipboardItemsAndFollowsTheClipboard) {
  int64_t note = add(work, ITEM_NOTE, "minutes", "what was said");
  int64_t task = add(work, ITEM_TASK, "follow up", "", 1900000000);
  int64_t key = add(work, ITEM_KEY, "account", "https://y.example\nme\npw\n0\n");
  int64_t other = add(g_repos[1].root, ITEM_NOTE, "elsewhere");
  select(static_cast<int>(work));
  select_item(task);
  EXPECT_FALSE(sensitive(CMD_ATTACH));  // nothing copied
  ASSERT_EQ(0, command_run(&w, CMD_COPY_ITEMS));
  ASSERT_EQ(1u, clipboard().size());

  // A key takes no links; a task cannot link to itself only.
  select_item(key);
  EXPECT_FALSE(command_enabled(CMD_ATTACH, command_state(w)));
  select_item(note);
  ASSERT_TRUE(command_enabled(CMD_ATTACH, command_state(w)));
  auto before = dump(0);
  ASSERT_EQ(0, command_run(&w, CMD_ATTACH));
  pump();
  // Bodies are stored with LF line ends.
  std::string link = "[[ordika:" + uuid_to_hex(item_get(task)->uuid) + "]]\n";
  EXPECT_EQ(link + "what was said", read_back_slot(note).body);
  ASSERT_EQ(0, journal_undo(db(0)));
  EXPECT_EQ(before, dump(0));

  // Items of another repository are not linked.
  copy_items({static_cast<int32_t>(other)});
  commands_refresh(&w);
  EXPECT_FALSE(command_enabled(CMD_ATTACH, command_state(w)));

  // Deleting the only copied item empties the clipboard: paste goes off.
  select(static_cast<int>(g_repos[1].root));
  EXPECT_TRUE(sensitive(CMD_PASTE));
  ASSERT_EQ(0, item_remove(other));
  pump();
  notify_flush(&w);
  EXPECT_TRUE(clipboard().empty());
  EXPECT_FALSE(sensitive(CMD_PASTE));
}

}  // namespace
