// SPDX-License-Identifier: GPL-3.0-or-later
// The sixteen images of the resource bundle ("/icons/..."), loaded once at the
// screen's scale so that they stay crisp on HiDPI screens.
#pragma once

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtk/gtk.h>

enum IconSlot {
  ICON_SLOT_TASK = 0,        // list icons 0..9 follow ListIcon (model/list.h)
  ICON_SLOT_TAG = 10,
  ICON_SLOT_DATABASE = 11,
  ICON_SLOT_BULLET = 12,
  ICON_SLOT_APP = 13,        // tray icon, normal; window icon
  ICON_SLOT_APP_ALERT = 14,  // tray icon, something overdue
  ICON_SLOT_APP_48 = 15,     // window icon, 48 pixels
  ICON_SLOT_COUNT = 16,
};

// Resource path of a slot ("/icons/task_a.png"), nullptr outside 0..15.
const char* icon_resource(int slot);
// Loads the sixteen images (list and tree icons at 16 logical pixels times
// `scale`, the application icons at their own sizes). Returns 0, or -1 when
// one could not be loaded (that slot stays empty). Calling it again with a
// new scale reloads.
int icons_load(int scale);
// The image of a slot (owned by the table), nullptr when not loaded.
GdkPixbuf* icon_get(int slot);
// The scale the images were loaded at (1 before icons_load).
int icons_scale();
// Cell data helper: shows the pixbuf of store column `column` through a
// surface of the loaded scale, so that a 32-pixel image at scale 2 takes 16
// logical pixels.
void icon_cell_data(GtkTreeViewColumn* column, GtkCellRenderer* cell, GtkTreeModel* model, GtkTreeIter* iter,
                    gpointer store_column);
