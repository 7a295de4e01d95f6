// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's layout and wiring: menu bar, toolbar, the two paneds
// with tag tree and calendar, item list and detail view, and the status bar.
#include "app/main_window.h"

#include "app/commands.h"
#include "app/drag_items.h"
#include "app/file_commands.h"
#include "app/window.h"
#include "dialogs/message.h"
#include "dialogs/modal.h"
#include "model/app_core.h"
#include "model/model.h"
#include "support/log.h"
#include "support/strings.h"
#include "views/calendar_gtk.h"
#include "views/detail_view_gtk.h"
#include "views/icons_gtk.h"
#include "views/item_list_gtk.h"
#include "views/tag_tree_gtk.h"

namespace {

void on_tag_editing(bool active, void* data) { static_cast<MainWindow*>(data)->tag_editing = active; }

void on_tag_renamed(int64_t, bool, void* data) { commands_refresh(static_cast<MainWindow*>(data)); }

void on_row_activated(int64_t, void* data) { command_run(static_cast<MainWindow*>(data), CMD_EDIT_ITEM); }

void on_list_emptied(void* data) {
  auto* w = static_cast<MainWindow*>(data);
  detail_view_clear(w->detail);
  status_show(w, "");
}

bool on_tag_popup(void* data) {
  auto* w = static_cast<MainWindow*>(data);
  return context_menu_at_cursor(w, w->tag_tree);
}

bool on_item_popup(void* data) {
  auto* w = static_cast<MainWindow*>(data);
  return context_menu_at_cursor(w, w->item_list);
}

void on_reveal_password(const char* password, void*) { show_copyable(STR_PASSWORD_TITLE, password); }

void on_open_link(const char* target, void* data) {
  // The address usually wants the item's password next.
  command_run(static_cast<MainWindow*>(data), CMD_COPY_PASSWORD);
  open_address(target);
}

gboolean on_delete_event(GtkWidget*, GdkEvent*, MainWindow* w) {
  // Without a tray to come back from, closing means quitting.
  if (!tray_embedded(w)) main_window_quit(w);
  else main_window_toggle(w);
  return TRUE;
}

void on_destroy(GtkWidget*, MainWindow* w) {
  w->built = false;
  if (gtk_main_level() > 0) gtk_main_quit();
}

GtkWidget* scrolled(GtkWidget* child, GtkShadowType shadow) {
  GtkWidget* s = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(s), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(s), shadow);
  gtk_container_add(GTK_CONTAINER(s), child);
  return s;
}

void build_tag_tree(MainWindow* w) {
  TagTreeCallbacks cb;
  cb.data = w;
  cb.editing = on_tag_editing;
  cb.renamed = on_tag_renamed;
  cb.popup_menu = on_tag_popup;
  w->tags = tag_tree_new(cb);
  w->tag_tree = w->tags->view;
  GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(w->tag_tree));
  g_signal_connect(sel, "changed", G_CALLBACK(on_tag_selection_changed), w);
  g_signal_connect(w->tag_tree, "key-press-event", G_CALLBACK(on_key_press), w);
  g_signal_connect(w->tag_tree, "button-press-event", G_CALLBACK(on_tree_button_press), w);
  file_drop_install(w);
}

void build_item_list(MainWindow* w) {
  ItemListCallbacks cb;
  cb.data = w;
  cb.selection_changed = on_item_selection_changed;
  cb.row_activated = on_row_activated;
  cb.column_clicked = on_sort_column;
  cb.emptied = on_list_emptied;
  cb.popup_menu = on_item_popup;
  w->items = item_list_new(cb);
  w->item_list = w->items->view;
  w->item_selection_handler = w->items->selection_handler;
  g_signal_connect(w->item_list, "key-press-event", G_CALLBACK(on_key_press), w);
  g_signal_connect(w->item_list, "button-press-event", G_CALLBACK(on_tree_button_press), w);
}

}  // namespace

// A single mounted repository is shown opened.
void expand_single_repository(MainWindow* w) {
  GtkTreeModel* m = GTK_TREE_MODEL(w->tags->store);
  int repos = gtk_tree_model_iter_n_children(m, nullptr) - 4;
  if (repos != 1) return;
  GtkTreePath* path = gtk_tree_path_new_from_string("4");
  gtk_tree_view_expand_row(GTK_TREE_VIEW(w->tag_tree), path, FALSE);
  gtk_tree_path_free(path);
}

// Screen readers announce the bars by these names when focus enters them.
static void name_bars(MainWindow* w) {
  const StrId ids[2] = {STR_MAIN_MENU, STR_TOOLBAR};
  GtkWidget* bars[2] = {w->menubar, w->toolbar};
  for (int i = 0; i < 2; i++) {
    AtkObject* acc = bars[i] ? gtk_widget_get_accessible(bars[i]) : nullptr;
    if (acc) atk_object_set_name(acc, ui_string_line(ids[i]).c_str());
  }
}

void main_window_create(MainWindow* w) {
  Settings& s = app_core().settings;
  w->window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  set_top_window(GTK_WINDOW(w->window));
  g_signal_connect(w->window, "destroy", G_CALLBACK(on_destroy), w);
  g_signal_connect(w->window, "delete-event", G_CALLBACK(on_delete_event), w);
  g_signal_connect(w->window, "key-press-event", G_CALLBACK(on_key_press), w);
  gtk_window_set_default_size(GTK_WINDOW(w->window), s.win_width, s.win_height);
  gtk_window_move(GTK_WINDOW(w->window), s.win_left, s.win_top);
  gtk_window_set_title(GTK_WINDOW(w->window), ui_string(STR_APP_NAME));

  w->accel = gtk_accel_group_new();
  gtk_window_add_accel_group(GTK_WINDOW(w->window), w->accel);

  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_container_add(GTK_CONTAINER(w->window), box);
  w->menubar = menubar_build(w);
  gtk_box_pack_start(GTK_BOX(box), w->menubar, FALSE, FALSE, 0);
  w->toolbar = toolbar_build(w);
  gtk_box_pack_start(GTK_BOX(box), w->toolbar, FALSE, FALSE, 0);
  name_bars(w);

  w->hpaned = gtk_paned_new(GTK_ORIENTATION_HORIZONTAL);
  gtk_box_pack_start(GTK_BOX(box), w->hpaned, TRUE, TRUE, 0);
  w->statusbar = gtk_statusbar_new();
  gtk_box_pack_end(GTK_BOX(box), w->statusbar, FALSE, FALSE, 0);
  w->status_context = gtk_statusbar_get_context_id(GTK_STATUSBAR(w->statusbar), "item_context_id");

  GtkWidget* left = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  build_tag_tree(w);
  gtk_box_pack_start(GTK_BOX(left), scrolled(w->tag_tree, GTK_SHADOW_IN), TRUE, TRUE, 0);
  CalendarCallbacks ccb;
  ccb.data = w;
  ccb.day_selected = on_calendar_day;
  w->calendar = calendar_pane_new(ccb);
  gtk_box_pack_start(GTK_BOX(left), w->calendar, FALSE, FALSE, 0);
  gtk_paned_pack1(GTK_PANED(w->hpaned), left, FALSE, FALSE);

  w->vpaned = gtk_paned_new(GTK_ORIENTATION_VERTICAL);
  gtk_paned_pack2(GTK_PANED(w->hpaned), w->vpaned, TRUE, FALSE);
  build_item_list(w);
  gtk_paned_pack1(GTK_PANED(w->vpaned), scrolled(w->item_list, GTK_SHADOW_NONE), TRUE, FALSE);
  MarkupViewCallbacks mcb;
  mcb.data = w;
  mcb.reveal_password = on_reveal_password;
  mcb.open_link = on_open_link;
  w->detail = detail_view_new(mcb);
  gtk_paned_pack2(GTK_PANED(w->vpaned), scrolled(w->detail, GTK_SHADOW_IN), TRUE, FALSE);
  gtk_paned_set_position(GTK_PANED(w->hpaned), s.hs_pos);
  gtk_paned_set_position(GTK_PANED(w->vpaned), s.vs_pos);

  expand_single_repository(w);
  w->tag_menu = tag_menu_build(w);
  gtk_menu_attach_to_widget(GTK_MENU(w->tag_menu), w->window, nullptr);
  w->list_type_menu = list_type_menu_build(w);
  gtk_menu_attach_to_widget(GTK_MENU(w->list_type_menu), w->window, nullptr);
  drag_items_install(w);
  w->built = true;
}

void main_window_relabel(MainWindow* w) {
  commands_relabel(w);
  name_bars(w);
  tag_tree_relabel(w->tags);
  int shown = w->list_type_shown;
  w->list_type_shown = -1;
  set_list_type(w, shown < 0 ? model().fixed_kind : shown);
  item_list_relabel(w->items);
  w->reminders_shown = -1;
  tray_refresh(w, time(nullptr));
  gtk_window_set_title(GTK_WINDOW(w->window), ui_string(STR_APP_NAME));
  item_list_refresh(w);
}

void main_window_save_geometry(MainWindow* w) {
  if (!w->window || !gtk_widget_get_visible(w->window)) return;
  Settings& s = app_core().settings;
  gtk_window_get_position(GTK_WINDOW(w->window), &s.win_left, &s.win_top);
  gtk_window_get_size(GTK_WINDOW(w->window), &s.win_width, &s.win_height);
  s.hs_pos = gtk_paned_get_position(GTK_PANED(w->hpaned));
  s.vs_pos = gtk_paned_get_position(GTK_PANED(w->vpaned));
}

void main_window_quit(MainWindow* w) {
  if (!w->window || w->quitting) return;
  w->quitting = true;
  main_window_save_geometry(w);
  gtk_widget_destroy(w->window);
}

void main_window_present(MainWindow* w) {
  if (!w->window) return;
  GtkWindow* top = top_window();
  if (top && top != GTK_WINDOW(w->window)) {
    // A dialog is running: bring it forward, not the window behind it.
    gtk_window_present(top);
    return;
  }
  gtk_widget_show(w->window);
  gtk_window_deiconify(GTK_WINDOW(w->window));
  gtk_window_present(GTK_WINDOW(w->window));
}
