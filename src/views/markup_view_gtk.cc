// SPDX-License-Identifier: GPL-3.0-or-later
// Draws parsed markup into a read-only text view.
#include "views/markup_view_gtk.h"

#include <openssl/crypto.h>

#include <cstring>
#include <memory>

#include "markup/detail_text.h"
#include "model/model.h"
#include "model/search.h"
#include "support/log.h"

namespace {

const char kLinks[] = "links";
const char kCallbacks[] = "markup-callbacks";
const char kTableTags[] = "markup-table-tags";
const char kOverLink[] = "markup-over-link";

struct TableTags {
  GtkTextTagTable* table;
  std::vector<GtkTextTag*> tags;
};

void free_links(gpointer p) { delete static_cast<std::vector<MarkupLink>*>(p); }
void free_callbacks(gpointer p) { delete static_cast<MarkupViewCallbacks*>(p); }
void free_table_tags(gpointer p) {
  std::unique_ptr<TableTags> t(static_cast<TableTags*>(p));
  for (GtkTextTag* tag : t->tags) {
    gtk_text_tag_table_remove(t->table, tag);  // the table held the only reference
  }
  g_object_unref(t->table);
}

void add_font_tag(GtkTextBuffer* buf, const char* name, const char* font) {
  GtkTextTagTable* table = gtk_text_buffer_get_tag_table(buf);
  if (gtk_text_tag_table_lookup(table, name)) return;
  gtk_text_buffer_create_tag(buf, name, "font", font, nullptr);
}

// The character offset under a point of an event window of the view, or -1.
// Pointer events arrive on the text window, which scrolls and has margins.
int offset_at(GtkTextView* view, GdkWindow* window, int wx, int wy) {
  GtkTextWindowType type = window ? gtk_text_view_get_window_type(view, window) : GTK_TEXT_WINDOW_WIDGET;
  if (type == GTK_TEXT_WINDOW_PRIVATE) type = GTK_TEXT_WINDOW_WIDGET;
  int bx, by;
  gtk_text_view_window_to_buffer_coords(view, type, wx, wy, &bx, &by);
  GtkTextIter it;
  if (!gtk_text_view_get_iter_at_location(view, &it, bx, by)) return -1;
  return gtk_text_iter_get_offset(&it);
}

gboolean on_motion(GtkWidget* widget, GdkEventMotion* ev, gpointer) {
  GtkTextView* view = GTK_TEXT_VIEW(widget);
  int offset = offset_at(view, ev->window, static_cast<int>(ev->x), static_cast<int>(ev->y));
  bool over = offset >= 0 && markup_view_link_at(view, offset) != nullptr;
  bool was = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(view), kOverLink)) != 0;
  if (over != was) {
    g_object_set_data(G_OBJECT(view), kOverLink, GINT_TO_POINTER(over ? 1 : 0));
    GdkWindow* win = gtk_text_view_get_window(view, GTK_TEXT_WINDOW_TEXT);
    if (win) {
      GdkDisplay* display = gdk_window_get_display(win);
      // Cursors belong to a display; the display keeps them cached.
      GdkCursor* cursor = gdk_cursor_new_for_display(display, over ? GDK_HAND2 : GDK_XTERM);
      gdk_window_set_cursor(win, cursor);
      if (cursor) g_object_unref(cursor);
    }
  }
  return FALSE;
}

void on_event_after(GtkWidget* widget, GdkEvent* ev, gpointer) {
  if (ev->type != GDK_BUTTON_RELEASE || ev->button.button != 1) return;
  GtkTextView* view = GTK_TEXT_VIEW(widget);
  GtkTextBuffer* buf = gtk_text_view_get_buffer(view);
  GtkTextIter s, e;
  gtk_text_buffer_get_selection_bounds(buf, &s, &e);
  if (gtk_text_iter_get_offset(&s) != gtk_text_iter_get_offset(&e)) return;  // a drag, not a click
  int offset = offset_at(view, ev->button.window, static_cast<int>(ev->button.x), static_cast<int>(ev->button.y));
  if (offset >= 0) markup_view_click(view, offset);
}

// The theme's link colour reads on light and dark backgrounds alike; it is
// taken again when the theme changes.
void set_link_colour(GtkWidget* view, gpointer) {
  GdkRGBA link = {0.0, 0.0, 1.0, 1.0};
  GtkStyleContext* sc = gtk_widget_get_style_context(view);
  gtk_style_context_save(sc);
  gtk_style_context_set_state(sc, GTK_STATE_FLAG_LINK);
  gtk_style_context_get_color(sc, GTK_STATE_FLAG_LINK, &link);
  gtk_style_context_restore(sc);
  GtkTextTagTable* table = gtk_text_buffer_get_tag_table(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)));
  GtkTextTag* tag = gtk_text_tag_table_lookup(table, "link");
  if (tag) g_object_set(tag, "foreground-rgba", &link, nullptr);
}

std::string text_range(GtkTextBuffer* buf, uint32_t start, uint32_t end) {
  GtkTextIter s, e;
  gtk_text_buffer_get_iter_at_offset(buf, &s, static_cast<int>(start));
  gtk_text_buffer_get_iter_at_offset(buf, &e, static_cast<int>(end));
  gchar* t = gtk_text_buffer_get_text(buf, &s, &e, TRUE);
  std::string out = t ? t : "";
  g_free(t);
  return out;
}

void apply_range(GtkTextBuffer* buf, GtkTextTag* tag, long start, long end) {
  GtkTextIter s, e;
  gtk_text_buffer_get_iter_at_offset(buf, &s, static_cast<int>(start));
  gtk_text_buffer_get_iter_at_offset(buf, &e, static_cast<int>(end));
  gtk_text_buffer_apply_tag(buf, tag, &s, &e);
}

}  // namespace

void markup_view_init(GtkTextView* view, const MarkupViewCallbacks& callbacks) {
  GtkTextBuffer* buf = gtk_text_view_get_buffer(view);
  add_font_tag(buf, "f0", "Sans 10");
  add_font_tag(buf, "f1", "Sans Bold 10");
  add_font_tag(buf, "f2", "Sans Italic 10");
  add_font_tag(buf, "f3", "Sans Bold Italic 10");
  add_font_tag(buf, "f4", "Sans Bold 12");
  add_font_tag(buf, "f5", "Sans Bold Italic 12");
  add_font_tag(buf, "f6", "Sans Bold 14");
  add_font_tag(buf, "f7", "Sans Bold Italic 14");
  GtkTextTagTable* table = gtk_text_buffer_get_tag_table(buf);
  if (!gtk_text_tag_table_lookup(table, "link")) {
    gtk_text_buffer_create_tag(buf, "link", "underline", PANGO_UNDERLINE_SINGLE, nullptr);
    set_link_colour(GTK_WIDGET(view), nullptr);
    g_signal_connect(view, "style-updated", G_CALLBACK(set_link_colour), nullptr);
  }
  if (!gtk_text_tag_table_lookup(table, "find"))
    gtk_text_buffer_create_tag(buf, "find", "foreground", "white", "background", "red", nullptr);
  g_object_set_data_full(G_OBJECT(view), kCallbacks, new MarkupViewCallbacks(callbacks), free_callbacks);
  gtk_widget_add_events(GTK_WIDGET(view), GDK_POINTER_MOTION_MASK | GDK_BUTTON_RELEASE_MASK);
  g_signal_connect(view, "motion-notify-event", G_CALLBACK(on_motion), nullptr);
  g_signal_connect(view, "event-after", G_CALLBACK(on_event_after), nullptr);
}

std::vector<int> markup_view_tab_stops(GtkTextView* view, std::string_view block) {
  std::vector<MarkupTableLine> lines = markup_table_lines(block);
  PangoLayout* layout = gtk_widget_create_pango_layout(GTK_WIDGET(view), nullptr);
  PangoFontDescription* font = pango_font_description_from_string("Sans Bold 10");
  pango_layout_set_font_description(layout, font);
  pango_font_description_free(font);
  for (MarkupTableLine& line : lines) {
    line.widths.clear();
    for (std::string_view cell : line.cells) {
      pango_layout_set_text(layout, cell.data(), static_cast<int>(cell.size()));
      int w = 0, h = 0;
      pango_layout_get_pixel_size(layout, &w, &h);
      line.widths.push_back(w);
    }
  }
  g_object_unref(layout);
  return markup_tab_stops(lines);
}

void markup_render(GtkTextView* view, const char* text) {
  GtkTextBuffer* buf = gtk_text_view_get_buffer(view);
  // The tab tags of the previous text go with it.
  g_object_set_data(G_OBJECT(view), kTableTags, nullptr);
  if (!text) {
    gtk_text_buffer_set_text(buf, "", 0);
    g_object_set_data_full(G_OBJECT(view), kLinks, new std::vector<MarkupLink>(), free_links);
    return;
  }
  MarkupResult r;
  if (markup_parse(text, &r) != 0) log_message(LOG_ERROR, "markup_render: parse");
  gtk_text_buffer_set_text(buf, r.text.c_str(), static_cast<int>(r.text.size()));
  GtkTextTagTable* table = gtk_text_buffer_get_tag_table(buf);

  for (const MarkupRange& run : markup_style_runs(r.records)) {
    GtkTextTag* tag = gtk_text_tag_table_lookup(table, markup_style_tag(run.style));
    if (tag) apply_range(buf, tag, run.start, run.end);
  }

  std::vector<MarkupRange> blocks = markup_table_blocks(r.records);
  if (!blocks.empty()) {
    auto* tags = new TableTags{table, {}};
    g_object_ref(table);
    for (const MarkupRange& b : blocks) {
      std::string block = text_range(buf, b.start, b.end);
      std::vector<int> stops = markup_view_tab_stops(view, block);
      if (stops.empty()) continue;
      PangoTabArray* tabs = pango_tab_array_new(static_cast<int>(stops.size()), TRUE);
      for (size_t j = 0; j < stops.size(); j++) pango_tab_array_set_tab(tabs, static_cast<int>(j), PANGO_TAB_LEFT, stops[j]);
      GtkTextTag* tag = gtk_text_buffer_create_tag(buf, nullptr, "tabs", tabs, "tabs-set", TRUE, nullptr);
      pango_tab_array_free(tabs);
      tags->tags.push_back(tag);
      apply_range(buf, tag, b.start, b.end);
    }
    g_object_set_data_full(G_OBJECT(view), kTableTags, tags, free_table_tags);
  }

  GtkTextTag* link = gtk_text_tag_table_lookup(table, "link");
  for (const MarkupLink& l : r.links)
    if (link && l.end > l.start) apply_range(buf, link, l.start, l.end);

  if (model().view == VIEW_SEARCH && !search_text().empty()) {
    GtkTextTag* find = gtk_text_tag_table_lookup(table, "find");
    for (const SearchHit& h : search_hits(r.text.c_str())) {
      if (h.start < 0) break;
      if (find) apply_range(buf, find, h.start, h.end);
    }
  }
  g_object_set_data_full(G_OBJECT(view), kLinks, new std::vector<MarkupLink>(std::move(r.links)), free_links);
}

const std::vector<MarkupLink>* markup_view_links(GtkTextView* view) {
  return static_cast<const std::vector<MarkupLink>*>(g_object_get_data(G_OBJECT(view), kLinks));
}

const MarkupLink* markup_view_link_at(GtkTextView* view, int offset) {
  const std::vector<MarkupLink>* links = markup_view_links(view);
  if (!links || offset < 0) return nullptr;
  for (const MarkupLink& l : *links)
    if (static_cast<uint32_t>(offset) >= l.start && static_cast<uint32_t>(offset) < l.end) return &l;
  return nullptr;
}

int markup_view_click(GtkTextView* view, int offset) {
  const MarkupLink* link = markup_view_link_at(view, offset);
  if (!link) return 0;
  auto* cb = static_cast<MarkupViewCallbacks*>(g_object_get_data(G_OBJECT(view), kCallbacks));
  // Copies: a callback may render another text, which frees the links.
  std::string target = link->target;
  if (target.compare(0, 9, "password:") == 0) {
    char password[256];
    if (password_link_decode(target.c_str(), password, sizeof password) < 0) {
      // Never handed to the desktop's opener: it is no address.
      log_message(LOG_WARNING, "markup_view_click: bad password link");
      OPENSSL_cleanse(target.data(), target.size());
      return 1;
    }
    log_message(LOG_INFO, "clicked on password");
    if (cb && cb->reveal_password) cb->reveal_password(password, cb->data);
    OPENSSL_cleanse(password, sizeof password);
    OPENSSL_cleanse(target.data(), target.size());
    return 1;
  }
  log_message(LOG_INFO, "clicked on URL");
  if (cb && cb->open_link) cb->open_link(target.c_str(), cb->data);
  return 1;
}
