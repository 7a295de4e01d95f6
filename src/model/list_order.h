// SPDX-License-Identifier: GPL-3.0-or-later
// The order in which the item list and the tag tree show their rows, shared
// by the window and the command-line tool.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ListRow {
  int64_t slot;  // item slot
  int64_t time;  // list time, 0 = none
  int group;     // 1..9 by day when ordered by date, else 10
};

// The list's sort column: 2 (date) for the reminders view and the upcoming
// list, else the "ui.sort_by" setting.
int list_sort_column(int sort_by);
// The items of the current view (model().view, fixed_kind) in list order:
// by day group, then by the sort column (2 date with undated last, 0 type,
// 1 none), ties by title collation.
std::vector<ListRow> list_rows(int sort_column, int64_t now);

// The same order finished part by part, for a window that shows its first
// rows at once: list_order_start orders the rows by everything but their
// titles, and each run of rows that ties there gets its collation keys (the
// dear part) only when the work reaches it.
// The order of everything but the titles, as one integer, and the row's
// place when it was found (equal keys keep it).
struct OrderKey {
  uint64_t key;
  uint32_t pos;
  bool operator<(const OrderKey& o) const { return key != o.key ? key < o.key : pos < o.pos; }
};

struct ListOrderJob {
  std::vector<ListRow> rows;  // every row of the view; [0, done) in final order
  size_t done = 0;
  // Private to the functions below.
  size_t sorted = 0;              // rows [0, sorted) ordered but for titles
  std::vector<OrderKey> tail;     // keys of the rows after them, unsorted
  std::vector<int8_t> types;      // item type by row, for the type order
  int sort_column = 2;
  size_t run_end = 0;             // end of the tied run being keyed, 0 none
  std::vector<std::string> keys;  // keys made so far for that run
};
ListOrderJob list_order_start(int sort_column, int64_t now);
// Makes at most `budget` collation keys, sorting each run once all its keys
// are made, and stops once at least `target` rows are final. Returns done.
size_t list_order_step(ListOrderJob* job, size_t budget, size_t target);

struct TagRow {
  int64_t slot;
  int depth;  // 0 for a repository's root tag
};
// Every tag in tree order: each parent before its children, siblings by the
// collation of their shown names (a root tag shows its repository's name,
// given by repo_name).
std::vector<TagRow> tag_tree_rows(std::string (*repo_name)(int repo));
