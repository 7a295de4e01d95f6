// SPDX-License-Identifier: GPL-3.0-or-later
// The tag tree pane.
#include "views/tag_tree_gtk.h"

#include <cstring>
#include <string>
#include <vector>

#include "model/list_order.h"
#include "model/model.h"
#include "model/ops.h"
#include "model/tag.h"
#include "model/tag_ops.h"
#include "storage/repo.h"
#include "support/log.h"
#include "support/strings.h"
#include "views/icons_gtk.h"

namespace {

const int kFixedIds[4] = {VIEW_FIXED, VIEW_TRASH, VIEW_REMINDERS, VIEW_SEARCH};
const StrId kFixedText[4] = {STR_ROW_LISTS, STR_ROW_TRASH, STR_ROW_REMINDERS, STR_ROW_SEARCH_RESULTS};

bool is_root(const Tag* t) { return uuid_is_zero(t->parent); }

std::string repo_display_name(int repo) {
  if (repo >= 0 && static_cast<size_t>(repo) < repo_table().size()) return repo_table()[static_cast<size_t>(repo)].name;
  return std::string();
}

// The name a row shows: a repository row shows its repository's name.
std::string shown_name(const Tag* t) {
  if (is_root(t)) {
    std::string name = repo_display_name(t->repo);
    if (!name.empty()) return name;
  }
  return t->name;
}

gint tag_order(GtkTreeModel* m, GtkTreeIter* a, GtkTreeIter* b, gpointer) {
  int ia = 0, ib = 0;
  gchar* na = nullptr;
  gchar* nb = nullptr;
  gtk_tree_model_get(m, a, TAG_COL_ID, &ia, -1);
  gtk_tree_model_get(m, b, TAG_COL_ID, &ib, -1);
  if (ia < 1 || ib < 1) return ia < ib ? -1 : ia > ib ? 1 : 0;
  gtk_tree_model_get(m, a, TAG_COL_TEXT, &na, -1);
  gtk_tree_model_get(m, b, TAG_COL_TEXT, &nb, -1);
  int r = g_utf8_collate(na ? na : "", nb ? nb : "");
  g_free(na);
  g_free(nb);
  return r;
}

void on_edited(GtkCellRendererText*, gchar* path, gchar* text, gpointer p) {
  on_tag_edited(static_cast<TagTree*>(p), path, text);
}

void set_editing(TagTree* tree, bool active) {
  tree->editing = active;
  if (tree->cb.editing) tree->cb.editing(active, tree->cb.data);
}

void on_editing_started(GtkCellRenderer*, GtkCellEditable*, gchar*, gpointer p) {
  set_editing(static_cast<TagTree*>(p), true);
}

void on_editing_canceled(GtkCellRenderer*, gpointer p) { set_editing(static_cast<TagTree*>(p), false); }

gboolean on_popup_menu(GtkWidget*, gpointer p) {
  auto* tree = static_cast<TagTree*>(p);
  return tree->cb.popup_menu && tree->cb.popup_menu(tree->cb.data);
}

void on_destroy(GtkWidget*, gpointer p) {
  auto* tree = static_cast<TagTree*>(p);
  if (tree->selected_row) gtk_tree_row_reference_free(tree->selected_row);
  g_object_unref(tree->store);
  delete tree;
}

bool find_in(GtkTreeModel* m, GtkTreeIter* parent, int id, GtkTreeIter* out) {
  GtkTreeIter it;
  if (!gtk_tree_model_iter_children(m, &it, parent)) return false;
  do {
    int rid = 0;
    gtk_tree_model_get(m, &it, TAG_COL_ID, &rid, -1);
    if (rid == id) {
      *out = it;
      return true;
    }
    if (find_in(m, &it, id, out)) return true;
  } while (gtk_tree_model_iter_next(m, &it));
  return false;
}

void remember_selected(TagTree* tree, GtkTreeIter* it) {
  if (tree->selected_row) gtk_tree_row_reference_free(tree->selected_row);
  GtkTreePath* p = gtk_tree_model_get_path(GTK_TREE_MODEL(tree->store), it);
  tree->selected_row = gtk_tree_row_reference_new(GTK_TREE_MODEL(tree->store), p);
  gtk_tree_path_free(p);
}

}  // namespace

TagTree* tag_tree_new(const TagTreeCallbacks& callbacks) {
  auto* tree = new TagTree;
  tree->cb = callbacks;
  tree->store = gtk_tree_store_new(TAG_COL_COUNT, G_TYPE_STRING, G_TYPE_INT, G_TYPE_BOOLEAN, GDK_TYPE_PIXBUF);
  GtkTreeSortable* sortable = GTK_TREE_SORTABLE(tree->store);
  gtk_tree_sortable_set_default_sort_func(sortable, tag_order, nullptr, nullptr);
  gtk_tree_sortable_set_sort_column_id(sortable, GTK_TREE_SORTABLE_DEFAULT_SORT_COLUMN_ID, GTK_SORT_ASCENDING);
  tag_tree_fill(tree);

  tree->view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(tree->store));
  GtkWidget* view = tree->view;
  const char* title = ui_string(STR_TAGS);
  tree->column = gtk_tree_view_column_new();
  gtk_tree_view_column_set_title(tree->column, title ? title : "");
  GtkCellRenderer* icon = gtk_cell_renderer_pixbuf_new();
  gtk_tree_view_column_pack_start(tree->column, icon, FALSE);
  gtk_tree_view_column_set_cell_data_func(tree->column, icon, icon_cell_data, GINT_TO_POINTER(TAG_COL_ICON), nullptr);
  tree->text_cell = gtk_cell_renderer_text_new();
  gtk_tree_view_column_pack_start(tree->column, tree->text_cell, TRUE);
  gtk_tree_view_column_add_attribute(tree->column, tree->text_cell, "text", TAG_COL_TEXT);
  gtk_tree_view_column_add_attribute(tree->column, tree->text_cell, "editable", TAG_COL_EDITABLE);
  gtk_tree_view_append_column(GTK_TREE_VIEW(view), tree->column);
  gtk_tree_view_set_search_column(GTK_TREE_VIEW(view), TAG_COL_TEXT);
  g_signal_connect(tree->text_cell, "edited", G_CALLBACK(on_edited), tree);
  g_signal_connect(tree->text_cell, "editing-started", G_CALLBACK(on_editing_started), tree);
  g_signal_connect(tree->text_cell, "editing-canceled", G_CALLBACK(on_editing_canceled), tree);
  g_signal_connect(view, "popup-menu", G_CALLBACK(on_popup_menu), tree);
  g_signal_connect(view, "destroy", G_CALLBACK(on_destroy), tree);
  AtkObject* acc = gtk_widget_get_accessible(view);
  if (acc) atk_object_set_name(acc, ui_string_line(STR_TAGS).c_str());
  return tree;
}

void tag_tree_fill(TagTree* tree) {
  GtkTreeStore* store = tree->store;
  if (tree->selected_row) {
    gtk_tree_row_reference_free(tree->selected_row);
    tree->selected_row = nullptr;
  }
  // Rows go in unsorted and the store sorts once at the end.
  const int selected = model().view;
  // Detached while refilled: clearing rows under the view would move its
  // cursor row by row, each move a selection of another tag.
  if (tree->view) gtk_tree_view_set_model(GTK_TREE_VIEW(tree->view), nullptr);
  GtkTreeSortable* sortable = GTK_TREE_SORTABLE(store);
  gtk_tree_sortable_set_sort_column_id(sortable, GTK_TREE_SORTABLE_UNSORTED_SORT_COLUMN_ID, GTK_SORT_ASCENDING);
  gtk_tree_store_clear(store);
  GdkPixbuf* bullet = icon_get(ICON_SLOT_BULLET);
  for (int i = 0; i < 4; i++) {
    GtkTreeIter it;
    const char* text = ui_string(kFixedText[i]);
    gtk_tree_store_insert_with_values(store, &it, nullptr, -1, TAG_COL_TEXT, text ? text : "", TAG_COL_ID, kFixedIds[i],
                                      TAG_COL_EDITABLE, FALSE, TAG_COL_ICON, bullet, -1);
    if (kFixedIds[i] == selected) remember_selected(tree, &it);
  }
  std::vector<GtkTreeIter> parents;  // by depth
  GdkPixbuf* tag_icon = icon_get(ICON_SLOT_TAG);
  GdkPixbuf* db_icon = icon_get(ICON_SLOT_DATABASE);
  for (const TagRow& row : tag_tree_rows(repo_display_name)) {
    const Tag* t = tag_get(row.slot);
    if (!t || row.depth < 0 || static_cast<size_t>(row.depth) > parents.size()) continue;
    parents.resize(static_cast<size_t>(row.depth));
    GtkTreeIter it;
    GtkTreeIter* parent = row.depth == 0 ? nullptr : &parents.back();
    std::string name = shown_name(t);
    gtk_tree_store_insert_with_values(store, &it, parent, -1, TAG_COL_TEXT, name.c_str(), TAG_COL_ID,
                                      static_cast<int>(row.slot), TAG_COL_EDITABLE, TRUE, TAG_COL_ICON,
                                      is_root(t) ? db_icon : tag_icon, -1);
    if (row.slot == selected) remember_selected(tree, &it);
    parents.push_back(it);
  }
  gtk_tree_sortable_set_sort_column_id(sortable, GTK_TREE_SORTABLE_DEFAULT_SORT_COLUMN_ID, GTK_SORT_ASCENDING);
  if (tree->view) {
    gtk_tree_view_set_model(GTK_TREE_VIEW(tree->view), GTK_TREE_MODEL(store));
    gtk_tree_view_set_search_column(GTK_TREE_VIEW(tree->view), TAG_COL_TEXT);
  }
}

GtkTreePath* tag_tree_selected_row(TagTree* tree) {
  if (!tree->selected_row || !gtk_tree_row_reference_valid(tree->selected_row)) return nullptr;
  return gtk_tree_row_reference_get_path(tree->selected_row);
}

bool tag_tree_find(TagTree* tree, int id, GtkTreeIter* out) {
  return find_in(GTK_TREE_MODEL(tree->store), nullptr, id, out);
}

bool tag_tree_select(TagTree* tree, int id) {
  GtkTreeIter it;
  if (!tag_tree_find(tree, id, &it)) return false;
  GtkTreePath* p = gtk_tree_model_get_path(GTK_TREE_MODEL(tree->store), &it);
  if (tree->view) {
    gtk_tree_view_expand_to_path(GTK_TREE_VIEW(tree->view), p);
    gtk_tree_view_set_cursor(GTK_TREE_VIEW(tree->view), p, nullptr, FALSE);
  }
  gtk_tree_path_free(p);
  return true;
}

void tag_tree_set_fixed_text(TagTree* tree, int id, const char* text) {
  if (id >= 1) return;
  GtkTreeIter it;
  if (tag_tree_find(tree, id, &it)) gtk_tree_store_set(tree->store, &it, TAG_COL_TEXT, text ? text : "", -1);
}

void tag_tree_relabel(TagTree* tree) {
  for (int i = 1; i < 4; i++) tag_tree_set_fixed_text(tree, kFixedIds[i], ui_string(kFixedText[i]));
  const char* title = ui_string(STR_TAGS);
  if (tree->column) gtk_tree_view_column_set_title(tree->column, title ? title : "");
  if (tree->view) {
    AtkObject* acc = gtk_widget_get_accessible(tree->view);
    if (acc) atk_object_set_name(acc, ui_string_line(STR_TAGS).c_str());
  }
}

void tag_tree_add(TagTree* tree, int64_t tag) {
  const Tag* t = tag_get(tag);
  if (!t || !tree->view) return;
  GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(tree->view));
  GtkTreeModel* m = nullptr;
  GtkTreeIter selected;
  bool has_selected = false;
  if (gtk_tree_selection_get_mode(sel) == GTK_SELECTION_MULTIPLE) {
    GList* rows = gtk_tree_selection_get_selected_rows(sel, &m);
    if (rows) has_selected = gtk_tree_model_get_iter(m, &selected, static_cast<GtkTreePath*>(rows->data));
    g_list_free_full(rows, reinterpret_cast<GDestroyNotify>(gtk_tree_path_free));
  } else {
    has_selected = gtk_tree_selection_get_selected(sel, &m, &selected);
  }
  if (!has_selected && !is_root(t)) return;
  GtkTreeIter it;
  std::string name = shown_name(t);
  // The new row gets its icon at once rather than at the next fill.
  gtk_tree_store_insert_with_values(tree->store, &it, is_root(t) ? nullptr : &selected, -1, TAG_COL_TEXT, name.c_str(),
                                    TAG_COL_ID, static_cast<int>(tag), TAG_COL_EDITABLE, TRUE, TAG_COL_ICON,
                                    icon_get(is_root(t) ? ICON_SLOT_DATABASE : ICON_SLOT_TAG), -1);
  GtkTreePath* p = gtk_tree_model_get_path(GTK_TREE_MODEL(tree->store), &it);
  gtk_tree_view_expand_to_path(GTK_TREE_VIEW(tree->view), p);
  gtk_tree_view_set_cursor_on_cell(GTK_TREE_VIEW(tree->view), p, tree->column, tree->text_cell, TRUE);
  gtk_tree_path_free(p);
}

int on_tag_edited(TagTree* tree, const char* path, const char* text) {
  int rc = 0;
  GtkTreeIter it;
  int id = 0;
  Tag* t = nullptr;
  if (text && *text && path && gtk_tree_model_get_iter_from_string(GTK_TREE_MODEL(tree->store), &it, path)) {
    gtk_tree_model_get(GTK_TREE_MODEL(tree->store), &it, TAG_COL_ID, &id, -1);
    t = id >= 1 ? tag_get(id) : nullptr;
  }
  if (t && shown_name(t) != text) {
    bool repository = is_root(t);
    if (repository) {
      log_message(LOG_INFO, "on_tag_edited: %d %p (%d)", id, static_cast<void*>(t), t->repo);
      rc = repo_rename(t->repo, text);
    } else {
      log_message(LOG_INFO, "on_tag_edited: %d %p", id, static_cast<void*>(t));
      rc = tag_rename(id, text);
    }
    if (rc == 0) {
      std::string name = shown_name(tag_get(id));
      gtk_tree_store_set(tree->store, &it, TAG_COL_TEXT, name.c_str(), -1);
      // The row may have moved: the store keeps its order by name.
      if (tree->view) {
        GtkTreePath* p = gtk_tree_model_get_path(GTK_TREE_MODEL(tree->store), &it);
        gtk_tree_view_expand_to_path(GTK_TREE_VIEW(tree->view), p);
        gtk_tree_path_free(p);
      }
      if (tree->cb.renamed) tree->cb.renamed(id, repository, tree->cb.data);
    } else {
      log_message(LOG_ERROR, "on_tag_edited: %d: %d", id, rc);
      if (tree->cb.rename_failed) tree->cb.rename_failed(id, rc, tree->cb.data);
    }
  }
  set_editing(tree, false);
  return rc;
}

int tag_tree_cursor_id(TagTree* tree) {
  if (!tree->view) return 0;
  GtkTreePath* p = nullptr;
  gtk_tree_view_get_cursor(GTK_TREE_VIEW(tree->view), &p, nullptr);
  if (!p) return 0;
  GtkTreeIter it;
  int id = 0;
  if (gtk_tree_model_get_iter(GTK_TREE_MODEL(tree->store), &it, p))
    gtk_tree_model_get(GTK_TREE_MODEL(tree->store), &it, TAG_COL_ID, &id, -1);
  gtk_tree_path_free(p);
  return id;
}
