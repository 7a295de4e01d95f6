// SPDX-License-Identifier: GPL-3.0-or-later
// GtkDatePicker: a box holding a text field that shows a point in time and a
// button that opens a popup calendar (with hour and minute unless the picker
// is in date-only mode). Times are seconds since the epoch, local time; 0 is
// no time and an empty field. The field also takes typed dates (see
// date_text_parse); a text that is no date is marked as an error and changes
// nothing until it is corrected.
//
// Signals: "changed" (no arguments) when the user confirms the popup or a
// typed date that differs from the held time; "text-validity" (no
// arguments) when the typed text turns from a date into no date or back.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>

GType gtk_date_picker_get_type();
#define GTK_TYPE_DATE_PICKER (gtk_date_picker_get_type())
#define GTK_IS_DATE_PICKER(obj) (G_TYPE_CHECK_INSTANCE_TYPE((obj), GTK_TYPE_DATE_PICKER))

// A picker with time 0, date-and-time mode and an empty field.
GtkWidget* date_picker_new();
int64_t date_picker_get(GtkWidget* picker);
// Stores the time and rewrites the field in the current mode (clears an
// error mark). Emits nothing.
void date_picker_set(GtkWidget* picker, int64_t time);
// Switches the mode; the field is rewritten only by the next set or popup.
void date_picker_set_date_only(GtkWidget* picker, bool date_only);
bool date_picker_get_date_only(GtkWidget* picker);
// False while the field holds typed text that is not a date.
bool date_picker_text_valid(GtkWidget* picker);
// Reads the field's text as typed text, as Enter or leaving the field does:
// stores a date that differs from the held time and emits "changed", or
// marks the field. 0, or -1 when the text is not a date.
int date_picker_commit_text(GtkWidget* picker);
// The text field and the popup button (for accessibility and tests).
GtkWidget* date_picker_entry(GtkWidget* picker);
GtkWidget* date_picker_button(GtkWidget* picker);
