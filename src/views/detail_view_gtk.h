// SPDX-License-Identifier: GPL-3.0-or-later
// The detail pane: a read-only text view that shows the selected item's
// detail text in the markup renderer.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <string>

#include "views/markup_view_gtk.h"

// Makes the text view (its own tag table, not editable, margins 5, no
// visible cursor, accessible name) with the markup tags and link handlers.
GtkWidget* detail_view_new(const MarkupViewCallbacks& callbacks);
// Shows the detail text of the item at `slot`; a slot with no item empties
// the view.
void detail_view_show_item(GtkWidget* view, int64_t slot);
void detail_view_clear(GtkWidget* view);
// The plain text shown (tests, accessibility).
std::string detail_view_text(GtkWidget* view);
