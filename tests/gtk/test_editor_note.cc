// SPDX-License-Identifier: GPL-3.0-or-later
// The editor shell through the note editor: enabling rules, save, the change
// test with the discard question, save-and-new, keep-history and a failed
// save, each checked on the item read back from its database.
#include "dialogs/modal.h"
#include "editor_driver.h"
#include "model/app_core.h"
#include "model/ops.h"

namespace {

using NoteEditorTest = EditorTest;

TEST_F(NoteEditorTest, NewNoteNeedsATitleAndIsStoredUnderTheTargetTag) {
  Script s;
  bool ok_before = true, apply_before = true, ok_after = false, apply_after = false;
  s.then([&](GtkWindow* w) {
    Editor* ed = editor_current();
    ASSERT_NE(nullptr, ed);
    EXPECT_EQ(GTK_WINDOW(ed->dialog), w);
    EXPECT_EQ(nullptr, ed->keep_history_check);
    ok_before = sensitive(ed->ok_button);
    apply_before = sensitive(ed->apply_button);
    set_text(ed->title_entry, "x");
    ok_after = sensitive(ed->ok_button);
    apply_after = sensitive(ed->apply_button);
    set_text(ed->title_entry, "Shopping: list");
    set_body(ed, "milk\nbread");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(ed->markup_check), TRUE);
    respond(w, GTK_RESPONSE_OK);
  });
  int64_t slot = item_edit(ITEM_NOTE, -1, tag);
  EXPECT_EQ(0, s.unexpected);
  EXPECT_FALSE(ok_before);
  EXPECT_FALSE(apply_before);
  EXPECT_TRUE(ok_after);
  EXPECT_TRUE(apply_after);
  ASSERT_GE(slot, 0);
  Stored st = read_back_slot(slot);
  ASSERT_TRUE(st.found);
  EXPECT_EQ(ITEM_NOTE, st.item.type);
  EXPECT_EQ("Shopping: list", st.item.title);
  EXPECT_EQ("milk\nbread", st.body);
  EXPECT_EQ(1, st.item.markup);
  // Under the editor's tag, not under the view that happened to be selected.
  EXPECT_TRUE(tag_link_exists(static_cast<int32_t>(tag), static_cast<int32_t>(slot)));
  EXPECT_EQ(g_repos[0].root, model().view);
  EXPECT_EQ(GTK_WINDOW(main), top_window());
  EXPECT_EQ(nullptr, editor_current());
}

TEST_F(NoteEditorTest, CancelAsksOnlyAfterAChangeAndNoKeepsEverythingTyped) {
  {
    // Nothing typed: closes without a question.
    Script s;
    s.then([](GtkWindow* w) { respond(w, GTK_RESPONSE_CANCEL); });
    EXPECT_EQ(-1, item_edit(ITEM_NOTE, -1, tag));
    EXPECT_EQ(0, s.unexpected);
  }
  Script s;
  bool asked = false, asked_again = false;
  std::string title_after_no, body_after_no;
  s.then([](GtkWindow* w) {
     set_text(editor_current()->title_entry, "draft");
     set_body(editor_current(), "typed text");
     respond(w, GTK_RESPONSE_DELETE_EVENT);
   })
      .then([&](GtkWindow* w) {
        asked = is_message(w);
        respond(w, GTK_RESPONSE_CANCEL);  // "no": back to the editor
      })
      .then([&](GtkWindow* w) {
        Editor* ed = editor_current();
        title_after_no = gtk_entry_get_text(GTK_ENTRY(ed->title_entry));
        body_after_no = editor_body_text(ed);
        respond(w, GTK_RESPONSE_CANCEL);
      })
      .then([&](GtkWindow* w) {
        asked_again = is_message(w);
        respond(w, GTK_RESPONSE_YES);  // discard
      });
  EXPECT_EQ(-1, item_edit(ITEM_NOTE, -1, tag));
  EXPECT_EQ(0, s.unexpected);
  EXPECT_TRUE(asked);
  EXPECT_TRUE(asked_again);
  EXPECT_EQ("draft", title_after_no);
  EXPECT_EQ("typed text", body_after_no);
  EXPECT_EQ(0, count_items(ITEM_NOTE));
}

// A quit signal closes an editor with changes without the question, which
// no one might be there to answer: the quit must not wait on it for ever.
TEST_F(NoteEditorTest, EndingProgramClosesAChangedEditorWithoutAsking) {
  Script s;
  s.then([](GtkWindow* w) {
    set_text(editor_current()->title_entry, "draft");
    set_program_ending(true);
    respond(w, GTK_RESPONSE_CANCEL);
  });
  EXPECT_EQ(-1, item_edit(ITEM_NOTE, -1, tag));
  set_program_ending(false);
  EXPECT_EQ(0, s.unexpected) << "no discard question";
  EXPECT_EQ(nullptr, editor_current());
  EXPECT_EQ(0, count_items(ITEM_NOTE));
}

TEST_F(NoteEditorTest, SaveAndNewStoresEachAndKeepsTheMarkupFlag) {
  Script s;
  bool markup_kept = false, title_empty = false, ok_off = false;
  s.then([](GtkWindow* w) {
     Editor* ed = editor_current();
     set_text(ed->title_entry, "first");
     set_body(ed, "one");
     gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(ed->markup_check), TRUE);
     respond(w, GTK_RESPONSE_APPLY);
   })
      .then([&](GtkWindow* w) {
        Editor* ed = editor_current();
        markup_kept = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(ed->markup_check));
        title_empty = gtk_entry_get_text_length(GTK_ENTRY(ed->title_entry)) == 0 && editor_body_text(ed).empty();
        ok_off = !sensitive(ed->ok_button);
        set_text(ed->title_entry, "second");
        respond(w, GTK_RESPONSE_APPLY);
      })
      // Cancelling right after a save-and-new asks nothing.
      .then([](GtkWindow* w) { respond(w, GTK_RESPONSE_CANCEL); });
  int64_t last = item_edit(ITEM_NOTE, -1, tag);
  EXPECT_EQ(0, s.unexpected);
  EXPECT_TRUE(markup_kept);
  EXPECT_TRUE(title_empty);
  EXPECT_TRUE(ok_off);
  ASSERT_GE(last, 0);
  EXPECT_EQ(2, count_items(ITEM_NOTE));
  Stored st = read_back_slot(last);
  ASSERT_TRUE(st.found);
  EXPECT_EQ("second", st.item.title);
  EXPECT_EQ("", st.body);
  EXPECT_EQ(1, st.item.markup);
}

TEST_F(NoteEditorTest, EditingKeepsHistoryOnlyWhenAskedAndUnchangedOkStoresNothing) {
  model().view = static_cast<int32_t>(tag);
  int64_t slot = make_item(tag, ITEM_NOTE, "old", "old body");
  ASSERT_GE(slot, 0);
  uint8_t hash_before[20];
  {
    Stored st = read_back_slot(slot);
    ASSERT_TRUE(st.found);
    memcpy(hash_before, st.item.version_hash, 20);
  }
  {
    // OK without a change stores nothing and asks nothing.
    Script s;
    bool has_keep = false, body_shown = false;
    s.then([&](GtkWindow* w) {
      Editor* ed = editor_current();
      has_keep = ed->keep_history_check != nullptr && ed->apply_button == nullptr;
      body_shown = editor_body_text(ed) == "old body";
      respond(w, GTK_RESPONSE_OK);
    });
    EXPECT_EQ(-1, item_edit(ITEM_NOTE, slot, 0));
    EXPECT_TRUE(has_keep);
    EXPECT_TRUE(body_shown);
    EXPECT_EQ(0, s.unexpected);
  }
  Script s;
  s.then([](GtkWindow* w) {
    Editor* ed = editor_current();
    set_text(ed->title_entry, "new");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(ed->keep_history_check), TRUE);
    respond(w, GTK_RESPONSE_OK);
  });
  EXPECT_EQ(slot, item_edit(ITEM_NOTE, slot, 0));
  EXPECT_EQ(0, s.unexpected);
  Stored st = read_back_slot(slot);
  ASSERT_TRUE(st.found);
  EXPECT_EQ("new", st.item.title);
  EXPECT_EQ("old body", st.body);
  EXPECT_TRUE(object_has_history(RepoDb{db(), g_repos[0].key, false}, item_get(slot)->uuid));
}

TEST_F(NoteEditorTest, AFailedSaveKeepsTheEditorOpenWithEverythingTyped) {
  Script s;
  bool failure_shown = false;
  std::string title_after, body_after;
  // Repository 0 goes away under the editor: the store fails.
  sqlite3* saved = g_repos[0].db;
  s.then([](GtkWindow* w) {
    Editor* ed = editor_current();
    set_text(ed->title_entry, "kept");
    set_body(ed, "typed");
    g_repos[0].db = nullptr;
    respond(w, GTK_RESPONSE_OK);
  });
  s.then([&](GtkWindow* w) {
     failure_shown = is_message(w);
     respond(w, GTK_RESPONSE_OK);
   })
      .then([&, saved](GtkWindow* w) {
        Editor* ed = editor_current();
        title_after = gtk_entry_get_text(GTK_ENTRY(ed->title_entry));
        body_after = editor_body_text(ed);
        g_repos[0].db = saved;  // the repository is back: try again
        respond(w, GTK_RESPONSE_OK);
      });
  int64_t slot = item_edit(ITEM_NOTE, -1, tag);
  g_repos[0].db = saved;
  EXPECT_EQ(0, s.unexpected);
  EXPECT_TRUE(failure_shown);
  EXPECT_EQ("kept", title_after);
  EXPECT_EQ("typed", body_after);
  ASSERT_GE(slot, 0);
  Stored st = read_back_slot(slot);
  ASSERT_TRUE(st.found);
  EXPECT_EQ("kept", st.item.title);
  EXPECT_EQ("typed", st.body);
  EXPECT_EQ(1, count_items(ITEM_NOTE));
}

TEST_F(NoteEditorTest, CheatSheetFollowsItsBoxAndTheSetting) {
  app_core().settings.markup_cheat_sheet = 1;
  Script s;
  bool shown_first = false, hidden_after = true;
  s.then([&](GtkWindow* w) {
    Editor* ed = editor_current();
    shown_first = gtk_widget_get_visible(ed->cheat_panel);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(ed->cheat_check), FALSE);
    hidden_after = gtk_widget_get_visible(ed->cheat_panel);
    respond(w, GTK_RESPONSE_CANCEL);
  });
  item_edit(ITEM_NOTE, -1, tag);
  EXPECT_TRUE(shown_first);
  EXPECT_FALSE(hidden_after);
  EXPECT_EQ(0, app_core().settings.markup_cheat_sheet);
  app_core().settings.markup_cheat_sheet = 1;
}

}  // namespace

namespace {

TEST_F(NoteEditorTest, AnExistingItemOpensInTheEditorOfItsOwnType) {
  int64_t slot = make_item(tag, ITEM_TASK, "task", "", lt(2031, 1, 1, 10, 0));
  ASSERT_GE(slot, 0);
  Script s;
  std::string title;
  s.then([&](GtkWindow* w) {
    title = gtk_window_get_title(w);
    set_text(editor_current()->title_entry, "renamed");
    respond(w, GTK_RESPONSE_OK);
  });
  EXPECT_EQ(slot, item_edit(ITEM_NOTE, slot, 0));
  EXPECT_EQ(ui_string(STR_TYPE_TASK), title);
  Stored st = read_back_slot(slot);
  EXPECT_EQ(ITEM_TASK, st.item.type);
  EXPECT_EQ("renamed", st.item.title);
  EXPECT_EQ(lt(2031, 1, 1, 10, 0), st.item.due);
  EXPECT_EQ(-1, item_edit(ITEM_NOTE, 9999, 0));
}

}  // namespace
