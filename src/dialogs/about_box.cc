// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/about_box.h"

#include <gtk/gtk.h>

#include "dialogs/modal.h"
#include "storage/repo.h"
#include "support/strings.h"
#include "support/version.h"

void about_box() {
  GtkWidget* d = gtk_about_dialog_new();
  gtk_window_set_modal(GTK_WINDOW(d), TRUE);
  if (top_window()) gtk_window_set_transient_for(GTK_WINDOW(d), top_window());
  gtk_about_dialog_set_program_name(GTK_ABOUT_DIALOG(d), "Ordika");
  gtk_about_dialog_set_version(GTK_ABOUT_DIALOG(d), program_version());
  gtk_about_dialog_set_copyright(GTK_ABOUT_DIALOG(d), "Copyright \u00a9 2026 The Ordika developers");
  // The toolkit shows the licence's name and its link in the user's language.
  gtk_about_dialog_set_license_type(GTK_ABOUT_DIALOG(d), GTK_LICENSE_GPL_3_0);
  const char* comments = ui_string(has_signed_in_account() ? STR_ABOUT_WITH_ACCOUNT : STR_ABOUT_WITHOUT_ACCOUNT);
  gtk_about_dialog_set_comments(GTK_ABOUT_DIALOG(d), comments ? comments : "");
  // The title comes from the table, as every other dialog's does, set after
  // the toolkit's own (made from the program name and version), which is
  // English wherever the toolkit's translations are missing.
  const char* title = ui_string(STR_ABOUT_TITLE);
  if (title) gtk_window_set_title(GTK_WINDOW(d), title);
  {
    ModalScope scope(d);
    scope.run();
  }
  gtk_widget_destroy(d);
}
