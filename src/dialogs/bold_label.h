// SPDX-License-Identifier: GPL-3.0-or-later
// Bold labels: headlines (12-point, scale 1.2) and column headings.
#pragma once

#include <gtk/gtk.h>

// A label showing text literally in bold, scaled by `scale` (1.0: normal).
GtkWidget* bold_label_new(const char* text, double scale = 1.0);
