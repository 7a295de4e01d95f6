// SPDX-License-Identifier: GPL-3.0-or-later
// The account's server repositories in the repository manager: the list the
// server gives, clone (behind the repository password) and delete.
#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "crypto/wipe.h"
#include "dialogs/layout.h"
#include "dialogs/message.h"
#include "dialogs/modal.h"
#include "dialogs/password_prompt.h"
#include "dialogs/progress.h"
#include "dialogs/repo_manager_internal.h"
#include "storage/repo.h"
#include "support/log.h"
#include "support/strings.h"
#include "sync/error_text.h"
#include "sync/requests.h"

namespace {

struct ListJob {
  ServerLogin login;
  std::vector<std::string> ids;
};

intptr_t list_worker(void* p) {
  auto* job = static_cast<ListJob*>(p);
  return server_list_repos(job->login, &job->ids);
}

struct CloneJob {
  std::string id;
  std::string password;
  int index = -1;
};

intptr_t clone_server_worker(void* p) {
  auto* job = static_cast<CloneJob*>(p);
  return repo_clone_from_server(job->id.c_str(), job->password.c_str(), &job->index);
}

struct ServerDialog {
  GtkWidget* dialog = nullptr;
  GtkWidget* view = nullptr;
  GtkListStore* store = nullptr;
  ServerLogin login;
  bool changed = false;
};

bool selected_id(ServerDialog* s, std::string* id, GtkTreeIter* iter) {
  GtkTreeModel* model = nullptr;
  if (!gtk_tree_selection_get_selected(gtk_tree_view_get_selection(GTK_TREE_VIEW(s->view)), &model, iter))
    return false;
  gchar* text = nullptr;
  gtk_tree_model_get(model, iter, 0, &text, -1);
  *id = text ? text : "";
  g_free(text);
  return true;
}

bool already_cloned(const std::string& id) {
  for (const RepoEntry& e : repo_table())
    if (!e.server_id.empty() && e.server_id == id) return true;
  return false;
}

void server_update(GtkTreeSelection*, gpointer p) {
  auto* s = static_cast<ServerDialog*>(p);
  std::string id;
  GtkTreeIter iter;
  bool has = selected_id(s, &id, &iter);
  gtk_dialog_set_response_sensitive(GTK_DIALOG(s->dialog), 1, has && !already_cloned(id));
  gtk_dialog_set_response_sensitive(GTK_DIALOG(s->dialog), 2, has);
}

void server_clone(ServerDialog* s) {
  std::string id;
  GtkTreeIter iter;
  if (!selected_id(s, &id, &iter) || already_cloned(id)) return;
  CloneJob job;
  if (password_prompt_simple(STR_APP_NAME, STR_ENTER_REPO_PASSWORD, STR_NONE, &job.password) != 0) return;
  if (job.password.size() > 63) job.password.resize(63);
  job.id = id;
  intptr_t result = run_with_progress(STR_IMPORT_REPOSITORY, STR_CONTACTING_SERVER, clone_server_worker, &job, false);
  wipe(&job.password);
  if (result != 0) {
    show_message(STR_IMPORT_REPOSITORY, error_message_id(static_cast<int>(result)));
    return;
  }
  show_info(STR_IMPORT_REPOSITORY, STR_MSG_REPO_ADDED);
  gtk_dialog_set_response_sensitive(GTK_DIALOG(s->dialog), 1, FALSE);
  s->changed = true;
}

void server_delete(ServerDialog* s) {
  std::string id;
  GtkTreeIter iter;
  if (!selected_id(s, &id, &iter)) return;
  if (!ask_yes_no(STR_ASK_DELETE_SERVER_REPO, id.c_str(), STR_ASK_DELETE_SERVER_REPO_DETAIL, STR_CANCEL, STR_DELETE))
    return;
  int rc = server_delete_repo(s->login, id.c_str());
  if (rc != 0) {
    show_message(STR_DELETE, error_message_id(rc));
    return;
  }
  log_message(LOG_INFO, "server_delete: %s", id.c_str());
  gtk_list_store_remove(s->store, &iter);
  s->changed = true;
  server_update(nullptr, s);
}

// True when something changed on the server or here.
bool server_dialog(RepoManager* m, const ServerLogin& login, const std::vector<std::string>& ids) {
  ServerDialog s;
  s.login = login;
  s.dialog = dialog_new(STR_SERVER);
  gtk_window_set_transient_for(GTK_WINDOW(s.dialog), GTK_WINDOW(m->dialog));
  dialog_add_button(s.dialog, STR_IMPORT_REPOSITORY, 1);
  dialog_add_button(s.dialog, STR_DELETE, 2);
  dialog_add_button(s.dialog, STR_CLOSE, GTK_RESPONSE_OK);
  gtk_window_set_default_size(GTK_WINDOW(s.dialog), 350, 200);
  s.store = gtk_list_store_new(1, G_TYPE_STRING);
  for (const std::string& id : ids) gtk_list_store_insert_with_values(s.store, nullptr, -1, 0, id.c_str(), -1);
  gtk_tree_sortable_set_sort_column_id(GTK_TREE_SORTABLE(s.store), 0, GTK_SORT_ASCENDING);
  s.view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(s.store));
  g_object_unref(s.store);
  gtk_tree_view_append_column(
      GTK_TREE_VIEW(s.view),
      gtk_tree_view_column_new_with_attributes(ui_string(STR_NAME), gtk_cell_renderer_text_new(), "text", 0, nullptr));
  GtkWidget* sw = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(sw), GTK_SHADOW_IN);
  gtk_container_add(GTK_CONTAINER(sw), s.view);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 5);
  gtk_container_set_border_width(GTK_CONTAINER(box), 5);
  gtk_box_pack_start(GTK_BOX(box), sw, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(s.dialog))), box, TRUE, TRUE, 0);
  GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(s.view));
  g_signal_connect(sel, "changed", G_CALLBACK(server_update), &s);
  gtk_widget_show_all(s.dialog);
  gtk_widget_grab_focus(s.view);
  GtkTreePath* first = gtk_tree_path_new_first();
  gtk_tree_view_set_cursor(GTK_TREE_VIEW(s.view), first, nullptr, FALSE);
  gtk_tree_path_free(first);
  server_update(sel, &s);
  {
    ModalScope scope(s.dialog);
    for (;;) {
      int r = scope.run();
      if (r == 1)
        server_clone(&s);
      else if (r == 2)
        server_delete(&s);
      else
        break;
    }
  }
  gtk_widget_destroy(s.dialog);
  return s.changed;
}

}  // namespace

void server_repositories_dialog(RepoManager* m) {
  ListJob job;
  if (login_for_account(signed_in_account(), &job.login) != 0) {
    show_message(STR_SERVER, STR_MSG_REQUEST_FAILED, error_code_text(last_error()).c_str());
    return;
  }
  intptr_t result = run_with_progress(STR_SERVER, STR_CONTACTING_SERVER, list_worker, &job, false);
  if (result != 0) {
    show_message(STR_SERVER, STR_MSG_REQUEST_FAILED, error_code_text(last_error()).c_str());
    return;
  }
  if (server_dialog(m, job.login, job.ids)) repo_manager_fill(m);
}
