// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/password_row.h"

#include <openssl/crypto.h>

#include "crypto/crypto.h"
#include "crypto/wipe.h"
#include "dialogs/layout.h"
#include "dialogs/password_generator.h"
#include "support/strings.h"

namespace {

void on_show_clicked(GtkButton*, gpointer p) {
  auto* r = static_cast<PasswordRow*>(p);
  r->visible = !r->visible;
  gtk_entry_set_visibility(GTK_ENTRY(r->entry), r->visible);
  gtk_button_set_label(GTK_BUTTON(r->show), ui_string(r->visible ? STR_HIDE : STR_SHOW));
}

void fill_generated(GtkWidget* entry) {
  Secret<NEW_PASSWORD_LEN + 1> buf;
  password_generate(reinterpret_cast<char*>(buf.b), NEW_PASSWORD_LEN, ALL_CLASSES);
  gtk_entry_set_text(GTK_ENTRY(entry), reinterpret_cast<const char*>(buf.b));
}

void on_generate_clicked(GtkButton*, gpointer p) {
  password_generator_dialog(static_cast<PasswordRow*>(p)->entry, NEW_PASSWORD_LEN, ALL_CLASSES);
}

}  // namespace

void password_row_init(PasswordRow* r) {
  r->entry = gtk_entry_new();
  gtk_widget_set_name(r->entry, "password");
  gtk_entry_set_visibility(GTK_ENTRY(r->entry), FALSE);
  gtk_entry_set_activates_default(GTK_ENTRY(r->entry), TRUE);
  gtk_widget_set_hexpand(r->entry, TRUE);
  set_accessible_name(r->entry, STR_PASSWORD_TITLE);
  fill_generated(r->entry);
  GtkWidget* generate = button_new(STR_GENERATE);
  r->show = button_new(STR_SHOW);
  r->box = button_row({r->entry, generate, r->show});
  // The entry takes the row's width, the buttons stay at its end.
  gtk_box_set_child_packing(GTK_BOX(r->box), r->entry, TRUE, TRUE, 0, GTK_PACK_START);
  g_signal_connect(generate, "clicked", G_CALLBACK(on_generate_clicked), r);
  g_signal_connect(r->show, "clicked", G_CALLBACK(on_show_clicked), r);
}

GtkWidget* password_rule_label() {
  GtkWidget* intro = form_label_new(STR_PASSWORD_RULES_20);
  // The rule wraps instead of widening the dialog to one long line.
  gtk_label_set_line_wrap(GTK_LABEL(intro), TRUE);
  gtk_label_set_max_width_chars(GTK_LABEL(intro), 60);
  gtk_widget_set_margin_top(intro, 10);
  gtk_widget_set_margin_bottom(intro, 10);
  return intro;
}

bool password_row_strong(GtkWidget* entry) {
  return password_check(gtk_entry_get_text(GTK_ENTRY(entry)), NEW_PASSWORD_LEN, ALL_CLASSES) == 0;
}

void wipe_entry(GtkWidget* entry) {
  GtkEntryBuffer* buf = gtk_entry_get_buffer(GTK_ENTRY(entry));
  guint n = gtk_entry_buffer_get_bytes(buf);
  if (n > 0) {
    OPENSSL_cleanse(const_cast<char*>(gtk_entry_buffer_get_text(buf)), n);
    gtk_entry_buffer_delete_text(buf, 0, -1);
  }
}
