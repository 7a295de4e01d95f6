// SPDX-License-Identifier: GPL-3.0-or-later
// The key editor: one section on the editor shell; the form rule (expiry
// means due with a reminder three days before) is the model's.
#include "dialogs/key_editor.h"

#include <openssl/crypto.h>

#include <string>

#include "crypto/password_strength.h"
#include "dialogs/date_picker.h"
#include "dialogs/layout.h"
#include "dialogs/password_generator.h"
#include "model/key_form.h"
#include "model/settings.h"
#include "support/strings.h"

namespace {

void set_label(GtkWidget* button, StrId id) {
  const char* s = ui_string(id);
  gtk_button_set_label(GTK_BUTTON(button), s ? s : "");
}

void on_show(GtkButton*, gpointer p) {
  auto* k = static_cast<KeySection*>(p);
  k->visible = !k->visible;
  gtk_entry_set_visibility(GTK_ENTRY(k->password), k->visible);
  set_label(k->show, k->visible ? STR_HIDE : STR_SHOW);
}

void on_generate(GtkButton*, gpointer p) {
  password_generator_dialog(static_cast<KeySection*>(p)->password, 0, 0);
}

void on_password_changed(GtkEditable*, gpointer p) {
  auto* k = static_cast<KeySection*>(p);
  int bits = password_bits(gtk_entry_get_text(GTK_ENTRY(k->password)));
  gtk_level_bar_set_value(GTK_LEVEL_BAR(k->strength), password_level(bits));
  std::string tip = std::to_string(bits) + " bit";
  gtk_widget_set_tooltip_text(k->strength, tip.c_str());
}

// The password leaves no copy in freed memory when the editor closes.
void on_password_destroy(GtkWidget* entry, gpointer) {
  GtkEntryBuffer* buf = gtk_entry_get_buffer(GTK_ENTRY(entry));
  guint n = buf ? gtk_entry_buffer_get_bytes(buf) : 0;
  if (n > 0) {
    OPENSSL_cleanse(const_cast<char*>(gtk_entry_buffer_get_text(buf)), n);
    gtk_entry_buffer_delete_text(buf, 0, -1);
  }
}

void expiry_sensitivity(KeySection* k) {
  gtk_widget_set_sensitive(k->expiry, gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(k->expiry_check)));
}

void on_expiry_toggled(GtkToggleButton*, gpointer p) { expiry_sensitivity(static_cast<KeySection*>(p)); }

void on_picker_validity(GtkWidget*, gpointer ed) { editor_validate(static_cast<Editor*>(ed)); }

void* key_build(Editor* ed, GtkWidget* grid, int* row) {
  auto* k = new KeySection;
  k->url = gtk_entry_new();
  gtk_entry_set_activates_default(GTK_ENTRY(k->url), TRUE);
  form_row(grid, (*row)++, STR_WEB_ADDRESS, k->url);
  k->user = gtk_entry_new();
  gtk_entry_set_activates_default(GTK_ENTRY(k->user), TRUE);
  form_row(grid, (*row)++, STR_USER_NAME, k->user);

  k->password = gtk_entry_new();
  gtk_entry_set_visibility(GTK_ENTRY(k->password), FALSE);
  gtk_entry_set_input_purpose(GTK_ENTRY(k->password), GTK_INPUT_PURPOSE_PASSWORD);
  gtk_entry_set_activates_default(GTK_ENTRY(k->password), TRUE);
  set_accessible_name(k->password, STR_PASSWORD);
  k->generate = button_new(STR_GENERATE);
  k->show = button_new(STR_SHOW);
  k->strength = gtk_level_bar_new_for_interval(0, 4);
  gtk_level_bar_set_mode(GTK_LEVEL_BAR(k->strength), GTK_LEVEL_BAR_MODE_DISCRETE);
  gtk_widget_set_size_request(k->strength, 60, -1);
  gtk_widget_set_valign(k->strength, GTK_ALIGN_CENTER);
  GtkWidget* box = button_row({k->password, k->strength, k->generate, k->show});
  gtk_box_set_child_packing(GTK_BOX(box), k->password, TRUE, TRUE, 0, GTK_PACK_START);
  form_row(grid, (*row)++, STR_PASSWORD, box);

  k->expiry_check = gtk_check_button_new();
  set_accessible_name(k->expiry_check, STR_EXPIRES);
  k->expiry = date_picker_new();
  date_picker_set_date_only(k->expiry, true);
  g_signal_connect(k->expiry, "text-validity", G_CALLBACK(on_picker_validity), ed);
  form_row(grid, (*row)++, STR_EXPIRES, button_row({k->expiry_check, k->expiry}));

  gtk_grid_attach(GTK_GRID(grid), form_label_new(STR_NOTES), 0, (*row)++, 1, 1);
  k->notes = gtk_text_view_new();
  gtk_widget_set_size_request(k->notes, 400, 100);
  gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(k->notes), GTK_WRAP_WORD_CHAR);
  set_accessible_name(k->notes, STR_NOTES);
  GtkWidget* sw = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(sw), GTK_SHADOW_IN);
  gtk_widget_set_vexpand(sw, TRUE);
  gtk_widget_set_hexpand(sw, TRUE);
  gtk_container_add(GTK_CONTAINER(sw), k->notes);
  gtk_grid_attach(GTK_GRID(grid), sw, 0, (*row)++, 2, 1);

  g_signal_connect(k->show, "clicked", G_CALLBACK(on_show), k);
  g_signal_connect(k->generate, "clicked", G_CALLBACK(on_generate), k);
  g_signal_connect(k->password, "changed", G_CALLBACK(on_password_changed), k);
  g_signal_connect(k->password, "destroy", G_CALLBACK(on_password_destroy), nullptr);
  g_signal_connect(k->expiry_check, "toggled", G_CALLBACK(on_expiry_toggled), k);
  return k;
}

void key_fill(Editor* ed, void* st, const ItemForm& form) {
  auto* k = static_cast<KeySection*>(st);
  KeyBody key = key_form_read(form.body);
  gtk_entry_set_text(GTK_ENTRY(k->url), key.url.c_str());
  gtk_entry_set_text(GTK_ENTRY(k->user), key.user.c_str());
  gtk_entry_set_text(GTK_ENTRY(k->password), key.password.c_str());
  if (ed->slot >= 0)
    gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(k->notes)), key.notes.c_str(), -1);
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(k->expiry_check), key.date != 0);
  date_picker_set(k->expiry, key.date);
  expiry_sensitivity(k);
  OPENSSL_cleanse(key.password.data(), key.password.size());
}

KeyBody key_of(KeySection* k) {
  KeyBody key;
  key.url = gtk_entry_get_text(GTK_ENTRY(k->url));
  key.user = gtk_entry_get_text(GTK_ENTRY(k->user));
  key.password = gtk_entry_get_text(GTK_ENTRY(k->password));
  key.notes = text_view_text(k->notes);
  if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(k->expiry_check))) key.date = date_picker_get(k->expiry);
  return key;
}

void key_gather(Editor*, void* st, ItemForm* form) {
  KeyBody key = key_of(static_cast<KeySection*>(st));
  key_form_apply(key, form);
  OPENSSL_cleanse(key.password.data(), key.password.size());
}

bool key_valid(Editor*, void* st) { return date_picker_text_valid(static_cast<KeySection*>(st)->expiry); }

// A new key starts as its empty fields give it back (all lines of the body,
// markup on), so that an untouched one is no change. An existing key keeps
// what it stored; the shell saves only what the fields changed.
void key_shown(Editor* ed, void* st) {
  if (ed->slot < 0) key_gather(ed, st, &ed->baseline);
}

void key_saved_new(Editor*, void* st) {
  auto* k = static_cast<KeySection*>(st);
  gtk_entry_set_text(GTK_ENTRY(k->url), "");
  gtk_entry_set_text(GTK_ENTRY(k->user), "");
  gtk_entry_set_text(GTK_ENTRY(k->password), "");
  gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(k->notes)), "", -1);
  date_picker_set(k->expiry, 0);
}

void key_destroy(void* st) { delete static_cast<KeySection*>(st); }

const EditorSection kKeySection = {key_build, key_fill, key_gather, key_valid, key_shown, key_saved_new, key_destroy};

}  // namespace

const EditorSpec& key_editor_spec() {
  static const EditorSpec spec = [] {
    EditorSpec s;
    s.type = ITEM_KEY;
    s.title_id = STR_TYPE_KEY;
    s.size_index = DLG_KEY;
    s.body_rows = false;
    s.sections = {kKeySection};
    return s;
  }();
  return spec;
}
