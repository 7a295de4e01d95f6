// SPDX-License-Identifier: GPL-3.0-or-later
// The calendar's marks and the icon table.
#include "gtk_fixture.h"
#include "views/calendar_gtk.h"
#include "views/detail_view_gtk.h"
#include "views/icons_gtk.h"
#include "views/item_list_gtk.h"
#include "views/tag_tree_gtk.h"

namespace {

class CalendarTest : public GtkModelTest {};

int g_selected = 0;
void on_day(void*) { g_selected++; }

TEST_F(CalendarTest, MarksTheDaysWithOccurrencesOfTheShownMonth) {
  ItemForm f;
  f.title = "weekly";
  f.due = lt(2026, 3, 2, 10, 0);  // a Monday
  f.freq = FREQ_WEEKLY;
  model().view = static_cast<int32_t>(g_repos[0].root);
  ASSERT_GE(item_store(-1, ITEM_EVENT, f, 0, g_repos[0].root), 0);
  CalendarCallbacks cb;
  cb.day_selected = on_day;
  GtkWidget* cal = calendar_pane_new(cb);
  TestWindow w(cal, 300, 200);
  g_selected = 0;
  gtk_calendar_select_month(GTK_CALENDAR(cal), 2, 2026);  // March (months from 0)
  gtk_calendar_select_day(GTK_CALENDAR(cal), 17);
  pump();
  unsigned want = 1u << 1 | 1u << 8 | 1u << 15 | 1u << 22 | 1u << 29;  // 2, 9, 16, 23, 30
  EXPECT_EQ(want, calendar_pane_marks(cal));
  EXPECT_EQ(lt(2026, 3, 17), model().calendar_day);
  EXPECT_GE(g_selected, 1);
  gtk_calendar_select_month(GTK_CALENDAR(cal), 1, 2026);  // February: before the series
  pump();
  EXPECT_EQ(0u, calendar_pane_marks(cal));
}

TEST(IconTest, AllSixteenLoadAndScaleForHiDpi) {
  ASSERT_EQ(0, icons_load(2));
  for (int i = 0; i < ICON_SLOT_COUNT; i++) {
    ASSERT_NE(nullptr, icon_get(i)) << icon_resource(i);
    if (i < ICON_SLOT_APP) {
      EXPECT_EQ(32, gdk_pixbuf_get_width(icon_get(i))) << icon_resource(i);
    }
  }
  EXPECT_EQ(48, gdk_pixbuf_get_width(icon_get(ICON_SLOT_APP_48)));
  EXPECT_STREQ("/icons/task_a.png", icon_resource(0));
  EXPECT_STREQ("/icons/ordika_48.png", icon_resource(15));
  EXPECT_EQ(nullptr, icon_resource(16));
  ASSERT_EQ(0, icons_load(1));
  EXPECT_EQ(16, gdk_pixbuf_get_width(icon_get(ICON_SLOT_TAG)));
}

}  // namespace

namespace {

int g_menus = 0;
bool on_menu(void*) {
  g_menus++;
  return true;
}

// Every pane a user reaches is named for assistive technologies, and the
// keyboard's context-menu request reaches the window.
class AccessTest : public GtkModelTest {};

TEST_F(AccessTest, PanesHaveAccessibleNamesAndKeyboardMenus) {
  TagTreeCallbacks tcb;
  tcb.popup_menu = on_menu;
  TagTree* tree = tag_tree_new(tcb);
  ItemListCallbacks icb;
  icb.popup_menu = on_menu;
  ItemList* list = item_list_new(icb);
  GtkWidget* cal = calendar_pane_new(CalendarCallbacks{});
  GtkWidget* detail = detail_view_new(MarkupViewCallbacks{});
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  for (GtkWidget* w : {tree->view, list->view, cal, detail}) gtk_box_pack_start(GTK_BOX(box), w, TRUE, TRUE, 0);
  TestWindow window(box);
  for (GtkWidget* w : {tree->view, list->view, cal, detail}) {
    const char* name = atk_object_get_name(gtk_widget_get_accessible(w));
    ASSERT_NE(nullptr, name);
    EXPECT_STRNE("", name) << G_OBJECT_TYPE_NAME(w);
  }
  EXPECT_STREQ(ui_string(STR_TAGS), atk_object_get_name(gtk_widget_get_accessible(tree->view)));
  // The detail pane is named after the item it shows.
  int64_t note = make_item(g_repos[0].root, ITEM_NOTE, "Shopping", "milk");
  detail_view_show_item(detail, note);
  EXPECT_STREQ("Shopping", atk_object_get_name(gtk_widget_get_accessible(detail)));

  gboolean handled = FALSE;
  g_signal_emit_by_name(tree->view, "popup-menu", &handled);
  EXPECT_TRUE(handled);
  g_signal_emit_by_name(list->view, "popup-menu", &handled);
  EXPECT_TRUE(handled);
  EXPECT_EQ(2, g_menus);
}

}  // namespace

namespace {

TEST(IconTest, TreeCellsDrawThroughSurfacesOfTheLoadedScale) {
  ASSERT_EQ(0, icons_load(2));
  GtkListStore* store = gtk_list_store_new(1, GDK_TYPE_PIXBUF);
  GtkTreeIter it;
  gtk_list_store_insert_with_values(store, &it, -1, 0, icon_get(ICON_SLOT_TAG), -1);
  GtkCellRenderer* cell = gtk_cell_renderer_pixbuf_new();
  g_object_ref_sink(cell);
  icon_cell_data(nullptr, cell, GTK_TREE_MODEL(store), &it, GINT_TO_POINTER(0));
  cairo_surface_t* surface = nullptr;
  g_object_get(cell, "surface", &surface, nullptr);
  ASSERT_NE(nullptr, surface);
  double sx = 0, sy = 0;
  cairo_surface_get_device_scale(surface, &sx, &sy);
  EXPECT_EQ(2.0, sx);  // 32 pixels drawn in 16 logical ones
  cairo_surface_destroy(surface);
  g_object_unref(cell);
  g_object_unref(store);
  ASSERT_EQ(0, icons_load(1));
}

}  // namespace
