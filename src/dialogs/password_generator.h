// SPDX-License-Identifier: GPL-3.0-or-later
// The password generator dialog: length and character classes, with the
// password it will give shown (and redrawable) before it is accepted.
#pragma once

#include <gtk/gtk.h>

// Runs the generator for a target entry. min_length 0: no minimum (1);
// classes 0: none required. A non-zero min_length becomes the remembered
// length, non-zero classes the remembered classes (their boxes locked). On
// OK the shown password is put into the target. True when it was.
bool password_generator_dialog(GtkWidget* target, int min_length, int classes);

// The generator's settings, remembered for the run (not stored).
struct GeneratorSettings {
  int length = 16;
  int classes = 15;
};
GeneratorSettings& generator_settings();

// The open generator's widgets, for the window's tests and accessibility
// harness; null fields while none is open.
struct GeneratorWidgets {
  GtkWidget* dialog = nullptr;
  GtkWidget* length = nullptr;
  GtkWidget* classes[4] = {};
  GtkWidget* preview = nullptr;
  GtkWidget* redraw = nullptr;
  GtkWidget* ok = nullptr;
};
const GeneratorWidgets& generator_widgets();
