// SPDX-License-Identifier: GPL-3.0-or-later
// The item history dialog: the stored earlier versions of one item, each
// shown rendered with its stored header, and deleting versions.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>

struct HistoryView;

// Shows the versions of the view (filled by history_load); deleting one
// takes it out of the view too.
void history_dialog(HistoryView* view);
// The item history command's core: loads the versions of the item at
// `slot` and runs the dialog on them. Returns the number of versions shown,
// or -1 (no such item, or loading failed).
int item_history(int64_t slot);

enum { HIST_COL_ICON, HIST_COL_TITLE, HIST_COL_DUE, HIST_COL_MODIFIED, HIST_COL_SLOT, HIST_COL_STAMP, HIST_COL_COUNT };

struct HistoryWidgets {
  GtkWidget* dialog = nullptr;
  GtkWidget* list = nullptr;    // tree view over the list store
  GtkListStore* store = nullptr;
  GtkWidget* text = nullptr;    // the rendered version
  GtkWidget* remove = nullptr;  // delete button
  HistoryView* view = nullptr;  // the versions shown
};
const HistoryWidgets& history_widgets();
// The delete button's handler (asks, then deletes the selected version).
void history_delete_selected();
