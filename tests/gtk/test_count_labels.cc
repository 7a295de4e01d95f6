// SPDX-License-Identifier: GPL-3.0-or-later
// Unit words after number controls follow the number with the language's
// plural rules: the recurrence dialog's interval and occurrence count.
#include "dialogs/recurrence_dialog.h"
#include "editor_driver.h"
#include "model/recur.h"

namespace {

using CountLabelTest = EditorTest;

bool has_label(GtkWindow* w, const std::string& text) {
  bool found = false;
  each_widget(GTK_WIDGET(w), [&](GtkWidget* x) {
    if (GTK_IS_LABEL(x) && text == gtk_label_get_text(GTK_LABEL(x))) found = true;
  });
  return found;
}

GtkComboBox* interval_combo(GtkWindow* w) {
  GtkComboBox* found = nullptr;
  each_widget(GTK_WIDGET(w), [&](GtkWidget* x) {
    if (!found && GTK_IS_COMBO_BOX(x) && gtk_tree_model_iter_n_children(gtk_combo_box_get_model(GTK_COMBO_BOX(x)), nullptr) == 128)
      found = GTK_COMBO_BOX(x);
  });
  return found;
}

GtkEntry* count_entry(GtkWindow* w) {
  GtkEntry* found = nullptr;
  each_widget(GTK_WIDGET(w), [&](GtkWidget* x) {
    if (!found && GTK_IS_ENTRY(x) && gtk_entry_get_max_length(GTK_ENTRY(x)) == 3) found = GTK_ENTRY(x);
  });
  return found;
}

TEST_F(CountLabelTest, RecurrenceUnitsFollowTheNumberInRussianAndEnglish) {
  RecurrenceRule rule;
  rule.freq = 2;  // weekly
  rule.end_kind = 1;
  rule.recur_count = 1;
  const int64_t start = lt(2031, 1, 15, 9, 0);
  std::vector<std::string> seen;
  ASSERT_EQ(1, strings_set_language(4));
  {
    Script s;
    s.then([&](GtkWindow* w) {
      ASSERT_NE(nullptr, interval_combo(w));
      ASSERT_NE(nullptr, count_entry(w));
      seen.push_back(has_label(w, "неделю") ? "неделю" : "?");  // раз в 1 неделю
      seen.push_back(has_label(w, "раз") ? "раз" : "?");        // 1 раз
      gtk_combo_box_set_active(interval_combo(w), 2);
      seen.push_back(has_label(w, "недели") ? "недели" : "?");  // 3 недели
      gtk_combo_box_set_active(interval_combo(w), 4);
      seen.push_back(has_label(w, "недель") ? "недель" : "?");  // 5 недель
      gtk_entry_set_text(count_entry(w), "22");
      seen.push_back(has_label(w, "раза") ? "раза" : "?");
      respond(w, GTK_RESPONSE_CANCEL);
    });
    recurrence_dialog(&rule, start);
    EXPECT_EQ(0, s.unexpected);
  }
  EXPECT_EQ((std::vector<std::string>{"неделю", "раз", "недели", "недель", "раза"}), seen);

  ASSERT_EQ(1, strings_set_language(0));
  seen.clear();
  rule.freq = 3;  // monthly
  {
    Script s;
    s.then([&](GtkWindow* w) {
      seen.push_back(has_label(w, "month") ? "month" : "?");
      seen.push_back(has_label(w, "occurrence") ? "occurrence" : "?");
      gtk_combo_box_set_active(interval_combo(w), 1);
      gtk_entry_set_text(count_entry(w), "5");
      seen.push_back(has_label(w, "months") ? "months" : "?");
      seen.push_back(has_label(w, "occurrences") ? "occurrences" : "?");
      respond(w, GTK_RESPONSE_CANCEL);
    });
    recurrence_dialog(&rule, start);
    EXPECT_EQ(0, s.unexpected);
  }
  EXPECT_EQ((std::vector<std::string>{"month", "occurrence", "months", "occurrences"}), seen);
}

}  // namespace
