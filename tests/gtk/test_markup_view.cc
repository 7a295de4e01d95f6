// SPDX-License-Identifier: GPL-3.0-or-later
// The markup renderer in a real text view: tags, tab stops, links and clicks.
#include <string>
#include <vector>

#include "gtk_fixture.h"
#include "model/search.h"
#include "views/detail_view_gtk.h"
#include "views/markup_view_gtk.h"

namespace {

struct Clicks {
  std::vector<std::string> passwords;
  std::vector<std::string> opened;
};

void on_password(const char* pw, void* d) { static_cast<Clicks*>(d)->passwords.push_back(pw); }
void on_open(const char* target, void* d) { static_cast<Clicks*>(d)->opened.push_back(target); }

class MarkupViewTest : public GtkModelTest {
 protected:
  void SetUp() override {
    GtkModelTest::SetUp();
    MarkupViewCallbacks cb;
    cb.data = &clicks;
    cb.reveal_password = on_password;
    cb.open_link = on_open;
    view = detail_view_new(cb);
    window = std::make_unique<TestWindow>(view);
  }
  void TearDown() override {
    window.reset();
    GtkModelTest::TearDown();
  }
  GtkTextView* tv() { return GTK_TEXT_VIEW(view); }
  GtkTextBuffer* buf() { return gtk_text_view_get_buffer(tv()); }
  std::string text() { return detail_view_text(view); }

  // Names of the named tags at a character offset.
  std::vector<std::string> tags_at(int offset) {
    GtkTextIter it;
    gtk_text_buffer_get_iter_at_offset(buf(), &it, offset);
    std::vector<std::string> out;
    GSList* tags = gtk_text_iter_get_tags(&it);
    for (GSList* l = tags; l; l = l->next) {
      gchar* name = nullptr;
      g_object_get(l->data, "name", &name, nullptr);
      if (name) out.push_back(name);
      g_free(name);
    }
    g_slist_free(tags);
    return out;
  }
  bool has_tag(int offset, const char* name) {
    for (auto& t : tags_at(offset))
      if (t == name) return true;
    return false;
  }
  // The tab stops in force at an offset (from the anonymous table tag).
  std::vector<int> tabs_at(int offset) {
    GtkTextIter it;
    gtk_text_buffer_get_iter_at_offset(buf(), &it, offset);
    std::vector<int> out;
    GSList* tags = gtk_text_iter_get_tags(&it);
    for (GSList* l = tags; l; l = l->next) {
      gboolean set = FALSE;
      PangoTabArray* tabs = nullptr;
      g_object_get(l->data, "tabs-set", &set, "tabs", &tabs, nullptr);
      if (set && tabs) {
        for (int i = 0; i < pango_tab_array_get_size(tabs); i++) {
          PangoTabAlign a;
          gint loc;
          pango_tab_array_get_tab(tabs, i, &a, &loc);
          out.push_back(loc);
        }
      }
      if (tabs) pango_tab_array_free(tabs);
    }
    g_slist_free(tags);
    return out;
  }
  int width_of(const char* s) {
    PangoLayout* l = gtk_widget_create_pango_layout(view, s);
    PangoFontDescription* f = pango_font_description_from_string("Sans Bold 10");
    pango_layout_set_font_description(l, f);
    pango_font_description_free(f);
    int w, h;
    pango_layout_get_pixel_size(l, &w, &h);
    g_object_unref(l);
    return w;
  }

  Clicks clicks;
  GtkWidget* view = nullptr;
  std::unique_ptr<TestWindow> window;
};

TEST_F(MarkupViewTest, StylesAndHeadingsBecomeFontTags) {
  markup_render(tv(), "**a** //b//");
  EXPECT_EQ("a b", text());
  EXPECT_TRUE(has_tag(0, "f1"));
  EXPECT_TRUE(has_tag(1, "f0"));
  EXPECT_TRUE(has_tag(2, "f2"));

  markup_render(tv(), "== Title ==\nbody");
  EXPECT_EQ("Title\nbody", text());
  EXPECT_TRUE(has_tag(0, "f4"));  // level 2: bold 12 point
  EXPECT_FALSE(has_tag(0, "f1"));
  EXPECT_TRUE(has_tag(7, "f0"));

  markup_render(tv(), "= Big =");
  EXPECT_TRUE(has_tag(0, "f6"));
  markup_render(tv(), "{{{**x**}}}");
  EXPECT_EQ("**x**", text());
  EXPECT_FALSE(has_tag(2, "f1"));

  markup_render(tv(), nullptr);
  EXPECT_EQ("", text());
  ASSERT_NE(nullptr, markup_view_links(tv()));
  EXPECT_TRUE(markup_view_links(tv())->empty());
}

TEST_F(MarkupViewTest, TableColumnsStopTenPixelsAfterTheirWidestCell) {
  markup_render(tv(), "|=Alpha|B|\n|1|Longer cell|\n");
  EXPECT_EQ("Alpha\tB\n1\tLonger cell\n", text());
  EXPECT_TRUE(has_tag(0, "f1"));   // the "|=" row is bold
  EXPECT_FALSE(has_tag(8, "f1"));  // the second row is plain
  std::vector<int> tabs = tabs_at(1);
  ASSERT_EQ(2u, tabs.size());
  int c0 = std::max(width_of("Alpha"), width_of("1"));
  int c1 = std::max(width_of("B"), width_of("Longer cell"));
  EXPECT_EQ(c0 + 10, tabs[0]);
  EXPECT_EQ(c0 + 10 + c1 + 10, tabs[1]);
  EXPECT_TRUE(tabs_at(0).size() == 2 && tabs_at(10).size() == 2);
}

TEST_F(MarkupViewTest, TableTagsOfEarlierTextsAreDropped) {
  GtkTextTagTable* table = gtk_text_buffer_get_tag_table(buf());
  markup_render(tv(), "|a|b|\n");
  int after_one = gtk_text_tag_table_get_size(table);
  for (int i = 0; i < 20; i++) markup_render(tv(), "|a|b|\n\n|c|d|\n");
  markup_render(tv(), "|a|b|\n");
  // Each rendering replaces the tab tags of the previous one.
  EXPECT_EQ(after_one, gtk_text_tag_table_get_size(table));
  markup_render(tv(), "plain");
  EXPECT_EQ(after_one - 1, gtk_text_tag_table_get_size(table));
}

TEST_F(MarkupViewTest, PasswordLinkRevealsTheDecodedPassword) {
  // "s3cr%t" as hex digits.
  markup_render(tv(), "see [[password:733363722574|word]] here");
  EXPECT_EQ("see word here", text());
  EXPECT_TRUE(has_tag(4, "link"));
  EXPECT_FALSE(has_tag(3, "link"));
  EXPECT_FALSE(has_tag(8, "link"));
  EXPECT_EQ(0, markup_view_click(tv(), 2));
  EXPECT_EQ(1, markup_view_click(tv(), 5));
  ASSERT_EQ(1u, clicks.passwords.size());
  EXPECT_EQ("s3cr%t", clicks.passwords[0]);
  EXPECT_TRUE(clicks.opened.empty());
}

TEST_F(MarkupViewTest, OtherLinksGoToTheOpenerButBrokenPasswordLinksGoNowhere) {
  markup_render(tv(), "[[https://example.org/a]] [[password:zz|x]] [[password:abc|y]]");
  EXPECT_EQ("https://example.org/a x y", text());
  EXPECT_EQ(1, markup_view_click(tv(), 3));
  ASSERT_EQ(1u, clicks.opened.size());
  EXPECT_EQ("https://example.org/a", clicks.opened[0]);
  // Undecodable password links are neither revealed nor opened as addresses.
  EXPECT_EQ(1, markup_view_click(tv(), 22));
  EXPECT_EQ(1, markup_view_click(tv(), 24));
  EXPECT_EQ(1u, clicks.opened.size());
  EXPECT_TRUE(clicks.passwords.empty());
}

TEST_F(MarkupViewTest, SearchHitsAreMarkedOnlyInTheSearchResults) {
  search_state_set("café", 0);
  model().view = VIEW_SEARCH;
  markup_render(tv(), "Le CAFÉ et le café");
  EXPECT_TRUE(has_tag(3, "find"));
  EXPECT_TRUE(has_tag(14, "find"));
  EXPECT_FALSE(has_tag(8, "find"));
  model().view = VIEW_FIXED;
  markup_render(tv(), "Le CAFÉ et le café");
  EXPECT_FALSE(has_tag(3, "find"));
}

TEST_F(MarkupViewTest, DetailPaneShowsTheItemAndItsKeyPassword) {
  int64_t key = make_item(g_repos[0].root, ITEM_KEY, "Bank", "https://bank.example\nme\npw1\n0\n");
  ASSERT_GE(key, 0);
  detail_view_show_item(view, key);
  std::string shown = text();
  EXPECT_NE(std::string::npos, shown.find("https://bank.example"));
  EXPECT_EQ(std::string::npos, shown.find("pw1"));  // the password stays hidden
  size_t dots = g_utf8_pointer_to_offset(shown.c_str(), shown.c_str() + shown.find("●"));
  EXPECT_EQ(1, markup_view_click(tv(), static_cast<int>(dots)));
  ASSERT_EQ(1u, clicks.passwords.size());
  EXPECT_EQ("pw1", clicks.passwords[0]);
  detail_view_show_item(view, -1);
  EXPECT_EQ("", text());
}

}  // namespace

namespace {

// Pointer events as the window system delivers them: on the text window, in
// its coordinates.
class MarkupPointerTest : public MarkupViewTest {
 protected:
  GdkWindow* text_window() { return gtk_text_view_get_window(tv(), GTK_TEXT_WINDOW_TEXT); }
  // Text-window coordinates of the middle of the character at offset.
  void point_of(int offset, double* x, double* y) {
    GtkTextIter it;
    gtk_text_buffer_get_iter_at_offset(buf(), &it, offset);
    GdkRectangle r;
    gtk_text_view_get_iter_location(tv(), &it, &r);
    int wx, wy;
    gtk_text_view_buffer_to_window_coords(tv(), GTK_TEXT_WINDOW_TEXT, r.x + r.width / 2, r.y + r.height / 2, &wx, &wy);
    *x = wx;
    *y = wy;
  }
  void send(GdkEventType type, int offset) {
    GdkEvent* ev = gdk_event_new(type);
    double x, y;
    point_of(offset, &x, &y);
    GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(view));
    if (type == GDK_MOTION_NOTIFY) {
      ev->motion.window = GDK_WINDOW(g_object_ref(text_window()));
      ev->motion.x = x;
      ev->motion.y = y;
    } else {
      ev->button.window = GDK_WINDOW(g_object_ref(text_window()));
      ev->button.button = 1;
      ev->button.x = x;
      ev->button.y = y;
    }
    gdk_event_set_device(ev, gdk_seat_get_pointer(seat));
    gtk_main_do_event(ev);
    gdk_event_free(ev);
  }
  GdkCursorType cursor() {
    GdkCursor* c = gdk_window_get_cursor(text_window());
    return c ? gdk_cursor_get_cursor_type(c) : GDK_BLANK_CURSOR;
  }
};

TEST_F(MarkupPointerTest, PointerBecomesAHandOverLinksOnly) {
  markup_render(tv(), "plain text [[https://example.org|a link]] more");
  pump();
  send(GDK_MOTION_NOTIFY, 13);
  EXPECT_EQ(GDK_HAND2, cursor());
  send(GDK_MOTION_NOTIFY, 2);
  EXPECT_EQ(GDK_XTERM, cursor());
}

TEST_F(MarkupPointerTest, ReleaseOfButtonOneFollowsTheLinkUnlessTextIsSelected) {
  markup_render(tv(), "plain text [[https://example.org|a link]] more");
  pump();
  send(GDK_BUTTON_RELEASE, 13);
  ASSERT_EQ(1u, clicks.opened.size());
  EXPECT_EQ("https://example.org", clicks.opened[0]);
  send(GDK_BUTTON_RELEASE, 3);  // not on a link
  EXPECT_EQ(1u, clicks.opened.size());
  // The end of a drag that selected text is no click.
  GtkTextIter s, e;
  gtk_text_buffer_get_iter_at_offset(buf(), &s, 11);
  gtk_text_buffer_get_iter_at_offset(buf(), &e, 15);
  gtk_text_buffer_select_range(buf(), &s, &e);
  send(GDK_BUTTON_RELEASE, 13);
  EXPECT_EQ(1u, clicks.opened.size());
}

}  // namespace
