// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's own state, in one place: its widgets, the menus built
// from the command table, the relabel list, the navigation ring, the view
// flags, the timers and the start-up hooks. The program's main function owns
// it for the whole run, on the main thread.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <vector>

#include "app/app_hooks.h"
#include "app/nav_ring.h"
#include "app/timers.h"
#include "support/string_ids.h"

struct TagTree;
struct ItemList;

// A widget whose label is a string id (or, for a command with two labels,
// follows the command's state), set again after a language change.
struct RelabelEntry {
  GtkWidget* widget = nullptr;
  StrId string_id = STR_NONE;
  int command = -1;  // >= 0: the label comes from command_label
};

// A widget whose sensitivity follows a command.
struct CommandWidget {
  GtkWidget* widget = nullptr;
  int command = -1;
};

struct MainWindow {
  GtkWidget* window = nullptr;
  GtkWidget* menubar = nullptr;
  GtkWidget* toolbar = nullptr;
  GtkWidget* hpaned = nullptr;
  GtkWidget* vpaned = nullptr;
  GtkWidget* statusbar = nullptr;
  GtkWidget* tag_tree = nullptr;  // tags->view
  TagTree* tags = nullptr;
  ItemList* items = nullptr;
  GtkWidget* item_list = nullptr;  // items->view
  GtkWidget* detail = nullptr;
  GtkWidget* calendar = nullptr;
  GtkWidget* tag_menu = nullptr;
  GtkWidget* list_type_menu = nullptr;
  GtkWidget* item_popup = nullptr;  // rebuilt on every use
  GtkWidget* tray_menu = nullptr;
  GObject* tray = nullptr;  // the GtkStatusIcon
  GtkAccelGroup* accel = nullptr;
  guint status_context = 0;
  gulong item_selection_handler = 0;

  std::vector<RelabelEntry> relabel_list;
  std::vector<CommandWidget> command_widgets;

  NavRing nav;
  bool navigating = false;
  int list_type_shown = -1;  // list type named by the first tag-tree row
  int undo_state = 0;        // of the selected tag's repository
  bool tag_editing = false;
  bool built = false;
  bool quitting = false;
  bool quit_requested = false;  // a quit signal came

  int reminders_shown = -1;  // count written into the reminders row
  bool tray_alert = false;

  guint refresh_idle = 0;  // pending merged refresh
  int refresh_kind = -1;   // strongest pending item-changed kind
  bool refresh_tray = false;  // the pending refresh includes the tray
  int pause_depth = 0;     // bulk commands in progress

  Timers timers;
  AppHooks hooks;
  UpdateCalls update_calls;
};
