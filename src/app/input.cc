// SPDX-License-Identifier: GPL-3.0-or-later
// Keys and pointer of the main window: Tab between tag tree and item list,
// F6 through every pane, Delete, the context menus (right button, Menu key,
// Shift+F10) and the completed toggle on a task's icon.
#include "app/commands.h"
#include "app/main_window.h"
#include "app/window.h"
#include "model/item.h"
#include "model/model.h"
#include "model/ops.h"
#include "support/log.h"
#include "views/item_list_gtk.h"
#include "views/tag_tree_gtk.h"

namespace {

// The menu for the tag tree's selected row: the list types on the first
// fixed row, the tag menu on a real tag, none on the other fixed rows.
GtkWidget* tag_row_menu(MainWindow* w) {
  int id = model().view;
  if (id == VIEW_FIXED) return w->list_type_menu;
  if (id > 0) {
    commands_refresh(w);
    return w->tag_menu;
  }
  return nullptr;
}

GtkWidget* item_menu(MainWindow* w) {
  log_message(LOG_DEBUG, "item_popup_menu: %d %p", static_cast<int>(model().selected_item),
              static_cast<void*>(item_get(model().selected_item)));
  if (w->item_popup) gtk_widget_destroy(w->item_popup);
  w->item_popup = item_popup_build(w);
  g_signal_connect(w->item_popup, "destroy", G_CALLBACK(gtk_widget_destroyed), &w->item_popup);
  gtk_menu_attach_to_widget(GTK_MENU(w->item_popup), w->item_list, nullptr);
  return w->item_popup;
}

void toggle_completed(int64_t slot) {
  Item* item = item_get(slot);
  if (!item || item->type != ITEM_TASK) return;
  int flags = item->flags ^ ITEM_COMPLETED;
  log_message(LOG_INFO, "change_task_state: %s", (flags & ITEM_COMPLETED) ? "completed" : "active");
  item_set_flags(slot, flags);
}

void focus_pane(MainWindow* w, int step) {
  GtkWidget* panes[] = {w->tag_tree, w->calendar, w->item_list, w->detail};
  GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(w->window));
  int at = -1;
  for (int i = 0; i < 4; i++)
    if (focus && (focus == panes[i] || gtk_widget_is_ancestor(focus, panes[i]))) at = i;
  int next = at < 0 ? 0 : (at + step + 4) % 4;
  gtk_widget_grab_focus(panes[next]);
}

}  // namespace

gboolean on_key_press(GtkWidget* widget, GdkEventKey* event, MainWindow* w) {
  // The window sees keys first; the in-place name editor keeps its own.
  if (widget != w->window || w->tag_editing) return FALSE;
  GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(w->window));
  if (focus && GTK_IS_EDITABLE(focus)) return FALSE;
  guint mods = event->state & gtk_accelerator_get_default_mod_mask();
  switch (event->keyval) {
    case GDK_KEY_Tab:
    case GDK_KEY_ISO_Left_Tab:
    case GDK_KEY_KP_Tab:
      if (mods & GDK_CONTROL_MASK) return FALSE;
      gtk_widget_grab_focus(focus == w->tag_tree ? w->item_list : w->tag_tree);
      return TRUE;
    case GDK_KEY_F6:
      focus_pane(w, (mods & GDK_SHIFT_MASK) ? -1 : 1);
      return TRUE;
    case GDK_KEY_Delete:
    case GDK_KEY_KP_Delete:
      if (focus == w->tag_tree) command_run(w, CMD_DELETE_TAG);
      else if (focus == w->item_list) command_run(w, CMD_DELETE_ITEM);
      return TRUE;
    default:
      return FALSE;
  }
}

gboolean on_tree_button_press(GtkWidget* widget, GdkEventButton* event, MainWindow* w) {
  if (event->type != GDK_BUTTON_PRESS) return FALSE;
  GtkTreeView* view = GTK_TREE_VIEW(widget);
  GtkTreePath* path = nullptr;
  GtkTreeViewColumn* column = nullptr;
  if (!gtk_tree_view_get_path_at_pos(view, static_cast<int>(event->x), static_cast<int>(event->y), &path,
                                     &column, nullptr, nullptr))
    return FALSE;
  gboolean handled = FALSE;
  if (event->button == GDK_BUTTON_SECONDARY) {
    GtkTreeSelection* sel = gtk_tree_view_get_selection(view);
    // The tree's own handler, which would take the focus, does not run.
    gtk_widget_grab_focus(widget);
    // A right click inside a multiple selection keeps it for the menu.
    if (widget != w->item_list || !gtk_tree_selection_path_is_selected(sel, path))
      gtk_tree_view_set_cursor(view, path, nullptr, FALSE);
    GtkWidget* menu = widget == w->tag_tree ? tag_row_menu(w) : item_menu(w);
    if (menu) {
      gtk_menu_popup_at_pointer(GTK_MENU(menu), reinterpret_cast<GdkEvent*>(event));
      handled = TRUE;  // the tree must not reset the selection under the menu
    }
  } else if (event->button == GDK_BUTTON_PRIMARY && widget == w->item_list && column &&
             g_object_get_data(G_OBJECT(column), "i")) {
    toggle_completed(item_list_item_at(w->items, path));
  }
  gtk_tree_path_free(path);
  return handled;
}

bool context_menu_at_cursor(MainWindow* w, GtkWidget* tree) {
  GtkWidget* menu = nullptr;
  if (tree == w->tag_tree) menu = tag_row_menu(w);
  else if (tree == w->item_list && !item_list_selected(w->items).empty()) menu = item_menu(w);
  if (!menu) return false;
  GtkTreePath* path = nullptr;
  gtk_tree_view_get_cursor(GTK_TREE_VIEW(tree), &path, nullptr);
  GdkRectangle rect{0, 0, 1, 1};
  if (path) {
    gtk_tree_view_get_cell_area(GTK_TREE_VIEW(tree), path, nullptr, &rect);
    gtk_tree_view_convert_bin_window_to_widget_coords(GTK_TREE_VIEW(tree), rect.x, rect.y, &rect.x, &rect.y);
    rect.width = 1;
    gtk_tree_path_free(path);
  }
  gtk_menu_popup_at_rect(GTK_MENU(menu), gtk_widget_get_window(tree), &rect, GDK_GRAVITY_SOUTH_WEST,
                         GDK_GRAVITY_NORTH_WEST, nullptr);
  gtk_menu_shell_select_first(GTK_MENU_SHELL(menu), FALSE);
  return true;
}
