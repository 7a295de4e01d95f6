// SPDX-License-Identifier: GPL-3.0-or-later
// The password prompt.
#include "dialogs/password_prompt.h"

#include <openssl/crypto.h>

#include "crypto/crypto.h"
#include "dialogs/layout.h"
#include "dialogs/modal.h"
#include "dialogs/password_row.h"
#include "support/strings.h"

namespace {

struct Prompt {
  GtkWidget* ok;
  GtkWidget* entry;
  GtkWidget* show;
  int min_length;
  int classes;
  bool visible;
};

void on_changed(GtkEditable*, gpointer p) {
  auto* pr = static_cast<Prompt*>(p);
  const char* text = gtk_entry_get_text(GTK_ENTRY(pr->entry));
  gtk_widget_set_sensitive(pr->ok, password_check(text, pr->min_length, pr->classes) == 0);
}

void on_show(GtkButton*, gpointer p) {
  auto* pr = static_cast<Prompt*>(p);
  pr->visible = !pr->visible;
  gtk_entry_set_visibility(GTK_ENTRY(pr->entry), pr->visible);
  const char* label = ui_string(pr->visible ? STR_HIDE : STR_SHOW);
  gtk_button_set_label(GTK_BUTTON(pr->show), label ? label : "");
}

}  // namespace

int password_prompt(StrId title_id, StrId headline_id, StrId text_id, int min_length, int classes, std::string* out) {
  if (out) {
    OPENSSL_cleanse(out->data(), out->size());
    out->clear();
  }
  GtkWidget* d = dialog_new(title_id);
  dialog_add_button(d, STR_CANCEL, GTK_RESPONSE_CANCEL);
  Prompt pr{};
  pr.ok = dialog_add_button(d, STR_OK, GTK_RESPONSE_OK);
  pr.min_length = min_length;
  pr.classes = classes;
  gtk_dialog_set_default_response(GTK_DIALOG(d), GTK_RESPONSE_OK);

  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 5);
  gtk_container_set_border_width(GTK_CONTAINER(box), 5);
  if (headline_id != STR_NONE) {
    GtkWidget* h = gtk_label_new(ui_string(headline_id));
    PangoAttrList* attrs = pango_attr_list_new();
    pango_attr_list_insert(attrs, pango_attr_weight_new(PANGO_WEIGHT_BOLD));
    pango_attr_list_insert(attrs, pango_attr_scale_new(1.2));
    gtk_label_set_attributes(GTK_LABEL(h), attrs);
    pango_attr_list_unref(attrs);
    gtk_label_set_line_wrap(GTK_LABEL(h), TRUE);
    gtk_box_pack_start(GTK_BOX(box), h, FALSE, FALSE, 5);
  }
  if (text_id != STR_NONE) {
    GtkWidget* t = gtk_label_new(ui_string(text_id));
    gtk_label_set_line_wrap(GTK_LABEL(t), TRUE);
    gtk_box_pack_start(GTK_BOX(box), t, FALSE, FALSE, 0);
  }
  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 5);
  GtkWidget* label = form_label_new(STR_PASSWORD);
  pr.entry = gtk_entry_new();
  gtk_entry_set_visibility(GTK_ENTRY(pr.entry), FALSE);
  gtk_entry_set_input_purpose(GTK_ENTRY(pr.entry), GTK_INPUT_PURPOSE_PASSWORD);
  gtk_widget_set_size_request(pr.entry, 250, -1);
  gtk_entry_set_activates_default(GTK_ENTRY(pr.entry), TRUE);
  gtk_label_set_mnemonic_widget(GTK_LABEL(label), pr.entry);
  set_accessible_name(pr.entry, STR_PASSWORD);
  pr.show = button_new(STR_SHOW);
  gtk_box_pack_start(GTK_BOX(row), label, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(row), pr.entry, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(row), pr.show, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), row, FALSE, FALSE, 10);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(d))), box, TRUE, TRUE, 0);

  g_signal_connect(pr.entry, "changed", G_CALLBACK(on_changed), &pr);
  g_signal_connect(pr.show, "clicked", G_CALLBACK(on_show), &pr);
  gtk_widget_show_all(d);
  gtk_widget_grab_focus(pr.entry);

  int response;
  {
    ModalScope scope(d);
    // Enter in the entry activates OK even while it is insensitive; only an
    // acceptable text ends the prompt.
    do {
      response = scope.run();
    } while (response == GTK_RESPONSE_OK && !gtk_widget_get_sensitive(pr.ok));
  }
  int rc = 1;
  if (response == GTK_RESPONSE_OK) {
    if (out) *out = gtk_entry_get_text(GTK_ENTRY(pr.entry));
    rc = 0;
  }
  wipe_entry(pr.entry);
  gtk_widget_destroy(d);
  return rc;
}

int password_prompt_simple(StrId title_id, StrId headline_id, StrId text_id, std::string* out) {
  return password_prompt(title_id, headline_id, text_id, 1, 0, out);
}
