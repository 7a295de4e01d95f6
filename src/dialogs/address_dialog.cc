// SPDX-License-Identifier: GPL-3.0-or-later
// The address dialog.
#include "dialogs/address_dialog.h"

#include "dialogs/layout.h"
#include "dialogs/modal.h"
#include "support/strings.h"

namespace {

constexpr int kNoCountry = 10;

AddressDialogWidgets g_open;

struct AddressDialog {
  AddressDialogWidgets w;
  int country = kNoCountry;
  std::string work[7];
};

int country_of_entry(int entry) {
  if (entry >= 0 && entry < 10) return countries_sorted()[entry];
  return kNoCountry;
}

void refresh(AddressDialog* a) {
  const AddressRow* rows = address_layout(a->country);
  for (int r = 0; r < 7; r++) {
    int comp = rows[r].component;
    if (comp < 0 || comp > 6) {
      gtk_widget_hide(a->w.labels[r]);
      gtk_widget_hide(a->w.entries[r]);
      continue;
    }
    const char* text = ui_string(rows[r].label_id);
    gtk_label_set_text(GTK_LABEL(a->w.labels[r]), text ? text : "");
    gtk_entry_set_text(GTK_ENTRY(a->w.entries[r]), a->work[comp].c_str());
    gtk_widget_show(a->w.labels[r]);
    gtk_widget_show(a->w.entries[r]);
  }
}

// The shown rows' texts go back to their components before the layout
// changes, so that nothing typed is lost by switching countries.
void take_entries(AddressDialog* a) {
  const AddressRow* rows = address_layout(a->country);
  for (int r = 0; r < 7; r++) {
    int comp = rows[r].component;
    if (comp >= 0 && comp <= 6) a->work[comp] = gtk_entry_get_text(GTK_ENTRY(a->w.entries[r]));
  }
}

void on_country(GtkComboBox* combo, gpointer p) {
  auto* a = static_cast<AddressDialog*>(p);
  take_entries(a);
  a->country = country_of_entry(gtk_combo_box_get_active(combo));
  refresh(a);
}

}  // namespace

const AddressDialogWidgets& address_dialog_widgets() { return g_open; }

int address_country_entry(int country) {
  const int* sorted = countries_sorted();
  for (int i = 0; i < 10; i++)
    if (sorted[i] == country) return i;
  return 10;
}

bool address_dialog(GtkWindow* parent, std::string parts[8]) {
  AddressDialog a;
  int c = parts[7].size() == 2 ? country_from_code(parts[7].c_str()) : -1;
  a.country = c >= 0 && c <= kNoCountry ? c : kNoCountry;
  for (int i = 0; i < 7; i++) a.work[i] = parts[i];

  GtkWidget* d = dialog_new(STR_ADDRESS);
  if (parent) gtk_window_set_transient_for(GTK_WINDOW(d), parent);
  a.w.dialog = d;
  dialog_add_button(d, STR_CANCEL, GTK_RESPONSE_CANCEL);
  dialog_add_button(d, STR_ACCEPT, GTK_RESPONSE_OK);
  gtk_dialog_set_default_response(GTK_DIALOG(d), GTK_RESPONSE_OK);
  gtk_window_set_default_size(GTK_WINDOW(d), 500, -1);

  GtkWidget* grid = form_grid_new();
  for (int r = 0; r < 7; r++) {
    a.w.labels[r] = gtk_label_new("");
    gtk_widget_set_halign(a.w.labels[r], GTK_ALIGN_START);
    a.w.entries[r] = gtk_entry_new();
    gtk_widget_set_hexpand(a.w.entries[r], TRUE);
    gtk_entry_set_activates_default(GTK_ENTRY(a.w.entries[r]), TRUE);
    gtk_label_set_mnemonic_widget(GTK_LABEL(a.w.labels[r]), a.w.entries[r]);
    gtk_grid_attach(GTK_GRID(grid), a.w.labels[r], 0, r, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), a.w.entries[r], 1, r, 1, 1);
  }
  a.w.country = gtk_combo_box_text_new();
  const int* sorted = countries_sorted();
  for (int i = 0; i < 10; i++) {
    const char* name = ui_string(str_at(STR_COUNTRY_RANGE, sorted[i]));
    gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(a.w.country), name ? name : "");
  }
  const char* none = ui_string(str_at(STR_COUNTRY_RANGE, kNoCountry));
  gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(a.w.country), none ? none : "");
  gtk_combo_box_set_active(GTK_COMBO_BOX(a.w.country), address_country_entry(a.country));
  form_row(grid, 7, STR_ADDRESS_FORMAT, a.w.country);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(d))), grid, TRUE, TRUE, 5);
  gtk_widget_show_all(d);
  refresh(&a);
  g_signal_connect(a.w.country, "changed", G_CALLBACK(on_country), &a);

  AddressDialogWidgets saved = g_open;
  g_open = a.w;
  int response;
  {
    ModalScope scope(d);
    response = scope.run();
  }
  g_open = saved;
  bool ok = response == GTK_RESPONSE_OK;
  if (ok) {
    take_entries(&a);
    for (int i = 0; i < 8; i++) parts[i].clear();
    // The rows the layout shows, in its order; the components it does not
    // show are dropped with it, as the user last saw the address.
    const AddressRow* rows = address_layout(a.country);
    for (int r = 0; r < 7; r++) {
      int comp = rows[r].component;
      if (comp < 0 || comp > 6) break;
      parts[comp] = a.work[comp];
    }
    const char* code = country_code(a.country);
    parts[7] = code ? code : "";
  }
  gtk_widget_destroy(d);
  return ok;
}
