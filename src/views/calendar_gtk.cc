// SPDX-License-Identifier: GPL-3.0-or-later
// The calendar pane.
#include "views/calendar_gtk.h"

#include "model/recur.h"
#include "model/view_dates.h"
#include "support/log.h"
#include "support/strings.h"

namespace {

struct CalendarPane {
  CalendarCallbacks cb;
};

void on_day_selected(GtkCalendar* cal, gpointer p) {
  auto* pane = static_cast<CalendarPane*>(p);
  calendar_pane_refresh(GTK_WIDGET(cal));
  if (pane->cb.day_selected) pane->cb.day_selected(pane->cb.data);
}

// Moving to another month shows that month's marks.
void on_month_changed(GtkCalendar* cal, gpointer) { calendar_pane_refresh(GTK_WIDGET(cal)); }

void free_pane(gpointer p) { delete static_cast<CalendarPane*>(p); }

}  // namespace

GtkWidget* calendar_pane_new(const CalendarCallbacks& callbacks) {
  GtkWidget* cal = gtk_calendar_new();
  auto* pane = new CalendarPane{callbacks};
  g_object_set_data_full(G_OBJECT(cal), "calendar-pane", pane, free_pane);
  g_signal_connect(cal, "day-selected", G_CALLBACK(on_day_selected), pane);
  g_signal_connect(cal, "month-changed", G_CALLBACK(on_month_changed), pane);
  // The string table names no calendar; its list type (calendar day) does.
  AtkObject* acc = gtk_widget_get_accessible(cal);
  if (acc) atk_object_set_name(acc, ui_string_line(STR_CALENDAR).c_str());
  calendar_pane_refresh(cal);
  return cal;
}

void calendar_pane_refresh(GtkWidget* calendar) {
  GtkCalendar* cal = GTK_CALENDAR(calendar);
  guint year = 0, month = 0, day = 0;
  gtk_calendar_get_date(cal, &year, &month, &day);
  log_message(LOG_DEBUG, "update_calendar_state: %u/%u/%u", year, month + 1, day);
  gtk_calendar_clear_marks(cal);
  calendar_select_day(static_cast<int>(year), static_cast<int>(month) + 1, static_cast<int>(day));
  uint32_t marks = calendar_month_marks(static_cast<int>(year), static_cast<int>(month) + 1);
  for (guint d = 1; d <= 31; d++)
    if (marks & (1u << (d - 1))) gtk_calendar_mark_day(cal, d);
}

unsigned calendar_pane_marks(GtkWidget* calendar) {
  GtkCalendar* cal = GTK_CALENDAR(calendar);
  unsigned out = 0;
  for (guint d = 1; d <= 31; d++)
    if (gtk_calendar_get_day_is_marked(cal, d)) out |= 1u << (d - 1);
  return out;
}
