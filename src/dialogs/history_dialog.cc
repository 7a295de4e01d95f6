// SPDX-License-Identifier: GPL-3.0-or-later
// The item history dialog.
#include "dialogs/history_dialog.h"

#include <ctime>
#include <string>

#include "dialogs/layout.h"
#include "dialogs/message.h"
#include "dialogs/modal.h"
#include "markup/detail_text.h"
#include "model/forms.h"
#include "model/item.h"
#include "model/list.h"
#include "model/ops.h"
#include "support/local_dates.h"
#include "support/log.h"
#include "support/slot_array.h"
#include "support/strings.h"
#include "views/icons_gtk.h"
#include "views/markup_view_gtk.h"

namespace {

HistoryWidgets g_open;

std::string time_text(int64_t t) { return shown_date_time(t, DATE_SHORT); }

int64_t selected_slot(GtkTreeIter* out = nullptr) {
  GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(g_open.list));
  GtkTreeModel* m = nullptr;
  GtkTreeIter it;
  if (!gtk_tree_selection_get_selected(sel, &m, &it)) return -1;
  gint64 slot = -1;
  gtk_tree_model_get(m, &it, HIST_COL_SLOT, &slot, -1);
  if (out) *out = it;
  return slot;
}

void show_selected() {
  int64_t slot = selected_slot();
  gtk_widget_set_sensitive(g_open.remove, slot >= 0);
  gtk_widget_set_sensitive(g_open.restore, slot >= 0);
  const Item* version = g_open.view ? history_get(*g_open.view, slot) : nullptr;
  if (!version) {
    markup_render(GTK_TEXT_VIEW(g_open.text), nullptr);
    return;
  }
  std::string header = item_header_format(*version);
  std::string text = history_detail_text(header.c_str(), item_body_load(version));
  markup_render(GTK_TEXT_VIEW(g_open.text), text.c_str());
}

void on_selection(GtkTreeSelection*, gpointer) { show_selected(); }
void on_delete(GtkButton*, gpointer) { history_delete_selected(); }
void on_restore(GtkButton*, gpointer) { history_restore_selected(); }

GtkWidget* scrolled(GtkWidget* child) {
  GtkWidget* sw = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(sw), GTK_SHADOW_IN);
  gtk_widget_set_vexpand(sw, TRUE);
  gtk_container_add(GTK_CONTAINER(sw), child);
  return sw;
}

void add_column(GtkWidget* view, StrId header_id, int column, bool expand) {
  GtkCellRenderer* cell = gtk_cell_renderer_text_new();
  const char* title = ui_string(header_id);
  GtkTreeViewColumn* c = gtk_tree_view_column_new_with_attributes(title ? title : "", cell, "text", column, nullptr);
  gtk_tree_view_column_set_expand(c, expand);
  gtk_tree_view_append_column(GTK_TREE_VIEW(view), c);
}

}  // namespace

const HistoryWidgets& history_widgets() { return g_open; }

void history_delete_selected() {
  GtkTreeIter it;
  int64_t slot = selected_slot(&it);
  const Item* version = g_open.view ? history_get(*g_open.view, slot) : nullptr;
  if (!version) return;
  if (!ask_yes_no(STR_ASK_DELETE_NAMED, version->title.c_str(), STR_ASK_DELETE_VERSION_DETAIL, STR_CANCEL, STR_DELETE))
    return;
  if (history_remove(g_open.view, slot) != 0) return;  // logged; the row stays
  GtkTreeModel* m = GTK_TREE_MODEL(g_open.store);
  GtkTreePath* path = gtk_tree_model_get_path(m, &it);
  gtk_list_store_remove(g_open.store, &it);
  // The row that took its place, or the first when the last went.
  GtkTreeIter next;
  if (!gtk_tree_model_get_iter(m, &next, path)) {
    gtk_tree_path_free(path);
    path = gtk_tree_path_new_first();
  }
  if (gtk_tree_model_get_iter(m, &next, path)) {
    gtk_tree_view_set_cursor(GTK_TREE_VIEW(g_open.list), path, nullptr, FALSE);
  }
  gtk_tree_path_free(path);
  show_selected();
}

void history_restore_selected() {
  const Item* version = g_open.view ? history_get(*g_open.view, selected_slot()) : nullptr;
  const Item* item = item_get(g_open.item_slot);
  if (!version || !item) return;
  ItemForm form;
  form_from_item(version, &form);
  // The present version goes into the history: restoring loses nothing.
  if (item_store(g_open.item_slot, item->type, form, 1, -1) < 0) {
    log_message(LOG_ERROR, "history_restore_selected: %lld", static_cast<long long>(g_open.item_slot));
    show_message(STR_HISTORY, STR_MSG_VERSION_NOT_RESTORED);
    return;
  }
  gtk_dialog_response(GTK_DIALOG(g_open.dialog), GTK_RESPONSE_OK);
}

void history_dialog(HistoryView* view, int64_t item_slot) {
  HistoryWidgets w;
  w.view = view;
  w.item_slot = item_slot;
  GtkWidget* d = dialog_new(STR_HISTORY);
  w.dialog = d;
  w.remove = dialog_add_button(d, STR_DELETE, GTK_RESPONSE_NONE);
  set_destructive(w.remove);
  w.restore = dialog_add_button(d, STR_RESTORE_VERSION, GTK_RESPONSE_NONE);
  dialog_add_button(d, STR_CLOSE, GTK_RESPONSE_OK);
  gtk_dialog_set_default_response(GTK_DIALOG(d), GTK_RESPONSE_OK);
  GtkWidget* action = gtk_widget_get_parent(w.remove);
  if (GTK_IS_BOX(action)) gtk_box_reorder_child(GTK_BOX(action), w.remove, 0);
  gtk_window_set_default_size(GTK_WINDOW(d), 600, 600);

  w.store = gtk_list_store_new(HIST_COL_COUNT, GDK_TYPE_PIXBUF, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING,
                               G_TYPE_INT64, G_TYPE_INT64);
  int64_t created = 0;
  int64_t c = -1;
  while (const Item* v = slot_next<Item>(view->versions, &c)) {
    GtkTreeIter it;
    gtk_list_store_append(w.store, &it);
    gtk_list_store_set(w.store, &it, HIST_COL_ICON, icon_get(v->type), HIST_COL_TITLE, v->title.c_str(), HIST_COL_DUE,
                       time_text(v->due).c_str(), HIST_COL_MODIFIED, time_text(v->modified).c_str(), HIST_COL_SLOT,
                       static_cast<gint64>(c), HIST_COL_STAMP, static_cast<gint64>(v->modified), -1);
    created = v->created;
  }
  gtk_tree_sortable_set_sort_column_id(GTK_TREE_SORTABLE(w.store), HIST_COL_STAMP, GTK_SORT_DESCENDING);
  w.list = gtk_tree_view_new_with_model(GTK_TREE_MODEL(w.store));
  GtkCellRenderer* icon = gtk_cell_renderer_pixbuf_new();
  const char* icon_title = ui_string(STR_TYPE);
  GtkTreeViewColumn* ic = gtk_tree_view_column_new();
  gtk_tree_view_column_set_title(ic, icon_title ? icon_title : "");
  gtk_tree_view_column_pack_start(ic, icon, FALSE);
  gtk_tree_view_column_set_cell_data_func(ic, icon, icon_cell_data, GINT_TO_POINTER(HIST_COL_ICON), nullptr);
  gtk_tree_view_append_column(GTK_TREE_VIEW(w.list), ic);
  add_column(w.list, STR_COLUMN_TITLE, HIST_COL_TITLE, true);
  add_column(w.list, STR_DATE, HIST_COL_DUE, false);
  add_column(w.list, STR_MODIFIED, HIST_COL_MODIFIED, false);

  w.text = gtk_text_view_new();
  gtk_text_view_set_editable(GTK_TEXT_VIEW(w.text), FALSE);
  gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(w.text), FALSE);
  gtk_text_view_set_left_margin(GTK_TEXT_VIEW(w.text), 5);
  gtk_text_view_set_right_margin(GTK_TEXT_VIEW(w.text), 5);
  gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(w.text), GTK_WRAP_WORD_CHAR);
  markup_view_init(GTK_TEXT_VIEW(w.text), MarkupViewCallbacks{});

  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, HIG_ROW_SPACING);
  gtk_container_set_border_width(GTK_CONTAINER(box), HIG_BORDER);
  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, HIG_COLUMN_SPACING);
  const char* created_label = ui_string(STR_HISTORY_CREATED);
  gtk_box_pack_start(GTK_BOX(row), gtk_label_new(created_label ? created_label : ""), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(row), gtk_label_new(time_text(created).c_str()), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), row, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), scrolled(w.list), TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(box), scrolled(w.text), TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(d))), box, TRUE, TRUE, 0);

  HistoryWidgets saved = g_open;
  g_open = w;
  g_signal_connect(gtk_tree_view_get_selection(GTK_TREE_VIEW(w.list)), "changed", G_CALLBACK(on_selection), nullptr);
  g_signal_connect(w.remove, "clicked", G_CALLBACK(on_delete), nullptr);
  g_signal_connect(w.restore, "clicked", G_CALLBACK(on_restore), nullptr);
  gtk_widget_show_all(d);
  gtk_widget_set_visible(w.restore, item_slot >= 0);
  GtkTreePath* first = gtk_tree_path_new_first();
  GtkTreeIter it;
  if (gtk_tree_model_get_iter(GTK_TREE_MODEL(w.store), &it, first))
    gtk_tree_view_set_cursor(GTK_TREE_VIEW(w.list), first, nullptr, FALSE);
  gtk_tree_path_free(first);
  show_selected();
  {
    ModalScope scope(d);
    // The delete and restore buttons answer NONE and keep the dialog;
    // anything else closes it.
    while (scope.run() == GTK_RESPONSE_NONE) {
    }
  }
  g_open = saved;
  gtk_widget_destroy(d);
  g_object_unref(w.store);
}

int item_history(int64_t slot) {
  const Item* item = item_get(slot);
  if (!item) return -1;
  HistoryView view;
  int n = history_load(&view, item);
  if (n >= 0) history_dialog(&view, slot);
  if (n < 0) log_message(LOG_ERROR, "item_history: %lld", static_cast<long long>(slot));
  return n;
}
