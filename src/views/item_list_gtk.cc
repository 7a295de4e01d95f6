// SPDX-License-Identifier: GPL-3.0-or-later
// The item list pane.
//
// The list comes from the core already in its order (list_order_start).
// Every load hands the view a new read-only model over its first rows
// (item_model_gtk.h): no sort function runs per row, no value is copied, and
// cells are formatted only when drawn. A long list adds the rest in idle
// slices, finishing their order (titles' collation keys) as it goes, so that
// the window is drawn and answers long before a view of 100,000 rows
// would have been built. The rows' item slots are kept beside the model, so
// finding a row reads no model values.
#include "views/item_list_gtk.h"

#include <algorithm>
#include <cstdint>
#include <ctime>

#include "model/app_core.h"
#include "model/item.h"
#include "model/list.h"
#include "model/list_order.h"
#include "model/model.h"
#include "model/recur.h"
#include "support/log.h"
#include "support/strings.h"
#include "views/icons_gtk.h"
#include "views/item_model_gtk.h"

namespace {

// Rows shown at once: more than any window shows. The rest come in slices
// of a few milliseconds, which leave the main loop free between them.
constexpr size_t kFirstRows = 300;
constexpr size_t kSliceRows = 2000;
constexpr size_t kSliceKeys = 1000;
constexpr gint64 kSliceMicroseconds = 6000;

const char* text_of(StrId id) {
  const char* s = ui_string(id);
  return s ? s : "";
}

void format_time(int64_t t, char* out, size_t size, const char* fmt) {
  out[0] = '\0';
  if (t == 0) return;
  time_t tt = static_cast<time_t>(t);
  struct tm tmv;
  if (localtime_r(&tt, &tmv)) strftime(out, size, fmt, &tmv);
}

// Reads what a cell data function needs of a row: its item (-1 for a header).
const Item* row_item(GtkTreeModel* m, GtkTreeIter* it, bool* header) {
  int slot = -1;
  gtk_tree_model_get(m, it, ITEM_COL_SLOT, &slot, -1);
  *header = slot < 0;
  return slot >= 0 ? item_get(slot) : nullptr;
}

void text_cell_data(GtkTreeViewColumn*, GtkCellRenderer* cell, GtkTreeModel* m, GtkTreeIter* it, gpointer p) {
  auto* list = static_cast<ItemList*>(p);
  bool header = false;
  const Item* item = row_item(m, it, &header);
  if (header) {
    g_object_set(cell, "background-rgba", &list->header_bg, "xalign", 0.5f, "strikethrough", FALSE, nullptr);
    if (list->dark_theme)
      g_object_set(cell, "foreground-rgba", &list->header_fg, nullptr);
    else
      g_object_set(cell, "foreground-set", FALSE, nullptr);
    return;
  }
  g_object_set(cell, "background-set", FALSE, "xalign", 0.0f, nullptr);
  if (item && item->type == ITEM_TASK && (item->flags & ITEM_COMPLETED)) {
    static const GdkRGBA grey = {0.7, 0.7, 0.7, 1.0};
    g_object_set(cell, "foreground-rgba", &grey, "strikethrough", TRUE, nullptr);
  } else {
    g_object_set(cell, "foreground-set", FALSE, "strikethrough", FALSE, nullptr);
  }
}

void icon_data(GtkTreeViewColumn* col, GtkCellRenderer* cell, GtkTreeModel* m, GtkTreeIter* it, gpointer p) {
  auto* list = static_cast<ItemList*>(p);
  bool header = false;
  row_item(m, it, &header);
  if (header)
    g_object_set(cell, "cell-background-rgba", &list->header_bg, nullptr);
  else
    g_object_set(cell, "cell-background-set", FALSE, nullptr);
  icon_cell_data(col, cell, m, it, GINT_TO_POINTER(ITEM_COL_ICON));
}

void update_theme_colours(ItemList* list) {
  GtkStyleContext* sc = gtk_widget_get_style_context(list->view);
  GdkRGBA fg;
  gtk_style_context_get_color(sc, GTK_STATE_FLAG_NORMAL, &fg);
  double luminance = 0.2126 * fg.red + 0.7152 * fg.green + 0.0722 * fg.blue;
  // Light text means a dark theme, where the light yellow would hide it.
  list->dark_theme = luminance > 0.5;
  if (list->dark_theme) {
    list->header_bg = GdkRGBA{0.33, 0.31, 0.12, 1.0};
    list->header_fg = fg;
  } else {
    list->header_bg = GdkRGBA{1.0, 1.0, 0.866, 1.0};
  }
}

void on_style_updated(GtkWidget*, gpointer p) { update_theme_colours(static_cast<ItemList*>(p)); }

void on_selection_changed(GtkTreeSelection* sel, gpointer p) {
  auto* list = static_cast<ItemList*>(p);
  if (list->cb.selection_changed) list->cb.selection_changed(sel, list->cb.data);
}

void on_row_activated(GtkTreeView*, GtkTreePath* path, GtkTreeViewColumn*, gpointer p) {
  auto* list = static_cast<ItemList*>(p);
  int64_t item = item_list_item_at(list, path);
  if (item >= 0 && list->cb.row_activated) list->cb.row_activated(item, list->cb.data);
}

void on_column_clicked(GtkTreeViewColumn* col, gpointer p) {
  auto* list = static_cast<ItemList*>(p);
  for (int i = 0; i < 3; i++)
    if (list->columns[i] == col && list->cb.column_clicked) list->cb.column_clicked(i, list->cb.data);
}

// Header rows are labels, not items: they cannot be selected.
gboolean select_item_rows(GtkTreeSelection*, GtkTreeModel* m, GtkTreePath* path, gboolean, gpointer) {
  GtkTreeIter it;
  if (!gtk_tree_model_get_iter(m, &it, path)) return FALSE;
  int slot = -1;
  gtk_tree_model_get(m, &it, ITEM_COL_SLOT, &slot, -1);
  return slot >= 0;
}

gboolean on_popup_menu(GtkWidget*, gpointer p) {
  auto* list = static_cast<ItemList*>(p);
  return list->cb.popup_menu && list->cb.popup_menu(list->cb.data);
}

bool filling(const ItemList* list) { return list->fill_next < list->fill.rows.size(); }

void stop_fill(ItemList* list) {
  if (list->fill_source) g_source_remove(list->fill_source);
  list->fill_source = 0;
  list->fill = ListOrderJob{};
  list->fill_next = 0;
}

// The model rows from fill_next on, at most `limit` of the job's rows with a
// header before each group's first item, their order finished first.
std::vector<ItemModelRow> next_rows(ItemList* list, size_t limit, size_t key_budget) {
  ListOrderJob& job = list->fill;
  size_t target = limit > job.rows.size() - list->fill_next ? job.rows.size() : list->fill_next + limit;
  size_t end = std::min(list_order_step(&job, key_budget, target), target);
  std::vector<ItemModelRow> out;
  out.reserve(end - list->fill_next + 11);
  for (; list->fill_next < end; list->fill_next++) {
    const ListRow& r = job.rows[list->fill_next];
    if (!item_get(r.slot)) continue;
    if (r.group != list->fill_group) {
      list->fill_group = r.group;
      // The undated group gets a header only below dated ones.
      if (r.group != 10 || list->fill_headers) {
        out.push_back({-1, r.group, 0});
        list->row_slots.push_back(-1);
        list->fill_headers = true;
      }
    }
    out.push_back({static_cast<int>(r.slot), r.group, r.time});
    list->row_slots.push_back(static_cast<int>(r.slot));
  }
  if (!filling(list)) list->fill = ListOrderJob{};
  return out;
}

gboolean fill_slice(gpointer p) {
  auto* list = static_cast<ItemList*>(p);
  gint64 deadline = g_get_monotonic_time() + kSliceMicroseconds;
  while (filling(list)) {
    item_model_append(list->store, next_rows(list, kSliceRows, kSliceKeys));
    if (g_get_monotonic_time() >= deadline) break;
  }
  if (filling(list)) return G_SOURCE_CONTINUE;
  list->fill_source = 0;
  return G_SOURCE_REMOVE;
}

// Whatever the keyboard does to the list (move, select all, type ahead)
// needs every row there first.
gboolean on_key_press(GtkWidget*, GdkEventKey*, gpointer p) {
  item_list_complete(static_cast<ItemList*>(p));
  return FALSE;
}

// Connected swapped: the list comes first whatever the action's parameters.
gboolean before_keyboard_action(gpointer p) {
  item_list_complete(static_cast<ItemList*>(p));
  return FALSE;
}

void on_destroy(GtkWidget*, gpointer p) {
  auto* list = static_cast<ItemList*>(p);
  stop_fill(list);
  if (list->store) g_object_unref(list->store);
  delete list;
}

// The next item row after position i, else the item row before it.
int64_t neighbour_item(const std::vector<int>& rows, size_t i) {
  for (size_t j = i + 1; j < rows.size(); j++)
    if (rows[j] >= 0) return rows[j];
  for (size_t j = i; j-- > 0;)
    if (rows[j] >= 0) return rows[j];
  return -1;
}

void make_day_labels(ItemList* list, int64_t now) {
  int64_t today = local_midnight(now);
  for (int i = 0; i < 8; i++) list->bounds[i] = local_midnight_after(today, i);
  list->day_end = list->bounds[1];
  for (int g = 4; g <= 8; g++) {
    char buf[32];
    format_time(list->bounds[g - 2], buf, sizeof buf, "%Y-%m-%d");
    list->day_labels[g - 4] = buf;
  }
}

const char* group_label(const ItemList* list, int group) {
  switch (group) {
    case 1: return text_of(STR_GROUP_EARLIER);
    case 2: return text_of(STR_TODAY);
    case 3: return text_of(STR_TOMORROW);
    case 9: return text_of(STR_LATER);
    case 10: return "...";
    default: return group >= 4 && group <= 8 ? list->day_labels[group - 4].c_str() : "";
  }
}

}  // namespace

ItemList* item_list_new(const ItemListCallbacks& callbacks) {
  auto* list = new ItemList;
  list->cb = callbacks;
  std::string no_labels[11];
  list->store = item_model_new({}, no_labels, 0);
  GtkWidget* view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(list->store));
  list->view = view;
  GtkTreeView* tv = GTK_TREE_VIEW(view);

  GtkCellRenderer* icon = gtk_cell_renderer_pixbuf_new();
  GtkTreeViewColumn* c0 = gtk_tree_view_column_new();
  gtk_tree_view_column_set_title(c0, "");
  gtk_tree_view_column_pack_start(c0, icon, FALSE);
  gtk_tree_view_column_set_cell_data_func(c0, icon, icon_data, list, nullptr);
  gtk_tree_view_column_set_sizing(c0, GTK_TREE_VIEW_COLUMN_FIXED);
  gtk_tree_view_column_set_fixed_width(c0, 32);
  g_object_set_data(G_OBJECT(c0), "i", GINT_TO_POINTER(1));
  list->columns[0] = c0;

  for (int i = 1; i <= 2; i++) {
    GtkCellRenderer* text = gtk_cell_renderer_text_new();
    GtkTreeViewColumn* c = gtk_tree_view_column_new_with_attributes(
        text_of(i == 1 ? STR_COLUMN_TITLE : STR_DATE), text, "text", i == 1 ? ITEM_COL_TITLE : ITEM_COL_TIME, nullptr);
    gtk_tree_view_column_set_cell_data_func(c, text, text_cell_data, list, nullptr);
    gtk_tree_view_column_set_resizable(c, TRUE);
    gtk_tree_view_column_set_sizing(c, GTK_TREE_VIEW_COLUMN_FIXED);
    gtk_tree_view_column_set_fixed_width(c, app_core().settings.col_width[i] > 0 ? app_core().settings.col_width[i]
                                                                               : (i == 1 ? 400 : 120));
    if (i == 1) gtk_tree_view_column_set_expand(c, TRUE);
    list->columns[i] = c;
  }
  for (GtkTreeViewColumn* c : list->columns) {
    gtk_tree_view_append_column(tv, c);
    gtk_tree_view_column_set_clickable(c, TRUE);
    g_signal_connect(c, "clicked", G_CALLBACK(on_column_clicked), list);
  }
  gtk_tree_view_set_headers_clickable(tv, TRUE);
  gtk_tree_view_set_grid_lines(tv, GTK_TREE_VIEW_GRID_LINES_VERTICAL);
  gtk_tree_view_set_fixed_height_mode(tv, TRUE);
  gtk_tree_view_set_search_column(tv, ITEM_COL_TITLE);
  GtkTreeSelection* sel = gtk_tree_view_get_selection(tv);
  gtk_tree_selection_set_mode(sel, GTK_SELECTION_MULTIPLE);
  gtk_tree_selection_set_select_function(sel, select_item_rows, nullptr, nullptr);
  list->selection_handler = g_signal_connect(sel, "changed", G_CALLBACK(on_selection_changed), list);
  g_signal_connect(view, "row-activated", G_CALLBACK(on_row_activated), list);
  g_signal_connect(view, "style-updated", G_CALLBACK(on_style_updated), list);
  g_signal_connect(view, "popup-menu", G_CALLBACK(on_popup_menu), list);
  g_signal_connect(view, "key-press-event", G_CALLBACK(on_key_press), list);
  for (const char* action : {"move-cursor", "select-all", "start-interactive-search"})
    g_signal_connect_swapped(view, action, G_CALLBACK(before_keyboard_action), list);
  g_signal_connect(view, "destroy", G_CALLBACK(on_destroy), list);
  update_theme_colours(list);
  AtkObject* acc = gtk_widget_get_accessible(view);
  if (acc) atk_object_set_name(acc, ui_string_line(STR_COLUMN_TITLE).c_str());
  return list;
}

int item_list_load(ItemList* list, int64_t now) {
  Model& m = model();
  // 1. The item to select afterwards, should the selected one go away.
  list->candidate = -1;
  if (m.selected_item >= 0 && m.view == list->last_view) {
    const std::vector<int>& rows = list->row_slots;
    size_t i = 0;
    while (i < rows.size() && rows[i] != m.selected_item) i++;
    list->candidate = neighbour_item(rows, i);
  }
  list->last_view = m.view;

  // 2, 3. Counters, day boundaries and labels.
  for (int& c : list->group_counts) c = 0;
  items_count_reset();
  if (now >= list->day_end) make_day_labels(list, now);

  // 4. The effective sort column and the rows, ordered but for ties.
  stop_fill(list);
  int sort_column = list_sort_column(app_core().settings.sort_by);
  list->sort_column = sort_column;
  list->fill = list_order_start(sort_column, now);

  // 5. Counts over every row, whatever order ties end up in (from the
  // order's own copies, without visiting 100,000 item records again).
  bool selected_listed = false;
  const ListOrderJob& order = list->fill;
  for (size_t i = 0; i < order.rows.size(); i++) {
    const ListRow& r = order.rows[i];
    items_inc_count(order.types[i]);
    if (r.group >= 0 && r.group <= 10) list->group_counts[r.group]++;
    if (r.slot == m.selected_item) selected_listed = true;
  }

  // 6. The first rows now, a header before each group's first item; the
  // rest in idle slices.
  list->row_slots.clear();
  list->fill_group = -1;
  list->fill_headers = false;
  std::vector<ItemModelRow> model_rows = next_rows(list, kFirstRows, SIZE_MAX);
  std::string labels[11];
  for (int g = 0; g <= 10; g++) labels[g] = group_label(list, g);
  GtkTreeModel* store = item_model_new(std::move(model_rows), labels, now);
  gtk_tree_view_set_model(GTK_TREE_VIEW(list->view), store);
  g_object_unref(list->store);
  list->store = store;
  if (filling(list)) list->fill_source = g_idle_add(fill_slice, list);

  // 7. The selection to restore, and the sort indicator.
  if (selected_listed) list->candidate = m.selected_item;
  m.selected_item = list->candidate;
  list->item_rows = 0;
  for (int c : list->group_counts) list->item_rows += c;
  for (int i = 0; i < 3; i++) gtk_tree_view_column_set_sort_indicator(list->columns[i], i == sort_column);
  if (sort_column >= 0 && sort_column < 3)
    gtk_tree_view_column_set_sort_order(list->columns[sort_column], GTK_SORT_ASCENDING);
  log_message(LOG_DEBUG, "item_list_load: %d", list->item_rows);
  return list->item_rows;
}

void item_list_reload(ItemList* list, int64_t now) {
  if (model().view == VIEW_REMINDERS) reminders_view_refresh(now);
  GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(list->view));
  g_signal_handler_block(sel, list->selection_handler);
  int n = item_list_load(list, now);
  g_signal_handler_unblock(sel, list->selection_handler);
  if (n == 0) {
    model().selected_item = -1;
    if (list->cb.emptied) list->cb.emptied(list->cb.data);
    return;
  }
  if (model().selected_item >= 0 && item_list_select_item(list, model().selected_item)) return;
  const std::vector<int>& rows = list->row_slots;
  GtkTreePath* p = gtk_tree_path_new_from_indices(!rows.empty() && rows[0] < 0 ? 1 : 0, -1);
  gtk_tree_view_set_cursor(GTK_TREE_VIEW(list->view), p, nullptr, FALSE);
  gtk_tree_path_free(p);
}

void item_list_relabel(ItemList* list) {
  gtk_tree_view_column_set_title(list->columns[0], "");
  gtk_tree_view_column_set_title(list->columns[1], text_of(STR_COLUMN_TITLE));
  gtk_tree_view_column_set_title(list->columns[2], text_of(STR_DATE));
  AtkObject* acc = gtk_widget_get_accessible(list->view);
  if (acc) atk_object_set_name(acc, ui_string_line(STR_COLUMN_TITLE).c_str());
}

void item_list_complete(ItemList* list) {
  if (!filling(list)) return;
  if (list->fill_source) g_source_remove(list->fill_source);
  list->fill_source = 0;
  item_model_append(list->store, next_rows(list, SIZE_MAX, SIZE_MAX));
}

bool item_list_select_item(ItemList* list, int64_t item) {
  if (item < 0) return false;
  const std::vector<int>& rows = list->row_slots;
  auto it = std::find(rows.begin(), rows.end(), static_cast<int>(item));
  if (it == rows.end() && filling(list)) {
    item_list_complete(list);
    it = std::find(rows.begin(), rows.end(), static_cast<int>(item));
  }
  if (it == rows.end()) return false;
  GtkTreePath* p = gtk_tree_path_new_from_indices(static_cast<int>(it - rows.begin()), -1);
  gtk_tree_view_set_cursor(GTK_TREE_VIEW(list->view), p, nullptr, FALSE);
  gtk_tree_view_scroll_to_cell(GTK_TREE_VIEW(list->view), p, nullptr, FALSE, 0, 0);
  gtk_tree_path_free(p);
  return true;
}

int64_t item_list_item_at(ItemList* list, GtkTreePath* path) {
  GtkTreeIter it;
  if (!path || !gtk_tree_model_get_iter(GTK_TREE_MODEL(list->store), &it, path)) return -1;
  int slot = -1;
  gtk_tree_model_get(GTK_TREE_MODEL(list->store), &it, ITEM_COL_SLOT, &slot, -1);
  return slot;
}

std::vector<int64_t> item_list_selected(ItemList* list) {
  std::vector<int64_t> out;
  GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(list->view));
  GList* rows = gtk_tree_selection_get_selected_rows(sel, nullptr);
  for (GList* l = rows; l; l = l->next) {
    int64_t item = item_list_item_at(list, static_cast<GtkTreePath*>(l->data));
    if (item >= 0) out.push_back(item);
  }
  g_list_free_full(rows, reinterpret_cast<GDestroyNotify>(gtk_tree_path_free));
  return out;
}
