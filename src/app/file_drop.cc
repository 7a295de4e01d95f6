// SPDX-License-Identifier: GPL-3.0-or-later
// Files dropped on the tag tree: a real tag under the pointer takes them,
// each kind of file as one import.
#include <gtk/gtk.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/file_commands.h"
#include "app/main_window.h"
#include "app/window.h"
#include "dialogs/modal.h"
#include "model/tag.h"
#include "support/files.h"
#include "support/log.h"
#include "views/tag_tree_gtk.h"

namespace {

enum { DROP_URI_LIST = 7001 };

struct PendingDrop {
  MainWindow* w;
  int64_t tag;
  std::vector<std::string> paths;
};

// The tag under the pointer, when it is a real tag.
int64_t drop_tag_at(GtkWidget* view, int x, int y) {
  GtkTreePath* path = nullptr;
  GtkTreeViewDropPosition pos;
  if (!gtk_tree_view_get_dest_row_at_pos(GTK_TREE_VIEW(view), x, y, &path, &pos)) return -1;
  GtkTreeModel* model = gtk_tree_view_get_model(GTK_TREE_VIEW(view));
  GtkTreeIter iter;
  int id = 0;
  if (gtk_tree_model_get_iter(model, &iter, path)) gtk_tree_model_get(model, &iter, TAG_COL_ID, &id, -1);
  gtk_tree_path_free(path);
  return id > 0 && tag_get(id) ? id : -1;
}

// Files dropped while a dialog runs would start an import under it: only
// the main window on top takes them.
bool offers_files(GtkWidget* view, GdkDragContext* context) {
  if (top_window() != GTK_WINDOW(gtk_widget_get_toplevel(view))) return false;
  GtkTargetList* mine = gtk_target_list_new(nullptr, 0);
  gtk_target_list_add_uri_targets(mine, DROP_URI_LIST);
  GdkAtom target = gtk_drag_dest_find_target(view, context, mine);
  gtk_target_list_unref(mine);
  return target != GDK_NONE;
}

gboolean on_drag_motion(GtkWidget* view, GdkDragContext* context, int x, int y, guint time, gpointer) {
  if (!offers_files(view, context)) return FALSE;
  int64_t tag = drop_tag_at(view, x, y);
  if (tag < 0) {
    gtk_tree_view_set_drag_dest_row(GTK_TREE_VIEW(view), nullptr, GTK_TREE_VIEW_DROP_INTO_OR_AFTER);
    gdk_drag_status(context, static_cast<GdkDragAction>(0), time);
    return TRUE;
  }
  GtkTreePath* path = nullptr;
  GtkTreeViewDropPosition pos;
  if (gtk_tree_view_get_dest_row_at_pos(GTK_TREE_VIEW(view), x, y, &path, &pos)) {
    gtk_tree_view_set_drag_dest_row(GTK_TREE_VIEW(view), path, GTK_TREE_VIEW_DROP_INTO_OR_AFTER);
    gtk_tree_path_free(path);
  }
  gdk_drag_status(context, GDK_ACTION_COPY, time);
  return TRUE;
}

void on_drag_leave(GtkWidget* view, GdkDragContext*, guint, gpointer) {
  gtk_tree_view_set_drag_dest_row(GTK_TREE_VIEW(view), nullptr, GTK_TREE_VIEW_DROP_INTO_OR_AFTER);
}

gboolean on_drag_drop(GtkWidget* view, GdkDragContext* context, int x, int y, guint time, gpointer) {
  if (!offers_files(view, context)) return FALSE;
  if (drop_tag_at(view, x, y) < 0) {
    gtk_drag_finish(context, FALSE, FALSE, time);
    return TRUE;
  }
  GtkTargetList* mine = gtk_target_list_new(nullptr, 0);
  gtk_target_list_add_uri_targets(mine, DROP_URI_LIST);
  GdkAtom target = gtk_drag_dest_find_target(view, context, mine);
  gtk_target_list_unref(mine);
  gtk_drag_get_data(view, context, target, time);
  return TRUE;
}

gboolean run_drop(gpointer p) {
  std::unique_ptr<PendingDrop> drop(static_cast<PendingDrop*>(p));
  import_dropped_files(drop->w, drop->tag, drop->paths);
  return G_SOURCE_REMOVE;
}

void on_drag_data_received(GtkWidget* view, GdkDragContext* context, int x, int y, GtkSelectionData* data,
                           guint info, guint time, gpointer user) {
  if (info != DROP_URI_LIST) return;
  // The tree's own handler knows only rows of its model.
  g_signal_stop_emission_by_name(view, "drag-data-received");
  int64_t tag = drop_tag_at(view, x, y);
  gchar** uris = gtk_selection_data_get_uris(data);
  std::vector<std::string> paths = uris_to_paths(uris);
  g_strfreev(uris);
  gtk_drag_finish(context, tag > 0 && !paths.empty(), FALSE, time);
  gtk_tree_view_set_drag_dest_row(GTK_TREE_VIEW(view), nullptr, GTK_TREE_VIEW_DROP_INTO_OR_AFTER);
  if (tag <= 0 || paths.empty()) return;
  // The import's progress dialog runs a loop of its own: not inside the
  // drag's signal.
  g_idle_add(run_drop, new PendingDrop{static_cast<MainWindow*>(user), tag, std::move(paths)});
}

}  // namespace

std::vector<std::string> uris_to_paths(gchar** uris) {
  std::vector<std::string> paths;
  for (gchar** u = uris; u && *u; u++) {
    gchar* file = g_filename_from_uri(*u, nullptr, nullptr);  // local files only
    if (file) paths.emplace_back(file);
    g_free(file);
  }
  return paths;
}

int import_dropped_files(MainWindow* w, int64_t tag, const std::vector<std::string>& paths) {
  log_message(LOG_INFO, "import_dropped_files: %lld %zu", static_cast<long long>(tag), paths.size());
  if (tag <= 0 || !tag_get(tag)) return -1;
  // Same kinds in one import each, in the order they first appear.
  std::vector<std::pair<ImportKind, std::vector<std::string>>> groups;
  for (const std::string& path : paths) {
    if (!file_exists(path)) continue;  // folders and the like
    ImportKind kind = import_kind_of(path);
    auto it = std::find_if(groups.begin(), groups.end(), [kind](const auto& g) { return g.first == kind; });
    if (it == groups.end()) groups.push_back({kind, {path}});
    else it->second.push_back(path);
  }
  int total = 0;
  bool any = false;
  for (const auto& g : groups) {
    int n = import_files_into(w, g.first, g.second, tag);
    if (n >= 0) {
      total += n;
      any = true;
    }
  }
  return any ? total : -1;
}

void file_drop_install(MainWindow* w) {
  GtkWidget* view = w->tag_tree;
  GtkTargetList* list = gtk_drag_dest_get_target_list(view);
  if (list) {
    gtk_target_list_add_uri_targets(list, DROP_URI_LIST);
  } else {
    // Motion and drop are decided here, row by row.
    gtk_drag_dest_set(view, static_cast<GtkDestDefaults>(0), nullptr, 0, GDK_ACTION_COPY);
    list = gtk_target_list_new(nullptr, 0);
    gtk_target_list_add_uri_targets(list, DROP_URI_LIST);
    gtk_drag_dest_set_target_list(view, list);
    gtk_target_list_unref(list);
  }
  g_signal_connect(view, "drag-motion", G_CALLBACK(on_drag_motion), w);
  g_signal_connect(view, "drag-leave", G_CALLBACK(on_drag_leave), w);
  g_signal_connect(view, "drag-drop", G_CALLBACK(on_drag_drop), w);
  g_signal_connect(view, "drag-data-received", G_CALLBACK(on_drag_data_received), w);
}
