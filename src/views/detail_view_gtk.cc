// SPDX-License-Identifier: GPL-3.0-or-later
// The detail pane.
#include "views/detail_view_gtk.h"

#include "markup/detail_text.h"
#include "model/item.h"
#include "support/strings.h"

GtkWidget* detail_view_new(const MarkupViewCallbacks& callbacks) {
  GtkTextTagTable* table = gtk_text_tag_table_new();
  GtkTextBuffer* buf = gtk_text_buffer_new(table);
  g_object_unref(table);
  GtkWidget* view = gtk_text_view_new_with_buffer(buf);
  g_object_unref(buf);
  gtk_text_view_set_editable(GTK_TEXT_VIEW(view), FALSE);
  gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(view), FALSE);
  gtk_text_view_set_left_margin(GTK_TEXT_VIEW(view), 5);
  gtk_text_view_set_right_margin(GTK_TEXT_VIEW(view), 5);
  gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_WORD_CHAR);
  // The string table has no name for the pane: it is named after the item
  // it shows (the title column's name while empty).
  AtkObject* acc = gtk_widget_get_accessible(view);
  if (acc) atk_object_set_name(acc, ui_string_line(STR_COLUMN_TITLE).c_str());
  markup_view_init(GTK_TEXT_VIEW(view), callbacks);
  return view;
}

void detail_view_show_item(GtkWidget* view, int64_t slot) {
  const Item* item = slot >= 0 ? item_get(slot) : nullptr;
  if (!item) {
    detail_view_clear(view);
    return;
  }
  std::string text = item_detail_text(item);
  markup_render(GTK_TEXT_VIEW(view), text.c_str());
  AtkObject* acc = gtk_widget_get_accessible(view);
  if (acc)
    atk_object_set_name(acc, item->title.empty() ? ui_string_line(STR_COLUMN_TITLE).c_str() : item->title.c_str());
}

void detail_view_clear(GtkWidget* view) {
  markup_render(GTK_TEXT_VIEW(view), nullptr);
  AtkObject* acc = gtk_widget_get_accessible(view);
  if (acc) atk_object_set_name(acc, ui_string_line(STR_COLUMN_TITLE).c_str());
}

std::string detail_view_text(GtkWidget* view) {
  GtkTextBuffer* buf = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view));
  GtkTextIter s, e;
  gtk_text_buffer_get_bounds(buf, &s, &e);
  gchar* t = gtk_text_buffer_get_text(buf, &s, &e, TRUE);
  std::string out = t ? t : "";
  g_free(t);
  return out;
}
