// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/drag_items.h"

#include <gtk/gtk.h>

#include "app/handlers.h"
#include "app/main_window.h"
#include "app/window.h"
#include "model/item.h"
#include "model/model.h"
#include "model/ops.h"
#include "model/tag.h"
#include "model/tag_assign.h"
#include "support/log.h"
#include "views/item_list_gtk.h"
#include "views/tag_tree_gtk.h"

namespace {

// The id of the info field of our target; other drop targets of the tree
// use their own.
constexpr guint kItemsInfo = 0x4f49;

GdkAtom items_atom() { return gdk_atom_intern_static_string(kItemsTarget); }

// The real tag under a drag position of the tag tree, or 0.
int tag_at(GtkWidget* tree, int x, int y) {
  GtkTreePath* path = nullptr;
  if (!gtk_tree_view_get_dest_row_at_pos(GTK_TREE_VIEW(tree), x, y, &path, nullptr)) return 0;
  GtkTreeModel* m = gtk_tree_view_get_model(GTK_TREE_VIEW(tree));
  GtkTreeIter it;
  int id = 0;
  if (gtk_tree_model_get_iter(m, &it, path)) gtk_tree_model_get(m, &it, TAG_COL_ID, &id, -1);
  gtk_tree_path_free(path);
  return id >= 1 && tag_get(id) ? id : 0;
}

bool ours(GtkWidget* widget, GdkDragContext* context) {
  return gtk_drag_dest_find_target(widget, context, nullptr) == items_atom();
}

void on_drag_data_get(GtkWidget*, GdkDragContext*, GtkSelectionData* data, guint info, guint, MainWindow* w) {
  if (info != kItemsInfo) return;
  std::string text = drag_items_encode(item_list_selected(w->items));
  gtk_selection_data_set(data, items_atom(), 8, reinterpret_cast<const guchar*>(text.data()),
                         static_cast<gint>(text.size()));
}

gboolean on_drag_motion(GtkWidget* tree, GdkDragContext* context, gint x, gint y, guint time, MainWindow*) {
  if (!ours(tree, context)) return FALSE;
  GtkTreePath* path = nullptr;
  int tag = tag_at(tree, x, y);
  if (tag && gtk_tree_view_get_dest_row_at_pos(GTK_TREE_VIEW(tree), x, y, &path, nullptr)) {
    gtk_tree_view_set_drag_dest_row(GTK_TREE_VIEW(tree), path, GTK_TREE_VIEW_DROP_INTO_OR_BEFORE);
    gtk_tree_path_free(path);
    gdk_drag_status(context, GDK_ACTION_COPY, time);
  } else {
    gtk_tree_view_set_drag_dest_row(GTK_TREE_VIEW(tree), nullptr, GTK_TREE_VIEW_DROP_BEFORE);
    gdk_drag_status(context, static_cast<GdkDragAction>(0), time);
  }
  return TRUE;
}

void on_drag_leave(GtkWidget* tree, GdkDragContext*, guint, MainWindow*) {
  gtk_tree_view_set_drag_dest_row(GTK_TREE_VIEW(tree), nullptr, GTK_TREE_VIEW_DROP_BEFORE);
}

gboolean on_drag_drop(GtkWidget* tree, GdkDragContext* context, gint x, gint y, guint time, MainWindow*) {
  if (!ours(tree, context)) return FALSE;
  if (!tag_at(tree, x, y)) {
    gtk_drag_finish(context, FALSE, FALSE, time);
    return TRUE;
  }
  gtk_drag_get_data(tree, context, items_atom(), time);
  return TRUE;
}

void on_drag_data_received(GtkWidget* tree, GdkDragContext* context, gint x, gint y, GtkSelectionData* data,
                           guint info, guint time, MainWindow* w) {
  if (info != kItemsInfo && gtk_selection_data_get_target(data) != items_atom()) return;
  gtk_tree_view_set_drag_dest_row(GTK_TREE_VIEW(tree), nullptr, GTK_TREE_VIEW_DROP_BEFORE);
  int tag = tag_at(tree, x, y);
  const guchar* bytes = gtk_selection_data_get_data(data);
  gint length = gtk_selection_data_get_length(data);
  bool ok = false;
  if (tag && bytes && length > 0) {
    std::string text(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
    ok = drop_items_on_tag(w, tag, drag_items_decode(text)) >= 0;
  }
  gtk_drag_finish(context, ok, FALSE, time);
  g_signal_stop_emission_by_name(tree, "drag-data-received");
}

}  // namespace

void drag_items_install(MainWindow* w) {
  GtkTargetEntry entry = {const_cast<gchar*>(kItemsTarget), GTK_TARGET_SAME_APP, kItemsInfo};
  // A plain drag source: the list's model is not a tree drag source, and
  // what travels is the selection, not a row.
  gtk_drag_source_set(w->item_list, GDK_BUTTON1_MASK, &entry, 1, GDK_ACTION_COPY);
  g_signal_connect(w->item_list, "drag-data-get", G_CALLBACK(on_drag_data_get), w);

  GtkTargetList* targets = gtk_drag_dest_get_target_list(w->tag_tree);
  if (targets) {
    gtk_target_list_add(targets, items_atom(), GTK_TARGET_SAME_APP, kItemsInfo);
  } else {
    gtk_drag_dest_set(w->tag_tree, static_cast<GtkDestDefaults>(0), &entry, 1, GDK_ACTION_COPY);
  }
  g_signal_connect(w->tag_tree, "drag-motion", G_CALLBACK(on_drag_motion), w);
  g_signal_connect(w->tag_tree, "drag-leave", G_CALLBACK(on_drag_leave), w);
  g_signal_connect(w->tag_tree, "drag-drop", G_CALLBACK(on_drag_drop), w);
  g_signal_connect(w->tag_tree, "drag-data-received", G_CALLBACK(on_drag_data_received), w);
}

std::string drag_items_encode(const std::vector<int64_t>& slots) {
  std::string text;
  for (int64_t s : slots)
    if (const Item* item = item_get(s)) text += uuid_to_hex(item->uuid) + "\n";
  return text;
}

std::vector<int64_t> drag_items_decode(const std::string& text) {
  std::vector<int64_t> slots;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.size() != 32) continue;
    int64_t slot = item_find_hex(line.c_str());
    if (slot >= 0 && item_get(slot)) slots.push_back(slot);
  }
  return slots;
}

int drop_items_on_tag(MainWindow* w, int64_t tag, const std::vector<int64_t>& slots) {
  const Tag* t = tag >= 1 ? tag_get(tag) : nullptr;
  log_message(LOG_INFO, "drop_items_on_tag: %lld (%d)", static_cast<long long>(tag), static_cast<int>(slots.size()));
  if (!t) return -1;
  int repo = t->repo;
  std::vector<int64_t> own;
  std::vector<int32_t> others;
  for (int64_t s : slots) {
    const Item* item = item_get(s);
    if (!item) continue;
    if (item->repo == repo) own.push_back(s);
    else others.push_back(static_cast<int32_t>(s));
  }
  RefreshPause pause(w);
  int done = 0;
  if (!own.empty()) {
    int rc = tags_assign(repo, {TagChoice{tag, true}}, own);
    if (rc != 0) {
      log_message(LOG_ERROR, "drop_items_on_tag: tags_assign %d", rc);
      return -1;
    }
    done += static_cast<int>(own.size());
  }
  if (!others.empty()) {
    int n = paste_with_progress(tag, others);
    if (n < 0) {
      if (n == -1) log_message(LOG_ERROR, "drop_items_on_tag: paste %d", n);
      return -1;
    }
    done += n;
  }
  return done;
}
