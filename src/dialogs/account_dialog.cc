// SPDX-License-Identifier: GPL-3.0-or-later
// The account dialog. Sign-in verifies the account with one login on a
// worker before anything is stored; the password change talks to the
// default server and stores the record only once the server accepted it.
#include "dialogs/account_dialog.h"

#include <openssl/crypto.h>

#include <cstdio>
#include <string>

#include "crypto/crypto.h"
#include "dialogs/bold_label.h"
#include "dialogs/layout.h"
#include "dialogs/message.h"
#include "dialogs/modal.h"
#include "dialogs/password_generator.h"
#include "dialogs/password_prompt.h"
#include "dialogs/password_row.h"
#include "dialogs/progress.h"
#include "storage/repo.h"
#include "support/log.h"
#include "support/strings.h"
#include "sync/account_sign_in.h"
#include "sync/error_text.h"
#include "sync/requests.h"

namespace {

constexpr int kMinLength = 10, kClasses = 7;

void wipe_string(std::string* s) {
  OPENSSL_cleanse(s->data(), s->size());
  s->clear();
}

GtkWidget* text_row(GtkWidget* grid, int row, StrId text_id, GtkWidget* field) {
  GtkWidget* l = gtk_label_new(ui_text(text_id));
  gtk_widget_set_halign(l, GTK_ALIGN_START);
  gtk_grid_attach(GTK_GRID(grid), l, 0, row, 1, 1);
  gtk_widget_set_hexpand(field, TRUE);
  gtk_grid_attach(GTK_GRID(grid), field, 1, row, 1, 1);
  AtkObject* acc = gtk_widget_get_accessible(field);
  if (acc) atk_object_set_name(acc, ui_text(text_id));
  return l;
}

// --- sign-in ---------------------------------------------------------------

struct SignInForm {
  GtkWidget* ok;
  GtkWidget* host;
  GtkWidget* number;
  GtkWidget* user;
  GtkWidget* password;
};

struct SignInJob {
  std::string host, user, password;
  int32_t number;
};

void on_sign_in_changed(GtkEditable*, gpointer p) {
  auto* f = static_cast<SignInForm*>(p);
  bool ok = server_host_valid(gtk_entry_get_text(GTK_ENTRY(f->host))) &&
            account_number_parse(gtk_entry_get_text(GTK_ENTRY(f->number))) > 0 &&
            *gtk_entry_get_text(GTK_ENTRY(f->user)) && *gtk_entry_get_text(GTK_ENTRY(f->password));
  gtk_widget_set_sensitive(f->ok, ok);
}

intptr_t sign_in_worker(void* p) {
  auto* job = static_cast<SignInJob*>(p);
  return account_sign_in(job->host.c_str(), job->number, job->user.c_str(), job->password.c_str());
}

// --- password change -------------------------------------------------------

struct PasswordForm {
  GtkWidget* ok;
  GtkWidget* entry;
  GtkWidget* show;
  bool visible;
};

void on_password_changed(GtkEditable*, gpointer p) {
  auto* f = static_cast<PasswordForm*>(p);
  const char* text = gtk_entry_get_text(GTK_ENTRY(f->entry));
  bool ok = signed_in_account().password != text && password_check(text, kMinLength, kClasses) == 0;
  gtk_widget_set_sensitive(f->ok, ok);
}

void on_show(GtkButton*, gpointer p) {
  auto* f = static_cast<PasswordForm*>(p);
  f->visible = !f->visible;
  gtk_entry_set_visibility(GTK_ENTRY(f->entry), f->visible);
  const char* label = ui_string(f->visible ? STR_HIDE : STR_SHOW);
  gtk_button_set_label(GTK_BUTTON(f->show), label ? label : "");
}

void on_generate(GtkButton*, gpointer p) {
  password_generator_dialog(static_cast<PasswordForm*>(p)->entry, kMinLength, kClasses);
}

intptr_t password_worker(void* p) { return account_password_change(static_cast<std::string*>(p)->c_str()); }

}  // namespace

int sign_in_dialog() {
  GtkWidget* d = dialog_new(STR_SYNC_ACCOUNT);
  dialog_add_button(d, STR_CANCEL, GTK_RESPONSE_CANCEL);
  SignInForm f{};
  f.ok = dialog_add_button(d, STR_OK, GTK_RESPONSE_OK);
  gtk_dialog_set_default_response(GTK_DIALOG(d), GTK_RESPONSE_OK);
  gtk_widget_set_sensitive(f.ok, FALSE);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 5);
  gtk_container_set_border_width(GTK_CONTAINER(box), 5);
  gtk_box_pack_start(GTK_BOX(box), bold_label_new(ui_text(STR_SIGN_IN_HEADLINE), 1.2), FALSE, FALSE, 5);
  GtkWidget* grid = form_grid_new();
  f.host = gtk_entry_new();
  gtk_entry_set_text(GTK_ENTRY(f.host), default_server_host().c_str());
  f.number = numeric_entry_new(10);
  f.user = gtk_entry_new();
  gtk_entry_set_max_length(GTK_ENTRY(f.user), 255);
  f.password = gtk_entry_new();
  gtk_entry_set_visibility(GTK_ENTRY(f.password), FALSE);
  gtk_entry_set_activates_default(GTK_ENTRY(f.password), TRUE);
  gtk_widget_set_size_request(f.password, 250, -1);
  text_row(grid, 0, STR_SIGN_IN_SERVER, f.host);
  text_row(grid, 1, STR_SIGN_IN_NUMBER, f.number);
  text_row(grid, 2, STR_SIGN_IN_USER, f.user);
  text_row(grid, 3, STR_SIGN_IN_PASSWORD, f.password);
  for (GtkWidget* e : {f.host, f.number, f.user, f.password})
    g_signal_connect(e, "changed", G_CALLBACK(on_sign_in_changed), &f);
  gtk_box_pack_start(GTK_BOX(box), grid, FALSE, FALSE, 5);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(d))), box, TRUE, TRUE, 0);
  gtk_widget_show_all(d);

  int result = 1;
  {
    ModalScope scope(d);
    while (scope.run() == GTK_RESPONSE_OK) {
      SignInJob job;
      job.host = gtk_entry_get_text(GTK_ENTRY(f.host));
      job.number = account_number_parse(gtk_entry_get_text(GTK_ENTRY(f.number)));
      job.user = gtk_entry_get_text(GTK_ENTRY(f.user));
      job.password = gtk_entry_get_text(GTK_ENTRY(f.password));
      int rc =
          static_cast<int>(run_with_progress(STR_SYNC_ACCOUNT, STR_CONTACTING_SERVER, sign_in_worker, &job, false));
      wipe_string(&job.password);
      log_message(rc == 0 ? LOG_INFO : LOG_ERROR, "sign_in_dialog: %d", rc);
      if (rc == 0) {
        show_info_text(STR_SYNC_ACCOUNT, ui_text(STR_SIGN_IN_DONE));
        result = 0;
        break;
      }
      if (rc == SIGN_IN_REFUSED || rc == SIGN_IN_BAD_INPUT) {
        show_message_text(STR_SYNC_ACCOUNT, ui_text(STR_SIGN_IN_REFUSED));
      } else {
        show_message(STR_SYNC_ACCOUNT, STR_SIGN_IN_UNREACHABLE, error_code_text(last_error()).c_str());
      }
    }
  }
  wipe_entry(f.password);
  gtk_widget_destroy(d);
  return result;
}

int account_password_dialog() {
  std::string master;
  if (password_prompt_simple(STR_APP_NAME, STR_ENTER_MASTER_PASSWORD, STR_NONE, &master) != 0) return 1;
  bool right = master_password_check(master.c_str()) == 0;
  wipe_string(&master);
  if (!right) {
    show_message(STR_SYNC_ACCOUNT_TITLE, STR_MSG_WRONG_PASSWORD);
    return 1;
  }
  GtkWidget* d = dialog_new(STR_APP_NAME);
  const char* sign_out = ui_text(STR_SIGN_OUT);
  gtk_dialog_add_button(GTK_DIALOG(d), sign_out, ACCOUNT_RESPONSE_SIGN_OUT);
  dialog_add_button(d, STR_CANCEL, GTK_RESPONSE_CANCEL);
  PasswordForm f{};
  f.ok = dialog_add_button(d, STR_OK, GTK_RESPONSE_OK);
  gtk_dialog_set_default_response(GTK_DIALOG(d), GTK_RESPONSE_OK);
  gtk_widget_set_sensitive(f.ok, FALSE);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 5);
  gtk_container_set_border_width(GTK_CONTAINER(box), 5);
  gtk_box_pack_start(GTK_BOX(box), bold_label_new(ui_string(STR_SYNC_ACCOUNT), 1.2), FALSE, FALSE, 5);
  GtkWidget* text = gtk_label_new(ui_text(STR_PASSWORD_RULES_10));
  gtk_label_set_line_wrap(GTK_LABEL(text), TRUE);
  gtk_box_pack_start(GTK_BOX(box), text, FALSE, FALSE, 0);
  f.entry = gtk_entry_new();
  gtk_entry_set_visibility(GTK_ENTRY(f.entry), FALSE);
  gtk_entry_set_text(GTK_ENTRY(f.entry), signed_in_account().password.c_str());
  gtk_widget_set_size_request(f.entry, 250, -1);
  gtk_entry_set_activates_default(GTK_ENTRY(f.entry), TRUE);
  set_accessible_name(f.entry, STR_ACCOUNT_PASSWORD);
  GtkWidget* generate = button_new(STR_GENERATE);
  f.show = button_new(STR_SHOW);
  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 5);
  gtk_box_pack_start(GTK_BOX(row), form_label_new(STR_ACCOUNT_PASSWORD), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(row), f.entry, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(row), generate, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(row), f.show, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), row, FALSE, FALSE, 10);
  g_signal_connect(f.entry, "changed", G_CALLBACK(on_password_changed), &f);
  g_signal_connect(generate, "clicked", G_CALLBACK(on_generate), &f);
  g_signal_connect(f.show, "clicked", G_CALLBACK(on_show), &f);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(d))), box, TRUE, TRUE, 0);
  gtk_widget_show_all(d);

  int result = 1;
  {
    ModalScope scope(d);
    for (;;) {
      int response = scope.run();
      if (response == ACCOUNT_RESPONSE_SIGN_OUT) {
        if (!ask_yes_no_text(ui_text(STR_SIGN_OUT_QUESTION), STR_CANCEL, STR_OK)) continue;
        if (account_sign_out() == 0) result = 0;
        break;
      }
      if (response != GTK_RESPONSE_OK) break;
      std::string pw = gtk_entry_get_text(GTK_ENTRY(f.entry));
      int rc =
          static_cast<int>(run_with_progress(STR_SYNC_ACCOUNT, STR_CONTACTING_SERVER, password_worker, &pw, false));
      wipe_string(&pw);
      log_message(rc == 0 ? LOG_INFO : LOG_ERROR, "account_dialog: %d", rc);
      if (rc == 0) {
        show_info(STR_SYNC_ACCOUNT, STR_MSG_ACCOUNT_PASSWORD_CHANGED);
        result = 0;
        break;
      }
      show_message(STR_SYNC_ACCOUNT, STR_MSG_ACCOUNT_PASSWORD_NOT_CHANGED, error_code_text(last_error()).c_str());
    }
  }
  wipe_entry(f.entry);
  gtk_widget_destroy(d);
  return result;
}

int account_dialog() { return has_signed_in_account() ? account_password_dialog() : sign_in_dialog(); }
