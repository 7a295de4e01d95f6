// SPDX-License-Identifier: GPL-3.0-or-later
// The password generator dialog.
#include "dialogs/password_generator.h"

#include <openssl/crypto.h>

#include <cstdlib>
#include <string>

#include "crypto/crypto.h"
#include "dialogs/layout.h"
#include "dialogs/modal.h"
#include "dialogs/password_row.h"
#include "support/strings.h"

namespace {

constexpr int kMaxLength = 127;

GeneratorWidgets g_open;

struct Generator {
  GeneratorWidgets w;
  int min_length = 1;
};

int length_of(const Generator* g) {
  return std::atoi(gtk_entry_get_text(GTK_ENTRY(g->w.length)));
}

int classes_of(const Generator* g) {
  int c = 0;
  for (int i = 0; i < 4; i++)
    if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(g->w.classes[i]))) c |= 1 << i;
  return c;
}

// Draws a password for the current settings into the preview; an empty
// preview (and OK insensitive) when the settings cannot give one.
void redraw(Generator* g) {
  int len = length_of(g);
  int classes = classes_of(g);
  bool ok = len >= g->min_length && len <= kMaxLength && classes != 0;
  wipe_entry(g->w.preview);
  if (ok) {
    std::string buf(static_cast<size_t>(len) + 1, '\0');
    password_generate(buf.data(), len, classes);
    ok = buf[0] != '\0';
    gtk_entry_set_text(GTK_ENTRY(g->w.preview), buf.c_str());
    OPENSSL_cleanse(buf.data(), buf.size());
  }
  gtk_widget_set_sensitive(g->w.ok, ok);
  gtk_widget_set_sensitive(g->w.redraw, ok);
}

void on_changed(GtkWidget*, gpointer p) { redraw(static_cast<Generator*>(p)); }

}  // namespace

GeneratorSettings& generator_settings() {
  static GeneratorSettings s;
  return s;
}

const GeneratorWidgets& generator_widgets() { return g_open; }

bool password_generator_dialog(GtkWidget* target, int min_length, int classes) {
  GeneratorSettings& s = generator_settings();
  if (min_length > 0) s.length = min_length;
  if (classes != 0) s.classes = classes & 15;
  Generator g;
  g.min_length = min_length > 0 ? min_length : 1;

  GtkWidget* d = dialog_new(STR_PASSWORD_TITLE);
  g.w.dialog = d;
  dialog_add_button(d, STR_CANCEL, GTK_RESPONSE_CANCEL);
  g.w.ok = dialog_add_button(d, STR_OK, GTK_RESPONSE_OK);
  gtk_dialog_set_default_response(GTK_DIALOG(d), GTK_RESPONSE_OK);

  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 5);
  gtk_container_set_border_width(GTK_CONTAINER(box), 5);
  g.w.length = numeric_entry_new(3);
  gtk_entry_set_text(GTK_ENTRY(g.w.length), std::to_string(s.length).c_str());
  set_accessible_name(g.w.length, STR_GEN_LENGTH);
  gtk_box_pack_start(GTK_BOX(box),
                     button_row({form_label_new(STR_GEN_LENGTH), g.w.length, form_label_new(STR_GEN_CHARACTERS)}),
                     FALSE, FALSE, 0);
  for (int i = 0; i < 4; i++) {
    const char* label = ui_string(str_at(STR_GEN_CLASS_RANGE, i));
    g.w.classes[i] = gtk_check_button_new_with_label(label ? label : "");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(g.w.classes[i]), (s.classes >> i) & 1);
    if (classes != 0 && ((classes >> i) & 1)) gtk_widget_set_sensitive(g.w.classes[i], FALSE);
    gtk_box_pack_start(GTK_BOX(box), g.w.classes[i], FALSE, FALSE, 0);
  }
  // The password it will give, shown before it is accepted; redrawn on
  // every change of the settings and on demand.
  g.w.preview = gtk_entry_new();
  gtk_editable_set_editable(GTK_EDITABLE(g.w.preview), FALSE);
  gtk_widget_set_can_focus(g.w.preview, TRUE);
  set_accessible_name(g.w.preview, STR_PASSWORD);
  g.w.redraw = button_new(STR_GENERATE);
  GtkWidget* row = button_row({form_label_new(STR_PASSWORD), g.w.preview, g.w.redraw});
  gtk_box_set_child_packing(GTK_BOX(row), g.w.preview, TRUE, TRUE, 0, GTK_PACK_START);
  gtk_box_pack_start(GTK_BOX(box), row, FALSE, FALSE, 5);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(d))), box, TRUE, TRUE, 0);

  redraw(&g);
  g_signal_connect(g.w.length, "changed", G_CALLBACK(on_changed), &g);
  for (GtkWidget* c : g.w.classes) g_signal_connect(c, "toggled", G_CALLBACK(on_changed), &g);
  g_signal_connect(g.w.redraw, "clicked", G_CALLBACK(on_changed), &g);
  gtk_widget_show_all(d);

  GeneratorWidgets saved = g_open;
  g_open = g.w;
  int response;
  {
    ModalScope scope(d);
    do {
      response = scope.run();
    } while (response == GTK_RESPONSE_OK && !gtk_widget_get_sensitive(g.w.ok));
  }
  g_open = saved;
  bool accepted = false;
  if (response == GTK_RESPONSE_OK) {
    int len = length_of(&g);
    s.length = len > kMaxLength ? kMaxLength : len;
    s.classes = classes_of(&g);
    if (target && GTK_IS_ENTRY(target)) {
      wipe_entry(target);
      gtk_entry_set_text(GTK_ENTRY(target), gtk_entry_get_text(GTK_ENTRY(g.w.preview)));
      accepted = true;
    }
  }
  wipe_entry(g.w.preview);
  gtk_widget_destroy(d);
  return accepted;
}
