// SPDX-License-Identifier: GPL-3.0-or-later
// The calendar pane: a month calendar whose marked days have an occurrence
// of a task or event.
#pragma once

#include <gtk/gtk.h>

struct CalendarCallbacks {
  void* data = nullptr;
  // A day was selected by the user (after the marks and the model's
  // calendar day are brought up to date).
  void (*day_selected)(void* data) = nullptr;
};

// Makes the calendar (accessible name) and sets its marks.
GtkWidget* calendar_pane_new(const CalendarCallbacks& callbacks);
// Reads the shown date, sets the model's calendar day to it and marks the
// days of the month that have an occurrence.
void calendar_pane_refresh(GtkWidget* calendar);
// Bit d-1 set for every marked day d (tests).
unsigned calendar_pane_marks(GtkWidget* calendar);
