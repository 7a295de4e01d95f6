// SPDX-License-Identifier: GPL-3.0-or-later
// The tag tree: four fixed rows (the fixed lists, the trash, the reminders
// view, the search results), then one row per repository with its tags below
// it. Names are edited in place: a repository row renames the repository,
// any other row the tag.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>

enum TagTreeColumn {
  TAG_COL_TEXT = 0,      // string
  TAG_COL_ID = 1,        // int: tag slot, or a fixed-row id below 1
  TAG_COL_EDITABLE = 2,  // boolean
  TAG_COL_ICON = 3,      // GdkPixbuf
  TAG_COL_COUNT,
};

struct TagTreeCallbacks {
  void* data = nullptr;
  // In-place editing started (true), or ended by a commit or a cancel (false).
  void (*editing)(bool active, void* data) = nullptr;
  // A name was stored: the tag slot, and whether it is a repository row.
  void (*renamed)(int64_t tag, bool repository, void* data) = nullptr;
  // Storing a name failed: the tag slot and the result code.
  void (*rename_failed)(int64_t tag, int result, void* data) = nullptr;
  // The keyboard asked for the context menu (Menu key, Shift+F10) of the
  // cursor row; true when a menu was shown.
  bool (*popup_menu)(void* data) = nullptr;
};

struct TagTree {
  GtkWidget* view = nullptr;  // GtkTreeView
  GtkTreeStore* store = nullptr;
  GtkCellRenderer* text_cell = nullptr;
  GtkTreeViewColumn* column = nullptr;
  TagTreeCallbacks cb;
  GtkTreeRowReference* selected_row = nullptr;  // the row of the selected tag at the last fill
  bool editing = false;
};

// Makes the store (sorted: fixed rows by id, then names by collation) and the
// view, fills it, and connects the editing handlers. The tree owns itself and
// is freed when its view is destroyed.
TagTree* tag_tree_new(const TagTreeCallbacks& callbacks);
// Clears and refills the store from the tag collection. Remembers the row of
// the model's selected tag (tag_tree_selected_row).
void tag_tree_fill(TagTree* tree);
// Path of the selected tag's row at the last fill (owned by the caller), or
// nullptr.
GtkTreePath* tag_tree_selected_row(TagTree* tree);
// Finds the row of a tag id (a slot, or a fixed row below 1).
bool tag_tree_find(TagTree* tree, int id, GtkTreeIter* out);
// Expands to the row of the id and puts the cursor on it. False when absent.
bool tag_tree_select(TagTree* tree, int id);
// Sets the text of a fixed row (id -4..-1).
void tag_tree_set_fixed_text(TagTree* tree, int id, const char* text);
// After a language change: the column title and the texts of the trash,
// reminders and search rows (the window sets the first and the reminders
// row's counts itself).
void tag_tree_relabel(TagTree* tree);
// Inserts a newly created tag under the selected row (at top level for a
// repository root), then expands to it and starts editing its name.
void tag_tree_add(TagTree* tree, int64_t tag);
// The "edited" handler: stores the new name of the row at `path`. Returns 0
// when stored or nothing had to change, else the failure code (the row and
// the tag keep the old name).
int on_tag_edited(TagTree* tree, const char* path, const char* text);
// The tag id of the cursor row, or 0 when none.
int tag_tree_cursor_id(TagTree* tree);
