// SPDX-License-Identifier: GPL-3.0-or-later
// The password entries of the dialogs: the row of the new-repository and
// change-password dialogs (an entry pre-filled with a generated password,
// generate and show buttons, the rule above it), and the wipe every
// password entry gets before its dialog goes.
#pragma once

#include <gtk/gtk.h>

// The rule of repository passwords: 20 characters from all four classes.
enum { NEW_PASSWORD_LEN = 20, ALL_CLASSES = 15 };

struct PasswordRow {
  GtkWidget* box = nullptr;
  GtkWidget* entry = nullptr;
  GtkWidget* show = nullptr;
  bool visible = false;
};

// Builds the row (the row must stay where it is while the dialog runs).
void password_row_init(PasswordRow* r);
// The rule's text above the row, wrapped.
GtkWidget* password_rule_label();
// True when the entry's password follows the rule.
bool password_row_strong(GtkWidget* entry);

// Overwrites an entry's text in memory and empties it.
void wipe_entry(GtkWidget* entry);
