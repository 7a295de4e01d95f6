// The calendar's marks and the icon table.
#include "gtk_fixture.h"
#include "views/calendar_gtk.h"
#include "views/icons_gtk.h"

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
  ASSERT_GE(item_store(-1, ITEM_EVENT, f, 0), 0);
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
