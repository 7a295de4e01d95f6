#include "dialogs/repo_manager.h"

#include <gtk/gtk.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "crypto/crypto.h"
#include "crypto/wipe.h"
#include "dialogs/layout.h"
#include "dialogs/message.h"
#include "dialogs/modal.h"
#include "dialogs/password_generator.h"
#include "dialogs/password_prompt.h"
#include "dialogs/progress.h"
#include "model/app_core.h"
#include "storage/db.h"
#include "storage/repo.h"
#include "support/log.h"
#include "support/strings.h"
#include "sync/error_text.h"
#include "sync/requests.h"

namespace {

enum { COL_NAME, COL_SERVER, COL_PATH, COL_ENABLED, COL_HIDDEN, COL_INDEX, N_COLS };
enum { NEW_PASSWORD_LEN = 20, ALL_CLASSES = 15 };

struct Manager {
  GtkWidget* dialog = nullptr;
  GtkWidget* view = nullptr;
  GtkListStore* store = nullptr;
  GtkWidget* menu = nullptr;
};

std::string repo_root_setting() {
  std::string root = setting_get(config_db(), "repo_root");
  return root.empty() ? app_core().repo_root : root;
}

void fill(Manager* m) {
  gtk_list_store_clear(m->store);
  for (size_t i = 0; i < repo_table.size(); i++) {
    const RepoEntry& e = repo_table[i];
    gtk_list_store_insert_with_values(m->store, nullptr, -1, COL_NAME, e.name.c_str(), COL_SERVER,
                                      e.server_id.c_str(), COL_PATH, e.path.c_str(), COL_ENABLED, e.enabled,
                                      COL_HIDDEN, e.hidden, COL_INDEX, static_cast<int>(i), -1);
  }
}

// The selected row's table index, or -1.
int current(Manager* m, GtkTreeIter* iter_out = nullptr) {
  GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(m->view));
  GtkTreeModel* model = nullptr;
  GtkTreeIter iter;
  if (!gtk_tree_selection_get_selected(sel, &model, &iter)) return -1;
  int index = -1;
  gtk_tree_model_get(model, &iter, COL_INDEX, &index, -1);
  if (index < 0 || static_cast<size_t>(index) >= repo_table.size()) return -1;
  if (iter_out) *iter_out = iter;
  return index;
}

void on_toggled(GtkCellRendererToggle*, gchar* path, gpointer p, int column) {
  auto* m = static_cast<Manager*>(p);
  GtkTreeIter iter;
  if (!gtk_tree_model_get_iter_from_string(GTK_TREE_MODEL(m->store), &iter, path)) return;
  int index = -1;
  gtk_tree_model_get(GTK_TREE_MODEL(m->store), &iter, COL_INDEX, &index, -1);
  if (index < 0 || static_cast<size_t>(index) >= repo_table.size()) return;
  RepoEntry& e = repo_table[index];
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
// The password row of the new-repository and change-password dialogs.

struct PasswordRow {
  GtkWidget* box = nullptr;
  GtkWidget* entry = nullptr;
  GtkWidget* show = nullptr;
  bool visible = false;
};

void on_show_clicked(GtkButton*, gpointer p) {
  auto* r = static_cast<PasswordRow*>(p);
  r->visible = !r->visible;
  gtk_entry_set_visibility(GTK_ENTRY(r->entry), r->visible);
  gtk_button_set_label(GTK_BUTTON(r->show), ui_string(r->visible ? 285 : 284));
}

void fill_generated(GtkWidget* entry) {
  Secret<NEW_PASSWORD_LEN + 1> buf;
  password_generate(reinterpret_cast<char*>(buf.b), NEW_PASSWORD_LEN, ALL_CLASSES);
  gtk_entry_set_text(GTK_ENTRY(entry), reinterpret_cast<const char*>(buf.b));
}

void on_generate_clicked(GtkButton*, gpointer p) {
  password_generator_dialog(static_cast<PasswordRow*>(p)->entry, NEW_PASSWORD_LEN, ALL_CLASSES);
}

void password_row_init(PasswordRow* r) {
  r->entry = gtk_entry_new();
  gtk_widget_set_name(r->entry, "password");
  gtk_entry_set_visibility(GTK_ENTRY(r->entry), FALSE);
  gtk_entry_set_activates_default(GTK_ENTRY(r->entry), TRUE);
  gtk_widget_set_hexpand(r->entry, TRUE);
  set_accessible_name(r->entry, 241);
  fill_generated(r->entry);
  GtkWidget* generate = button_new(267);
  r->show = button_new(284);
  r->box = button_row({r->entry, generate, r->show});
  // The entry takes the row's width, the buttons stay at its end.
  gtk_box_set_child_packing(GTK_BOX(r->box), r->entry, TRUE, TRUE, 0, GTK_PACK_START);
  g_signal_connect(generate, "clicked", G_CALLBACK(on_generate_clicked), r);
  g_signal_connect(r->show, "clicked", G_CALLBACK(on_show_clicked), r);
}

bool strong(GtkWidget* entry) {
  return password_check(gtk_entry_get_text(GTK_ENTRY(entry)), NEW_PASSWORD_LEN, ALL_CLASSES) == 0;
}

// ---------------------------------------------------------------------------
// New repository

struct NewRepo {
  GtkWidget* dialog;
  GtkWidget* name;
  PasswordRow pw;
};

void new_repo_update(GtkEditable*, gpointer p) {
  auto* n = static_cast<NewRepo*>(p);
  bool ok = *gtk_entry_get_text(GTK_ENTRY(n->name)) && strong(n->pw.entry);
  gtk_dialog_set_response_sensitive(GTK_DIALOG(n->dialog), GTK_RESPONSE_OK, ok);
}

void new_repository(Manager* m) {
  NewRepo n{};
  n.dialog = dialog_new(276);
  gtk_window_set_transient_for(GTK_WINDOW(n.dialog), GTK_WINDOW(m->dialog));
  dialog_add_button(n.dialog, 27, GTK_RESPONSE_CANCEL);
  dialog_add_button(n.dialog, 26, GTK_RESPONSE_OK);
  gtk_dialog_set_default_response(GTK_DIALOG(n.dialog), GTK_RESPONSE_OK);
  gtk_window_set_default_size(GTK_WINDOW(n.dialog), 400, -1);
  GtkWidget* grid = form_grid_new();
  GtkWidget* intro = form_label_new(249);
  // The password rules wrap instead of widening the dialog to one long line.
  gtk_label_set_line_wrap(GTK_LABEL(intro), TRUE);
  gtk_label_set_max_width_chars(GTK_LABEL(intro), 60);
  gtk_widget_set_margin_top(intro, 10);
  gtk_widget_set_margin_bottom(intro, 10);
  gtk_grid_attach(GTK_GRID(grid), intro, 0, 0, 2, 1);
  n.name = gtk_entry_new();
  gtk_widget_set_name(n.name, "name");
  gtk_entry_set_activates_default(GTK_ENTRY(n.name), TRUE);
  form_row(grid, 1, 134, n.name);
  password_row_init(&n.pw);
  form_row(grid, 2, 241, n.pw.box);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(n.dialog))), grid, TRUE, TRUE, 0);
  g_signal_connect(n.name, "changed", G_CALLBACK(new_repo_update), &n);
  g_signal_connect(n.pw.entry, "changed", G_CALLBACK(new_repo_update), &n);
  gtk_dialog_set_response_sensitive(GTK_DIALOG(n.dialog), GTK_RESPONSE_OK, FALSE);
  gtk_widget_show_all(n.dialog);
  {
    ModalScope scope(n.dialog);
    while (scope.run() == GTK_RESPONSE_OK) {
      // Enter reaches here even while OK is insensitive.
      if (!*gtk_entry_get_text(GTK_ENTRY(n.name)) || !strong(n.pw.entry)) continue;
      std::string root = repo_root_setting();
      std::string dir;
      int rc = repo_create_dir(root.c_str(), &dir);
      if (rc != 0) {
        show_message(276, error_message_id(rc));
        continue;
      }
      RepoRecord rec;
      rec.name = gtk_entry_get_text(GTK_ENTRY(n.name));
      rec.path = dir;
      rec.password = gtk_entry_get_text(GTK_ENTRY(n.pw.entry));
      rc = repo_register(rec, nullptr);
      if (rc != 0) {
        // Nothing was kept but the empty directory.
        rmdir(dir.c_str());
        log_message(LOG_ERROR, "new_repository: registering %s failed: %d", dir.c_str(), rc);
        show_message(276, error_message_id(rc));
        continue;
      }
      log_message(LOG_INFO, "new_repository: %s", dir.c_str());
      fill(m);
      break;
    }
  }
  gtk_editable_delete_text(GTK_EDITABLE(n.pw.entry), 0, -1);
  gtk_widget_destroy(n.dialog);
}

// ---------------------------------------------------------------------------
// Import of a repository file

struct CloneJob {
  const RepoRecord* rec = nullptr;
  std::string id;
  std::string password;
  int index = -1;
};

intptr_t clone_record_worker(void* p) {
  auto* job = static_cast<CloneJob*>(p);
  return repo_clone_record(*job->rec, &job->index);
}

intptr_t clone_server_worker(void* p) {
  auto* job = static_cast<CloneJob*>(p);
  return repo_clone_from_server(job->id.c_str(), job->password.c_str(), &job->index);
}

void on_import_file_changed(GtkEditable* e, gpointer d) {
  gtk_dialog_set_response_sensitive(GTK_DIALOG(d), GTK_RESPONSE_OK, *gtk_entry_get_text(GTK_ENTRY(e)) != 0);
}

void on_import_browse(GtkButton*, gpointer entry) {
  GtkWidget* fc = gtk_file_chooser_dialog_new(ui_string(278), GTK_WINDOW(gtk_widget_get_toplevel(GTK_WIDGET(entry))),
                                              GTK_FILE_CHOOSER_ACTION_OPEN, ui_string(27), GTK_RESPONSE_CANCEL,
                                              ui_string(30), GTK_RESPONSE_ACCEPT, nullptr);
  {
    ModalScope scope(fc);
    if (scope.run() == GTK_RESPONSE_ACCEPT) {
      gchar* file = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(fc));
      if (file) gtk_entry_set_text(GTK_ENTRY(entry), file);
      g_free(file);
    }
  }
  gtk_widget_destroy(fc);
}

void import_repository(Manager* m) {
  GtkWidget* d = dialog_new(34);
  gtk_window_set_transient_for(GTK_WINDOW(d), GTK_WINDOW(m->dialog));
  dialog_add_button(d, 27, GTK_RESPONSE_CANCEL);
  dialog_add_button(d, 78, GTK_RESPONSE_OK);
  gtk_window_set_default_size(GTK_WINDOW(d), 500, -1);
  GtkWidget* grid = form_grid_new();
  GtkWidget* file = gtk_entry_new();
  gtk_widget_set_name(file, "file");
  gtk_widget_set_hexpand(file, TRUE);
  GtkWidget* browse = button_new(283);
  form_row(grid, 0, 78, file);
  gtk_grid_attach(GTK_GRID(grid), browse, 2, 0, 1, 1);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(d))), grid, TRUE, TRUE, 0);
  g_signal_connect(file, "changed", G_CALLBACK(on_import_file_changed), d);
  g_signal_connect(browse, "clicked", G_CALLBACK(on_import_browse), file);
  gtk_dialog_set_response_sensitive(GTK_DIALOG(d), GTK_RESPONSE_OK, FALSE);
  gtk_widget_show_all(d);
  {
    ModalScope scope(d);
    while (scope.run() == GTK_RESPONSE_OK) {
      std::string path = gtk_entry_get_text(GTK_ENTRY(file));
      if (path.empty()) continue;
      std::string password;
      if (password_prompt_simple(307, 278, -1, &password) != 0) continue;
      RepoRecord rec;
      int rc = parse_repo_import(password.c_str(), path.c_str(), &rec);
      wipe(&password);
      if (rc != 0) {
        show_message(307, 298);
        continue;
      }
      CloneJob job;
      job.rec = &rec;
      intptr_t result = run_with_progress(34, 304, clone_record_worker, &job, false);
      if (result != 0) {
        show_message(34, error_message_id(static_cast<int>(result)));
        continue;
      }
      show_info(34, 302);
      fill(m);
      break;
    }
  }
  gtk_widget_destroy(d);
}

// ---------------------------------------------------------------------------
// Server repositories

struct ListJob {
  ServerLogin login;
  std::vector<std::string> ids;
};

intptr_t list_worker(void* p) {
  auto* job = static_cast<ListJob*>(p);
  return server_list_repos(job->login, &job->ids);
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
  for (const RepoEntry& e : repo_table)
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
  if (password_prompt_simple(307, 277, -1, &job.password) != 0) return;
  if (job.password.size() > 63) job.password.resize(63);
  job.id = id;
  intptr_t result = run_with_progress(34, 304, clone_server_worker, &job, false);
  wipe(&job.password);
  if (result != 0) {
    show_message(34, error_message_id(static_cast<int>(result)));
    return;
  }
  show_info(34, 302);
  gtk_dialog_set_response_sensitive(GTK_DIALOG(s->dialog), 1, FALSE);
  s->changed = true;
}

void server_delete(ServerDialog* s) {
  std::string id;
  GtkTreeIter iter;
  if (!selected_id(s, &id, &iter)) return;
  if (!ask_yes_no(212, id.c_str(), 213, 27, 75)) return;
  int rc = server_delete_repo(s->login, id.c_str());
  if (rc != 0) {
    show_message(75, error_message_id(rc));
    return;
  }
  log_message(LOG_INFO, "server_delete: %s", id.c_str());
  gtk_list_store_remove(s->store, &iter);
  s->changed = true;
  server_update(nullptr, s);
}

// True when something changed on the server or here.
bool server_dialog(Manager* m, const ServerLogin& login, const std::vector<std::string>& ids) {
  ServerDialog s;
  s.login = login;
  s.dialog = dialog_new(259);
  gtk_window_set_transient_for(GTK_WINDOW(s.dialog), GTK_WINDOW(m->dialog));
  dialog_add_button(s.dialog, 34, 1);
  dialog_add_button(s.dialog, 75, 2);
  dialog_add_button(s.dialog, 28, GTK_RESPONSE_OK);
  gtk_window_set_default_size(GTK_WINDOW(s.dialog), 350, 200);
  s.store = gtk_list_store_new(1, G_TYPE_STRING);
  for (const std::string& id : ids) gtk_list_store_insert_with_values(s.store, nullptr, -1, 0, id.c_str(), -1);
  gtk_tree_sortable_set_sort_column_id(GTK_TREE_SORTABLE(s.store), 0, GTK_SORT_ASCENDING);
  s.view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(s.store));
  g_object_unref(s.store);
  gtk_tree_view_append_column(GTK_TREE_VIEW(s.view),
                              gtk_tree_view_column_new_with_attributes(ui_string(134), gtk_cell_renderer_text_new(),
                                                                       "text", 0, nullptr));
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

void server_repositories(Manager* m) {
  ListJob job;
  if (login_for_account(signed_in_account(), &job.login) != 0) {
    show_message(259, 291, error_code_text(last_error).c_str());
    return;
  }
  intptr_t result = run_with_progress(259, 304, list_worker, &job, false);
  if (result != 0) {
    show_message(259, 291, error_code_text(last_error).c_str());
    return;
  }
  if (server_dialog(m, job.login, job.ids)) fill(m);
}

// ---------------------------------------------------------------------------
// Context menu actions on the selected repository

void on_show_password(GtkMenuItem*, gpointer p) {
  int index = current(static_cast<Manager*>(p));
  if (index < 0) return;
  std::string pw = repo_password(&repo_table[index]);
  show_copyable(241, pw.c_str());
  wipe(&pw);
}

void on_change_password(GtkMenuItem*, gpointer p) {
  auto* m = static_cast<Manager*>(p);
  int index = current(m);
  if (index < 0) return;
  GtkWidget* d = dialog_new(244);
  gtk_window_set_transient_for(GTK_WINDOW(d), GTK_WINDOW(m->dialog));
  dialog_add_button(d, 27, GTK_RESPONSE_CANCEL);
  dialog_add_button(d, 26, GTK_RESPONSE_OK);
  gtk_dialog_set_default_response(GTK_DIALOG(d), GTK_RESPONSE_OK);
  gtk_window_set_default_size(GTK_WINDOW(d), 320, -1);
  GtkWidget* grid = form_grid_new();
  GtkWidget* intro = form_label_new(249);
  // The password rules wrap instead of widening the dialog to one long line.
  gtk_label_set_line_wrap(GTK_LABEL(intro), TRUE);
  gtk_label_set_max_width_chars(GTK_LABEL(intro), 60);
  gtk_widget_set_margin_top(intro, 10);
  gtk_widget_set_margin_bottom(intro, 10);
  gtk_grid_attach(GTK_GRID(grid), intro, 0, 0, 1, 1);
  PasswordRow pw;
  password_row_init(&pw);
  gtk_grid_attach(GTK_GRID(grid), pw.box, 0, 1, 1, 1);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(d))), grid, TRUE, TRUE, 0);
  g_signal_connect(pw.entry, "changed", G_CALLBACK(+[](GtkEditable* e, gpointer dlg) {
                     gtk_dialog_set_response_sensitive(GTK_DIALOG(dlg), GTK_RESPONSE_OK, strong(GTK_WIDGET(e)));
                   }),
                   d);
  gtk_widget_show_all(d);
  {
    ModalScope scope(d);
    while (scope.run() == GTK_RESPONSE_OK) {
      if (!strong(pw.entry)) continue;
      std::string text = gtk_entry_get_text(GTK_ENTRY(pw.entry));
      int rc = change_repo_password(&repo_table[index], text.c_str());
      wipe(&text);
      if (rc != 0) {
        log_message(LOG_ERROR, "on_change_password: repository %d: %d", index, rc);
        show_message(244, error_message_id(rc));
        continue;
      }
      fill(m);
      break;
    }
  }
  gtk_editable_delete_text(GTK_EDITABLE(pw.entry), 0, -1);
  gtk_widget_destroy(d);
}

struct PutJob {
  int index;
};

intptr_t put_worker(void* p) { return repo_put_on_server(static_cast<PutJob*>(p)->index, ""); }

void on_put_on_server(GtkMenuItem*, gpointer p) {
  auto* m = static_cast<Manager*>(p);
  GtkTreeIter iter;
  int index = current(m, &iter);
  if (index < 0 || !repo_table[index].server_id.empty()) return;
  if (repo_clear_history(&repo_table[index]) != 0) {
    show_message(35, error_message_id(last_error));
    return;
  }
  PutJob job{index};
  intptr_t result = run_with_progress(35, 304, put_worker, &job, false);
  if (result != 0) {
    show_message(35, error_message_id(static_cast<int>(result)));
    return;
  }
  show_info(35, 303);
  gtk_list_store_set(m->store, &iter, COL_SERVER, repo_table[index].server_id.c_str(), -1);
}

void on_delete(GtkMenuItem*, gpointer p) {
  auto* m = static_cast<Manager*>(p);
  int index = current(m);
  if (index < 0) return;
  if (!ask_yes_no(210, repo_table[index].name.c_str(), 218, 27, 75)) return;
  int rc = repo_delete(index);
  if (rc != 0) {
    log_message(LOG_ERROR, "on_delete: repository %d: %d", index, rc);
    show_message(75, error_message_id(rc));
  }
  // Later entries moved down: every row's index is read again.
  fill(m);
}

void add_item(GtkWidget* menu, int label_id, GCallback cb, Manager* m) {
  GtkWidget* item = gtk_menu_item_new_with_label(ui_string(label_id));
  g_signal_connect(item, "activate", cb, m);
  gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
}

GtkWidget* build_menu(Manager* m, int index) {
  if (m->menu) gtk_widget_destroy(m->menu);
  const RepoEntry& e = repo_table[index];
  GtkWidget* menu = gtk_menu_new();
  if (e.account_user.empty() || e.account_user == signed_in_account().user)
    add_item(menu, 266, G_CALLBACK(on_show_password), m);
  add_item(menu, 244, G_CALLBACK(on_change_password), m);
  if (has_signed_in_account() && e.server_id.empty()) add_item(menu, 35, G_CALLBACK(on_put_on_server), m);
  add_item(menu, 75, G_CALLBACK(on_delete), m);
  gtk_menu_attach_to_widget(GTK_MENU(menu), m->view, nullptr);
  gtk_widget_show_all(menu);
  m->menu = menu;
  return menu;
}

gboolean on_button_press(GtkWidget* view, GdkEventButton* ev, gpointer p) {
  auto* m = static_cast<Manager*>(p);
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
  auto* m = static_cast<Manager*>(p);
  int index = current(m);
  if (index < 0) return FALSE;
  gtk_menu_popup_at_widget(GTK_MENU(build_menu(m, index)), view, GDK_GRAVITY_CENTER, GDK_GRAVITY_NORTH_WEST,
                           nullptr);
  return TRUE;
}

GtkTreeViewColumn* toggle_column(Manager* m, int header_id, int column, GCallback cb) {
  GtkCellRenderer* r = gtk_cell_renderer_toggle_new();
  g_signal_connect(r, "toggled", cb, m);
  return gtk_tree_view_column_new_with_attributes(ui_string(header_id), r, "active", column, nullptr);
}

bool unlock_manager() {
  if (setting_get_int(config_db(), "lock_db_manager", 0) == 0) return true;
  std::string pw;
  if (password_prompt_simple(307, 22, -1, &pw) != 0) return false;
  int rc = master_password_check(pw.c_str());
  wipe(&pw);
  if (rc != 0) {
    show_message(275, 250);
    return false;
  }
  return true;
}

}  // namespace

void repo_manager() {
  if (!unlock_manager()) return;
  Manager m;
  bool locked = setting_get_int(config_db(), "lock_db_manager", 0) != 0;
  m.dialog = dialog_new(275);
  GtkWidget* new_button = dialog_add_button(m.dialog, 33, 1);
  GtkWidget* import_button = dialog_add_button(m.dialog, 78, 2);
  GtkWidget* server_button = dialog_add_button(m.dialog, 259, 3);
  dialog_add_button(m.dialog, 28, GTK_RESPONSE_OK);
  (void)new_button;
  bool account = has_signed_in_account();
  gtk_widget_set_sensitive(import_button, account);
  gtk_widget_set_sensitive(server_button, account);

  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 5);
  gtk_container_set_border_width(GTK_CONTAINER(box), 5);
  GtkWidget* lock = gtk_check_button_new_with_label(ui_string(221));
  gtk_widget_set_halign(lock, GTK_ALIGN_CENTER);
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(lock), locked);
  gtk_box_pack_start(GTK_BOX(box), lock, FALSE, FALSE, 0);
  // The hint wraps: on one line, longer translations stretch the dialog
  // past a small screen.
  GtkWidget* hint = gtk_label_new(ui_string(37));
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
  gtk_tree_view_append_column(tv, gtk_tree_view_column_new_with_attributes(ui_string(134), gtk_cell_renderer_text_new(),
                                                                           "text", COL_NAME, nullptr));
  gtk_tree_view_append_column(tv, gtk_tree_view_column_new_with_attributes(ui_string(259), gtk_cell_renderer_text_new(),
                                                                           "text", COL_SERVER, nullptr));
  GtkTreeViewColumn* path_col =
      gtk_tree_view_column_new_with_attributes(ui_string(281), gtk_cell_renderer_text_new(), "text", COL_PATH, nullptr);
  gtk_tree_view_column_set_expand(path_col, TRUE);
  gtk_tree_view_append_column(tv, path_col);
  gtk_tree_view_append_column(tv, toggle_column(&m, 279, COL_ENABLED, G_CALLBACK(on_enabled_toggled)));
  gtk_tree_view_append_column(tv, toggle_column(&m, 385, COL_HIDDEN, G_CALLBACK(on_hidden_toggled)));
  g_signal_connect(m.view, "button-press-event", G_CALLBACK(on_button_press), &m);
  g_signal_connect(m.view, "popup-menu", G_CALLBACK(on_popup_menu), &m);
  GtkWidget* sw = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(sw), GTK_SHADOW_IN);
  gtk_container_add(GTK_CONTAINER(sw), m.view);
  gtk_box_pack_start(GTK_BOX(box), sw, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(m.dialog))), box, TRUE, TRUE, 0);

  fill(&m);
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
        new_repository(&m);
      else if (r == 2)
        import_repository(&m);
      else if (r == 3)
        server_repositories(&m);
      else
        break;
    }
    bool now = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(lock));
    if (now != locked) setting_put_str(config_db(), "lock_db_manager", now ? "1" : "");
  }
  if (m.menu) gtk_widget_destroy(m.menu);
  gtk_widget_destroy(m.dialog);
}
