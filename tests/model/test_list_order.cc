// SPDX-License-Identifier: GPL-3.0-or-later
// The order of the rows the window shows: the item list (day groups, date,
// type and title sorts, collation ties) and the tag tree; and the stored
// moves of due and reminder times behind the list's commands.
#include <glib.h>

#include <clocale>
#include <cstdio>

#include "model/due_moves.h"
#include "model/list_order.h"
#include "test_ops_fixture.h"

namespace {

class ListOrder : public ModelTest {
 protected:
  int64_t item(int type, const char* title, int64_t due = 0) {
    int64_t slot;
    add_item(type, due, Recurrence{}, &slot)->title = title;
    return slot;
  }
  static std::vector<int64_t> slots(const std::vector<ListRow>& rows) {
    std::vector<int64_t> out;
    for (const ListRow& r : rows) out.push_back(r.slot);
    return out;
  }
  static std::vector<int> groups(const std::vector<ListRow>& rows) {
    std::vector<int> out;
    for (const ListRow& r : rows) out.push_back(r.group);
    return out;
  }
  ScopedTz tz{"Europe/Berlin"};
  int64_t now = lt(2030, 1, 10, 12);
};

TEST_F(ListOrder, ByDateInDayGroupsWithUndatedLast) {
  int64_t note = item(ITEM_NOTE, "a note");
  int64_t week = item(ITEM_TASK, "in a week", lt(2030, 1, 17, 0));
  int64_t six = item(ITEM_TASK, "sixth day", lt(2030, 1, 16, 23, 59));
  int64_t tomorrow = item(ITEM_EVENT, "tomorrow", lt(2030, 1, 11, 0));
  int64_t later = item(ITEM_TASK, "b later today", lt(2030, 1, 10, 18));
  int64_t same_b = item(ITEM_TASK, "b same time", lt(2030, 1, 10, 9));
  int64_t same_a = item(ITEM_TASK, "a same time", lt(2030, 1, 10, 9));
  int64_t overdue = item(ITEM_TASK, "overdue", lt(2029, 12, 1, 8));
  model().view = VIEW_FIXED;
  model().fixed_kind = FIXED_ALL;
  auto rows = list_rows(2, now);
  EXPECT_EQ(slots(rows), (std::vector<int64_t>{overdue, same_a, same_b, later, tomorrow, six, week, note}));
  EXPECT_EQ(groups(rows), (std::vector<int>{1, 2, 2, 2, 3, 8, 9, 10}));
  EXPECT_EQ(rows.back().time, 0);
  EXPECT_EQ(rows.front().time, lt(2029, 12, 1, 8));
}

// In a UTF-8 locale ASCII titles take a shorter road to their collation
// key; mixed with accented and decomposed titles the order must still be the
// collation's.
TEST_F(ListOrder, TitleSortFollowsTheCollationInAUtf8Locale) {
  std::string saved = setlocale(LC_ALL, nullptr);
  // A language's collation where one is installed, else the codepoint order.
  if (!setlocale(LC_ALL, "en_US.UTF-8") && !setlocale(LC_ALL, "de_DE.UTF-8")) {
    ASSERT_NE(nullptr, setlocale(LC_ALL, "C.UTF-8"));
  }
  const char* titles[] = {"zebra", "\u00c9clair", "apple", "E\u0301clair", "Apple pie", "\u00e5ngstr\u00f6m",
                          "", "a", "~tilde", "10 items", "9 items", "\u0416\u0443\u043a"};
  std::vector<std::pair<std::string, int64_t>> expected;
  for (const char* t : titles) expected.push_back({t, item(ITEM_NOTE, t)});
  std::stable_sort(expected.begin(), expected.end(),
                   [](const auto& a, const auto& b) { return g_utf8_collate(a.first.c_str(), b.first.c_str()) < 0; });
  model().view = VIEW_FIXED;
  model().fixed_kind = FIXED_ALL;
  auto rows = list_rows(1, now);
  setlocale(LC_ALL, saved.c_str());
  std::vector<int64_t> want;
  for (auto& e : expected) want.push_back(e.second);
  EXPECT_EQ(slots(rows), want);
}

// Keys are bytes of the multibyte transform; titles that are not UTF-8 or
// hold a NUL still sort, and an all-ASCII run (the common list) follows the
// collation with its punctuation and case rules.
TEST_F(ListOrder, TitleKeysMatchTheCollationForAsciiAndBrokenTitles) {
  std::string saved = setlocale(LC_ALL, nullptr);
  if (!setlocale(LC_ALL, "en_US.UTF-8") && !setlocale(LC_ALL, "de_DE.UTF-8")) {
    ASSERT_NE(nullptr, setlocale(LC_ALL, "C.UTF-8"));
  }
  const char* ascii[] = {"b-side", "B side", "bside", "Bside", "a.b", "ab", "A b", "_x", "x_", "Item 10", "Item 9"};
  std::vector<std::pair<std::string, int64_t>> expected;
  for (const char* t : ascii) expected.push_back({t, item(ITEM_NOTE, t)});
  std::stable_sort(expected.begin(), expected.end(),
                   [](const auto& a, const auto& b) { return g_utf8_collate(a.first.c_str(), b.first.c_str()) < 0; });
  int64_t broken = item(ITEM_NOTE, "\xff\xfe not text");
  int64_t nul = item(ITEM_NOTE, "");
  item_get(nul)->title = std::string("zz\0aa", 5);
  model().view = VIEW_FIXED;
  model().fixed_kind = FIXED_ALL;
  auto rows = list_rows(1, now);
  setlocale(LC_ALL, saved.c_str());
  std::vector<int64_t> got = slots(rows);
  ASSERT_EQ(got.size(), expected.size() + 2);
  std::vector<int64_t> ascii_order;
  for (int64_t s : got)
    if (s != broken && s != nul) ascii_order.push_back(s);
  std::vector<int64_t> want;
  for (auto& e : expected) want.push_back(e.second);
  EXPECT_EQ(ascii_order, want);
}

TEST_F(ListOrder, ByTypeThenTitleAndByTitleAlone) {
  int64_t key = item(ITEM_KEY, "a key");
  int64_t task_b = item(ITEM_TASK, "b task", lt(2030, 1, 9));
  int64_t note = item(ITEM_NOTE, "a note");
  int64_t task_a = item(ITEM_TASK, "a task", lt(2030, 2, 1));
  int64_t event = item(ITEM_EVENT, "z event", lt(2030, 1, 11));
  model().view = VIEW_FIXED;
  model().fixed_kind = FIXED_ALL;
  auto by_type = list_rows(0, now);
  EXPECT_EQ(slots(by_type), (std::vector<int64_t>{task_a, task_b, event, note, key}));
  EXPECT_EQ(groups(by_type), (std::vector<int>(5, 10)));  // no day groups outside the date sort
  EXPECT_EQ(slots(list_rows(1, now)), (std::vector<int64_t>{key, note, task_a, task_b, event}));
}

// Finished a few keys at a time, the order grows only by whole tied runs,
// each prefix already final, and ends as list_rows has it, for every sort.
TEST_F(ListOrder, StepsFinishWholeRunsAndEndInTheListOrder) {
  for (int i = 0; i < 6; i++) {
    std::string n = std::to_string(5 - i);
    item(ITEM_TASK, ("task " + n).c_str(), lt(2030, 1, 12, 9));
    item(ITEM_NOTE, ("note " + n).c_str());
    item(ITEM_EVENT, ("event " + n).c_str(), lt(2030, 1, 10, 8 + i));
  }
  model().view = VIEW_FIXED;
  model().fixed_kind = FIXED_ALL;
  for (int column : {0, 1, 2}) {
    SCOPED_TRACE(column);
    std::vector<int64_t> want = slots(list_rows(column, now));
    ListOrderJob job = list_order_start(column, now);
    ASSERT_EQ(want.size(), job.rows.size());
    size_t done = 0;
    for (int steps = 0; done < job.rows.size(); steps++) {
      ASSERT_LT(steps, 100);
      size_t next = list_order_step(&job, 2, SIZE_MAX);
      ASSERT_GE(next, done);
      for (size_t k = 0; k < next; k++) EXPECT_EQ(want[k], job.rows[k].slot) << k;
      done = next;
    }
    // A target stops the work once that many rows are final.
    ListOrderJob first = list_order_start(column, now);
    size_t reached = list_order_step(&first, SIZE_MAX, 1);
    EXPECT_GE(reached, 1u);
    EXPECT_LE(reached, column == 1 ? want.size() : 6u);
  }
}

// A long list orders its first rows at once and the rest when the work gets
// there, a tied run that crosses from one to the other included.
TEST_F(ListOrder, LongListsOrderTheRestWhenReached) {
  std::vector<int64_t> dated, tied, undated;
  for (int i = 2039; i >= 0; i--) dated.insert(dated.begin(), item(ITEM_TASK, "dated", lt(2030, 2, 1) + i * 60));
  char title[16];
  for (int i = 99; i >= 0; i--) {
    std::snprintf(title, sizeof title, "t%03d", i);
    tied.insert(tied.begin(), item(ITEM_TASK, title, lt(2030, 3, 1)));
  }
  for (int i = 899; i >= 0; i--) {
    std::snprintf(title, sizeof title, "u%03d", i);
    undated.insert(undated.begin(), item(ITEM_NOTE, title));
  }
  model().view = VIEW_FIXED;
  model().fixed_kind = FIXED_ALL;
  std::vector<int64_t> want = dated;
  want.insert(want.end(), tied.begin(), tied.end());
  want.insert(want.end(), undated.begin(), undated.end());
  EXPECT_EQ(slots(list_rows(2, now)), want);
  ListOrderJob job = list_order_start(2, now);
  EXPECT_EQ(list_order_step(&job, SIZE_MAX, 300), 300u);
  for (size_t k = 0; k < 300; k++) ASSERT_EQ(want[k], job.rows[k].slot) << k;
  list_order_step(&job, 7, SIZE_MAX);
  while (list_order_step(&job, 7, SIZE_MAX) < want.size()) {
  }
  EXPECT_EQ(slots(job.rows), want);
}

TEST_F(ListOrder, EqualTitlesKeepTheirListOrder) {
  int64_t first = item(ITEM_NOTE, "same");
  int64_t second = item(ITEM_NOTE, "same");
  int64_t third = item(ITEM_TASK, "same");
  model().view = VIEW_FIXED;
  model().fixed_kind = FIXED_ALL;
  EXPECT_EQ(slots(list_rows(1, now)), (std::vector<int64_t>{first, second, third}));
  EXPECT_EQ(slots(list_rows(0, now)), (std::vector<int64_t>{third, first, second}));
  EXPECT_EQ(slots(list_rows(2, now)), (std::vector<int64_t>{first, second, third}));
}

TEST_F(ListOrder, ReminderViewsAndUpcomingAlwaysSortByDate) {
  model().view = VIEW_REMINDERS;
  EXPECT_EQ(2, list_sort_column(0));
  model().view = VIEW_FIXED;
  model().fixed_kind = FIXED_UPCOMING;
  EXPECT_EQ(2, list_sort_column(1));
  model().fixed_kind = FIXED_TASKS;
  EXPECT_EQ(1, list_sort_column(1));
  model().view = 3;
  EXPECT_EQ(0, list_sort_column(0));
}

std::string shown_repo_name(int repo) { return repo == 0 ? "Zeta" : "Alpha"; }

class TagTreeOrder : public RepoModelTest {};

TEST_F(TagTreeOrder, ParentsBeforeChildrenSiblingsByShownName) {
  int64_t r0 = g_repos[0].root, r1 = g_repos[1].root;
  int64_t work = tag_create(0, r0, "work");
  int64_t b = tag_create(0, work, "b");
  int64_t a = tag_create(0, work, "a");
  int64_t home = tag_create(0, r0, "home");
  int64_t other = tag_create(1, r1, "other");
  int64_t deep = tag_create(0, a, "deep");
  std::vector<int64_t> got;
  std::vector<int> depths;
  for (const TagRow& r : tag_tree_rows(shown_repo_name)) {
    got.push_back(r.slot);
    depths.push_back(r.depth);
  }
  // Repository 1 shows as "Alpha": before "Zeta", whatever its stored "/".
  EXPECT_EQ(got, (std::vector<int64_t>{r1, other, r0, home, work, a, deep, b}));
  EXPECT_EQ(depths, (std::vector<int>{0, 1, 0, 1, 1, 2, 3, 2}));
}

class DueMoves : public RepoModelTest {
 protected:
  ScopedTz tz{"Europe/Berlin"};
};

TEST_F(DueMoves, MovesKeepTheReminderLeadAndHiddenItemsGetNoEntry) {
  int64_t now = lt(2030, 1, 10, 12);
  model().view = static_cast<int32_t>(g_repos[1].root);
  ItemForm f;
  f.title = "at the due time";
  f.due = lt(2030, 1, 3, 14, 30);  // last week
  f.remind_unit = 1;
  f.remind_count = 0;  // offset 1: at the due time
  int64_t slot = item_store(-1, ITEM_TASK, f, 0, model().view);
  ASSERT_GE(slot, 0);
  Item* task = item_get(slot);
  task->next_remind = task->due;  // as if set while it was upcoming
  ASSERT_EQ(0, due_move_at(slot, 1, now));
  EXPECT_EQ(fmt(task->due), "2030-01-11 14:30:00");
  EXPECT_EQ(task->next_remind, task->due);  // lead 0, not 1 second
  ASSERT_NE(nullptr, reminder_find(slot));
  EXPECT_EQ(task->due, reminder_find(slot)->due_at);

  g_repos[1].hidden = true;
  ASSERT_EQ(0, due_move_at(slot, 3, now));
  EXPECT_EQ(fmt(task->due), "2030-01-13 14:30:00");
  EXPECT_EQ(nullptr, reminder_find(slot));
  EXPECT_EQ(1, task->remind_offset);
}

TEST_F(DueMoves, ReminderNextOfARepeatingEventMovesToItsNextOccurrence) {
  int64_t now = lt(2030, 1, 10, 8, 55);
  model().view = static_cast<int32_t>(g_repos[0].root);
  ItemForm f;
  f.title = "stand-up";
  f.due = lt(2030, 1, 6, 9);
  f.end = f.due + 900;
  f.freq = FREQ_WEEKLY;
  f.by_day = 1 << 1 | 1 << 4;  // Mondays and Thursdays
  f.remind_unit = 1;
  f.remind_count = 10;
  int64_t slot = item_store(-1, ITEM_EVENT, f, 0, model().view);
  ASSERT_GE(slot, 0);
  Item* ev = item_get(slot);
  ASSERT_EQ(0, reminder_next_at(slot, now));  // shown on Thursday 10 January
  EXPECT_EQ(fmt(ev->next_remind), "2030-01-14 08:50:00");
  EXPECT_EQ(600, ev->remind_offset);
  EXPECT_EQ(lt(2030, 1, 6, 9), ev->due);  // the series keeps its start
  ASSERT_NE(nullptr, reminder_find(slot));
  EXPECT_EQ(lt(2030, 1, 14, 9), reminder_find(slot)->due_at);
  EXPECT_EQ(-1, reminder_next_at(-1, now));
}

}  // namespace
