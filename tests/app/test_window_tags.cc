// SPDX-License-Identifier: GPL-3.0-or-later
// New tag and delete tag through the command table: the new tag is named in
// place, deleting asks first, and each command is one undo step of the store.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "model/ops.h"
#include "model/tag.h"
#include "model/tag_ops.h"
#include "storage/journal.h"
#include "window_fixture.h"

namespace {

using TagCommands = WindowTest;

// The child tags of a tag, by slot.
std::vector<int64_t> children_of(int64_t parent) {
  std::vector<int64_t> out;
  const Tag* p = tag_get(parent);
  int64_t c = -1;
  while (const Tag* t = slot_next<Tag>(model().tags, &c))
    if (p && memcmp(t->parent, p->uuid, 16) == 0) out.push_back(c);
  return out;
}

// The entry of the in-place name editor, when one is open.
GtkEntry* name_editor(MainWindow& w) {
  GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(w.window));
  return focus && GTK_IS_ENTRY(focus) ? GTK_ENTRY(focus) : nullptr;
}

TEST_F(TagCommands, NewTagGoesUnderTheSelectedTagAndIsRenamedInPlace) {
  select(static_cast<int>(work));
  auto before = dump(0);
  ASSERT_EQ(0, command_run(&w, CMD_NEW_TAG));
  pump();
  std::vector<int64_t> kids = children_of(work);
  ASSERT_EQ(1u, kids.size());
  int64_t tag = kids[0];
  EXPECT_EQ(ui_string(STR_NEW_TAG_NAME), tag_get(tag)->name);
  EXPECT_EQ(tag, tag_tree_cursor_id(w.tags)) << "the cursor is on the new row";
  EXPECT_TRUE(w.tag_editing);
  auto created = dump(0);
  EXPECT_NE(before, created);

  GtkEntry* editor = name_editor(w);
  ASSERT_NE(nullptr, editor);
  gtk_entry_set_text(editor, "Projects");
  gtk_widget_activate(GTK_WIDGET(editor));
  pump();
  EXPECT_FALSE(w.tag_editing);
  EXPECT_EQ("Projects", tag_get(tag)->name);
  auto renamed = dump(0);
  EXPECT_NE(created, renamed);

  // Creating and naming are one undo step each.
  ASSERT_EQ(0, journal_undo(db(0)));
  EXPECT_EQ(created, dump(0));
  ASSERT_EQ(0, journal_undo(db(0)));
  EXPECT_EQ(before, dump(0));
}

TEST_F(TagCommands, FixedAndRepositoryRowsAreLeftAlone) {
  select(VIEW_TRASH);
  EXPECT_FALSE(sensitive(CMD_NEW_TAG));
  EXPECT_FALSE(sensitive(CMD_DELETE_TAG));
  EXPECT_EQ(-1, command_run(&w, CMD_NEW_TAG));
  EXPECT_EQ(-1, command_run(&w, CMD_DELETE_TAG));
  // A repository row takes new tags but is never deleted from here.
  select(static_cast<int>(g_repos[0].root));
  EXPECT_TRUE(sensitive(CMD_NEW_TAG));
  EXPECT_FALSE(sensitive(CMD_DELETE_TAG));
  EXPECT_EQ(-1, command_run(&w, CMD_DELETE_TAG));
  ASSERT_NE(nullptr, tag_get(g_repos[0].root));

  // The Delete key on a repository row does nothing either, and asks nothing.
  auto rows = dump(0);
  gtk_widget_grab_focus(w.tag_tree);
  GdkEventKey ev = {};
  ev.type = GDK_KEY_PRESS;
  ev.keyval = GDK_KEY_Delete;
  EXPECT_TRUE(on_key_press(w.window, &ev, &w));
  pump();
  EXPECT_EQ(rows, dump(0));
  EXPECT_NE(nullptr, tag_get(g_repos[0].root));
}

TEST_F(TagCommands, DeleteAsksThenTakesTheSubtreeInOneUndoStep) {
  int64_t sub = make_tag(work, "Sub");
  int64_t only = add(sub, ITEM_NOTE, "only in sub");
  int64_t both = add(sub, ITEM_NOTE, "in sub and home");
  {
    RepoGroup g(0);
    ASSERT_EQ(0, create_tag_item(static_cast<int32_t>(home), static_cast<int32_t>(both)));
    ASSERT_EQ(0, g.commit());
  }
  select(static_cast<int>(work));

  // No: nothing changes.
  auto before = dump(0);
  respond_next(GTK_RESPONSE_CANCEL);
  ASSERT_EQ(0, command_run(&w, CMD_DELETE_TAG));
  pump();
  EXPECT_EQ(before, dump(0));
  ASSERT_NE(nullptr, tag_get(work));
  ASSERT_NE(nullptr, tag_get(sub));

  // Yes: the tag and its subtree go; the item left without a tag moves to
  // the parent, the one with another tag keeps only that.
  std::string question;
  when_dialog([&](GtkWindow* d) {
    gchar* t = nullptr;
    g_object_get(d, "text", &t, nullptr);
    question = t ? t : "";
    g_free(t);
    gtk_dialog_response(GTK_DIALOG(d), GTK_RESPONSE_YES);
    return true;
  });
  ASSERT_EQ(0, command_run(&w, CMD_DELETE_TAG));
  pump();
  EXPECT_NE(std::string::npos, question.find("Work")) << question;
  EXPECT_EQ(nullptr, tag_get(work));
  EXPECT_EQ(nullptr, tag_get(sub));
  int32_t root = static_cast<int32_t>(g_repos[0].root);
  EXPECT_TRUE(tag_link_exists(root, static_cast<int32_t>(only)));
  EXPECT_FALSE(tag_link_exists(root, static_cast<int32_t>(both)));
  EXPECT_TRUE(tag_link_exists(static_cast<int32_t>(home), static_cast<int32_t>(both)));
  // The cursor left the deleted row for one that exists.
  int32_t view = model().view;
  EXPECT_NE(work, view);
  EXPECT_TRUE(view < 1 || tag_get(view));
  EXPECT_EQ(view, tag_tree_cursor_id(w.tags));
  GtkTreeIter it;
  EXPECT_FALSE(tag_tree_find(w.tags, static_cast<int>(work), &it));
  EXPECT_FALSE(tag_tree_find(w.tags, static_cast<int>(sub), &it));

  ASSERT_EQ(0, journal_undo(db(0)));
  EXPECT_EQ(before, dump(0));
}

}  // namespace
