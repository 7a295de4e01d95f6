// SPDX-License-Identifier: GPL-3.0-or-later
// The delete question reads right for one item and for several, in the
// language's own plural form.
#include <gtest/gtest.h>

#include <string>

#include "gtk/editor_driver.h"
#include "support/strings.h"
#include "window_fixture.h"

namespace {

using WindowTexts = WindowTest;

struct Question {
  std::string primary, secondary;
};

Question question_of(GtkWindow* dlg) {
  gchar* text = nullptr;
  gchar* secondary = nullptr;
  g_object_get(dlg, "text", &text, "secondary-text", &secondary, nullptr);
  Question q{text ? text : "", secondary ? secondary : ""};
  g_free(text);
  g_free(secondary);
  return q;
}

TEST_F(WindowTexts, DeleteQuestionForOneAndForSeveralItems) {
  int64_t a = add(work, ITEM_NOTE, "Alpha");
  add(work, ITEM_NOTE, "Beta");
  select(static_cast<int>(work));
  select_item(a);
  Question one, two, ru_two;
  {
    Script s;
    s.then([&](GtkWindow* dlg) {
      one = question_of(dlg);
      respond(dlg, GTK_RESPONSE_CANCEL);
    });
    ASSERT_EQ(0, command_run(&w, CMD_DELETE_ITEM));
    EXPECT_EQ(0, s.unexpected);
  }
  EXPECT_EQ("Delete “Alpha”?", one.primary);
  EXPECT_EQ(ui_string(STR_ASK_DELETE_ITEM_DETAIL), one.secondary);
  EXPECT_EQ(std::string::npos, one.secondary.find("items")) << one.secondary;

  gtk_tree_selection_select_all(gtk_tree_view_get_selection(GTK_TREE_VIEW(w.item_list)));
  pump();
  {
    Script s;
    s.then([&](GtkWindow* dlg) {
      two = question_of(dlg);
      respond(dlg, GTK_RESPONSE_CANCEL);
    });
    ASSERT_EQ(0, command_run(&w, CMD_DELETE_ITEM));
    EXPECT_EQ(0, s.unexpected);
  }
  EXPECT_EQ("Delete 2 items?", two.primary);
  EXPECT_EQ(ui_string(STR_ASK_DELETE_ITEMS_DETAIL), two.secondary);

  ASSERT_EQ(1, strings_set_language(4));
  {
    Script s;
    s.then([&](GtkWindow* dlg) {
      ru_two = question_of(dlg);
      respond(dlg, GTK_RESPONSE_CANCEL);
    });
    ASSERT_EQ(0, command_run(&w, CMD_DELETE_ITEM));
    EXPECT_EQ(0, s.unexpected);
  }
  ASSERT_EQ(1, strings_set_language(0));
  EXPECT_EQ("Удалить 2 записи?", ru_two.primary);
  // Nothing was removed by the questions answered with cancel.
  EXPECT_EQ(2, count_items(ITEM_NOTE));
}

}  // namespace
