// SPDX-License-Identifier: GPL-3.0-or-later
// The new-repository dialog of the repository manager: a name and a
// password following the rule, registered in a new directory under the
// repository root.
#include <gtk/gtk.h>
#include <unistd.h>

#include <string>

#include "dialogs/layout.h"
#include "dialogs/message.h"
#include "dialogs/modal.h"
#include "dialogs/password_row.h"
#include "dialogs/repo_manager_internal.h"
#include "model/app_core.h"
#include "storage/db.h"
#include "storage/repo.h"
#include "support/log.h"
#include "sync/error_text.h"

namespace {

std::string repo_root_setting() {
  std::string root = setting_get(config_db(), "repo_root");
  return root.empty() ? app_core().repo_root : root;
}

struct NewRepo {
  GtkWidget* dialog;
  GtkWidget* name;
  PasswordRow pw;
};

void new_repo_update(GtkEditable*, gpointer p) {
  auto* n = static_cast<NewRepo*>(p);
  bool ok = *gtk_entry_get_text(GTK_ENTRY(n->name)) && password_row_strong(n->pw.entry);
  gtk_dialog_set_response_sensitive(GTK_DIALOG(n->dialog), GTK_RESPONSE_OK, ok);
}

}  // namespace

void new_repository_dialog(RepoManager* m) {
  NewRepo n{};
  n.dialog = dialog_new(STR_NEW_REPOSITORY);
  gtk_window_set_transient_for(GTK_WINDOW(n.dialog), GTK_WINDOW(m->dialog));
  dialog_add_button(n.dialog, STR_CANCEL, GTK_RESPONSE_CANCEL);
  dialog_add_button(n.dialog, STR_OK, GTK_RESPONSE_OK);
  gtk_dialog_set_default_response(GTK_DIALOG(n.dialog), GTK_RESPONSE_OK);
  gtk_window_set_default_size(GTK_WINDOW(n.dialog), 400, -1);
  GtkWidget* grid = form_grid_new();
  gtk_grid_attach(GTK_GRID(grid), password_rule_label(), 0, 0, 2, 1);
  n.name = gtk_entry_new();
  gtk_widget_set_name(n.name, "name");
  gtk_entry_set_activates_default(GTK_ENTRY(n.name), TRUE);
  form_row(grid, 1, STR_NAME, n.name);
  password_row_init(&n.pw);
  form_row(grid, 2, STR_PASSWORD_TITLE, n.pw.box);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(n.dialog))), grid, TRUE, TRUE, 0);
  g_signal_connect(n.name, "changed", G_CALLBACK(new_repo_update), &n);
  g_signal_connect(n.pw.entry, "changed", G_CALLBACK(new_repo_update), &n);
  gtk_dialog_set_response_sensitive(GTK_DIALOG(n.dialog), GTK_RESPONSE_OK, FALSE);
  gtk_widget_show_all(n.dialog);
  {
    ModalScope scope(n.dialog);
    while (scope.run() == GTK_RESPONSE_OK) {
      // Enter reaches here even while OK is insensitive.
      if (!*gtk_entry_get_text(GTK_ENTRY(n.name)) || !password_row_strong(n.pw.entry)) continue;
      std::string root = repo_root_setting();
      std::string dir;
      int rc = repo_create_dir(root.c_str(), &dir);
      if (rc != 0) {
        show_message(STR_NEW_REPOSITORY, error_message_id(rc));
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
        show_message(STR_NEW_REPOSITORY, error_message_id(rc));
        continue;
      }
      log_message(LOG_INFO, "new_repository: %s", dir.c_str());
      repo_manager_fill(m);
      break;
    }
  }
  wipe_entry(n.pw.entry);
  gtk_widget_destroy(n.dialog);
}
