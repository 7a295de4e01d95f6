// SPDX-License-Identifier: GPL-3.0-or-later
// The tag assignment dialog: which tags of one repository the selected items
// carry.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <vector>

struct ItemList;
struct TagTree;

// Runs the dialog for the items selected in the list (or the model's
// selected item) and the tag selected in the tree. True when the tags were
// changed and stored (one journal group: one undo step), false when
// cancelled, when nothing is selected in the tree, or when storing failed
// (then nothing changed).
bool tag_assign_dialog(ItemList* list, TagTree* tree);

// The open dialog, for tests and the accessibility harness.
struct TagAssignWidgets {
  GtkWidget* dialog = nullptr;
  GtkWidget* ok = nullptr;
  std::vector<GtkWidget*> checks;  // one per listed tag, in tree order
  std::vector<int64_t> tags;       // their tag slots
};
const TagAssignWidgets& tag_assign_widgets();
