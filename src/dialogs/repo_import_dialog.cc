// SPDX-License-Identifier: GPL-3.0-or-later
// The import of a repository file in the repository manager: the file, its
// export password, then a clone of the server repository it names.
#include <gtk/gtk.h>

#include <string>

#include "crypto/wipe.h"
#include "dialogs/layout.h"
#include "dialogs/message.h"
#include "dialogs/modal.h"
#include "dialogs/password_prompt.h"
#include "dialogs/progress.h"
#include "dialogs/repo_manager_internal.h"
#include "storage/repo.h"
#include "support/strings.h"
#include "sync/error_text.h"
#include "sync/requests.h"

namespace {

struct ImportJob {
  const RepoRecord* rec = nullptr;
  int index = -1;
};

intptr_t clone_record_worker(void* p) {
  auto* job = static_cast<ImportJob*>(p);
  return repo_clone_record(*job->rec, &job->index);
}

void on_import_file_changed(GtkEditable* e, gpointer d) {
  gtk_dialog_set_response_sensitive(GTK_DIALOG(d), GTK_RESPONSE_OK, *gtk_entry_get_text(GTK_ENTRY(e)) != 0);
}

void on_import_browse(GtkButton*, gpointer entry) {
  GtkWidget* fc = gtk_file_chooser_dialog_new(ui_string(STR_REPOSITORY_FILE),
                                              GTK_WINDOW(gtk_widget_get_toplevel(GTK_WIDGET(entry))),
                                              GTK_FILE_CHOOSER_ACTION_OPEN, ui_string(STR_CANCEL), GTK_RESPONSE_CANCEL,
                                              ui_string(STR_OPEN), GTK_RESPONSE_ACCEPT, nullptr);
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

}  // namespace

void import_repository_dialog(RepoManager* m) {
  GtkWidget* d = dialog_new(STR_IMPORT_REPOSITORY);
  gtk_window_set_transient_for(GTK_WINDOW(d), GTK_WINDOW(m->dialog));
  dialog_add_button(d, STR_CANCEL, GTK_RESPONSE_CANCEL);
  dialog_add_button(d, STR_IMPORT, GTK_RESPONSE_OK);
  gtk_window_set_default_size(GTK_WINDOW(d), 500, -1);
  GtkWidget* grid = form_grid_new();
  GtkWidget* file = gtk_entry_new();
  gtk_widget_set_name(file, "file");
  gtk_widget_set_hexpand(file, TRUE);
  GtkWidget* browse = button_new(STR_BROWSE);
  form_row(grid, 0, STR_IMPORT, file);
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
      if (password_prompt_simple(STR_APP_NAME, STR_REPOSITORY_FILE, STR_NONE, &password) != 0) continue;
      RepoRecord rec;
      int rc = parse_repo_import(password.c_str(), path.c_str(), &rec);
      wipe(&password);
      if (rc != 0) {
        show_message(STR_APP_NAME, STR_MSG_SERVER_OR_FILE_INVALID);
        continue;
      }
      ImportJob job;
      job.rec = &rec;
      intptr_t result =
          run_with_progress(STR_IMPORT_REPOSITORY, STR_CONTACTING_SERVER, clone_record_worker, &job, false);
      if (result != 0) {
        show_message(STR_IMPORT_REPOSITORY, error_message_id(static_cast<int>(result)));
        continue;
      }
      show_info(STR_IMPORT_REPOSITORY, STR_MSG_REPO_ADDED);
      repo_manager_fill(m);
      break;
    }
  }
  gtk_widget_destroy(d);
}
