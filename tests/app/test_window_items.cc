// SPDX-License-Identifier: GPL-3.0-or-later
// The item commands run through the command table on a real window: the
// editors open for new and selected items, delete asks first, trash toggles
// each selected item, tag assignment and search reach the store and the view.
#include <gtest/gtest.h>

#include "dialogs/search_dialog.h"
#include "dialogs/tag_assign_dialog.h"
#include "gtk/editor_driver.h"
#include "model/ops.h"
#include "model/tag.h"
#include "window_fixture.h"

namespace {

using ItemCommands = WindowTest;

int64_t find_item(const char* title) {
  int64_t c = -1;
  while (const Item* it = slot_next<Item>(model().items, &c))
    if (it->title == title) return c;
  return -1;
}

bool trashed(int64_t slot) {
  const Item* it = item_get(slot);
  return it && (it->flags & ITEM_TRASHED);
}

TEST_F(ItemCommands, NewItemsOpenTheirEditorUnderTheSelectedTagOnly) {
  // A fixed row has no place for a new item: the command does not run.
  select(VIEW_TRASH);
  EXPECT_FALSE(sensitive(CMD_NEW_NOTE));
  EXPECT_EQ(-1, command_run(&w, CMD_NEW_NOTE));

  select(static_cast<int>(work));
  EXPECT_TRUE(sensitive(CMD_NEW_NOTE));
  EXPECT_TRUE(sensitive(CMD_NEW_KEY));
  int type_seen = -1;
  {
    Script s;
    s.then([&](GtkWindow* dlg) {
      Editor* ed = editor_current();
      ASSERT_NE(nullptr, ed);
      type_seen = ed->spec->type;
      set_text(ed->title_entry, "Groceries");
      set_body(ed, "milk");
      respond(dlg, GTK_RESPONSE_OK);
    });
    ASSERT_EQ(0, command_run(&w, CMD_NEW_NOTE));
    EXPECT_EQ(0, s.unexpected);
  }
  EXPECT_EQ(ITEM_NOTE, type_seen);
  int64_t slot = find_item("Groceries");
  ASSERT_GE(slot, 0);
  EXPECT_TRUE(tag_link_exists(static_cast<int32_t>(work), static_cast<int32_t>(slot)));
  EXPECT_FALSE(tag_link_exists(static_cast<int32_t>(home), static_cast<int32_t>(slot)));
  Stored st = read_back_slot(slot);
  ASSERT_TRUE(st.found);
  EXPECT_EQ("milk", st.body);

  // Each New command opens the editor of its own kind; cancelling stores nothing.
  const int cmds[] = {CMD_NEW_TASK, CMD_NEW_EVENT, CMD_NEW_VCARD, CMD_NEW_KEY};
  const int types[] = {ITEM_TASK, ITEM_EVENT, ITEM_VCARD, ITEM_KEY};
  for (int i = 0; i < 4; i++) {
    int before = count_items(types[i]);
    Script s;
    int seen = -1;
    s.then([&](GtkWindow* dlg) {
      if (Editor* ed = editor_current()) seen = ed->spec->type;
      respond(dlg, GTK_RESPONSE_CANCEL);
    });
    // An editor that starts with values of its own asks before discarding them.
    s.then([](GtkWindow* dlg) { respond(dlg, is_message(dlg) ? GTK_RESPONSE_YES : GTK_RESPONSE_CANCEL); });
    ASSERT_EQ(0, command_run(&w, cmds[i]));
    EXPECT_EQ(types[i], seen) << i;
    EXPECT_EQ(before, count_items(types[i])) << i;
  }
}

TEST_F(ItemCommands, EditOpensTheSelectedItemAndStoresTheChange) {
  int64_t slot = add(work, ITEM_NOTE, "Draft", "old");
  select(static_cast<int>(work));
  select_item(slot);
  EXPECT_TRUE(command_enabled(CMD_EDIT_ITEM, command_state(w)));
  std::string title_seen;
  {
    Script s;
    s.then([&](GtkWindow* dlg) {
      Editor* ed = editor_current();
      ASSERT_NE(nullptr, ed);
      title_seen = gtk_entry_get_text(GTK_ENTRY(ed->title_entry));
      set_text(ed->title_entry, "Final");
      respond(dlg, GTK_RESPONSE_OK);
    });
    ASSERT_EQ(0, command_run(&w, CMD_EDIT_ITEM));
    EXPECT_EQ(0, s.unexpected);
  }
  EXPECT_EQ("Draft", title_seen);
  Stored st = read_back_slot(slot);
  ASSERT_TRUE(st.found);
  EXPECT_EQ("Final", st.item.title);
  EXPECT_EQ("old", st.body);
}

TEST_F(ItemCommands, DeleteAsksAndRemovesOnlyOnYes) {
  int64_t a = add(work, ITEM_NOTE, "Keep me");
  int64_t b = add(work, ITEM_NOTE, "Second");
  int64_t c = add(work, ITEM_NOTE, "Third");
  uint8_t uuid_a[16];
  memcpy(uuid_a, item_get(a)->uuid, 16);
  select(static_cast<int>(work));
  select_item(a);
  {
    Script s;
    s.then([](GtkWindow* dlg) { respond(dlg, GTK_RESPONSE_CANCEL); });
    ASSERT_EQ(0, command_run(&w, CMD_DELETE_ITEM));
    EXPECT_EQ(0, s.unexpected);
  }
  EXPECT_TRUE(read_back(uuid_a).found);
  {
    Script s;
    s.then([](GtkWindow* dlg) { respond(dlg, GTK_RESPONSE_YES); });
    ASSERT_EQ(0, command_run(&w, CMD_DELETE_ITEM));
    EXPECT_EQ(0, s.unexpected);
  }
  EXPECT_FALSE(read_back(uuid_a).found);
  pump();

  // Several selected: one question, then each is removed.
  uint8_t uuid_b[16], uuid_c[16];
  memcpy(uuid_b, item_get(b)->uuid, 16);
  memcpy(uuid_c, item_get(c)->uuid, 16);
  gtk_tree_selection_select_all(gtk_tree_view_get_selection(GTK_TREE_VIEW(w.item_list)));
  pump();
  ASSERT_EQ(2u, item_list_selected(w.items).size());
  {
    Script s;
    s.then([](GtkWindow* dlg) { respond(dlg, GTK_RESPONSE_YES); });
    ASSERT_EQ(0, command_run(&w, CMD_DELETE_ITEM));
    EXPECT_EQ(0, s.unexpected);
  }
  EXPECT_FALSE(read_back(uuid_b).found);
  EXPECT_FALSE(read_back(uuid_c).found);
}

TEST_F(ItemCommands, TrashTogglesEachSelectedItem) {
  int64_t a = add(work, ITEM_NOTE, "One");
  int64_t b = add(work, ITEM_NOTE, "Two");
  int64_t c = add(work, ITEM_NOTE, "Three");
  ASSERT_EQ(0, item_set_flags(c, ITEM_TRASHED));
  select(static_cast<int>(work));
  gtk_tree_selection_select_all(gtk_tree_view_get_selection(GTK_TREE_VIEW(w.item_list)));
  pump();
  ASSERT_EQ(0, command_run(&w, CMD_TRASH));
  pump();
  EXPECT_TRUE(trashed(a));
  EXPECT_TRUE(trashed(b));
  EXPECT_TRUE(trashed(c));  // not listed, so untouched
  EXPECT_EQ(0, w.pause_depth);
  // From the trash: every selected item comes back out.
  select(VIEW_TRASH);
  select_item(a);
  ASSERT_EQ(0, command_run(&w, CMD_TRASH));
  pump();
  EXPECT_FALSE(trashed(a));
  EXPECT_TRUE(trashed(b));
  Stored st = read_back_slot(b);
  ASSERT_TRUE(st.found);
  EXPECT_TRUE(st.item.flags & ITEM_TRASHED);
}

TEST_F(ItemCommands, SetTagsStoresTheChosenTag) {
  int64_t a = add(work, ITEM_NOTE, "Tagged");
  select(static_cast<int>(work));
  select_item(a);
  {
    Script s;
    s.then([&](GtkWindow* dlg) {
      const TagAssignWidgets& tw = tag_assign_widgets();
      for (size_t i = 0; i < tw.tags.size(); i++)
        if (tw.tags[i] == home) gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(tw.checks[i]), TRUE);
      respond(dlg, GTK_RESPONSE_OK);
    });
    ASSERT_EQ(0, command_run(&w, CMD_SET_TAGS));
    EXPECT_EQ(0, s.unexpected);
  }
  EXPECT_TRUE(tag_link_exists(static_cast<int32_t>(home), static_cast<int32_t>(a)));
  EXPECT_TRUE(tag_link_exists(static_cast<int32_t>(work), static_cast<int32_t>(a)));
}

TEST_F(ItemCommands, SearchShowsTheHitsRow) {
  add(work, ITEM_NOTE, "Needle here");
  add(work, ITEM_NOTE, "Haystack");
  select(static_cast<int>(work));
  {
    Script s;
    s.then([](GtkWindow* dlg) {
      gtk_entry_set_text(GTK_ENTRY(search_widgets().entry), "needle");
      respond(dlg, GTK_RESPONSE_OK);
    });
    ASSERT_EQ(0, command_run(&w, CMD_SEARCH));
    EXPECT_EQ(0, s.unexpected);
  }
  EXPECT_EQ(VIEW_SEARCH, model().view);
  pump();
  GtkTreeModel* store = gtk_tree_view_get_model(GTK_TREE_VIEW(w.item_list));
  EXPECT_EQ(1, gtk_tree_model_iter_n_children(store, nullptr));
  // Cancelled: the view stays where it was.
  select(static_cast<int>(work));
  {
    Script s;
    s.then([](GtkWindow* dlg) { respond(dlg, GTK_RESPONSE_CANCEL); });
    ASSERT_EQ(0, command_run(&w, CMD_SEARCH));
  }
  EXPECT_EQ(work, model().view);
}

}  // namespace
