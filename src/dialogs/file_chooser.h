// SPDX-License-Identifier: GPL-3.0-or-later
// The file choosers of the import and export commands: open (one or several
// files), save (with overwrite confirmation) and select folder, each made
// under the top-window rule with a cancel (STR_CANCEL) and an accept
// button.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

#include "support/string_ids.h"

// What a chooser offers to pick.
enum ChooserFilter {
  CHOOSER_ANY = 0,
  CHOOSER_TEXT,      // notes
  CHOOSER_CALENDAR,  // .ics
  CHOOSER_CONTACTS,  // .vcf
  CHOOSER_ACCOUNTS,  // .json
  CHOOSER_REPO_FILE, // repository export file
};

struct ChooserRequest {
  GtkFileChooserAction action = GTK_FILE_CHOOSER_ACTION_OPEN;
  StrId title_id = STR_NONE;
  StrId accept_id = STR_NONE;
  bool multiple = false;
  ChooserFilter filter = CHOOSER_ANY;
  std::string folder;        // where it starts; empty: the chooser's choice
  std::string suggested;     // save: the proposed file name
  bool create_folders = false;
};

// The chosen paths (local file names), or none when cancelled.
std::vector<std::string> choose_files(const ChooserRequest& request);
// The single chosen path, or "" when cancelled.
std::string choose_file(const ChooserRequest& request);

// Tests answer choosers through this instead of driving GTK's own dialog:
// while set, choose_files returns what it returns and shows nothing.
using ChooserHook = std::function<std::vector<std::string>(const ChooserRequest&)>;
void set_chooser_hook(ChooserHook hook);
