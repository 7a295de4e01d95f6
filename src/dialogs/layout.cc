// SPDX-License-Identifier: GPL-3.0-or-later
// Layout helpers shared by the dialogs.
#include "dialogs/layout.h"

#include <cstring>
#include <string>

#include "dialogs/modal.h"
#include "support/strings.h"

GtkWidget* form_grid_new() {
  GtkWidget* g = gtk_grid_new();
  gtk_container_set_border_width(GTK_CONTAINER(g), HIG_BORDER);
  gtk_grid_set_row_spacing(GTK_GRID(g), HIG_ROW_SPACING);
  gtk_grid_set_column_spacing(GTK_GRID(g), HIG_COLUMN_SPACING);
  return g;
}

GtkWidget* form_label_new(StrId string_id) {
  const char* text = ui_string(string_id);
  GtkWidget* l = gtk_label_new(text ? text : "");
  gtk_widget_set_halign(l, GTK_ALIGN_START);
  gtk_label_set_xalign(GTK_LABEL(l), 0.0f);
  return l;
}

namespace {

// The widget a label's mnemonic should reach inside a composite field (a
// box of controls, a date picker): the field itself when it takes the focus,
// else its first descendant that does.
GtkWidget* focus_target(GtkWidget* w) {
  if (GTK_IS_COMBO_BOX(w) || gtk_widget_get_can_focus(w) || !GTK_IS_CONTAINER(w)) return w;
  GtkWidget* found = nullptr;
  GList* kids = gtk_container_get_children(GTK_CONTAINER(w));
  for (GList* l = kids; l && !found; l = l->next) {
    GtkWidget* t = focus_target(static_cast<GtkWidget*>(l->data));
    if (GTK_IS_COMBO_BOX(t) || gtk_widget_get_can_focus(t)) found = t;
  }
  g_list_free(kids);
  return found ? found : w;
}

}  // namespace

GtkWidget* form_label_for(StrId string_id, GtkWidget* field) {
  GtkWidget* l = form_label_new(string_id);
  GtkWidget* target = focus_target(field);
  gtk_label_set_mnemonic_widget(GTK_LABEL(l), target);
  set_accessible_name(field, string_id);
  if (target != field) set_accessible_name(target, string_id);
  return l;
}

GtkWidget* count_unit_label_new(StrId plural_id, long long n) {
  GtkWidget* l = gtk_label_new(ui_plural(plural_id, n).c_str());
  gtk_widget_set_halign(l, GTK_ALIGN_START);
  gtk_label_set_xalign(GTK_LABEL(l), 0.0f);
  g_object_set_data(G_OBJECT(l), "plural-id", GINT_TO_POINTER(plural_id));
  return l;
}

void count_unit_label_update(GtkWidget* label, long long n) {
  auto id = static_cast<StrId>(GPOINTER_TO_INT(g_object_get_data(G_OBJECT(label), "plural-id")));
  gtk_label_set_text(GTK_LABEL(label), ui_plural(id, n).c_str());
}

GtkWidget* form_row(GtkWidget* grid, int row, StrId label_id, GtkWidget* field) {
  GtkWidget* l = form_label_for(label_id, field);
  gtk_grid_attach(GTK_GRID(grid), l, 0, row, 1, 1);
  gtk_widget_set_hexpand(field, TRUE);
  gtk_grid_attach(GTK_GRID(grid), field, 1, row, 1, 1);
  return l;
}

void button_set_destructive(GtkWidget* button) {
  set_destructive(button);
  gtk_widget_set_can_default(button, FALSE);
}

GtkWidget* button_row(std::initializer_list<GtkWidget*> widgets) {
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, HIG_ROW_SPACING);
  for (GtkWidget* w : widgets) gtk_box_pack_start(GTK_BOX(box), w, FALSE, FALSE, 0);
  return box;
}

GtkWidget* button_new(StrId label_id) {
  const char* text = ui_string(label_id);
  return gtk_button_new_with_label(text ? text : "");
}

namespace {

void on_numeric_insert(GtkEditable* editable, const gchar* text, gint length, gint*, gpointer) {
  size_t n = length < 0 ? std::strlen(text) : static_cast<size_t>(length);
  for (size_t i = 0; i < n; i++) {
    if (text[i] < '0' || text[i] > '9') {
      g_signal_stop_emission_by_name(editable, "insert-text");
      return;
    }
  }
}

}  // namespace

GtkWidget* numeric_entry_new(int n) {
  GtkWidget* e = gtk_entry_new();
  gtk_entry_set_max_length(GTK_ENTRY(e), n);
  gtk_entry_set_width_chars(GTK_ENTRY(e), n + 1);
  gtk_entry_set_alignment(GTK_ENTRY(e), 1.0f);
  gtk_entry_set_input_purpose(GTK_ENTRY(e), GTK_INPUT_PURPOSE_DIGITS);
  g_signal_connect(e, "insert-text", G_CALLBACK(on_numeric_insert), nullptr);
  return e;
}

GtkWidget* combo_from_list(const char* list, int active) {
  GtkWidget* c = gtk_combo_box_text_new();
  if (list && *list) {
    const char* p = list;
    while (true) {
      const char* e = std::strchr(p, '\n');
      std::string line = e ? std::string(p, e) : std::string(p);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(c), line.c_str());
      if (!e) break;
      p = e + 1;
      if (!*p) break;  // a final line break starts no entry
    }
  }
  gtk_combo_box_set_active(GTK_COMBO_BOX(c), active);
  return c;
}

void set_accessible_name(GtkWidget* widget, StrId string_id) {
  AtkObject* a = gtk_widget_get_accessible(widget);
  if (a) atk_object_set_name(a, ui_string_line(string_id).c_str());
}

std::string text_view_text(GtkWidget* view) {
  GtkTextBuffer* buf = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view));
  GtkTextIter a, b;
  gtk_text_buffer_get_bounds(buf, &a, &b);
  gchar* t = gtk_text_buffer_get_text(buf, &a, &b, TRUE);
  std::string out = t ? t : "";
  g_free(t);
  return out;
}
