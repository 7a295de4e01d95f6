// SPDX-License-Identifier: GPL-3.0-or-later
// The item list's tree model: a read-only list over the rows that the core
// computed, answering the five store columns from the item records when the
// view asks. A reload builds a new one; nothing is copied per row. A long
// list starts with its first rows and grows at its end.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <string>
#include <vector>

struct ItemModelRow {
  int slot;      // item slot, -1 for a group header
  int group;     // 0..10
  int64_t time;  // list time, 0 none
};

// A model over the rows. labels[g] is the header text of group g (0..10);
// `now` decides the items' due-state icons.
GtkTreeModel* item_model_new(std::vector<ItemModelRow> rows, const std::string (&labels)[11], int64_t now);
// Appends rows at the end, telling the view of each.
void item_model_append(GtkTreeModel* model, const std::vector<ItemModelRow>& rows);
