// SPDX-License-Identifier: GPL-3.0-or-later
// Small layout helpers shared by the dialogs, so that labelled rows, grids
// and button rows are built the same way everywhere.
#pragma once

#include <gtk/gtk.h>

#include <initializer_list>
#include <string>

#include "support/string_ids.h"

// The desktop's spacing: the border of a dialog's content, between rows,
// and between a label and its field.
enum { HIG_BORDER = 12, HIG_ROW_SPACING = 6, HIG_COLUMN_SPACING = 12 };

// A grid with border HIG_BORDER, HIG_ROW_SPACING between rows and
// HIG_COLUMN_SPACING between columns.
GtkWidget* form_grid_new();
// A label with the text of the string id, aligned at the start.
GtkWidget* form_label_new(StrId string_id);
// A label of the string id for `field`: its mnemonic reaches the field (in
// a composite field, the first control that takes the focus), and both are
// named by it for accessibility.
GtkWidget* form_label_for(StrId string_id, GtkWidget* field);
// The unit word after a number control ("5 [minutes]"): a label showing the
// plural form of `plural_id` for n, updated when the number changes.
GtkWidget* count_unit_label_new(StrId plural_id, long long n);
void count_unit_label_update(GtkWidget* label, long long n);
// Puts a label of the string id in column 0 and the field in column 1 of a
// grid row; the field expands horizontally and is named by the label for
// accessibility. Returns the label.
GtkWidget* form_row(GtkWidget* grid, int row, StrId label_id, GtkWidget* field);
// Styles a dialog button as one that destroys something (red in the theme);
// such a button is never a dialog's default.
void button_set_destructive(GtkWidget* button);
// A horizontal box (spacing HIG_ROW_SPACING) holding the widgets in order.
GtkWidget* button_row(std::initializer_list<GtkWidget*> widgets);
// A button labelled with the string id.
GtkWidget* button_new(StrId label_id);
// An entry of at most n characters, n+1 characters wide, aligned right, that
// refuses inserted text holding anything but decimal digits.
GtkWidget* numeric_entry_new(int n);
// A text combo box with one entry per line of the newline-separated list (an
// empty or null list gives an empty combo), with `active` selected.
GtkWidget* combo_from_list(const char* list, int active);
// Sets the accessible name of a widget to the text of the string id
// (line breaks turned into spaces).
void set_accessible_name(GtkWidget* widget, StrId string_id);

// The whole text of a text view.
std::string text_view_text(GtkWidget* view);
