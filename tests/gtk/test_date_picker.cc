// SPDX-License-Identifier: GPL-3.0-or-later
// The date picker: display, modes, the popup, typed dates and the signals.
#include <clocale>

#include "dialogs/date_picker.h"
#include "dialogs/date_text.h"
#include "editor_driver.h"
#include "model/recur.h"

namespace {

class DatePickerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    picker = date_picker_new();
    window = new TestWindow(picker);
    set_top_window(GTK_WINDOW(window->window));
    g_signal_connect(picker, "changed", G_CALLBACK(+[](GtkWidget*, gpointer n) { ++*static_cast<int*>(n); }),
                     &changes);
    g_signal_connect(picker, "text-validity",
                     G_CALLBACK(+[](GtkWidget*, gpointer n) { ++*static_cast<int*>(n); }), &flips);
  }
  void TearDown() override {
    set_top_window(nullptr);
    delete window;
  }
  std::string text() { return gtk_entry_get_text(GTK_ENTRY(date_picker_entry(picker))); }

  ScopedTz tz{"Europe/Berlin"};
  GtkWidget* picker = nullptr;
  TestWindow* window = nullptr;
  int changes = 0;
  int flips = 0;
};

TEST_F(DatePickerTest, IsARegisteredBoxShowingItsTimeInTheModeOfTheLastSet) {
  EXPECT_STREQ("GtkDatePicker", G_OBJECT_TYPE_NAME(picker));
  EXPECT_TRUE(g_type_is_a(GTK_TYPE_DATE_PICKER, GTK_TYPE_BOX));
  EXPECT_EQ(0, date_picker_get(picker));
  EXPECT_EQ("", text());
  const int64_t t = lt(2026, 12, 8, 14, 5);
  date_picker_set(picker, t);
  EXPECT_EQ("2026-12-08 14:05", text());
  EXPECT_EQ(t, date_picker_get(picker));
  // Switching the mode leaves the text until the next set.
  date_picker_set_date_only(picker, true);
  EXPECT_EQ("2026-12-08 14:05", text());
  date_picker_set(picker, t);
  EXPECT_EQ("2026-12-08", text());
  date_picker_set(picker, 0);
  EXPECT_EQ("", text());
  EXPECT_EQ(0, changes);  // set never emits
}

TEST_F(DatePickerTest, PopupCancelLeavesNoTimeAndOkOnDateOnlyStoresMidnight) {
  Script s;
  std::string proposed_day;
  s.then([&](GtkWindow* w) {
    GtkCalendar* cal = find_widget<GtkCalendar>(GTK_WIDGET(w), GTK_TYPE_CALENDAR);
    guint y, m, d;
    gtk_calendar_get_date(cal, &y, &m, &d);
    char buf[16];
    snprintf(buf, sizeof buf, "%04u-%02u-%02u", y, m + 1, d);
    proposed_day = buf;
    respond(w, GTK_RESPONSE_CANCEL);
  });
  gtk_button_clicked(GTK_BUTTON(date_picker_button(picker)));
  EXPECT_EQ(date_text_format(next_half_hour(), true), proposed_day);
  EXPECT_EQ(0, date_picker_get(picker));
  EXPECT_EQ(0, changes);

  date_picker_set_date_only(picker, true);
  s.then([](GtkWindow* w) {
    EXPECT_EQ(nullptr, find_widget<GtkSpinButton>(GTK_WIDGET(w), GTK_TYPE_SPIN_BUTTON));
    GtkCalendar* cal = find_widget<GtkCalendar>(GTK_WIDGET(w), GTK_TYPE_CALENDAR);
    gtk_calendar_select_month(cal, 2, 2027);  // March
    gtk_calendar_select_day(cal, 28);
    respond(w, GTK_RESPONSE_OK);
  });
  gtk_button_clicked(GTK_BUTTON(date_picker_button(picker)));
  EXPECT_EQ(lt(2027, 3, 28), date_picker_get(picker));
  EXPECT_EQ("2027-03-28", text());
  EXPECT_EQ(1, changes);
  EXPECT_EQ(0, s.unexpected);
}

TEST_F(DatePickerTest, PopupTimeSpinsShowTwoDigitsAndSetTheTime) {
  date_picker_set(picker, lt(2026, 1, 2, 7, 9));
  Script s;
  std::string hour_text, minute_text, later_text;
  s.then([&](GtkWindow* w) {
    GtkWidget* h = find_widget<GtkWidget>(GTK_WIDGET(w), GTK_TYPE_SPIN_BUTTON, 0);
    GtkWidget* m = find_widget<GtkWidget>(GTK_WIDGET(w), GTK_TYPE_SPIN_BUTTON, 1);
    ASSERT_NE(nullptr, m);
    // Which of the two is the hour does not depend on the packing order.
    if (gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(h)) != 7) std::swap(h, m);
    hour_text = gtk_entry_get_text(GTK_ENTRY(h));
    minute_text = gtk_entry_get_text(GTK_ENTRY(m));
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(h), 17);
    later_text = gtk_entry_get_text(GTK_ENTRY(h));
    respond(w, GTK_RESPONSE_OK);
  });
  gtk_button_clicked(GTK_BUTTON(date_picker_button(picker)));
  EXPECT_EQ("07", hour_text);
  EXPECT_EQ("09", minute_text);
  EXPECT_EQ("17", later_text);
  EXPECT_EQ(lt(2026, 1, 2, 17, 9), date_picker_get(picker));
  EXPECT_EQ(1, changes);
}

TEST_F(DatePickerTest, TypedDatesAreReadAndTextThatIsNoDateIsMarkedWithoutAChange) {
  const int64_t t = lt(2026, 12, 8, 14, 30);
  date_picker_set(picker, t);
  EXPECT_EQ(0, type_time(picker, "2026-12-24 18:00"));
  EXPECT_EQ(lt(2026, 12, 24, 18, 0), date_picker_get(picker));
  EXPECT_EQ(1, changes);
  // The shown text read again is no change.
  EXPECT_EQ(0, date_picker_commit_text(picker));
  EXPECT_EQ(1, changes);

  for (const char* bad : {"2026-02-30", "24.13.2026", "tomorrow", "2026-12-24 25:00", "1969-12-31"}) {
    EXPECT_EQ(-1, type_time(picker, bad)) << bad;
    EXPECT_EQ(lt(2026, 12, 24, 18, 0), date_picker_get(picker)) << bad;
    EXPECT_FALSE(date_picker_text_valid(picker)) << bad;
    EXPECT_EQ(bad, text());  // what was typed stays to be corrected
  }
  EXPECT_EQ(1, changes);
  EXPECT_EQ(1, flips);
  EXPECT_TRUE(gtk_style_context_has_class(gtk_widget_get_style_context(date_picker_entry(picker)), "error"));
  EXPECT_EQ(0, type_time(picker, "2026-12-25T09:15"));
  EXPECT_TRUE(date_picker_text_valid(picker));
  EXPECT_EQ(2, flips);
  EXPECT_EQ(lt(2026, 12, 25, 9, 15), date_picker_get(picker));
  EXPECT_EQ(2, changes);
  EXPECT_FALSE(gtk_style_context_has_class(gtk_widget_get_style_context(date_picker_entry(picker)), "error"));
  // Cleared text is no time.
  EXPECT_EQ(0, type_time(picker, "  "));
  EXPECT_EQ(0, date_picker_get(picker));
  EXPECT_EQ(3, changes);
}

TEST(DateText, IsoLocaleAndPartialForms) {
  ScopedTz tz("Europe/Berlin");
  const int64_t prev = lt(2026, 3, 10, 8, 45);
  int64_t out = -5;
  // A date alone keeps the time of day in date-and-time mode, not in date-only.
  ASSERT_EQ(0, date_text_parse("2026-04-01", false, prev, &out));
  EXPECT_EQ(lt(2026, 4, 1, 8, 45), out);
  ASSERT_EQ(0, date_text_parse("2026-04-01 23:59", true, prev, &out));
  EXPECT_EQ(lt(2026, 4, 1), out);
  ASSERT_EQ(0, date_text_parse("2026-04-01 06:07:08", false, prev, &out));
  EXPECT_EQ(lt(2026, 4, 1, 6, 7), out);
  // A bare time keeps the day.
  ASSERT_EQ(0, date_text_parse("19:30", false, prev, &out));
  EXPECT_EQ(lt(2026, 3, 10, 19, 30), out);
  EXPECT_EQ(-1, date_text_parse("19:30", true, prev, &out));
  // The locale's form: "%x" of the C locale is month/day/year.
  const char* old = setlocale(LC_TIME, nullptr);
  std::string saved = old ? old : "C";
  setlocale(LC_TIME, "C");
  ASSERT_EQ(0, date_text_parse("12/24/26", true, prev, &out));
  EXPECT_EQ(lt(2026, 12, 24), out);
  ASSERT_EQ(0, date_text_parse("12/24/26 07:30", false, prev, &out));
  EXPECT_EQ(lt(2026, 12, 24, 7, 30), out);
  setlocale(LC_TIME, saved.c_str());
  // The spring gap of daylight saving keeps the day.
  ASSERT_EQ(0, date_text_parse("2026-03-29 02:30", false, prev, &out));
  EXPECT_EQ("2026-03-29", date_text_format(out, true));
  out = 77;
  for (const char* bad : {"2026-04-31", "2026-13-01", "10000-01-01", "2026-04-01 x", "12:61", "2026-04-01\n12:00"})
    EXPECT_EQ(-1, date_text_parse(bad, false, prev, &out)) << bad;
  EXPECT_EQ(77, out);
  EXPECT_EQ("", date_text_format(0, false));
}

}  // namespace
