// SPDX-License-Identifier: GPL-3.0-or-later
#include <vector>

#include "model/view_dates.h"
#include "model_fixture.h"

namespace {

int64_t step(int64_t t, const Recurrence& r) { return recur_step(t, r.freq, r.interval_minus_one, r.by_day); }

class Zoned : public ModelTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    ModelTest::SetUp();
    tz_ = new ScopedTz(GetParam());
  }
  void TearDown() override {
    delete tz_;
    ModelTest::TearDown();
  }
  ScopedTz* tz_ = nullptr;
};

INSTANTIATE_TEST_SUITE_P(Zones, Zoned, ::testing::Values("UTC", "Europe/Berlin", "America/New_York"));

TEST_P(Zoned, MonthlyOnThe31stSkipsShortMonths) {
  int64_t due = lt(2026, 1, 31, 10, 15);
  Recurrence monthly = rule(FREQ_MONTHLY);
  int64_t t = step(due, monthly);
  EXPECT_EQ(fmt(t), "2026-03-31 10:15:00");
  EXPECT_EQ(fmt(step(t, monthly)), "2026-05-31 10:15:00");
  EXPECT_EQ(fmt(recur_first_at_or_after(due, monthly, lt(2026, 4, 1))), "2026-05-31 10:15:00");
  EXPECT_EQ(fmt(recur_advance(due, monthly, 3)), "2026-07-31 10:15:00");
  EXPECT_EQ(fmt(recur_advance(due, monthly, 4)), "2026-08-31 10:15:00");
  // Every second month from 31 January: March, May, July, then September and
  // November have no 31st.
  Recurrence every2 = rule(FREQ_MONTHLY, 1);
  EXPECT_EQ(fmt(step(lt(2026, 7, 31, 8), every2)), "2027-01-31 08:00:00");
}

TEST_P(Zoned, MonthlyByWeekdayKeepsTheWeekCappedAtTheFourth) {
  // 30 January 2026 is the fifth Friday of the month.
  Recurrence r = rule(FREQ_MONTHLY, 0, 1);
  int64_t t = step(lt(2026, 1, 30, 18), r);
  EXPECT_EQ(fmt(t), "2026-02-27 18:00:00");  // the fourth Friday
  EXPECT_EQ(fmt(step(t, r)), "2026-03-27 18:00:00");
  // Second Tuesday (10 March 2026) three months on.
  EXPECT_EQ(fmt(step(lt(2026, 3, 10, 7), rule(FREQ_MONTHLY, 2, 1))), "2026-06-09 07:00:00");
}

TEST_P(Zoned, WeeklyOnChosenWeekdays) {
  const int mon_fri = 1 << 1 | 1 << 5;
  int64_t friday = lt(2026, 1, 30, 9);
  EXPECT_EQ(fmt(step(friday, rule(FREQ_WEEKLY, 0, mon_fri))), "2026-02-02 09:00:00");
  EXPECT_EQ(fmt(step(friday, rule(FREQ_WEEKLY, 1, mon_fri))), "2026-02-09 09:00:00");
  EXPECT_EQ(fmt(step(lt(2026, 2, 2, 9), rule(FREQ_WEEKLY, 1, mon_fri))), "2026-02-06 09:00:00");
  EXPECT_EQ(fmt(step(friday, rule(FREQ_WEEKLY))), "2026-02-06 09:00:00");
  // A start on a weekday outside the rule: Wednesday, then Friday, Monday, Friday.
  int64_t wednesday = lt(2026, 1, 28, 9);
  Recurrence r = rule(FREQ_WEEKLY, 0, mon_fri);
  EXPECT_EQ(fmt(recur_advance(wednesday, r, 1)), "2026-01-30 09:00:00");
  EXPECT_EQ(fmt(recur_advance(wednesday, r, 2)), "2026-02-02 09:00:00");
  EXPECT_EQ(fmt(recur_advance(wednesday, r, 3)), "2026-02-06 09:00:00");
  EXPECT_EQ(fmt(recur_first_at_or_after(wednesday, r, lt(2026, 2, 3))), "2026-02-06 09:00:00");
}

TEST_P(Zoned, YearlyOn29February) {
  int64_t due = lt(2024, 2, 29, 12);
  Recurrence yearly = rule(FREQ_YEARLY);
  EXPECT_EQ(fmt(step(due, yearly)), "2025-03-01 12:00:00");
  EXPECT_EQ(fmt(recur_first_at_or_after(due, yearly, lt(2025, 1, 1))), "2025-03-01 12:00:00");
  // Counted from the start, leap years keep the 29th.
  EXPECT_EQ(fmt(recur_first_at_or_after(due, yearly, lt(2027, 6, 1))), "2028-02-29 12:00:00");
  EXPECT_EQ(fmt(recur_advance(due, yearly, 4)), "2028-02-29 12:00:00");
  EXPECT_EQ(fmt(step(lt(2023, 5, 3, 12), rule(FREQ_YEARLY, 1))), "2025-05-03 12:00:00");
}

TEST_P(Zoned, DailyKeepsTheTimeOfDayAcrossDaylightSavingChanges) {
  Recurrence daily = rule(FREQ_DAILY);
  int64_t t = lt(2026, 3, 6, 9);  // before the spring change of both zones
  for (int i = 0; i < 40; i++) {
    int64_t next = step(t, daily);
    EXPECT_EQ(fmt(next).substr(11), "09:00:00") << fmt(next);
    EXPECT_GE(next - t, 23 * 3600);
    EXPECT_LE(next - t, 25 * 3600);
    t = next;
  }
  int64_t due = lt(2026, 3, 1, 9);
  EXPECT_EQ(fmt(recur_first_at_or_after(due, daily, lt(2026, 11, 2, 9, 0, 1))), "2026-11-03 09:00:00");
  EXPECT_EQ(fmt(recur_first_at_or_after(due, rule(FREQ_DAILY, 2), lt(2026, 3, 2))), "2026-03-04 09:00:00");
}

TEST_P(Zoned, SkippingAheadMatchesSteppingOneByOne) {
  const int64_t starts[] = {lt(2026, 1, 28, 9, 30), lt(2025, 12, 31, 23, 45), lt(2026, 3, 29, 0, 10)};
  const Recurrence rules[] = {rule(FREQ_DAILY),          rule(FREQ_DAILY, 4),         rule(FREQ_WEEKLY),
                              rule(FREQ_WEEKLY, 1, 0x2a), rule(FREQ_WEEKLY, 0, 0x41), rule(FREQ_MONTHLY),
                              rule(FREQ_MONTHLY, 0, 1),   rule(FREQ_MONTHLY, 5),      rule(FREQ_YEARLY)};
  for (int64_t start : starts) {
    for (const Recurrence& r : rules) {
      int64_t t = start;
      for (int k = 1; k <= 60; k++) {
        t = step(t, r);
        ASSERT_EQ(fmt(recur_advance(start, r, k)), fmt(t)) << fmt(start) << " freq " << int(r.freq) << " k " << k;
        ASSERT_EQ(fmt(recur_first_at_or_after(start, r, t)), fmt(t));
        ASSERT_EQ(fmt(recur_first_at_or_after(start, r, t - 1)), fmt(t));
      }
    }
  }
}

TEST(Recur, ClockSkipsDoNotMoveLaterOccurrences) {
  ScopedTz tz("Europe/Berlin");
  // 02:30 does not exist on 29 March 2026.
  int64_t due = lt(2026, 3, 28, 2, 30);
  Recurrence daily = rule(FREQ_DAILY);
  EXPECT_EQ(fmt(step(due, daily)).substr(0, 10), "2026-03-29");
  EXPECT_EQ(fmt(recur_first_at_or_after(due, daily, lt(2026, 3, 29, 12))), "2026-03-30 02:30:00");
}

TEST(Recur, UnknownOrNoFrequencyDoesNotAdvance) {
  ScopedTz tz("UTC");
  EXPECT_EQ(recur_step(1000, 0, 0, 0), 1000);
  EXPECT_EQ(recur_step(1000, 9, 0, 0), 1000);
  Item item;
  item.due = 5000;
  item.recurrence = rule(7);
  item_set_last_occurrence(&item);
  EXPECT_EQ(item.last_occurrence, 5000);
  EXPECT_EQ(item_occurrence_from(&item, 6000), 0);
  EXPECT_EQ(item_occurrence_from(&item, 5000), 5000);
}

TEST(Recur, LastOccurrenceFollowsTheEndOfTheRule) {
  ScopedTz tz("Europe/Berlin");
  Item item;
  item.due = lt(2026, 3, 27, 9);
  item_set_last_occurrence(&item);
  EXPECT_EQ(item.last_occurrence, item.due);

  item.recurrence = rule(FREQ_DAILY, 0, 0, RECUR_COUNT);
  item.recur_count = 3;
  item_set_last_occurrence(&item);
  EXPECT_EQ(fmt(item.last_occurrence), "2026-03-29 09:00:00");
  item.recur_count = 1;
  item_set_last_occurrence(&item);
  EXPECT_EQ(item.last_occurrence, item.due);
  item.recur_count = 0;
  item_set_last_occurrence(&item);
  EXPECT_EQ(item.last_occurrence, item.due);
  item.recur_count = 2000000000;  // ends far beyond any calendar we show
  item.recurrence = rule(FREQ_MONTHLY, 0, 0, RECUR_COUNT);
  item.due = lt(2026, 1, 31, 9);
  item_set_last_occurrence(&item);
  EXPECT_EQ(item.last_occurrence, RECUR_FOREVER_TIME);

  for (int freq = FREQ_DAILY; freq <= FREQ_YEARLY; freq++) {
    for (int by_day : {0, 0x22}) {
      item.recurrence = rule(freq, 0, by_day, RECUR_COUNT);
      item_set_last_occurrence(&item);
      EXPECT_GE(item.last_occurrence, RECUR_FOREVER_TIME) << freq;
    }
  }

  item.recurrence = rule(FREQ_DAILY, 0, 0, RECUR_FOREVER);
  item_set_last_occurrence(&item);
  EXPECT_EQ(item.last_occurrence, RECUR_FOREVER_TIME);

  item.recurrence = rule(FREQ_DAILY, 0, 0, RECUR_UNTIL);
  item.last_occurrence = lt(2026, 4, 1);
  item_set_last_occurrence(&item);
  EXPECT_EQ(item.last_occurrence, lt(2026, 4, 1));
  EXPECT_EQ(item_occurrence_from(&item, lt(2026, 3, 31, 10)), 0);
  EXPECT_EQ(fmt(item_occurrence_from(&item, lt(2026, 3, 31, 8))), "2026-03-31 09:00:00");
}

TEST(Recur, NextHalfHour) {
  ScopedTz tz("Europe/Berlin");
  EXPECT_EQ(fmt(next_half_hour_at(lt(2026, 6, 1, 10, 5, 20))), "2026-06-01 11:00:00");
  EXPECT_EQ(fmt(next_half_hour_at(lt(2026, 6, 1, 9, 59, 0))), "2026-06-01 10:30:00");
  EXPECT_EQ(fmt(next_half_hour_at(lt(2026, 6, 1, 10, 0, 0))), "2026-06-01 11:00:00");
  EXPECT_EQ(fmt(next_half_hour_at(lt(2026, 6, 1, 23, 40, 0))), "2026-06-02 00:30:00");
  EXPECT_EQ(fmt(next_half_hour_at(lt(2026, 6, 30, 23, 31, 0))), "2026-07-01 00:30:00");
}

using Reminders = ModelTest;

TEST_F(Reminders, NextReminderAfterAnEdit) {
  ScopedTz tz("America/New_York");
  int64_t now = lt(2026, 3, 10, 12);
  Item* task = add_item(ITEM_TASK, lt(2026, 3, 11, 10));
  task->remind_offset = 600;
  item_next_remind(task, now);
  EXPECT_EQ(task->next_remind, task->due - 600);

  task->remind_offset = 1;  // at the due time itself
  item_next_remind(task, now);
  EXPECT_EQ(task->next_remind, task->due);

  Item* daily = add_item(ITEM_EVENT, lt(2026, 3, 1, 9), rule(FREQ_DAILY));
  daily->remind_offset = 3600;
  item_next_remind(daily, now);
  EXPECT_EQ(fmt(daily->next_remind), "2026-03-11 08:00:00");

  Item* past = add_item(ITEM_TASK, lt(2026, 3, 9, 10));
  past->remind_offset = 600;
  item_next_remind(past, now);
  EXPECT_EQ(past->remind_offset, 0);
  EXPECT_EQ(past->next_remind, 0);

  Item* done = add_item(ITEM_TASK, lt(2026, 3, 11, 10));
  done->flags = ITEM_COMPLETED;
  done->remind_offset = 600;
  item_next_remind(done, now);
  EXPECT_EQ(done->remind_offset, 0);

  Item* ended = add_item(ITEM_TASK, lt(2026, 3, 1, 9), rule(FREQ_DAILY, 0, 0, RECUR_COUNT));
  ended->recur_count = 3;
  item_set_last_occurrence(ended);
  ended->remind_offset = 600;
  item_next_remind(ended, now);
  EXPECT_EQ(ended->next_remind, 0);
}

TEST_F(Reminders, AdvanceMovesToTheNextOccurrence) {
  ScopedTz tz("Europe/Berlin");
  Item* daily = add_item(ITEM_EVENT, lt(2026, 3, 1, 9), rule(FREQ_DAILY));
  daily->remind_offset = 600;
  daily->next_remind = lt(2026, 3, 28, 8, 50);
  reminder_advance(daily, lt(2026, 3, 28, 8, 55));  // shown five minutes before 09:00
  EXPECT_EQ(fmt(daily->next_remind), "2026-03-29 08:50:00");  // across the clock change
  EXPECT_EQ(daily->due, lt(2026, 3, 1, 9));

  Item* once = add_item(ITEM_TASK, lt(2026, 3, 28, 9));
  once->remind_offset = 600;
  once->next_remind = once->due - 600;
  reminder_advance(once, lt(2026, 3, 28, 8, 55));
  EXPECT_EQ(once->next_remind, 0);
  EXPECT_EQ(once->remind_offset, 0);
}

TEST_F(Reminders, ListNotifiesOnChangesOnly) {
  static int calls;
  calls = 0;
  model().reminder_changed = [] { calls++; };
  reminder_set(3, 100, 700);
  EXPECT_EQ(calls, 1);
  reminder_set(3, 100, 800);  // same reminder time: no notification
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(reminder_find(3)->due_at, 800);
  reminder_set(3, 200, 800);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(slot_array_count(model().reminders), 1);
  reminder_remove(3);
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(reminder_find(3), nullptr);
  reminder_remove(3);
  EXPECT_EQ(calls, 3);
}

TEST_F(Reminders, RebuildTakesPendingRemindersOfItemsWithoutFlags) {
  int64_t a, b, c;
  Item* ia = add_item(ITEM_TASK, 10000, Recurrence{}, &a);
  ia->remind_offset = 600;
  ia->next_remind = 9400;
  Item* ib = add_item(ITEM_TASK, 10000, Recurrence{}, &b);
  ib->remind_offset = 1;
  ib->next_remind = 10000;
  Item* ic = add_item(ITEM_TASK, 10000, Recurrence{}, &c);
  ic->remind_offset = 600;
  ic->next_remind = 9400;
  ic->flags = ITEM_COMPLETED;
  reminders_rebuild();
  EXPECT_EQ(slot_array_count(model().reminders), 2);
  EXPECT_EQ(reminder_find(a)->due_at, 10000);
  EXPECT_EQ(reminder_find(b)->due_at, 10000);
  EXPECT_EQ(reminder_find(c), nullptr);
}

using Timer = ModelTest;

TEST_F(Timer, WithoutItemsWaitsForMidnight) {
  ScopedTz tz("Europe/Berlin");
  int64_t now = lt(2026, 3, 28, 12);
  EXPECT_EQ(get_next_timer(now), lt(2026, 3, 29, 0) - now + 2);
  now = lt(2026, 3, 29, 0, 30);  // a 23-hour day
  EXPECT_EQ(get_next_timer(now), lt(2026, 3, 30, 0) - now + 2);
}

TEST_F(Timer, TakesTheNearestReminderOrDueChange) {
  ScopedTz tz("UTC");
  int64_t now = lt(2026, 5, 4, 12);
  add_item(ITEM_EVENT, now + 30 * 3600);  // within a day at now + 6 h
  EXPECT_EQ(get_next_timer(now), 6 * 3600 + 2);
  Item* note = add_item(ITEM_NOTE, now + 3600);
  EXPECT_EQ(get_next_timer(now), 6 * 3600 + 2);
  note->remind_offset = 600;
  note->next_remind = now + 3000;
  EXPECT_EQ(get_next_timer(now), 3000 + 2);
  Item* done = add_item(ITEM_TASK, now + 60);
  done->flags = ITEM_COMPLETED;
  EXPECT_EQ(get_next_timer(now), 3000 + 2);
  add_item(ITEM_TASK, lt(2026, 4, 1, 13), rule(FREQ_DAILY));  // today 13:00
  EXPECT_EQ(get_next_timer(now), 3000 + 2);
  note->next_remind = now + 5000;
  EXPECT_EQ(get_next_timer(now), 3600 + 2);
  note->next_remind = now - 1;  // a reminder already past does not count
  EXPECT_EQ(get_next_timer(now), 3600 + 2);
}

TEST_F(Timer, HiddenRepositoriesDoNotCount) {
  ScopedTz tz("UTC");
  int64_t now = lt(2026, 5, 4, 12);
  Item* item = add_item(ITEM_TASK, now + 100);
  item->repo = 1;
  model().repo_lookup = [](int repo, RepoRef* out) {
    out->hidden = repo == 1;
    return 0;
  };
  EXPECT_EQ(get_next_timer(now), 12 * 3600 + 2);
  model().show_hidden = true;
  EXPECT_EQ(get_next_timer(now), 100 + 2);
}

using Calendar = ModelTest;

TEST_F(Calendar, MonthMarks) {
  ScopedTz tz("Europe/Berlin");
  add_item(ITEM_EVENT, lt(2026, 2, 2, 19), rule(FREQ_WEEKLY));  // Mondays
  add_item(ITEM_TASK, lt(2026, 3, 29, 2, 30));                  // on the day the clock skips
  Item* done = add_item(ITEM_TASK, lt(2026, 3, 5, 9));
  done->flags = ITEM_COMPLETED;
  Item* three = add_item(ITEM_TASK, lt(2026, 3, 10, 9), rule(FREQ_DAILY, 0, 0, RECUR_COUNT));
  three->recur_count = 3;
  item_set_last_occurrence(three);
  add_item(ITEM_TASK, lt(2026, 4, 1, 0));  // next month
  add_item(ITEM_TASK, lt(2026, 2, 28, 23, 59));  // previous month
  Item* until = add_item(ITEM_EVENT, lt(2025, 12, 31, 23, 30), rule(FREQ_MONTHLY, 0, 0, RECUR_UNTIL));
  until->last_occurrence = lt(2026, 3, 31, 12);  // 31 March 23:30 is after it
  uint32_t want = 0;
  for (int d : {2, 9, 16, 23, 30, 29, 10, 11, 12}) want |= 1u << (d - 1);
  EXPECT_EQ(calendar_month_marks(2026, 3), want);
  until->last_occurrence = lt(2026, 3, 31, 23, 30);
  EXPECT_EQ(calendar_month_marks(2026, 3), want | 1u << 30);
  EXPECT_EQ(calendar_month_marks(2026, 13), 0u);
}

// Sao Paulo moved its clocks from 00:00 to 01:00 on 4 November 2018: that
// day has no midnight, and items either side of the gap keep their days.
TEST_F(Calendar, MarksOnADayWithoutMidnight) {
  ScopedTz tz("America/Sao_Paulo");
  add_item(ITEM_TASK, lt(2018, 11, 3, 23, 30));
  add_item(ITEM_TASK, lt(2018, 11, 4, 1, 30));
  add_item(ITEM_EVENT, lt(2018, 11, 30, 23, 59));
  EXPECT_EQ(calendar_month_marks(2018, 11), 1u << 2 | 1u << 3 | 1u << 29);
}

TEST_F(Calendar, DailyItemMarksEveryDay) {
  ScopedTz tz("America/New_York");
  add_item(ITEM_TASK, lt(2020, 2, 1, 8), rule(FREQ_DAILY));
  EXPECT_EQ(calendar_month_marks(2024, 2), (1u << 29) - 1);  // 29 days
  EXPECT_EQ(calendar_month_marks(2026, 3), 0x7fffffffu);
}

TEST_F(Calendar, SelectedDayAndUpcomingWindow) {
  ScopedTz tz("Europe/Berlin");
  calendar_select_day(2026, 3, 29);
  EXPECT_EQ(model().calendar_day, lt(2026, 3, 29));
  model().view = VIEW_FIXED;
  model().fixed_kind = FIXED_UPCOMING;
  upcoming_window(lt(2026, 3, 28, 15), 5);
  EXPECT_EQ(model().upcoming_from, lt(2026, 3, 28));
  EXPECT_EQ(model().upcoming_to, lt(2026, 4, 2));
  model().view = 3;
  upcoming_window(lt(2026, 3, 28, 15), 5);
  EXPECT_EQ(model().upcoming_from, 0);
  EXPECT_EQ(model().upcoming_to, 0);
}

using Displayed = ModelTest;

TEST_F(Displayed, OccurrenceDependsOnTheView) {
  ScopedTz tz("Europe/Berlin");
  int64_t now = lt(2026, 3, 28, 12);
  Item* daily = add_item(ITEM_EVENT, lt(2026, 3, 1, 9), rule(FREQ_DAILY));
  Item* once = add_item(ITEM_TASK, lt(2026, 3, 1, 9));
  EXPECT_EQ(displayed_occurrence_at(once, now), once->due);
  EXPECT_EQ(fmt(displayed_occurrence_at(daily, now)), "2026-03-29 09:00:00");
  daily->flags = ITEM_COMPLETED;
  EXPECT_EQ(displayed_occurrence_at(daily, now), daily->due);
  daily->flags = 0;

  model().fixed_kind = FIXED_CALENDAR_DAY;
  calendar_select_day(2026, 3, 20);
  EXPECT_EQ(fmt(displayed_occurrence_at(daily, now)), "2026-03-20 09:00:00");
  calendar_select_day(2026, 2, 20);
  EXPECT_EQ(displayed_occurrence_at(daily, now), 0);

  model().view = VIEW_REMINDERS;
  daily->next_remind = lt(2026, 3, 25, 8, 50);
  EXPECT_EQ(fmt(displayed_occurrence_at(daily, now)), "2026-03-25 09:00:00");
  Item* empty = add_item(ITEM_TASK, 0);
  EXPECT_EQ(displayed_occurrence_at(empty, now), 0);
}

}  // namespace
