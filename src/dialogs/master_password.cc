// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/master_password.h"

#include <gtk/gtk.h>

#include <cstring>
#include <string>

#include "crypto/crypto.h"
#include "crypto/wipe.h"
#include "dialogs/layout.h"
#include "dialogs/message.h"
#include "dialogs/modal.h"
#include "dialogs/password_row.h"
#include "storage/repo.h"
#include "support/log.h"
#include "support/strings.h"

namespace {

// The rule of master passwords.
constexpr int kMinLength = 10;
constexpr int kClasses = 7;

struct Form {
  GtkWidget* dialog = nullptr;
  GtkWidget* change = nullptr;
  GtkWidget* current = nullptr;
  GtkWidget* next = nullptr;
  GtkWidget* repeat = nullptr;
  GtkWidget* differ = nullptr;
};

GtkWidget* password_entry(const char* name) {
  GtkWidget* e = gtk_entry_new();
  gtk_widget_set_name(e, name);
  gtk_entry_set_visibility(GTK_ENTRY(e), FALSE);
  gtk_entry_set_input_purpose(GTK_ENTRY(e), GTK_INPUT_PURPOSE_PASSWORD);
  gtk_entry_set_activates_default(GTK_ENTRY(e), TRUE);
  gtk_entry_set_width_chars(GTK_ENTRY(e), 28);
  return e;
}

void on_changed(GtkEditable*, gpointer p) {
  auto* f = static_cast<Form*>(p);
  const char* next = gtk_entry_get_text(GTK_ENTRY(f->next));
  const char* repeat = gtk_entry_get_text(GTK_ENTRY(f->repeat));
  bool same = std::strcmp(next, repeat) == 0;
  // The mismatch is said as soon as the repetition is as long as the new one.
  gtk_widget_set_visible(f->differ, !same && std::strlen(repeat) >= std::strlen(next) && *repeat);
  bool ready = *gtk_entry_get_text(GTK_ENTRY(f->current)) && same && password_check(next, kMinLength, kClasses) == 0;
  gtk_widget_set_sensitive(f->change, ready);
}

}  // namespace

int master_password_change() {
  log_message(LOG_INFO, "on_master_password");
  Form f;
  f.dialog = dialog_new(STR_CHANGE_MASTER_PASSWORD);
  dialog_add_button(f.dialog, STR_CANCEL, GTK_RESPONSE_CANCEL);
  f.change = dialog_add_button(f.dialog, STR_CHANGE_PASSWORD, GTK_RESPONSE_OK);
  gtk_dialog_set_default_response(GTK_DIALOG(f.dialog), GTK_RESPONSE_OK);
  gtk_widget_set_sensitive(f.change, FALSE);

  GtkWidget* grid = form_grid_new();
  GtkWidget* rule = form_label_new(STR_PASSWORD_RULES_10);
  gtk_label_set_line_wrap(GTK_LABEL(rule), TRUE);
  gtk_label_set_max_width_chars(GTK_LABEL(rule), 50);
  gtk_grid_attach(GTK_GRID(grid), rule, 0, 0, 2, 1);
  f.current = password_entry("current");
  f.next = password_entry("new");
  f.repeat = password_entry("repeat");
  form_row(grid, 1, STR_CURRENT_PASSWORD, f.current);
  form_row(grid, 2, STR_NEW_PASSWORD, f.next);
  form_row(grid, 3, STR_REPEAT_NEW_PASSWORD, f.repeat);
  f.differ = form_label_new(STR_MSG_PASSWORDS_DIFFER);
  gtk_grid_attach(GTK_GRID(grid), f.differ, 1, 4, 1, 1);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(f.dialog))), grid, TRUE, TRUE, 0);
  for (GtkWidget* e : {f.current, f.next, f.repeat}) g_signal_connect(e, "changed", G_CALLBACK(on_changed), &f);
  gtk_widget_show_all(f.dialog);
  gtk_widget_hide(f.differ);
  gtk_widget_grab_focus(f.current);

  int rc = 1;
  {
    ModalScope scope(f.dialog);
    for (;;) {
      int response = scope.run();
      if (response != GTK_RESPONSE_OK) break;
      // Enter reaches here while the button is insensitive too.
      if (!gtk_widget_get_sensitive(f.change)) continue;
      if (master_password_check(gtk_entry_get_text(GTK_ENTRY(f.current))) != 0) {
        show_message(STR_CHANGE_MASTER_PASSWORD, STR_MSG_WRONG_PASSWORD);
        wipe_entry(f.current);
        gtk_widget_grab_focus(f.current);
        continue;
      }
      std::string next = gtk_entry_get_text(GTK_ENTRY(f.next));
      int changed = change_master_password(next.c_str());
      wipe(&next);
      if (changed != 0) {
        log_message(LOG_ERROR, "master_password_change: the configuration database was not re-created");
        show_message(STR_CHANGE_MASTER_PASSWORD, STR_MSG_MASTER_PASSWORD_NOT_SET);
        rc = -1;
      } else {
        rc = 0;
      }
      break;
    }
  }
  for (GtkWidget* e : {f.current, f.next, f.repeat}) wipe_entry(e);
  gtk_widget_destroy(f.dialog);
  return rc;
}
