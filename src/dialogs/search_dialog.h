// SPDX-License-Identifier: GPL-3.0-or-later
// The search dialog: asks for a text and fills the search results.
#pragma once

#include <gtk/gtk.h>

// Runs the dialog. Returns the number of items found (they are the search
// results, tag -1), or -1 when cancelled. A search that finds nothing says
// so and keeps the dialog open with the text.
int search_dialog();

struct SearchWidgets {
  GtkWidget* dialog = nullptr;
  GtkWidget* entry = nullptr;
  GtkWidget* case_check = nullptr;
  GtkWidget* ok = nullptr;
};
const SearchWidgets& search_widgets();
