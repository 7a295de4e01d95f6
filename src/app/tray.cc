// SPDX-License-Identifier: GPL-3.0-or-later
// The tray icon: toggles the window, offers options and quit, and turns to
// the alert image while something is due.
#include <string>

#include "app/commands.h"
#include "app/main_window.h"
#include "app/window.h"
#include "dialogs/modal.h"
#include "model/list.h"
#include "model/model.h"
#include "support/strings.h"
#include "views/icons_gtk.h"
#include "views/tag_tree_gtk.h"

// GtkStatusIcon is deprecated but remains the only tray protocol GTK 3 speaks.
G_GNUC_BEGIN_IGNORE_DEPRECATIONS

namespace {

bool busy(MainWindow* w) { return top_window() != GTK_WINDOW(w->window) || w->tag_editing; }

void on_tray_activate(GtkStatusIcon*, MainWindow* w) {
  if (busy(w)) {
    // A dialog is running: bring it forward rather than doing nothing.
    if (top_window()) gtk_window_present(top_window());
    return;
  }
  main_window_toggle(w);
}

void on_tray_popup(GtkStatusIcon* icon, guint button, guint time, MainWindow* w) {
  if (busy(w)) return;
  commands_refresh(w);
  gtk_menu_popup(GTK_MENU(w->tray_menu), nullptr, nullptr, gtk_status_icon_position_menu, icon, button, time);
}

// The reminders row: the window comes forward on the reminders view.
void on_tray_reminders(GtkMenuItem*, MainWindow* w) {
  if (busy(w)) {
    if (top_window()) gtk_window_present(top_window());
    return;
  }
  main_window_present(w);
  select_tag(w, VIEW_REMINDERS);
}

GtkWidget* reminders_row(MainWindow* w) {
  return w->tray_menu ? static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(w->tray_menu), "reminders-row")) : nullptr;
}

// A tray that goes away must not leave the window hidden out of reach.
void on_tray_embedded(GObject*, GParamSpec*, MainWindow* w) {
  if (!tray_embedded(w) && w->window && !gtk_widget_get_visible(w->window)) main_window_present(w);
}

}  // namespace

void tray_create(MainWindow* w) {
  GtkStatusIcon* icon = gtk_status_icon_new_from_pixbuf(icon_get(ICON_SLOT_APP));
  gtk_status_icon_set_title(icon, ui_string(STR_APP_NAME));
  gtk_status_icon_set_tooltip_text(icon, ui_string(STR_APP_NAME));
  gtk_status_icon_set_name(icon, "ordika");
  g_signal_connect(icon, "activate", G_CALLBACK(on_tray_activate), w);
  g_signal_connect(icon, "popup-menu", G_CALLBACK(on_tray_popup), w);
  g_signal_connect(icon, "notify::embedded", G_CALLBACK(on_tray_embedded), w);
  w->tray = G_OBJECT(icon);
  w->tray_menu = gtk_menu_new();
  GtkMenuShell* shell = GTK_MENU_SHELL(w->tray_menu);
  GtkWidget* row = gtk_menu_item_new_with_label(ui_string(STR_ROW_REMINDERS));
  g_signal_connect(row, "activate", G_CALLBACK(on_tray_reminders), w);
  g_object_set_data(G_OBJECT(w->tray_menu), "reminders-row", row);
  gtk_menu_shell_append(shell, row);
  gtk_menu_shell_append(shell, gtk_separator_menu_item_new());
  gtk_menu_shell_append(shell, command_menu_item(w, CMD_OPTIONS, STR_OPTIONS, 0, true));
  gtk_menu_shell_append(shell, gtk_separator_menu_item_new());
  gtk_menu_shell_append(shell, command_menu_item(w, CMD_QUIT, STR_NONE, 0, true));
  gtk_widget_show_all(w->tray_menu);
}

bool tray_embedded(MainWindow* w) {
  return w->tray && gtk_status_icon_is_embedded(GTK_STATUS_ICON(w->tray));
}

void tray_refresh(MainWindow* w, int64_t now) {
  int reminded = 0, due = 0;
  reminders_counts(now, &reminded, &due);
  bool alert = due > 0;
  if (w->tray && alert != w->tray_alert) {
    gtk_status_icon_set_from_pixbuf(GTK_STATUS_ICON(w->tray),
                                    icon_get(alert ? ICON_SLOT_APP_ALERT : ICON_SLOT_APP));
  }
  w->tray_alert = alert;
  if (reminded != w->reminders_shown && w->tags) {
    char text[64];
    g_snprintf(text, sizeof text, "%s (%d)", ui_string(STR_ROW_REMINDERS), reminded);
    // g_snprintf may cut inside a character.
    const gchar* end = nullptr;
    if (!g_utf8_validate(text, -1, &end)) text[end - text] = '\0';
    tag_tree_set_fixed_text(w->tags, VIEW_REMINDERS, text);
    if (GtkWidget* row = reminders_row(w)) gtk_menu_item_set_label(GTK_MENU_ITEM(row), text);
    if (w->tray)
      gtk_status_icon_set_tooltip_text(GTK_STATUS_ICON(w->tray), reminded > 0 ? text : ui_string(STR_APP_NAME));
    w->reminders_shown = reminded;
  }
}

void main_window_toggle(MainWindow* w) {
  if (gtk_widget_get_visible(w->window)) {
    main_window_save_geometry(w);
    gtk_widget_hide(w->window);
  } else {
    main_window_present(w);
  }
}

G_GNUC_END_IGNORE_DEPRECATIONS
