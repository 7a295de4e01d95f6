// SPDX-License-Identifier: GPL-3.0-or-later
// The task and event editors: reminder box, due time, start and end, the
// recurrence box and the recurrence dialog, each checked on the item read
// back from its database.
#include "dialogs/date_text.h"
#include "dialogs/schedule.h"
#include "editor_driver.h"
#include "model/recur.h"

namespace {

using ScheduleEditorTest = EditorTest;

std::string entry_text(GtkWidget* e) { return gtk_entry_get_text(GTK_ENTRY(e)); }

int64_t store_task(int64_t tag, int unit, int count, int64_t due) {
  model().view = static_cast<int32_t>(tag);
  ItemForm f;
  f.title = "t";
  f.due = due;
  f.remind_unit = unit;
  f.remind_count = count;
  return item_store(-1, ITEM_TASK, f, 0, tag);
}

TEST_F(ScheduleEditorTest, ReminderOpensInTheLargestWholeUnitAndStoresWhatIsShown) {
  const int64_t due = lt(2031, 3, 10, 9, 0);
  struct Case {
    int unit, count;
    const char* shown;
    int combo;
  } cases[] = {{1, 90, "90", 0}, {1, 120, "2", 1}, {3, 14, "2", 3}, {2, 36, "36", 1}};
  for (const Case& c : cases) {
    int64_t slot = store_task(tag, c.unit, c.count, due);
    ASSERT_GE(slot, 0);
    const int64_t offset = item_get(slot)->remind_offset;
    Script s;
    bool on = false;
    std::string shown;
    int combo = -1;
    s.then([&](GtkWindow* w) {
      ReminderBox* r = reminder_of(editor_current());
      on = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(r->check));
      shown = entry_text(r->count);
      combo = gtk_combo_box_get_active(GTK_COMBO_BOX(r->unit));
      respond(w, GTK_RESPONSE_CANCEL);  // nothing changed: no question
    });
    item_edit(ITEM_TASK, slot, 0);
    EXPECT_EQ(0, s.unexpected) << c.count;
    EXPECT_TRUE(on);
    EXPECT_EQ(c.shown, shown);
    EXPECT_EQ(c.combo, combo);
    EXPECT_EQ(offset, read_back_slot(slot).item.remind_offset);
  }
}

TEST_F(ScheduleEditorTest, UncheckedReminderKeepsItsValuesInsensitiveAndStoresNone) {
  int64_t slot = store_task(tag, 2, 3, lt(2031, 3, 10, 9, 0));
  ASSERT_GE(slot, 0);
  EXPECT_EQ(3 * 3600, read_back_slot(slot).item.remind_offset);
  Script s;
  bool count_off = false, unit_off = false, back_on = false;
  std::string kept;
  s.then([&](GtkWindow* w) {
    ReminderBox* r = reminder_of(editor_current());
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(r->check), FALSE);
    count_off = !sensitive(r->count);
    unit_off = !sensitive(r->unit);
    kept = entry_text(r->count);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(r->check), TRUE);
    back_on = sensitive(r->count) && sensitive(r->unit);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(r->check), FALSE);
    respond(w, GTK_RESPONSE_OK);
  });
  EXPECT_EQ(slot, item_edit(ITEM_TASK, slot, 0));
  EXPECT_TRUE(count_off);
  EXPECT_TRUE(unit_off);
  EXPECT_EQ("3", kept);
  EXPECT_TRUE(back_on);
  Stored st = read_back_slot(slot);
  EXPECT_EQ(0, st.item.remind_offset);
  EXPECT_EQ(0, st.item.next_remind);
}

TEST_F(ScheduleEditorTest, SaveAndNewTaskKeepsDueReminderAndMarkupForTheNext) {
  const int64_t due = lt(2031, 5, 4, 16, 30);
  Script s;
  std::string due_kept, count_kept;
  s.then([&](GtkWindow* w) {
     Editor* ed = editor_current();
     EXPECT_EQ(next_half_hour(), date_picker_get(due_of(ed)->picker));
     ReminderBox* r = reminder_of(ed);
     EXPECT_TRUE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(r->check)));
     EXPECT_EQ("10", entry_text(r->count));
     set_text(ed->title_entry, "first");
     EXPECT_EQ(0, type_time(due_of(ed)->picker, date_text_format(due, false)));
     set_text(r->count, "2");
     gtk_combo_box_set_active(GTK_COMBO_BOX(r->unit), 1);
     gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(ed->markup_check), TRUE);
     respond(w, GTK_RESPONSE_APPLY);
   })
      .then([&](GtkWindow* w) {
        Editor* ed = editor_current();
        due_kept = date_text_format(date_picker_get(due_of(ed)->picker), false);
        count_kept = entry_text(reminder_of(ed)->count);
        set_text(ed->title_entry, "second");
        respond(w, GTK_RESPONSE_APPLY);
      })
      .then([](GtkWindow* w) { respond(w, GTK_RESPONSE_CANCEL); });
  int64_t last = item_edit(ITEM_TASK, -1, tag);
  EXPECT_EQ(0, s.unexpected);
  EXPECT_EQ(date_text_format(due, false), due_kept);
  EXPECT_EQ("2", count_kept);
  EXPECT_EQ(2, count_items(ITEM_TASK));
  Stored st = read_back_slot(last);
  ASSERT_TRUE(st.found);
  EXPECT_EQ("second", st.item.title);
  EXPECT_EQ(due, st.item.due);
  EXPECT_EQ(7200, st.item.remind_offset);
  EXPECT_EQ(due - 7200, st.item.next_remind);
  EXPECT_EQ(1, st.item.markup);
}

TEST_F(ScheduleEditorTest, EventEndFollowsStartUntilMovedBeforeIt) {
  const int64_t start = lt(2031, 6, 1, 10, 0);
  Script s;
  int64_t end_after_move = 0, end_after_second = 0;
  bool ok_when_before = true, ok_again = false;
  s.then([&](GtkWindow* w) {
    Editor* ed = editor_current();
    EventTimes* t = times_of(ed);
    set_text(ed->title_entry, "meeting");
    EXPECT_EQ(date_picker_get(t->start) + 3600, date_picker_get(t->end));
    type_time(t->start, date_text_format(start, false));
    end_after_move = date_picker_get(t->end);
    // The end before the start: OK goes off and the end stops following.
    type_time(t->end, date_text_format(start - 1800, false));
    ok_when_before = sensitive(ed->ok_button) || sensitive(ed->apply_button);
    type_time(t->start, date_text_format(start + 86400, false));
    end_after_second = date_picker_get(t->end);
    // Moving the end again makes it follow with the new length.
    type_time(t->end, date_text_format(start + 86400 + 7200, false));
    ok_again = sensitive(ed->ok_button);
    type_time(t->start, date_text_format(start + 2 * 86400, false));
    respond(w, GTK_RESPONSE_OK);
  });
  int64_t slot = item_edit(ITEM_EVENT, -1, tag);
  EXPECT_EQ(0, s.unexpected);
  EXPECT_EQ(start + 3600, end_after_move);
  EXPECT_FALSE(ok_when_before);
  EXPECT_EQ(start - 1800, end_after_second);
  EXPECT_TRUE(ok_again);
  Stored st = read_back_slot(slot);
  ASSERT_TRUE(st.found);
  EXPECT_EQ(start + 2 * 86400, st.item.due);
  EXPECT_EQ(start + 2 * 86400 + 7200, st.item.end);
  EXPECT_EQ(0, st.item.recurrence.freq);
}

TEST_F(ScheduleEditorTest, RecurrenceBoxShowsDetailsOnlyWhenOnAndWeeklyWithoutDaysStoresMaskZero) {
  const int64_t start = lt(2031, 6, 2, 8, 0);
  Script s;
  bool combo_off = false, details_hidden = false, details_shown = false;
  std::string empty_desc = "x", weekly_desc;
  s.then([&](GtkWindow*) {
     Editor* ed = editor_current();
     EventTimes* t = times_of(ed);
     RecurrenceBox* rb = recur_of(editor_current());
     set_text(ed->title_entry, "gym");
     type_time(t->start, date_text_format(start, false));
     combo_off = !sensitive(rb->freq);
     details_hidden = !gtk_widget_get_visible(rb->details) && !gtk_widget_get_visible(rb->description);
     gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(rb->check), TRUE);
     details_shown = gtk_widget_get_visible(rb->details) && sensitive(rb->freq);
     empty_desc = gtk_label_get_text(GTK_LABEL(rb->description));
     gtk_combo_box_set_active(GTK_COMBO_BOX(rb->freq), 1);  // weekly
     weekly_desc = gtk_label_get_text(GTK_LABEL(rb->description));
     gtk_button_clicked(GTK_BUTTON(rb->details));
   })
      .then([](GtkWindow* w) {
        // Weekly: seven day boxes, none checked; the series never ends.
        GtkWidget* first_day = find_widget<GtkWidget>(GTK_WIDGET(w), GTK_TYPE_CHECK_BUTTON, 0);
        EXPECT_FALSE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(first_day)));
        respond(w, GTK_RESPONSE_OK);
      })
      .then([](GtkWindow* w) { respond(w, GTK_RESPONSE_OK); });
  int64_t slot = item_edit(ITEM_EVENT, -1, tag);
  EXPECT_EQ(0, s.unexpected);
  EXPECT_TRUE(combo_off);
  EXPECT_TRUE(details_hidden);
  EXPECT_TRUE(details_shown);
  EXPECT_EQ("", empty_desc);
  Stored st = read_back_slot(slot);
  ASSERT_TRUE(st.found);
  EXPECT_EQ(2, st.item.recurrence.freq);
  EXPECT_EQ(0, st.item.recurrence.by_day);
  EXPECT_EQ(0, st.item.recurrence.end_kind);
  EXPECT_EQ(start, st.item.due);
}

// The radio buttons of the end controls in the dialog: 0 never, 1 after,
// 2 on a date, found by their labels.
GtkWidget* end_radio(GtkWindow* w, int i) {
  const char* label = ui_string(str_at(STR_END_KIND_RANGE, i));
  GtkWidget* found = nullptr;
  each_widget(GTK_WIDGET(w), [&](GtkWidget* x) {
    if (!found && GTK_IS_RADIO_BUTTON(x) && g_strcmp0(gtk_button_get_label(GTK_BUTTON(x)), label) == 0) found = x;
  });
  return found;
}
// The combo box of the dialog with n entries.
GtkComboBox* combo_with(GtkWindow* w, int n) {
  GtkComboBox* found = nullptr;
  each_widget(GTK_WIDGET(w), [&](GtkWidget* x) {
    if (!found && GTK_IS_COMBO_BOX(x) &&
        gtk_tree_model_iter_n_children(gtk_combo_box_get_model(GTK_COMBO_BOX(x)), nullptr) == n)
      found = GTK_COMBO_BOX(x);
  });
  return found;
}
GtkWidget* count_entry(GtkWindow* w) {
  // The count entry is the only plain entry besides the picker's field.
  GtkWidget* found = nullptr;
  each_widget(GTK_WIDGET(w), [&](GtkWidget* x) {
    if (!found && GTK_IS_ENTRY(x) && !GTK_IS_SPIN_BUTTON(x) && !GTK_IS_DATE_PICKER(gtk_widget_get_parent(x)))
      if (gtk_entry_get_max_length(GTK_ENTRY(x)) == 3) found = x;
  });
  return found;
}
GtkWidget* until_picker(GtkWindow* w) { return find_widget<GtkWidget>(GTK_WIDGET(w), GTK_TYPE_DATE_PICKER, 0); }

TEST_F(ScheduleEditorTest, RecurrenceDialogProposesFiveAndThirtyDaysAndCancelRestores) {
  const int64_t start = lt(2031, 1, 15, 9, 0);
  RecurrenceRule rule;
  rule.freq = 1;
  rule.until = 12345;
  Script s;
  std::string proposed_count, proposed_until;
  bool count_on = false, picker_off = false;
  s.then([&](GtkWindow* w) {
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(end_radio(w, 1)), TRUE);
    proposed_count = entry_text(count_entry(w));
    count_on = sensitive(count_entry(w));
    picker_off = !sensitive(until_picker(w));
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(end_radio(w, 2)), TRUE);
    proposed_until = date_text_format(date_picker_get(until_picker(w)), true);
    respond(w, GTK_RESPONSE_CANCEL);
  });
  EXPECT_FALSE(recurrence_dialog(&rule, start));
  EXPECT_EQ("5", proposed_count);
  EXPECT_TRUE(count_on);
  EXPECT_TRUE(picker_off);
  EXPECT_EQ(date_text_format(start + 30 * 86400, true), proposed_until);
  EXPECT_EQ(12345, rule.until);
  EXPECT_EQ(0, rule.end_kind);

  // Confirming "after" with the proposal; the until value stays as it was.
  // A count of no occurrences cannot be confirmed.
  bool ok_empty = true, ok_zero = true, ok_three = false;
  s.then([&](GtkWindow* w) {
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(end_radio(w, 1)), TRUE);
    GtkWidget* ok = gtk_dialog_get_widget_for_response(GTK_DIALOG(w), GTK_RESPONSE_OK);
    set_text(count_entry(w), "");
    ok_empty = sensitive(ok);
    set_text(count_entry(w), "0");
    ok_zero = sensitive(ok);
    set_text(count_entry(w), "3");
    ok_three = sensitive(ok);
    set_text(count_entry(w), "5");
    respond(w, GTK_RESPONSE_OK);
  });
  EXPECT_TRUE(recurrence_dialog(&rule, start));
  EXPECT_FALSE(ok_empty);
  EXPECT_FALSE(ok_zero);
  EXPECT_TRUE(ok_three);
  EXPECT_EQ(1, rule.end_kind);
  EXPECT_EQ(5, rule.recur_count);
  EXPECT_EQ(12345, rule.until);
  // Back to "never": the count entry empties and the count goes to 0.
  s.then([](GtkWindow* w) {
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(end_radio(w, 0)), TRUE);
    EXPECT_EQ("", entry_text(count_entry(w)));
    respond(w, GTK_RESPONSE_OK);
  });
  EXPECT_TRUE(recurrence_dialog(&rule, start));
  EXPECT_EQ(0, rule.end_kind);
  EXPECT_EQ(0, rule.recur_count);
  EXPECT_EQ(0, s.unexpected);

  // Ending on a date ends with that day: its occurrence at 9:00 counts.
  s.then([](GtkWindow* w) {
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(end_radio(w, 2)), TRUE);
    respond(w, GTK_RESPONSE_OK);
  });
  EXPECT_TRUE(recurrence_dialog(&rule, start));
  EXPECT_EQ(2, rule.end_kind);
  EXPECT_EQ(lt(2031, 2, 15) - 1, rule.until);
  EXPECT_GE(rule.until, start + 30 * 86400);
  EXPECT_EQ(0, s.unexpected);

  RecurrenceRule none;
  none.freq = 0;
  EXPECT_FALSE(recurrence_dialog(&none, start));  // opens nothing
}

TEST_F(ScheduleEditorTest, EventRecurrenceEndingByDateIsStoredAndReopened) {
  const int64_t start = lt(2031, 2, 3, 18, 0);
  int64_t slot = -1;
  {
  Script s;
  s.then([&](GtkWindow*) {
     Editor* ed = editor_current();
     EventTimes* t = times_of(ed);
     RecurrenceBox* rb = recur_of(editor_current());
     set_text(ed->title_entry, "course");
     type_time(t->start, date_text_format(start, false));
     gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(rb->check), TRUE);
     gtk_combo_box_set_active(GTK_COMBO_BOX(rb->freq), 2);  // monthly
     gtk_button_clicked(GTK_BUTTON(rb->details));
   })
      .then([](GtkWindow* w) {
        ASSERT_NE(nullptr, combo_with(w, 2));
        ASSERT_NE(nullptr, combo_with(w, 128));
        gtk_combo_box_set_active(combo_with(w, 2), 1);    // same weekday
        gtk_combo_box_set_active(combo_with(w, 128), 1);  // every 2 months
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(end_radio(w, 2)), TRUE);
        respond(w, GTK_RESPONSE_OK);
      })
      .then([](GtkWindow* w) { respond(w, GTK_RESPONSE_OK); });
  slot = item_edit(ITEM_EVENT, -1, tag);
  EXPECT_EQ(0, s.unexpected);
  }
  Stored st = read_back_slot(slot);
  ASSERT_TRUE(st.found);
  EXPECT_EQ(3, st.item.recurrence.freq);
  EXPECT_EQ(1, st.item.recurrence.interval_minus_one);
  EXPECT_NE(0, st.item.recurrence.by_day);
  EXPECT_EQ(2, st.item.recurrence.end_kind);
  // The proposed until date, the start + 30 days, to its last second.
  EXPECT_EQ(lt(2031, 3, 6) - 1, st.item.last_occurrence);

  // Reopened: the box is on, the description filled; an unchanged cancel
  // asks nothing.
  Script again;
  bool on = false;
  std::string desc;
  again.then([&](GtkWindow* w) {
    RecurrenceBox* rb = recur_of(editor_current());
    on = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(rb->check)) && gtk_widget_get_visible(rb->details);
    desc = gtk_label_get_text(GTK_LABEL(rb->description));
    respond(w, GTK_RESPONSE_CANCEL);
  });
  item_edit(ITEM_EVENT, slot, 0);
  EXPECT_EQ(0, again.unexpected);
  EXPECT_TRUE(on);
  EXPECT_FALSE(desc.empty());
}

// A rule stored elsewhere (the command-line tool, an import) survives an
// edit of the title; a change of frequency keeps how the series ends.
TEST_F(ScheduleEditorTest, EditsKeepHowATaskOrEventRepeatsAndEnds) {
  const int64_t start = lt(2031, 3, 13, 18, 0);  // a Thursday
  struct Case {
    int type;
    int freq, by_day, end_kind, count;
    int64_t until;
  } cases[] = {
      {ITEM_EVENT, FREQ_WEEKLY, 0, RECUR_COUNT, 5, 0},
      {ITEM_EVENT, FREQ_DAILY, 0, RECUR_UNTIL, 0, lt(2031, 4, 30) - 1},
      {ITEM_TASK, FREQ_WEEKLY, 1 << 4, RECUR_FOREVER, 0, 0},
      {ITEM_TASK, FREQ_MONTHLY, 1, RECUR_COUNT, 5, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.type << " " << c.freq << " " << c.end_kind);
    ItemForm f;
    f.title = "before";
    f.due = start;
    f.end = c.type == ITEM_EVENT ? start + 3600 : 0;
    f.freq = c.freq;
    f.by_day = c.by_day;
    f.end_kind = c.end_kind;
    f.recur_count = c.count;
    f.until = c.until;
    int64_t slot = item_store(-1, c.type, f, 0, tag);
    ASSERT_GE(slot, 0);
    const Item before = read_back_slot(slot).item;
    ASSERT_EQ(c.count, before.recur_count);

    Script s;
    s.then([](GtkWindow* w) {
      set_text(editor_current()->title_entry, "after");
      respond(w, GTK_RESPONSE_OK);
    });
    EXPECT_EQ(slot, item_edit(c.type, slot, 0));
    Item after = read_back_slot(slot).item;
    EXPECT_EQ("after", after.title);
    EXPECT_EQ(recurrence_pack(before.recurrence), recurrence_pack(after.recurrence));
    EXPECT_EQ(before.recur_count, after.recur_count);
    EXPECT_EQ(before.last_occurrence, after.last_occurrence);

    // Yearly now, ending as before.
    s.then([](GtkWindow* w) {
      gtk_combo_box_set_active(GTK_COMBO_BOX(recur_of(editor_current())->freq), 3);
      respond(w, GTK_RESPONSE_OK);
    });
    EXPECT_EQ(slot, item_edit(c.type, slot, 0));
    after = read_back_slot(slot).item;
    EXPECT_EQ(FREQ_YEARLY, after.recurrence.freq);
    EXPECT_EQ(c.end_kind, after.recurrence.end_kind);
    EXPECT_EQ(c.count, after.recur_count);
    if (c.end_kind == RECUR_UNTIL) {
      EXPECT_EQ(c.until, after.last_occurrence);
    }
    EXPECT_EQ(0, s.unexpected);
  }
}

TEST_F(ScheduleEditorTest, EventSaveAndNewKeepsTimesAndRuleAndATypedNonDateBlocksSaving) {
  const int64_t start = lt(2031, 9, 1, 12, 0);
  Script s;
  bool ok_with_bad_text = true, ok_fixed = false;
  bool rule_kept = false;
  std::string start_kept;
  s.then([&](GtkWindow* w) {
     Editor* ed = editor_current();
     EventTimes* t = times_of(ed);
     RecurrenceBox* rb = recur_of(editor_current());
     set_text(ed->title_entry, "lunch");
     type_time(t->start, date_text_format(start, false));
     EXPECT_EQ(-1, type_time(t->end, "noonish"));
     ok_with_bad_text = sensitive(ed->ok_button) || sensitive(ed->apply_button);
     type_time(t->end, date_text_format(start + 1800, false));
     ok_fixed = sensitive(ed->ok_button);
     gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(rb->check), TRUE);
     gtk_combo_box_set_active(GTK_COMBO_BOX(rb->freq), 0);  // daily
     gtk_combo_box_set_active(GTK_COMBO_BOX(rb->freq), 3);  // yearly
     respond(w, GTK_RESPONSE_APPLY);
   })
      .then([&](GtkWindow* w) {
        Editor* ed = editor_current();
        EventTimes* t = times_of(ed);
        RecurrenceBox* rb = recur_of(editor_current());
        start_kept = date_text_format(date_picker_get(t->start), false);
        rule_kept = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(rb->check)) && rb->rule.freq == 4;
        set_text(ed->title_entry, "dinner");
        respond(w, GTK_RESPONSE_OK);
      });
  int64_t last = item_edit(ITEM_EVENT, -1, tag);
  EXPECT_EQ(0, s.unexpected);
  EXPECT_FALSE(ok_with_bad_text);
  EXPECT_TRUE(ok_fixed);
  EXPECT_EQ(date_text_format(start, false), start_kept);
  EXPECT_TRUE(rule_kept);
  EXPECT_EQ(2, count_items(ITEM_EVENT));
  Stored st = read_back_slot(last);
  ASSERT_TRUE(st.found);
  EXPECT_EQ("dinner", st.item.title);
  EXPECT_EQ(start, st.item.due);
  EXPECT_EQ(start + 1800, st.item.end);
  EXPECT_EQ(4, st.item.recurrence.freq);
  EXPECT_EQ(0, st.item.recurrence.interval_minus_one);
}

TEST_F(ScheduleEditorTest, DateTypedButNotConfirmedIsReadAtOkAndANonDateKeepsTheEditorOpen) {
  const int64_t due = lt(2031, 4, 2, 15, 45);
  Script s;
  bool still_open = false;
  s.then([](GtkWindow* w) {
     Editor* ed = editor_current();
     set_text(ed->title_entry, "call");
     // Typed, no Enter, no leaving the field: then OK from the keyboard.
     gtk_entry_set_text(GTK_ENTRY(date_picker_entry(due_of(ed)->picker)), "someday");
     respond(w, GTK_RESPONSE_OK);
   })
      .then([&, due](GtkWindow* w) {
        Editor* ed = editor_current();
        still_open = ed != nullptr && !date_picker_text_valid(due_of(ed)->picker);
        gtk_entry_set_text(GTK_ENTRY(date_picker_entry(due_of(ed)->picker)), date_text_format(due, false).c_str());
        respond(w, GTK_RESPONSE_OK);
      });
  int64_t slot = item_edit(ITEM_TASK, -1, tag);
  EXPECT_EQ(0, s.unexpected);
  EXPECT_TRUE(still_open);
  Stored st = read_back_slot(slot);
  ASSERT_TRUE(st.found);
  EXPECT_EQ(due, st.item.due);
  EXPECT_EQ(1, count_items(ITEM_TASK));
}

}  // namespace
