// SPDX-License-Identifier: GPL-3.0-or-later
// The command table of the main window: every command the menus, toolbar,
// context menus, keys and tray can run, with its label, accelerator, handler
// and the condition under which it is enabled. Menus and the toolbar are
// built from it and their sensitivity is computed in one function. A command
// without a handler yet is shown but insensitive.
#pragma once

#include <gtk/gtk.h>

#include "support/string_ids.h"

struct MainWindow;

enum CommandId : int {
  // File menu
  CMD_CHECK_UPDATE,
  CMD_ACCOUNT,
  CMD_MASTER_PASSWORD,
  CMD_REPO_MANAGER,
  CMD_SYNC_ALL,
  CMD_QUIT,
  // Edit menu
  CMD_UNDO,
  CMD_REDO,
  CMD_NEW_NOTE,
  CMD_NEW_TASK,
  CMD_NEW_EVENT,
  CMD_NEW_VCARD,
  CMD_NEW_KEY,
  CMD_NEW_TAG,
  CMD_COPY_USER,
  CMD_COPY_PASSWORD,
  CMD_SEARCH,
  CMD_COMPLETED,
  CMD_SHOW_HIDDEN,
  CMD_OPTIONS,
  // Help menu
  CMD_USER_GUIDE,
  CMD_SEND_TRACE,
  CMD_ABOUT,
  // Toolbar
  CMD_BACK,
  CMD_FORWARD,
  // Tag context menu
  CMD_DELETE_TAG,
  CMD_COPY_ALL,
  CMD_PASTE,
  CMD_IMPORT_NOTES,
  CMD_IMPORT_CALENDAR,
  CMD_IMPORT_CONTACTS,
  CMD_IMPORT_ACCOUNTS,
  CMD_EXPORT_NOTES,
  CMD_EXPORT_CALENDAR,
  CMD_EXPORT_CONTACTS,
  CMD_EXPORT_ACCOUNTS,
  CMD_SYNC_REPO,
  CMD_EXPORT_REPO,
  // List-type menu (argument: the list type 0..8)
  CMD_LIST_TYPE,
  // Item popup menu
  CMD_NEXT_REMINDER,
  CMD_MOVE_DUE,  // argument: days, 0 = next half hour
  CMD_EDIT_ITEM,
  CMD_SET_TAGS,
  CMD_ITEM_HISTORY,
  CMD_DELETE_ITEM,
  CMD_TRASH,
  CMD_COPY_ITEMS,
  CMD_ATTACH,
  CMD_SAVE_AS,
  CMD_COUNT
};

// When a command is enabled (besides having a handler).
enum CommandWhen : int {
  WHEN_ALWAYS,
  WHEN_ACCOUNT,      // a sync account is loaded
  WHEN_UNDO,         // real tag selected and its repository can undo
  WHEN_REDO,         // ... can redo
  WHEN_REAL_TAG,     // a real tag (id above 0) is selected
  WHEN_REPO_ROW,     // the selected tag is a repository row
  WHEN_PASTE,        // real tag selected and the item clipboard is not empty
  WHEN_TAG_DELETABLE,// a real tag that is not a repository row
  WHEN_SYNCABLE,     // repository row of a linked repository, with an account
  WHEN_CAN_BACK,
  WHEN_CAN_FORWARD,
  WHEN_ITEM,         // at least one item selected
  WHEN_CLIPBOARD,    // the clipboard holds items the selected item can link to
  WHEN_HISTORY,      // the selected item has earlier versions
  WHEN_DUE,          // the selected item is a task with a due time
};

using CommandFn = void (*)(MainWindow* w, int arg);

struct Command {
  int id;
  StrId label;
  guint key;      // accelerator key, 0 none
  GdkModifierType mods;
  CommandFn handler;  // nullptr: not available yet
  CommandWhen when;
  const char* icon;   // theme icon of its tool button, or nullptr
};

// The entry of a command id (CMD_COUNT entries, in id order).
const Command& command(int id);

// What the conditions are decided on; gathered from the selection.
struct CommandState {
  bool has_account = false;
  bool real_tag = false;
  bool repo_row = false;
  bool syncable = false;
  bool clipboard = false;
  bool attach = false;  // attach_items would take the clipboard
  bool can_back = false;
  bool can_forward = false;
  bool item = false;
  bool history = false;
  bool due = false;
  int undo_state = 0;
};

CommandState command_state(const MainWindow& w);
// The command has a handler and its condition holds.
bool command_enabled(int id, const CommandState& s);
bool command_condition(CommandWhen when, const CommandState& s);
// Sets the sensitivity of every widget bound to a command.
void commands_refresh(MainWindow* w);

// Runs a command when it is enabled; returns 0, or -1 when it is not.
int command_run(MainWindow* w, int id, int arg = 0);

// The label of a command now: the toggles show their current state.
StrId command_label(int id);

// A menu item for a command, bound for sensitivity (and entered into the
// relabel list when `relabel`). label STR_NONE takes the command's own label.
GtkWidget* command_menu_item(MainWindow* w, int id, StrId label, int arg, bool relabel);
// A tool button for a command.
GtkToolItem* command_tool_button(MainWindow* w, int id, StrId label);

// Menus and the toolbar from the layout tables.
GtkWidget* menubar_build(MainWindow* w);
GtkWidget* toolbar_build(MainWindow* w);
GtkWidget* tag_menu_build(MainWindow* w);
GtkWidget* list_type_menu_build(MainWindow* w);
// The item popup for the current selection (one or several items).
GtkWidget* item_popup_build(MainWindow* w);

// String id of the name of list type 0..8.
StrId list_type_label(int type);

// Relabels every entry of the relabel list.
void commands_relabel(MainWindow* w);
