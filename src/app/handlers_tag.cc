// SPDX-License-Identifier: GPL-3.0-or-later
// Tag commands: a new tag under the selected one, named in place, and the
// deletion of the selected tag with its subtree. Each is one undo step.
#include <string>

#include "app/commands.h"
#include "app/handlers.h"
#include "app/main_window.h"
#include "app/window.h"
#include "dialogs/message.h"
#include "model/model.h"
#include "model/ops.h"
#include "model/tag.h"
#include "model/tag_ops.h"
#include "support/log.h"
#include "support/strings.h"
#include "views/tag_tree_gtk.h"

namespace {

// Puts the tag-tree cursor on the first row.
void cursor_first(MainWindow* w) {
  GtkTreePath* first = gtk_tree_path_new_first();
  gtk_tree_view_set_cursor(GTK_TREE_VIEW(w->tag_tree), first, nullptr, FALSE);
  gtk_tree_path_free(first);
}

}  // namespace

void on_create_tag(MainWindow* w, int) {
  int32_t view = model().view;
  log_message(LOG_INFO, "on_create_tag: %d", view);
  const Tag* parent = model_selected_tag();
  if (!parent) return;
  const char* name = ui_string(STR_NEW_TAG_NAME);
  int64_t slot = tag_create(parent->repo, view, name && *name ? name : "-");
  if (slot < 1) {
    log_message(LOG_ERROR, "on_create_tag: tag_create %d", view);
    return;
  }
  // The cursor moves to the new row, whose name is then edited in place.
  tag_tree_add(w->tags, slot);
  GtkTreeIter it;
  if (!tag_tree_find(w->tags, static_cast<int>(slot), &it)) {
    // The parent's row was not selected: show the tree as it is now.
    tag_tree_fill(w->tags);
    tag_tree_select(w->tags, static_cast<int>(slot));
  }
  commands_refresh(w);
}

void on_delete_tag(MainWindow* w, int) {
  int32_t view = model().view;
  log_message(LOG_INFO, "delete_selected_tag: %d", view);
  const Tag* tag = model_selected_tag();
  // A repository row is the repository itself: it is removed in the manager.
  if (!tag || uuid_is_zero(tag->parent)) return;
  std::string name = tag->name;
  if (!ask_yes_no(STR_ASK_DELETE_TAG, name.c_str(), STR_ASK_DELETE_TAG_DETAIL, STR_CANCEL, STR_DELETE)) return;
  // Items left without a tag are re-linked to the parent: one refresh, once
  // the cursor has left the deleted row.
  RefreshPause pause(w);
  int rc = delete_tag(view);
  if (rc != 0) {
    log_message(LOG_ERROR, "delete_selected_tag: %d %d", view, rc);
    return;
  }
  GtkTreeIter it;
  if (tag_tree_find(w->tags, view, &it) && gtk_tree_store_remove(w->tags->store, &it)) {
    // The row that took its place gets the cursor (and becomes the view).
    GtkTreePath* p = gtk_tree_model_get_path(GTK_TREE_MODEL(w->tags->store), &it);
    gtk_tree_view_set_cursor(GTK_TREE_VIEW(w->tag_tree), p, nullptr, FALSE);
    gtk_tree_path_free(p);
  }
  if (model().view == view) {
    // The selection was lost with the row: show the tree as it is now.
    model().view = VIEW_FIXED;
    tag_tree_fill(w->tags);
    expand_single_repository(w);
    cursor_first(w);
  }
  commands_refresh(w);
}
