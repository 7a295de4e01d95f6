// SPDX-License-Identifier: GPL-3.0-or-later
#include <ctime>

#include "model/list.h"
#include "model/ops.h"
#include "model/tag_ops.h"
#include "model/view_dates.h"
#include "model_fixture.h"

namespace {

bool g_repo1_hidden = true;
int hidden_lookup(int repo, RepoRef* out) {
  out->hidden = repo == 1 && g_repo1_hidden;
  return 0;
}

std::vector<int64_t> walk() {
  std::vector<int64_t> out;
  for (int64_t s = list_next(-1); s >= 0; s = list_next(s)) out.push_back(s);
  return out;
}

void show(int32_t view, int32_t kind = 0) {
  model().view = view;
  model().fixed_kind = kind;
}

class ListTest : public ModelTest {
 protected:
  void SetUp() override {
    ModelTest::SetUp();
    now = time(nullptr);
  }
  int64_t item(int type, int64_t due = 0, Recurrence r = Recurrence{}) {
    int64_t slot;
    add_item(type, due, r, &slot);
    return slot;
  }
  ScopedTz tz{"Europe/Berlin"};
  int64_t now = 0;
};

using V = std::vector<int64_t>;

TEST_F(ListTest, TagViewListsDirectLinksInLinkOrderOnly) {
  int64_t a = item(ITEM_NOTE), b = item(ITEM_TASK), c = item(ITEM_EVENT);
  tag_link_append(5, static_cast<int32_t>(b));
  tag_link_append(6, static_cast<int32_t>(c));  // a child tag of 5: not listed under 5
  tag_link_append(5, static_cast<int32_t>(a));
  show(5);
  EXPECT_EQ(walk(), (V{b, a}));
  show(6);
  EXPECT_EQ(walk(), (V{c}));
  show(7);
  EXPECT_EQ(walk(), V{});
  // Continuing from a position that is not the previous result still works.
  show(5);
  EXPECT_EQ(list_next(b), a);
  EXPECT_EQ(list_next(a), -1);
  EXPECT_EQ(list_next(c), -1);  // not in this view
}

TEST_F(ListTest, TrashedItemLeavesItsTagsButIsInTrashAndAllItems) {
  int64_t a = item(ITEM_NOTE), b = item(ITEM_NOTE);
  tag_link_append(3, static_cast<int32_t>(a));
  tag_link_append(3, static_cast<int32_t>(b));
  item_get(a)->flags = ITEM_TRASHED;
  show(3);
  EXPECT_EQ(walk(), (V{b}));
  show(VIEW_TRASH);
  EXPECT_EQ(walk(), (V{a}));
  show(VIEW_FIXED, FIXED_ALL);
  EXPECT_EQ(walk(), (V{a, b}));
  show(VIEW_FIXED, 4);  // notes: the trash flag is not looked at
  EXPECT_EQ(walk(), (V{a, b}));
}

TEST_F(ListTest, ShowCompletedSwitch) {
  int64_t done = item(ITEM_TASK, lt(2030, 1, 1, 10)), open = item(ITEM_TASK, lt(2030, 1, 1, 11));
  item_get(done)->flags = ITEM_COMPLETED;
  tag_link_append(2, static_cast<int32_t>(done));
  tag_link_append(2, static_cast<int32_t>(open));
  tag_link_append(VIEW_SEARCH, static_cast<int32_t>(done));
  app_core().settings.show_completed = 1;
  show(2);
  EXPECT_EQ(walk(), (V{done, open}));
  show(VIEW_FIXED, FIXED_TASKS);
  EXPECT_EQ(walk(), (V{done, open}));

  app_core().settings.show_completed = 0;
  show(2);
  EXPECT_EQ(walk(), (V{open}));
  show(VIEW_SEARCH);
  EXPECT_EQ(walk(), V{});
  show(VIEW_FIXED, FIXED_TASKS);
  EXPECT_EQ(walk(), (V{open}));
  show(VIEW_FIXED, FIXED_ALL);
  EXPECT_EQ(walk(), (V{done, open}));
  show(VIEW_FIXED, FIXED_UNTAGGED);
  EXPECT_EQ(walk(), V{});
  show(VIEW_FIXED, FIXED_UNTAGGED);
  tag_links_drop(2);
  EXPECT_EQ(walk(), (V{done, open}));  // the search link is no real tag

  // Upcoming and calendar lists never show items with flags.
  app_core().settings.show_completed = 1;
  model().calendar_day = lt(2030, 1, 1);
  show(VIEW_FIXED, FIXED_CALENDAR_DAY);
  EXPECT_EQ(walk(), (V{open}));
  show(VIEW_FIXED, FIXED_UPCOMING);
  model().upcoming_from = lt(2029, 12, 31);
  model().upcoming_to = lt(2030, 1, 2);
  EXPECT_EQ(walk(), (V{open}));
}

TEST_F(ListTest, HiddenRepositoriesAreLeftOutOfTagViewsAndTrashUnlessShown) {
  model().repo_lookup = hidden_lookup;
  int64_t a = item(ITEM_NOTE), b = item(ITEM_NOTE);
  item_get(b)->repo = 1;
  tag_link_append(4, static_cast<int32_t>(a));
  tag_link_append(4, static_cast<int32_t>(b));
  show(4);
  EXPECT_EQ(walk(), (V{a}));
  item_get(a)->flags = item_get(b)->flags = ITEM_TRASHED;
  show(VIEW_TRASH);
  EXPECT_EQ(walk(), (V{a}));
  show(VIEW_FIXED, FIXED_ALL);
  EXPECT_EQ(walk(), (V{a, b}));
  model().show_hidden = true;
  show(VIEW_TRASH);
  EXPECT_EQ(walk(), (V{a, b}));
}

TEST_F(ListTest, TypeListsAndUntagged) {
  int64_t t = item(ITEM_TASK), e = item(ITEM_EVENT), n = item(ITEM_NOTE), c = item(ITEM_VCARD), k = item(ITEM_KEY);
  tag_link_append(9, static_cast<int32_t>(n));
  const int64_t expected[] = {e, n, c, k};
  for (int kind = 3; kind <= 6; kind++) {
    show(VIEW_FIXED, kind);
    EXPECT_EQ(walk(), (V{expected[kind - 3]})) << kind;
  }
  show(VIEW_FIXED, FIXED_TASKS);
  EXPECT_EQ(walk(), (V{t}));
  show(VIEW_FIXED, FIXED_UNTAGGED);
  EXPECT_EQ(walk(), (V{t, e, c, k}));
  show(VIEW_FIXED, 9);  // no such list
  EXPECT_EQ(walk(), V{});
  show(0);  // the root entry is no list
  EXPECT_EQ(walk(), V{});
}

TEST_F(ListTest, UpcomingWindowIsOpenAtBothEnds) {
  app_core().settings.upcoming_days = 7;
  show(VIEW_FIXED, FIXED_UPCOMING);
  upcoming_window(now, 7);
  int64_t today = local_midnight(now);
  ASSERT_EQ(model().upcoming_from, today);
  ASSERT_EQ(model().upcoming_to, local_midnight_after(today, 7));
  int64_t at_midnight = item(ITEM_TASK, today);
  int64_t at_0001 = item(ITEM_TASK, today + 60);
  int64_t last_day = item(ITEM_EVENT, local_midnight_after(today, 7) - 60);
  int64_t at_end = item(ITEM_EVENT, local_midnight_after(today, 7));
  int64_t no_due = item(ITEM_NOTE);
  (void)at_midnight, (void)at_end, (void)no_due;
  EXPECT_EQ(walk(), (V{at_0001, last_day}));

  // In any other view the window is closed.
  show(2);
  upcoming_window(now, 7);
  EXPECT_EQ(model().upcoming_from, 0);
  EXPECT_EQ(model().upcoming_to, 0);
}

TEST_F(ListTest, CalendarDayListsOccurrencesOnThatDay) {
  model().calendar_day = lt(2031, 3, 12);
  show(VIEW_FIXED, FIXED_CALENDAR_DAY);
  int64_t on_day = item(ITEM_TASK, lt(2031, 3, 12, 23, 59));
  int64_t day_before = item(ITEM_TASK, lt(2031, 3, 11, 23, 59));
  int64_t day_after = item(ITEM_TASK, lt(2031, 3, 13, 0, 0));
  int64_t daily = item(ITEM_EVENT, lt(2031, 2, 1, 9), rule(FREQ_DAILY));
  int64_t weekly_other_day = item(ITEM_EVENT, lt(2031, 3, 4, 9), rule(FREQ_WEEKLY));  // Tuesdays; the 12th is a Wednesday
  int64_t weekly_on_day = item(ITEM_EVENT, lt(2031, 3, 5, 9), rule(FREQ_WEEKLY));
  Item* ended = item_get(item(ITEM_EVENT, lt(2031, 3, 1, 9), rule(FREQ_DAILY, 0, 0, RECUR_COUNT)));
  ended->recur_count = 3;
  item_set_last_occurrence(ended);
  (void)day_before, (void)day_after, (void)weekly_other_day;
  EXPECT_EQ(walk(), (V{on_day, daily, weekly_on_day}));
  item_get(daily)->flags = ITEM_TRASHED;
  EXPECT_EQ(walk(), (V{on_day, weekly_on_day}));
}

TEST_F(ListTest, IconsFollowKindAndDueState) {
  show(2);
  Item* task = item_get(item(ITEM_TASK, now - 86400));
  EXPECT_EQ(list_icon(task, now), ICON_TASK);  // overdue, but no reminder
  task->remind_offset = 600;
  EXPECT_EQ(list_icon(task, now), ICON_TASK_OVERDUE);
  task->due = now + 3600;
  EXPECT_EQ(list_icon(task, now), ICON_TASK_SOON);
  task->due = now + 86400;
  EXPECT_EQ(list_icon(task, now), ICON_TASK);
  task->due = now - 86400;
  task->flags = ITEM_COMPLETED;
  EXPECT_EQ(list_icon(task, now), ICON_TASK_DONE);

  Item* ev = item_get(item(ITEM_EVENT, now - 60));
  ev->remind_offset = 1;
  EXPECT_EQ(list_icon(ev, now), ICON_EVENT_OVERDUE);
  ev->due = now + 60;
  EXPECT_EQ(list_icon(ev, now), ICON_EVENT_SOON);
  ev->flags = ITEM_COMPLETED;  // only tasks have a completed look
  EXPECT_EQ(list_icon(ev, now), ICON_EVENT_SOON);
  ev->remind_offset = 0;
  EXPECT_EQ(list_icon(ev, now), ICON_EVENT);

  EXPECT_EQ(list_icon(item_get(item(ITEM_NOTE, now)), now), ICON_NOTE);
  EXPECT_EQ(list_icon(item_get(item(ITEM_VCARD)), now), ICON_VCARD);
  EXPECT_EQ(list_icon(item_get(item(ITEM_KEY)), now), ICON_KEY);
}

TEST_F(ListTest, ListTimeIsTheDisplayedOccurrence) {
  show(2);
  EXPECT_EQ(list_time(item_get(item(ITEM_NOTE))), 0);
  int64_t due = lt(2030, 6, 1, 8);
  EXPECT_EQ(list_time(item_get(item(ITEM_TASK, due))), due);
  // A daily series that began in the past shows its next occurrence.
  Item* daily = item_get(item(ITEM_EVENT, now - 10 * 86400 + 3600, rule(FREQ_DAILY)));
  int64_t t = list_time(daily);
  EXPECT_GE(t, now);
  EXPECT_LT(t, now + 86400 + 3600);
}

TEST_F(ListTest, RemindersViewAndCounts) {
  int64_t a = item(ITEM_TASK, now + 600), b = item(ITEM_TASK, now - 600), c = item(ITEM_EVENT, now + 7200);
  reminder_set(a, now - 60, now + 600);    // reminded, not yet due
  reminder_set(b, now - 1200, now - 600);  // reminded and due
  reminder_set(c, now + 3600, now + 7200);  // still to come
  int reminded = -1, due = -1;
  reminders_counts(now, &reminded, &due);
  EXPECT_EQ(reminded, 2);
  EXPECT_EQ(due, 1);
  EXPECT_EQ(reminder_of(c), now + 3600);
  EXPECT_EQ(reminder_of(9999), 0);

  tag_link_append(VIEW_REMINDERS, static_cast<int32_t>(c));  // stale link of an earlier refresh
  reminders_view_refresh(now);
  show(VIEW_REMINDERS);
  EXPECT_EQ(walk(), (V{a, b}));
  reminders_view_refresh(now + 3600);
  EXPECT_EQ(walk(), (V{a, b, c}));
  item_get(b)->flags = ITEM_COMPLETED;
  app_core().settings.show_completed = 0;
  EXPECT_EQ(walk(), (V{a, c}));
}

}  // namespace
