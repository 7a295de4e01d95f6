// SPDX-License-Identifier: GPL-3.0-or-later
// The repository manager's table and its context menu; the dialogs it
// opens have files of their own (repo_*_dialog.cc).
#include "dialogs/repo_manager.h"

#include <gtk/gtk.h>

#include <string>

#include "crypto/wipe.h"
#include "dialogs/message.h"
#include "dialogs/modal.h"
#include "dialogs/password_prompt.h"
#include "dialogs/progress.h"
#include "dialogs/repo_manager_internal.h"
#include "model/app_core.h"
#include "storage/db.h"
#include "storage/repo.h"
#include "support/log.h"
#include "support/strings.h"
#include "sync/error_text.h"
#include "sync/requests.h"

namespace {

enum { COL_NAME, COL_SERVER, COL_PATH, COL_ENABLED, COL_HIDDEN, COL_INDEX, N_COLS };

// The selected row's table index, or -1.
int current(RepoManager* m, GtkTreeIter* iter_out = nullptr) {
  GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(m->view));
  GtkTreeModel* model = nullptr;
  GtkTreeIter iter;
  if (!gtk_tree_selection_get_selected(sel, &model, &iter)) return -1;
  int index = -1;
  gtk_tree_model_get(model, &iter, COL_INDEX, &index, -1);
  if (index < 0 || static_cast<size_t>(index) >= repo_table().size()) return -1;
  if (iter_out) *iter_out = iter;
  return index;
}

void on_toggled(GtkCellRendererToggle*, gchar* path, gpointer p, int column) {
  auto* m = static_cast<RepoManager*>(p);
  GtkTreeIter iter;
  if (!gtk_tree_model_get_iter_from_string(GTK_TREE_MODEL(m->store), &iter, path)) return;
  int index = -1;
  gtk_tree_model_get(GTK_TREE_MODEL(m->store), &iter, COL_INDEX, &index, -1);
  if (index < 0 || static_cast<size_t>(index) >= repo_table().size()) return;
  RepoEntry& e = repo_table()[index];
  bool& flag = column == COL_ENABLED ? e.enabled : e.hidden;
  flag = !flag;
  if (repo_store(&e) != 0) {
    // The stored record is the truth: the flag goes back.
    log_message(LOG_ERROR, "on_toggled: storing repository %d failed", index);
    flag = !flag;
  }
  gtk_list_store_set(m->store, &iter, column, flag, -1);
}

void on_enabled_toggled(GtkCellRendererToggle* r, gchar* path, gpointer p) { on_toggled(r, path, p, COL_ENABLED); }
void on_hidden_toggled(GtkCellRendererToggle* r, gchar* path, gpointer p) { on_toggled(r, path, p, COL_HIDDEN); }

// ---------------------------------------------------------------------------
// Context menu actions on the selected repository

void on_show_password(GtkMenuItem*, gpointer p) {
  int index = current(static_cast<RepoManager*>(p));
  if (index < 0) return;
  std::string pw = repo_password(&repo_table()[index]);
  show_copyable(STR_PASSWORD_TITLE, pw.c_str());
  wipe(&pw);
}

void on_change_password(GtkMenuItem*, gpointer p) {
  auto* m = static_cast<RepoManager*>(p);
  int index = current(m);
  if (index >= 0) change_password_dialog(m, index);
}

struct PutJob {
  int index;
};

intptr_t put_worker(void* p) { return repo_put_on_server(static_cast<PutJob*>(p)->index, ""); }

void on_put_on_server(GtkMenuItem*, gpointer p) {
  auto* m = static_cast<RepoManager*>(p);
  GtkTreeIter iter;
  int index = current(m, &iter);
  if (index < 0 || !repo_table()[index].server_id.empty()) return;
  if (repo_clear_history(&repo_table()[index]) != 0) {
    show_message(STR_UPLOAD_TO_SERVER, error_message_id(last_error()));
    return;
  }
  PutJob job{index};
  intptr_t result = run_with_progress(STR_UPLOAD_TO_SERVER, STR_CONTACTING_SERVER, put_worker, &job, false);
  if (result != 0) {
    show_message(STR_UPLOAD_TO_SERVER, error_message_id(static_cast<int>(result)));
    return;
  }
  show_info(STR_UPLOAD_TO_SERVER, STR_MSG_REPO_ON_SERVER);
  gtk_list_store_set(m->store, &iter, COL_SERVER, repo_table()[index].server_id.c_str(), -1);
}

void on_delete(GtkMenuItem*, gpointer p) {
  auto* m = static_cast<RepoManager*>(p);
  int index = current(m);
  if (index < 0) return;
  if (!ask_yes_no(STR_ASK_DELETE_NAMED, repo_table()[index].name.c_str(), STR_ASK_DELETE_REPO_DETAIL, STR_CANCEL,
                  STR_DELETE))
    return;
  int rc = repo_delete(index);
  if (rc != 0) {
    log_message(LOG_ERROR, "on_delete: repository %d: %d", index, rc);
    show_message(STR_DELETE, error_message_id(rc));
  }
  // Later entries moved down: every row's index is read again.
  repo_manager_fill(m);
}

void add_item(GtkWidget* menu, StrId label_id, GCallback cb, RepoManager* m) {
  GtkWidget* item = gtk_menu_item_new_with_label(ui_string(label_id));
  g_signal_connect(item, "activate", cb, m);
  gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
}

GtkWidget* build_menu(RepoManager* m, int index) {
  if (m->menu) gtk_widget_destroy(m->menu);
  const RepoEntry& e = repo_table()[index];
  GtkWidget* menu = gtk_menu_new();
  if (e.account_user.empty() || e.account_user == signed_in_account().user)
    add_item(menu, STR_SHOW_PASSWORD, G_CALLBACK(on_show_password), m);
  add_item(menu, STR_CHANGE_PASSWORD, G_CALLBACK(on_change_password), m);
  if (has_signed_in_account() && e.server_id.empty())
    add_item(menu, STR_UPLOAD_TO_SERVER, G_CALLBACK(on_put_on_server), m);
  add_item(menu, STR_DELETE, G_CALLBACK(on_delete), m);
  gtk_menu_attach_to_widget(GTK_MENU(menu), m->view, nullptr);
  gtk_widget_show_all(menu);
  m->menu = menu;
  return menu;
}

gboolean on_button_press(GtkWidget* view, GdkEventButton* ev, gpointer p) {
  auto* m = static_cast<RepoManager*>(p);
  if (ev->type != GDK_BUTTON_PRESS || ev->button != 3) return FALSE;
  GtkTreePath* path = nullptr;
  if (!gtk_tree_view_get_path_at_pos(GTK_TREE_VIEW(view), static_cast<int>(ev->x), static_cast<int>(ev->y), &path,
                                     nullptr, nullptr, nullptr))
    return FALSE;
  gtk_tree_selection_select_path(gtk_tree_view_get_selection(GTK_TREE_VIEW(view)), path);
  gtk_tree_path_free(path);
  int index = current(m);
  if (index < 0) return TRUE;
  gtk_menu_popup_at_pointer(GTK_MENU(build_menu(m, index)), reinterpret_cast<GdkEvent*>(ev));
  return TRUE;
}

// The keyboard's menu key: the same menu for the selected row.
gboolean on_popup_menu(GtkWidget* view, gpointer p) {
  auto* m = static_cast<RepoManager*>(p);
  int index = current(m);
  if (index < 0) return FALSE;
  gtk_menu_popup_at_widget(GTK_MENU(build_menu(m, index)), view, GDK_GRAVITY_CENTER, GDK_GRAVITY_NORTH_WEST,
                           nullptr);
  return TRUE;
}

GtkTreeViewColumn* toggle_column(RepoManager* m, StrId header_id, int column, GCallback cb) {
  GtkCellRenderer* r = gtk_cell_renderer_toggle_new();
  g_signal_connect(r, "toggled", cb, m);
  return gtk_tree_view_column_new_with_attributes(ui_string(header_id), r, "active", column, nullptr);
}

bool unlock_manager() {
  if (setting_get_int(config_db(), "lock_db_manager", 0) == 0) return true;
  std::string pw;
  if (password_prompt_simple(STR_APP_NAME, STR_ENTER_MASTER_PASSWORD, STR_NONE, &pw) != 0) return false;
  int rc = master_password_check(pw.c_str());
  wipe(&pw);
  if (rc != 0) {
    show_message(STR_REPOSITORIES, STR_MSG_WRONG_PASSWORD);
    return false;
  }
  return true;
}

}  // namespace

void repo_manager_fill(RepoManager* m) {
  gtk_list_store_clear(m->store);
  for (size_t i = 0; i < repo_table().size(); i++) {
    const RepoEntry& e = repo_table()[i];
    gtk_list_store_insert_with_values(m->store, nullptr, -1, COL_NAME, e.name.c_str(), COL_SERVER,
                                      e.server_id.c_str(), COL_PATH, e.path.c_str(), COL_ENABLED, e.enabled,
                                      COL_HIDDEN, e.hidden, COL_INDEX, static_cast<int>(i), -1);
  }
}

void repo_manager() {
  if (!unlock_manager()) return;
  RepoManager m;
  bool locked = setting_get_int(config_db(), "lock_db_manager", 0) != 0;
  m.dialog = dialog_new(STR_REPOSITORIES);
  GtkWidget* new_button = dialog_add_button(m.dialog, STR_NEW_REPOSITORY_BUTTON, 1);
  GtkWidget* import_button = dialog_add_button(m.dialog, STR_IMPORT, 2);
  GtkWidget* server_button = dialog_add_button(m.dialog, STR_SERVER, 3);
  dialog_add_button(m.dialog, STR_CLOSE, GTK_RESPONSE_OK);
  (void)new_button;
  bool account = has_signed_in_account();
  gtk_widget_set_sensitive(import_button, account);
  gtk_widget_set_sensitive(server_button, account);

  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 5);
  gtk_container_set_border_width(GTK_CONTAINER(box), 5);
  GtkWidget* lock = gtk_check_button_new_with_label(ui_string(STR_LOCK_REPO_MANAGER));
  gtk_widget_set_halign(lock, GTK_ALIGN_CENTER);
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(lock), locked);
  gtk_box_pack_start(GTK_BOX(box), lock, FALSE, FALSE, 0);
  // The hint wraps: on one line, longer translations stretch the dialog
  // past a small screen.
  GtkWidget* hint = gtk_label_new(ui_string(STR_REPO_MANAGER_HINT));
  gtk_label_set_line_wrap(GTK_LABEL(hint), TRUE);
  gtk_label_set_justify(GTK_LABEL(hint), GTK_JUSTIFY_CENTER);
  gtk_label_set_max_width_chars(GTK_LABEL(hint), 80);
  gtk_box_pack_start(GTK_BOX(box), hint, FALSE, FALSE, 0);

  m.store = gtk_list_store_new(N_COLS, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_BOOLEAN, G_TYPE_BOOLEAN,
                               G_TYPE_INT);
  gtk_tree_sortable_set_sort_column_id(GTK_TREE_SORTABLE(m.store), COL_NAME, GTK_SORT_ASCENDING);
  m.view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(m.store));
  g_object_unref(m.store);
  GtkTreeView* tv = GTK_TREE_VIEW(m.view);
  gtk_tree_view_append_column(tv, gtk_tree_view_column_new_with_attributes(
                                      ui_string(STR_NAME), gtk_cell_renderer_text_new(), "text", COL_NAME, nullptr));
  gtk_tree_view_append_column(
      tv, gtk_tree_view_column_new_with_attributes(ui_string(STR_SERVER), gtk_cell_renderer_text_new(), "text",
                                                   COL_SERVER, nullptr));
  GtkTreeViewColumn* path_col = gtk_tree_view_column_new_with_attributes(
      ui_string(STR_LOCATION), gtk_cell_renderer_text_new(), "text", COL_PATH, nullptr);
  gtk_tree_view_column_set_expand(path_col, TRUE);
  gtk_tree_view_append_column(tv, path_col);
  gtk_tree_view_append_column(tv, toggle_column(&m, STR_COLUMN_ENABLED, COL_ENABLED, G_CALLBACK(on_enabled_toggled)));
  gtk_tree_view_append_column(tv, toggle_column(&m, STR_COLUMN_HIDDEN, COL_HIDDEN, G_CALLBACK(on_hidden_toggled)));
  g_signal_connect(m.view, "button-press-event", G_CALLBACK(on_button_press), &m);
  g_signal_connect(m.view, "popup-menu", G_CALLBACK(on_popup_menu), &m);
  GtkWidget* sw = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(sw), GTK_SHADOW_IN);
  gtk_container_add(GTK_CONTAINER(sw), m.view);
  gtk_box_pack_start(GTK_BOX(box), sw, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(m.dialog))), box, TRUE, TRUE, 0);

  repo_manager_fill(&m);
  gtk_widget_show_all(m.dialog);
  gtk_widget_grab_focus(m.view);
  GtkTreePath* first = gtk_tree_path_new_first();
  gtk_tree_view_set_cursor(tv, first, nullptr, FALSE);
  gtk_tree_path_free(first);
  DialogSizes& sizes = app_core().dialog_sizes;
  {
    ModalScope scope(m.dialog, &sizes.width[DLG_REPO], &sizes.height[DLG_REPO]);
    for (;;) {
      int r = scope.run();
      if (r == 1)
        new_repository_dialog(&m);
      else if (r == 2)
        import_repository_dialog(&m);
      else if (r == 3)
        server_repositories_dialog(&m);
      else
        break;
    }
    bool now = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(lock));
    if (now != locked) setting_put_str(config_db(), "lock_db_manager", now ? "1" : "");
  }
  if (m.menu) gtk_widget_destroy(m.menu);
  gtk_widget_destroy(m.dialog);
}
