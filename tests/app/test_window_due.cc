// SPDX-License-Identifier: GPL-3.0-or-later
// Move due date and next reminder through the command table: the stored due
// time, the series of a repeating task, the reminder entry and the undo step.
#include <gtest/gtest.h>

#include <ctime>

#include "gtk/editor_driver.h"
#include "model/ops.h"
#include "model/recur.h"
#include "model/reminders.h"
#include "storage/journal.h"
#include "window_fixture.h"

namespace {

using DueCommands = WindowTest;

// Local hh:mm of the day `days` from today.
int64_t day_at(int days, int hour, int minute) {
  int64_t now = time(nullptr);
  return local_day_at(now, days, local_midnight(now) + hour * 3600 + minute * 60);
}

int64_t store_repeating(int64_t tag, int type, const char* title, int64_t due, int end_kind, int count) {
  ItemForm f;
  f.title = title;
  f.due = due;
  f.end = type == ITEM_EVENT ? due + 3600 : 0;
  f.freq = 1;  // daily
  f.end_kind = end_kind;
  f.recur_count = count;
  f.remind_unit = 1;
  f.remind_count = 10;
  int32_t view = model().view;
  int64_t slot = item_store(-1, type, f, 0, tag);
  model().view = view;
  return slot;
}

TEST_F(DueCommands, MovingATaskKeepsItsTimeOfDayAndIsOneUndoStep) {
  int64_t old_due = day_at(-7, 14, 30);
  int64_t task = add(work, ITEM_TASK, "pay the rent", "", old_due);
  ASSERT_GE(task, 0);
  select(static_cast<int>(work));
  select_item(task);
  ASSERT_TRUE(command_enabled(CMD_MOVE_DUE, command_state(w)));
  auto before = dump(0);
  ASSERT_EQ(0, command_run(&w, CMD_MOVE_DUE, 1));
  pump();
  int64_t tomorrow = day_at(1, 14, 30);
  EXPECT_EQ(tomorrow, item_get(task)->due);
  Stored st = read_back_slot(task);
  ASSERT_TRUE(st.found);
  EXPECT_EQ(tomorrow, st.item.due);
  // It now lies ahead: the calendar marks the day it moved to.
  struct tm tm;
  time_t t = static_cast<time_t>(tomorrow);
  localtime_r(&t, &tm);
  EXPECT_TRUE(calendar_month_marks(tm.tm_year + 1900, tm.tm_mon + 1) >> (tm.tm_mday - 1) & 1);

  // The next half hour moves only what is earlier than it.
  ASSERT_EQ(0, command_run(&w, CMD_MOVE_DUE, 0));
  EXPECT_EQ(tomorrow, item_get(task)->due);

  auto moved = dump(0);
  ASSERT_EQ(0, journal_undo(db(0)));
  ASSERT_EQ(0, journal_undo(db(0)));
  EXPECT_EQ(before, dump(0));
  ASSERT_EQ(0, journal_redo(db(0)));
  ASSERT_EQ(0, journal_redo(db(0)));
  EXPECT_EQ(moved, dump(0));
}

TEST_F(DueCommands, ARepeatingTaskMovesItsSeriesAnEventIsNotMoved) {
  int64_t first = day_at(-10, 9, 0);
  int64_t task = store_repeating(work, ITEM_TASK, "water plants", first, RECUR_COUNT, 3);
  int64_t event = store_repeating(work, ITEM_EVENT, "stand-up", first, RECUR_FOREVER, 0);
  ASSERT_GE(task, 0);
  ASSERT_GE(event, 0);
  select(static_cast<int>(work));

  // Three occurrences from the new first one: the series moves along.
  select_item(task);
  ASSERT_EQ(0, command_run(&w, CMD_MOVE_DUE, 2));
  pump();
  const Item* it = item_get(task);
  int64_t due = day_at(2, 9, 0);
  EXPECT_EQ(due, it->due);
  EXPECT_EQ(recur_advance(due, it->recurrence, 2), it->last_occurrence);
  EXPECT_EQ(3, it->recur_count);
  EXPECT_EQ(due, item_occurrence_from(it, time(nullptr)));

  // Only tasks have their due date moved from the list.
  select_item(event);
  EXPECT_FALSE(command_enabled(CMD_MOVE_DUE, command_state(w)));
  EXPECT_EQ(-1, command_run(&w, CMD_MOVE_DUE, 1));
  EXPECT_EQ(first, item_get(event)->due);
}

TEST_F(DueCommands, NextReminderMovesToTheNextOccurrence) {
  int64_t event = store_repeating(work, ITEM_EVENT, "daily check", day_at(-3, 9, 0), RECUR_FOREVER, 0);
  ASSERT_GE(event, 0);
  // Its reminder came yesterday and was shown.
  Item* it = item_get(event);
  it->next_remind = day_at(-1, 9, 0) - 600;
  reminder_set(event, it->next_remind, it->next_remind + 600);
  select(VIEW_REMINDERS);
  select(static_cast<int>(work));
  select_item(event);
  ASSERT_EQ(0, command_run(&w, CMD_NEXT_REMINDER));
  pump();
  int64_t now = time(nullptr);
  int64_t next = item_occurrence_from(it, now + 600) - 600;
  EXPECT_EQ(next, it->next_remind);
  EXPECT_GT(it->next_remind, now - 1);
  EXPECT_EQ(day_at(-3, 9, 0), it->due) << "the series itself stays";
  Reminder* r = reminder_find(event);
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(next, r->remind_at);
  Stored st = read_back_slot(event);
  ASSERT_TRUE(st.found);
  EXPECT_EQ(next, st.item.next_remind);
}

}  // namespace
