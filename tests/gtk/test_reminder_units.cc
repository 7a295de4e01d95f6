// SPDX-License-Identifier: GPL-3.0-or-later
// The reminder's unit words follow the count typed beside them, in the
// language's plural forms, and the unit chosen stays chosen while they change.
#include "dialogs/schedule.h"
#include "editor_driver.h"

namespace {

using ReminderUnitTest = EditorTest;

std::vector<std::string> unit_rows(GtkWidget* combo) {
  std::vector<std::string> out;
  GtkTreeModel* m = gtk_combo_box_get_model(GTK_COMBO_BOX(combo));
  GtkTreeIter it;
  for (gboolean ok = gtk_tree_model_get_iter_first(m, &it); ok; ok = gtk_tree_model_iter_next(m, &it)) {
    gchar* text = nullptr;
    gtk_tree_model_get(m, &it, 0, &text, -1);
    out.push_back(text ? text : "");
    g_free(text);
  }
  return out;
}

using Rows = std::vector<std::string>;

// Types each count into a new item's reminder and reads the unit rows; the
// editor is cancelled, and the active unit (hours) must survive every change.
std::vector<Rows> rows_for_counts(int type, int64_t tag, const std::vector<const char*>& counts, int* active_after) {
  std::vector<Rows> seen;
  Script s;
  s.then([&](GtkWindow* w) {
    auto* r = reminder_of(editor_current());
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(r->check), TRUE);
    gtk_combo_box_set_active(GTK_COMBO_BOX(r->unit), 1);
    for (const char* c : counts) {
      gtk_entry_set_text(GTK_ENTRY(r->count), c);
      seen.push_back(unit_rows(r->unit));
    }
    *active_after = gtk_combo_box_get_active(GTK_COMBO_BOX(r->unit));
    respond(w, GTK_RESPONSE_CANCEL);
  });
  s.then([](GtkWindow* w) { respond(w, is_message(w) ? GTK_RESPONSE_YES : GTK_RESPONSE_CANCEL); });  // discard
  int64_t slot = item_edit(type, -1, tag);
  EXPECT_LT(slot, 0);
  EXPECT_EQ(0, s.unexpected);
  return seen;
}

TEST_F(ReminderUnitTest, UnitWordsFollowTheCountInEnglishAndRussian) {
  const std::vector<const char*> counts = {"1", "2", "5", "21"};
  int active = -1;
  ASSERT_EQ(1, strings_set_language(0));
  std::vector<Rows> en = rows_for_counts(ITEM_TASK, tag, counts, &active);
  const Rows one = {"minute", "hour", "day", "week"}, other = {"minutes", "hours", "days", "weeks"};
  EXPECT_EQ((std::vector<Rows>{one, other, other, other}), en);
  EXPECT_EQ(1, active);

  ASSERT_EQ(1, strings_set_language(4));
  std::vector<Rows> ru = rows_for_counts(ITEM_EVENT, tag, counts, &active);
  strings_set_language(0);
  const Rows ru_one = {"минута", "час", "день", "неделя"};   // 1, 21
  const Rows ru_few = {"минуты", "часа", "дня", "недели"};   // 2
  const Rows ru_many = {"минут", "часов", "дней", "недель"};  // 5
  EXPECT_EQ((std::vector<Rows>{ru_one, ru_few, ru_many, ru_one}), ru);
  EXPECT_EQ(1, active);
}

TEST_F(ReminderUnitTest, StoredReminderOpensWithMatchingUnitWords) {
  model().view = static_cast<int32_t>(tag);
  ItemForm f;
  f.title = "t";
  f.due = lt(2031, 3, 10, 9, 0);
  f.remind_unit = 2;  // one hour
  f.remind_count = 1;
  int64_t slot = item_store(-1, ITEM_TASK, f, 0, tag);
  ASSERT_GE(slot, 0);
  Rows rows;
  std::string shown;
  Script s;
  s.then([&](GtkWindow* w) {
    auto* r = reminder_of(editor_current());
    rows = unit_rows(r->unit);
    GtkTreeIter it;
    gtk_combo_box_get_active_iter(GTK_COMBO_BOX(r->unit), &it);
    gchar* text = nullptr;
    gtk_tree_model_get(gtk_combo_box_get_model(GTK_COMBO_BOX(r->unit)), &it, 0, &text, -1);
    shown = text ? text : "";
    g_free(text);
    respond(w, GTK_RESPONSE_CANCEL);
  });
  item_edit(ITEM_TASK, slot, 0);
  EXPECT_EQ(0, s.unexpected);
  EXPECT_EQ((Rows{"minute", "hour", "day", "week"}), rows);
  EXPECT_EQ("hour", shown);
  // Storing what is shown keeps the hour.
  EXPECT_EQ(3600, read_back_slot(slot).item.remind_offset);
}

}  // namespace
