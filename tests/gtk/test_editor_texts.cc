// SPDX-License-Identifier: GPL-3.0-or-later
// The editor's discard question names its actions on its buttons, and a
// failed save says the changes are still in the editor.
#include "editor_driver.h"

namespace {

using EditorTextTest = EditorTest;

std::string message_text(GtkWindow* w) {
  gchar* text = nullptr;
  g_object_get(w, "text", &text, nullptr);
  std::string out = text ? text : "";
  g_free(text);
  return out;
}

std::string button_label(GtkWindow* w, int response) {
  GtkWidget* b = gtk_dialog_get_widget_for_response(GTK_DIALOG(w), response);
  return b ? gtk_button_get_label(GTK_BUTTON(b)) : "";
}

TEST_F(EditorTextTest, DiscardQuestionButtonsAndSaveFailure) {
  std::string yes, no, failure;
  sqlite3* saved = g_repos[0].db;
  {
    Script s;
    s.then([](GtkWindow* w) {
       set_text(editor_current()->title_entry, "draft");
       respond(w, GTK_RESPONSE_CANCEL);
     })
        .then([&](GtkWindow* w) {
          yes = button_label(w, GTK_RESPONSE_YES);
          no = button_label(w, GTK_RESPONSE_CANCEL);
          respond(w, GTK_RESPONSE_CANCEL);  // keep editing
        })
        .then([](GtkWindow* w) {
          g_repos[0].db = nullptr;  // the store fails
          respond(w, GTK_RESPONSE_OK);
        })
        .then([&](GtkWindow* w) {
          failure = message_text(w);
          respond(w, GTK_RESPONSE_OK);
        })
        .then([&](GtkWindow* w) {
          g_repos[0].db = saved;
          respond(w, GTK_RESPONSE_CANCEL);
        })
        .then([](GtkWindow* w) { respond(w, GTK_RESPONSE_YES); });  // discard
    EXPECT_EQ(-1, item_edit(ITEM_NOTE, -1, tag));
    g_repos[0].db = saved;
    EXPECT_EQ(0, s.unexpected);
  }
  EXPECT_EQ(ui_string(STR_DISCARD), yes);
  EXPECT_EQ(ui_string(STR_KEEP_EDITING), no);
  EXPECT_EQ("Discard", yes);
  EXPECT_EQ("Keep Editing", no);
  EXPECT_EQ(ui_string(STR_MSG_ITEM_NOT_SAVED), failure);
  EXPECT_EQ(0, count_items(ITEM_NOTE));
}

}  // namespace
