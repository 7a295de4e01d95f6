// SPDX-License-Identifier: GPL-3.0-or-later
// The search dialog.
#include "dialogs/search_dialog.h"

#include <string>

#include "dialogs/layout.h"
#include "dialogs/message.h"
#include "dialogs/modal.h"
#include "model/search.h"
#include "support/strings.h"

namespace {

SearchWidgets g_open;

void on_changed(GtkEditable* e, gpointer ok) {
  gtk_widget_set_sensitive(GTK_WIDGET(ok), gtk_entry_get_text_length(GTK_ENTRY(e)) > 0);
}

}  // namespace

const SearchWidgets& search_widgets() { return g_open; }

int search_dialog() {
  SearchWidgets w;
  GtkWidget* d = dialog_new(STR_SEARCH);
  w.dialog = d;
  dialog_add_button(d, STR_CANCEL, GTK_RESPONSE_CANCEL);
  w.ok = dialog_add_button(d, STR_ACCEPT, GTK_RESPONSE_OK);
  gtk_dialog_set_default_response(GTK_DIALOG(d), GTK_RESPONSE_OK);
  w.entry = gtk_entry_new();
  gtk_entry_set_text(GTK_ENTRY(w.entry), search_text().c_str());
  gtk_entry_set_activates_default(GTK_ENTRY(w.entry), TRUE);
  set_accessible_name(w.entry, STR_SEARCH_FOR);
  const char* label = ui_string(STR_MATCH_CASE);
  w.case_check = gtk_check_button_new_with_label(label ? label : "");
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w.case_check), search_case_sensitive() != 0);
  GtkWidget* box = button_row({form_label_new(STR_SEARCH_FOR), w.entry, w.case_check});
  gtk_box_set_child_packing(GTK_BOX(box), w.entry, TRUE, TRUE, 0, GTK_PACK_START);
  gtk_container_set_border_width(GTK_CONTAINER(box), 5);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(d))), box, TRUE, TRUE, 0);
  gtk_widget_set_sensitive(w.ok, gtk_entry_get_text_length(GTK_ENTRY(w.entry)) > 0);
  g_signal_connect(w.entry, "changed", G_CALLBACK(on_changed), w.ok);
  gtk_widget_show_all(d);
  gtk_widget_grab_focus(w.entry);

  SearchWidgets saved = g_open;
  g_open = w;
  int found = -1;
  {
    ModalScope scope(d);
    while (true) {
      int response = scope.run();
      if (response != GTK_RESPONSE_OK) break;
      std::string text = gtk_entry_get_text(GTK_ENTRY(w.entry));
      if (text.empty()) continue;  // Enter in an empty entry
      int cs = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w.case_check)) ? 1 : 0;
      int n = items_search(text.c_str(), cs);
      if (n > 0) {
        found = n;
        break;
      }
      // The text goes in as an argument: a "%" in it shows as typed.
      show_message(STR_ROW_SEARCH_RESULTS, STR_MSG_NO_SEARCH_HIT, text.c_str());
    }
  }
  g_open = saved;
  gtk_widget_destroy(d);
  return found;
}
