// SPDX-License-Identifier: GPL-3.0-or-later
// The modal scope and the process-wide top window.
#include "dialogs/modal.h"

#include "support/strings.h"

namespace {
GtkWindow* g_top_window = nullptr;
}

GtkWindow* top_window() { return g_top_window; }
void set_top_window(GtkWindow* window) { g_top_window = window; }

namespace {
bool g_program_ending = false;
}  // namespace

bool program_ending() { return g_program_ending; }
void set_program_ending(bool ending) { g_program_ending = ending; }

GtkWidget* dialog_new(StrId title_id) {
  GtkWidget* d = gtk_dialog_new();
  const char* title = ui_string(title_id);
  gtk_window_set_title(GTK_WINDOW(d), title ? title : "");
  gtk_window_set_modal(GTK_WINDOW(d), TRUE);
  if (g_top_window) gtk_window_set_transient_for(GTK_WINDOW(d), g_top_window);
  gtk_window_set_destroy_with_parent(GTK_WINDOW(d), TRUE);
  return d;
}

GtkWidget* dialog_add_button(GtkWidget* dialog, StrId label_id, int response) {
  const char* label = ui_string(label_id);
  return gtk_dialog_add_button(GTK_DIALOG(dialog), label ? label : "", response);
}

ModalScope::ModalScope(GtkWidget* d, int* w, int* h) : dialog(d), saved(g_top_window), width(w), height(h) {
  if (width && height && *width > 0 && *height > 0) gtk_window_set_default_size(GTK_WINDOW(dialog), *width, *height);
  g_top_window = GTK_WINDOW(dialog);
}

ModalScope::~ModalScope() {
  // The size is read before the caller destroys the dialog.
  if (width && height && dialog && gtk_widget_get_realized(dialog)) {
    int w = 0, h = 0;
    gtk_window_get_size(GTK_WINDOW(dialog), &w, &h);
    if (w > 0 && h > 0) {
      *width = w;
      *height = h;
    }
  }
  g_top_window = saved;
}

int ModalScope::run() { return gtk_dialog_run(GTK_DIALOG(dialog)); }
