// SPDX-License-Identifier: GPL-3.0-or-later
// The change of a repository's password in the repository manager: a new
// password following the rule, pre-filled with a generated one.
#include <gtk/gtk.h>

#include <string>

#include "crypto/wipe.h"
#include "dialogs/layout.h"
#include "dialogs/message.h"
#include "dialogs/modal.h"
#include "dialogs/password_row.h"
#include "dialogs/repo_manager_internal.h"
#include "storage/repo.h"
#include "support/log.h"
#include "sync/error_text.h"

void change_password_dialog(RepoManager* m, int index) {
  GtkWidget* d = dialog_new(STR_CHANGE_PASSWORD);
  gtk_window_set_transient_for(GTK_WINDOW(d), GTK_WINDOW(m->dialog));
  dialog_add_button(d, STR_CANCEL, GTK_RESPONSE_CANCEL);
  dialog_add_button(d, STR_OK, GTK_RESPONSE_OK);
  gtk_dialog_set_default_response(GTK_DIALOG(d), GTK_RESPONSE_OK);
  gtk_window_set_default_size(GTK_WINDOW(d), 320, -1);
  GtkWidget* grid = form_grid_new();
  gtk_grid_attach(GTK_GRID(grid), password_rule_label(), 0, 0, 1, 1);
  PasswordRow pw;
  password_row_init(&pw);
  gtk_grid_attach(GTK_GRID(grid), pw.box, 0, 1, 1, 1);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(d))), grid, TRUE, TRUE, 0);
  g_signal_connect(pw.entry, "changed", G_CALLBACK(+[](GtkEditable* e, gpointer dlg) {
                     gtk_dialog_set_response_sensitive(GTK_DIALOG(dlg), GTK_RESPONSE_OK, password_row_strong(GTK_WIDGET(e)));
                   }),
                   d);
  gtk_widget_show_all(d);
  {
    ModalScope scope(d);
    while (scope.run() == GTK_RESPONSE_OK) {
      if (!password_row_strong(pw.entry)) continue;
      std::string text = gtk_entry_get_text(GTK_ENTRY(pw.entry));
      int rc = change_repo_password(&repo_table()[index], text.c_str());
      wipe(&text);
      if (rc != 0) {
        log_message(LOG_ERROR, "on_change_password: repository %d: %d", index, rc);
        show_message(STR_CHANGE_PASSWORD, error_message_id(rc));
        continue;
      }
      repo_manager_fill(m);
      break;
    }
  }
  wipe_entry(pw.entry);
  gtk_widget_destroy(d);
}
