// SPDX-License-Identifier: GPL-3.0-or-later
// The modal scope every dialog runs in: it makes the dialog modal and
// transient for the window on top, sets the process-wide top window to it
// for as long as it runs (timers and the tray treat any other top window as
// busy), applies a remembered size and stores the size back at the end.
#pragma once

#include <gtk/gtk.h>

#include "support/string_ids.h"

// The window on top: the main window, or the dialog that is running.
// nullptr until the main window sets itself.
GtkWindow* top_window();
void set_top_window(GtkWindow* window);

// The program is ending on a quit signal: dialogs that would ask before
// closing (discard the changes?) close without asking, so that the quit
// cannot be held up by a question no one is there to answer.
bool program_ending();
void set_program_ending(bool ending);

// A dialog with the title string, modal and transient for top_window(),
// without buttons. The caller owns it (gtk_widget_destroy).
GtkWidget* dialog_new(StrId title_id);
// Adds a button with the label of the string id and the response.
GtkWidget* dialog_add_button(GtkWidget* dialog, StrId label_id, int response);

struct ModalScope {
  // width/height: a remembered size to apply now and to store the dialog's
  // size into when the scope ends; either may be nullptr.
  explicit ModalScope(GtkWidget* dialog, int* width = nullptr, int* height = nullptr);
  ~ModalScope();
  ModalScope(const ModalScope&) = delete;
  ModalScope& operator=(const ModalScope&) = delete;

  // gtk_dialog_run inside the scope.
  int run();

  GtkWidget* dialog;
  GtkWindow* saved;
  int* width;
  int* height;
};
