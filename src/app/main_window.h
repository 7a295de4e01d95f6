// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: layout, selection reactions, navigation, keys and
// pointer, tray and the notification hub. Internal to the program; the
// handlers are static functions taking the window.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>

struct MainWindow;

// main_window.cc: layout and wiring.
// Makes the top-level window (geometry from the settings) and everything
// in it; the caller shows it.
void main_window_create(MainWindow* w);
// Relabels everything after a language change and reloads the list.
void main_window_relabel(MainWindow* w);
// Reads position, size and paned positions into the settings.
void main_window_save_geometry(MainWindow* w);
// The quit path: geometry saved when visible, then the window destroyed
// (its "destroy" ends the main loop).
void main_window_quit(MainWindow* w);
// Shows a hidden (or iconified, or buried) window in front.
void main_window_present(MainWindow* w);
// A single mounted repository is shown opened.
void expand_single_repository(MainWindow* w);
// Mounts every repository again (selection kept by uuid where it still
// exists), rebuilds the tag tree, then a full refresh (handlers_program.cc).
void full_reload(MainWindow* w);
// The window half of it, after the model was mounted again: tag tree,
// cursor, list type, full refresh.
void window_rebuild(MainWindow* w);

// selection.cc
void set_list_type(MainWindow* w, int type);
void on_tag_selection_changed(GtkTreeSelection* selection, MainWindow* w);
void on_item_selection_changed(GtkTreeSelection* selection, void* data);
void on_calendar_day(void* data);
void on_sort_column(int column, void* data);
// Reloads the item list (selection handler blocked, cursor restored).
void item_list_refresh(MainWindow* w);
// Puts the tag-tree cursor on the row of the id; false when it has none.
bool select_tag(MainWindow* w, int id);
// The status bar text of the selected item ("" when none).
void status_show(MainWindow* w, const char* text);

// navigation.cc
int nav_push(MainWindow* w);
void nav_back(MainWindow* w);
void nav_forward(MainWindow* w);

// input.cc: key and button handlers, context menus.
gboolean on_key_press(GtkWidget* widget, GdkEventKey* event, MainWindow* w);
gboolean on_tree_button_press(GtkWidget* widget, GdkEventButton* event, MainWindow* w);
// Pops up the context menu of the tag tree or the item list at its cursor
// row (Menu key, Shift+F10); false when there is none to show.
bool context_menu_at_cursor(MainWindow* w, GtkWidget* tree);

// tray.cc
void tray_create(MainWindow* w);
// Tray icon and reminders row for `now`.
void tray_refresh(MainWindow* w, int64_t now);
bool tray_embedded(MainWindow* w);
// "delete_event" and the tray's activate: hide (geometry saved) or show.
void main_window_toggle(MainWindow* w);

// notify.cc: the only place the core calls the window.
void notify_install(MainWindow* w);
void notify_remove();
// Runs the merged refresh now if one is pending (tests, before quitting).
void notify_flush(MainWindow* w);
// The full refresh: tray and reminders row, calendar marks, list reload,
// data timer.
void refresh_all(MainWindow* w);

// Bulk commands: item-changed notifications are dropped while one lives,
// and one full refresh follows when the last one ends.
struct RefreshPause {
  explicit RefreshPause(MainWindow* w);
  ~RefreshPause();
  RefreshPause(const RefreshPause&) = delete;
  RefreshPause& operator=(const RefreshPause&) = delete;
  MainWindow* w;
};
