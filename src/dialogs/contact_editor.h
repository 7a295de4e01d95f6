// SPDX-License-Identifier: GPL-3.0-or-later
// The contact editor: names, web address, birthday, up to ten phones and ten
// e-mail addresses, three postal addresses and notes, saved as a change to
// the stored card (what the editor does not show is kept).
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <string>

#include "dialogs/editor.h"
#include "interchange/vcard.h"

// A phone or e-mail row. origin: the entry of the loaded card it shows, -1
// for a row the user added; loaded/flags: its type entry and flags then.
struct ContactRow {
  GtkWidget* combo = nullptr;
  GtkWidget* entry = nullptr;
  GtkWidget* remove = nullptr;
  int origin = -1;
  int loaded = -1;
  int flags = 0;
};

struct ContactAddress {
  GtkWidget* combo = nullptr;
  GtkWidget* label = nullptr;
  GtkWidget* edit = nullptr;
  GtkWidget* remove = nullptr;
  GtkWidget* box = nullptr;
  std::string part[8];  // unescaped; part[7] the country code
  int origin = -1;
  int loaded = -1;
  int flags = 0;
  bool edited = false;
};

struct ContactSection {
  Editor* ed = nullptr;
  GtkWidget* given = nullptr;
  GtkWidget* family = nullptr;
  GtkWidget* formatted = nullptr;
  GtkWidget* org = nullptr;
  GtkWidget* url = nullptr;
  GtkWidget* bday_check = nullptr;
  GtkWidget* bday = nullptr;
  ContactRow phones[kVcardMaxPhones];
  int n_phones = 0;
  GtkWidget* add_phone = nullptr;
  ContactRow emails[kVcardMaxEmails];
  int n_emails = 0;
  GtkWidget* add_email = nullptr;
  ContactAddress addresses[kVcardMaxAddresses];
  int n_addresses = 0;
  GtkWidget* add_address = nullptr;
  GtkWidget* notes_label = nullptr;
  GtkWidget* notes = nullptr;
  GtkWidget* notes_box = nullptr;
  GtkWidget* notes_remove = nullptr;
  GtkWidget* add_notes = nullptr;
  bool notes_shown = false;
  std::string card;     // the stored card being edited; empty for a new one
  VCardRecord shown;    // as parsed from it
};

const EditorSpec& contact_editor_spec();

// The handlers behind the section's buttons (the window's accessibility
// harness and the tests press them through these).
void contact_add_phone(ContactSection* c);
void contact_remove_phone(ContactSection* c, int row);
void contact_add_email(ContactSection* c);
void contact_remove_email(ContactSection* c, int row);
void contact_add_address(ContactSection* c);   // runs address_dialog
void contact_edit_address(ContactSection* c, int k);
void contact_remove_address(ContactSection* c, int k);
void contact_show_notes(ContactSection* c, bool shown);
// Phone type entry <-> flags, as the combo offers them.
int contact_phone_entry(int flags);
int contact_phone_flags(int entry);
