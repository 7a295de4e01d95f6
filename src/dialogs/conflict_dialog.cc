// SPDX-License-Identifier: GPL-3.0-or-later
// The conflict dialog: two columns, the server's version and the local one,
// each rendered as the detail view would show it.
#include "dialogs/conflict_dialog.h"

#include <string>

#include "dialogs/bold_label.h"
#include "dialogs/layout.h"
#include "dialogs/modal.h"
#include "markup/detail_text.h"
#include "support/strings.h"
#include "sync/sync.h"
#include "views/markup_view_gtk.h"

namespace {
constexpr int kSideWidth = 300, kSideHeight = 500;
}  // namespace

GtkWidget* conflict_side_new(bool exists, const char* header, const char* body) {
  if (!exists) {
    GtkWidget* l = bold_label_new(ui_string(STR_NOT_PRESENT));
    gtk_widget_set_size_request(l, kSideWidth, kSideHeight);
    return l;
  }
  GtkWidget* view = gtk_text_view_new();
  gtk_text_view_set_editable(GTK_TEXT_VIEW(view), FALSE);
  gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(view), FALSE);
  gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_WORD_CHAR);
  // Links stay inert here: the user is choosing, not following.
  markup_view_init(GTK_TEXT_VIEW(view), MarkupViewCallbacks());
  std::string text = history_detail_text(header ? header : "", body ? body : "");
  markup_render(GTK_TEXT_VIEW(view), text.c_str());
  GtkWidget* sw = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(sw), GTK_SHADOW_IN);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(sw), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
  gtk_widget_set_size_request(sw, kSideWidth, kSideHeight);
  gtk_container_add(GTK_CONTAINER(sw), view);
  return sw;
}

int conflict_dialog(const SyncConflict& k) {
  GtkWidget* d = dialog_new(STR_SYNC_CONFLICT);
  dialog_add_button(d, STR_SERVER, SYNC_TAKE_SERVER);
  dialog_add_button(d, STR_THIS_COMPUTER, SYNC_KEEP_LOCAL);
  dialog_add_button(d, STR_CANCEL, GTK_RESPONSE_CANCEL);
  GtkWidget* grid = form_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(grid), 10);
  gtk_grid_set_column_spacing(GTK_GRID(grid), 10);
  gtk_grid_attach(GTK_GRID(grid), bold_label_new(ui_string(STR_SERVER)), 0, 0, 1, 1);
  gtk_grid_attach(GTK_GRID(grid), bold_label_new(ui_string(STR_THIS_COMPUTER)), 1, 0, 1, 1);
  gtk_grid_attach(GTK_GRID(grid),
                  conflict_side_new(k.remote_exists, k.remote_header.c_str(),
                                    k.remote_has_body ? k.remote_body.c_str() : ""),
                  0, 1, 1, 1);
  gtk_grid_attach(GTK_GRID(grid),
                  conflict_side_new(k.local_exists, k.local_header.c_str(),
                                    k.local_has_body ? k.local_body.c_str() : ""),
                  1, 1, 1, 1);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(d))), grid, FALSE, FALSE, 5);
  gtk_widget_show_all(d);
  int response;
  {
    ModalScope scope(d);
    response = scope.run();
  }
  gtk_widget_destroy(d);
  return response == SYNC_TAKE_SERVER || response == SYNC_KEEP_LOCAL ? response : -1;
}
