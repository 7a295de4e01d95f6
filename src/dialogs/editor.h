// SPDX-License-Identifier: GPL-3.0-or-later
// The item editor shell: one modal dialog frame (title entry, markup and
// cheat-sheet row, body, buttons, run loop, change test, save) that every
// item editor shares. What differs between the kinds of item lives in
// sections: small tables of callbacks that build their rows, fill them from
// the form, and gather them back.
#pragma once

#include <gtk/gtk.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "model/ops.h"
#include "support/string_ids.h"

struct Editor;

// One section of an editor. Every callback but build may be null.
struct EditorSection {
  // Adds the section's rows to the grid from *row on and advances *row.
  // Returns the section's state, handed back to every other callback.
  void* (*build)(Editor* ed, GtkWidget* grid, int* row);
  // Sets the section's widgets from the form (the loaded baseline).
  void (*fill)(Editor* ed, void* state, const ItemForm& form);
  // Writes the section's fields of a form gathered from the widgets (it
  // starts empty: a section writes what its widgets show).
  void (*gather)(Editor* ed, void* state, ItemForm* form);
  // False while the section's values must not be saved (OK insensitive).
  bool (*valid)(Editor* ed, void* state);
  // Once the dialog is shown: visibility rules, baseline adjustments.
  void (*shown)(Editor* ed, void* state);
  // After save-and-new stored an item: clear what the next item does not
  // keep. The shell then takes the gathered form as the new baseline.
  void (*saved_new)(Editor* ed, void* state);
  // Frees the state (the widgets go with the dialog).
  void (*destroy)(void* state);
};

struct EditorSpec {
  int type = 0;             // ItemType
  StrId title_id = STR_NONE;  // window title
  int size_index = 0;       // DLG_ index of the remembered size
  bool title_row = true;    // row 0: the title entry (STR_LABEL_TITLE)
  bool body_rows = true;    // markup and cheat-sheet row (STR_NOTES) and body row
  bool keep_history = true; // existing items: the keep-history box
  bool show_all = true;     // false: sections show their rows themselves
  std::vector<EditorSection> sections;  // rows between title and markup row
  // Stores a changed form: slot or -1. Null: item_store for the editor's
  // type into its target tag.
  int64_t (*store)(Editor* ed, const ItemForm& form, int keep_history) = nullptr;
  // The change test. Null: item_form_differs.
  bool (*differs)(Editor* ed, const ItemForm& baseline, const ItemForm& gathered) = nullptr;
};

struct Editor {
  const EditorSpec* spec = nullptr;
  int64_t slot = -1;        // item being edited, -1 for a new one
  int64_t target_tag = 0;   // where a new item goes (tag slot)
  // The item as stored (a new item's defaults): what the change test
  // compares with and what a save starts from.
  ItemForm baseline;
  // The widgets' form as they were filled: a save takes from the widgets
  // only what differs from it (form_take_changes).
  ItemForm shown;
  int64_t stored = -1;      // slot of the last item stored, -1 for none

  GtkWidget* dialog = nullptr;
  GtkWidget* grid = nullptr;
  GtkWidget* title_entry = nullptr;   // null without a title row
  GtkWidget* markup_check = nullptr;  // null without body rows
  GtkWidget* cheat_check = nullptr;
  GtkWidget* body_view = nullptr;
  GtkWidget* cheat_panel = nullptr;
  GtkWidget* ok_button = nullptr;
  GtkWidget* apply_button = nullptr;  // save-and-new, new items only
  GtkWidget* keep_history_check = nullptr;
  // The picker a recurrence starts from (the task's due time, the event's
  // start), set by the section that builds it.
  GtkWidget* start_picker = nullptr;

  std::vector<void*> states;  // one per section, in spec order
};

// Runs an editor of the spec for `slot` (-1: a new item stored under
// target_tag) until it is closed. Returns the slot of the last item it
// stored, or -1 when nothing was stored.
int64_t editor_run(const EditorSpec& spec, int64_t slot, int64_t target_tag);

// The editor whose loop is running (innermost), or null.
Editor* editor_current();

// Recomputes the sensitivity of OK and save-and-new: a non-empty title (with
// a title row) and every section valid. Sections call it on their changes.
void editor_validate(Editor* ed);
// The form to save: the baseline with every group of fields the widgets
// changed since they were filled, so that nothing the editor does not show,
// or shows but was not changed, differs from the stored item.
void editor_gather(Editor* ed, ItemForm* form);
// True when the widgets differ from the baseline by the spec's change test.
bool editor_changed(Editor* ed);
// The body text as edited (all of the buffer); empty without body rows.
std::string editor_body_text(Editor* ed);

// The entry point of the window's commands: runs the editor of the item
// type for `slot`, or for a new item of that type stored under target_tag
// when slot is -1. Returns the slot of the last item stored, or -1 (nothing
// stored, or no editor for the type).
int64_t item_edit(int type, int64_t slot, int64_t target_tag);

// The spec of an item type's editor, or null.
const EditorSpec* editor_spec(int type);

