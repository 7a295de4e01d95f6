// SPDX-License-Identifier: GPL-3.0-or-later
// The key (account) editor: web address, user name, password with its
// generator, show button and strength, expiry date, notes.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>

#include "dialogs/editor.h"

struct KeySection {
  GtkWidget* url = nullptr;
  GtkWidget* user = nullptr;
  GtkWidget* password = nullptr;
  GtkWidget* generate = nullptr;
  GtkWidget* show = nullptr;
  GtkWidget* strength = nullptr;  // level bar, 0..4
  GtkWidget* expiry_check = nullptr;
  GtkWidget* expiry = nullptr;    // date-only picker
  GtkWidget* notes = nullptr;     // text view
  bool visible = false;           // password shown
};

const EditorSpec& key_editor_spec();
