// SPDX-License-Identifier: GPL-3.0-or-later
// The item list: icon, title and date of the items of the current view, in
// list order, grouped under day headers when ordered by date.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <string>
#include <vector>

#include "model/list_order.h"

enum ItemListColumn {
  ITEM_COL_ICON = 0,   // GdkPixbuf
  ITEM_COL_TITLE = 1,  // string
  ITEM_COL_TIME = 2,   // string "%F %H:%M" or ""
  ITEM_COL_SLOT = 3,   // int item slot, -1 for a header row
  ITEM_COL_GROUP = 4,  // int group 0..10
  ITEM_COL_COUNT,
};

struct ItemListCallbacks {
  void* data = nullptr;
  // The selection changed (blocked while the list is reloaded, then run once
  // by the cursor move that restores the selection).
  void (*selection_changed)(GtkTreeSelection* selection, void* data) = nullptr;
  // A row was activated (Enter, double click).
  void (*row_activated)(int64_t item, void* data) = nullptr;
  // A column header was clicked (0 icon, 1 title, 2 date).
  void (*column_clicked)(int column, void* data) = nullptr;
  // The list became empty: the window clears the detail view and status.
  void (*emptied)(void* data) = nullptr;
  // The keyboard asked for the context menu (Menu key, Shift+F10) of the
  // selected rows; true when a menu was shown.
  bool (*popup_menu)(void* data) = nullptr;
};

struct ItemList {
  GtkWidget* view = nullptr;  // GtkTreeView, selection mode multiple
  GtkTreeModel* store = nullptr;  // the rows with the columns above; replaced by every load
  GtkTreeViewColumn* columns[3] = {};
  std::vector<int> row_slots;  // item slot of every row of the store, -1 for headers
  ItemListCallbacks cb;
  gulong selection_handler = 0;
  int last_view = 0x7fffffff;  // the selected tag of the previous load
  int64_t candidate = -1;      // item to select after a load
  int sort_column = 2;         // effective sort column of the last load
  int64_t day_end = 0;         // b1 of the day the labels were made for
  int64_t bounds[8] = {};
  std::string day_labels[5];
  int group_counts[11] = {};
  int item_rows = 0;
  // A long list shows its first rows at once and adds the rest in idle
  // slices: the rows in list order (finished as they are reached), the next
  // one to add, and the header state carried from slice to slice.
  ListOrderJob fill;
  size_t fill_next = 0;
  int fill_group = -1;
  bool fill_headers = false;
  guint fill_source = 0;
  // Header rows: the light yellow of the light themes, a dark yellow with the
  // theme's text colour on dark themes.
  GdkRGBA header_bg = {1.0, 1.0, 0.866, 1.0};
  GdkRGBA header_fg = {0.0, 0.0, 0.0, 1.0};
  bool dark_theme = false;
};

// Makes the store and the view (icon column with object data "i", title and
// date columns with clickable headers, vertical grid lines, multiple
// selection, rows of one fixed height so that long lists need no measuring). The list owns itself and is freed when its view is destroyed.
ItemList* item_list_new(const ItemListCallbacks& callbacks);
// Refills the store from the current view; returns the number of item rows
// (all of them, also while the last rows are still being added).
int item_list_load(ItemList* list, int64_t now);
// Adds at once the rows a long list has still to add; a key pressed in the
// list does so first, so that navigation, select-all and type-ahead see
// every row.
void item_list_complete(ItemList* list);
// Reload and restore the cursor: the selected item's row, or the first item
// row; with no items the selection becomes -1 and `emptied` runs.
void item_list_reload(ItemList* list, int64_t now);
// Relabels the column titles (after a language change).
void item_list_relabel(ItemList* list);
// Puts the cursor on the row of the item (adding the rest of a long list if
// the item is not shown yet); false when it has none.
bool item_list_select_item(ItemList* list, int64_t item);
// The item of a row path, or -1 (header rows, no row).
int64_t item_list_item_at(ItemList* list, GtkTreePath* path);
// The items of the selected rows, in list order (header rows left out).
std::vector<int64_t> item_list_selected(ItemList* list);
