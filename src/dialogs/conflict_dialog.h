// SPDX-License-Identifier: GPL-3.0-or-later
// The choice between the server's and the local version of one object
// during a synchronisation, both shown rendered.
#pragma once

#include <gtk/gtk.h>

struct SyncConflict;

// 1 keep the server's version, 2 keep the local one, -1 cancelled.
int conflict_dialog(const SyncConflict& conflict);

// The widget showing one side (for tests): a text view of the rendered
// version, or a bold label when that side has no version.
GtkWidget* conflict_side_new(bool exists, const char* header, const char* body);
