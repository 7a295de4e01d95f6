// SPDX-License-Identifier: GPL-3.0-or-later
// The address dialog of the contact editor: seven rows laid out by the
// address's country, and the country combo.
#pragma once

#include <gtk/gtk.h>

#include <string>

// parts: the eight components (unescaped), part[7] the two-letter country
// code. True when confirmed: the components are then replaced (empty rows
// give empty components, part[7] the code of the chosen country).
bool address_dialog(GtkWindow* parent, std::string parts[8]);

// The open dialog's widgets, for tests and the accessibility harness.
struct AddressDialogWidgets {
  GtkWidget* dialog = nullptr;
  GtkWidget* labels[7] = {};
  GtkWidget* entries[7] = {};
  GtkWidget* country = nullptr;  // combo: the ten sorted countries, then "no country"
};
const AddressDialogWidgets& address_dialog_widgets();
// The combo entry of a country index (0..10).
int address_country_entry(int country);
