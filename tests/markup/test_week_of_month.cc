// SPDX-License-Identifier: GPL-3.0-or-later
// The week of the month of a monthly rule by weekday: the recurrence, its
// description and its iCalendar form agree on every day of the month.
#include "interchange/ical.h"
#include "markup/detail_text.h"
#include "model/model_fixture.h"
#include "support/strings.h"

namespace {

const char* const kIcalDays[] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};

TEST(WeekOfMonth, DayBoundaries) {
  for (int d : {1, 7}) EXPECT_EQ(0, week_of_month(d)) << d;
  for (int d : {8, 14}) EXPECT_EQ(1, week_of_month(d)) << d;
  for (int d : {15, 21}) EXPECT_EQ(2, week_of_month(d)) << d;
  for (int d : {22, 28, 29, 30, 31}) EXPECT_EQ(3, week_of_month(d)) << d;
}

class WeekOfMonthUse : public ModelTest {
 protected:
  void SetUp() override {
    ModelTest::SetUp();
    ASSERT_EQ(strings_set_language(0), 1);
  }
  ScopedTz tz{"Europe/Berlin"};
};

TEST_F(WeekOfMonthUse, RecurrenceDescriptionAndExportAgree) {
  // January 2027 has 31 days; every day gets its own series.
  Recurrence r = rule(FREQ_MONTHLY, 0, 1);
  for (int d : {1, 6, 7, 8, 13, 14, 15, 20, 21, 22, 27, 28, 29, 30, 31}) {
    int64_t start = lt(2027, 1, d, 9);
    int week = week_of_month(d);
    struct tm st;
    time_t tt = static_cast<time_t>(start);
    localtime_r(&tt, &st);

    // The series repeats on that week's weekday in the following months.
    int64_t t = start;
    for (int i = 0; i < 12; i++) {
      t = recur_step(t, r.freq, r.interval_minus_one, r.by_day);
      struct tm got;
      time_t gt = static_cast<time_t>(t);
      localtime_r(&gt, &got);
      EXPECT_EQ(st.tm_wday, got.tm_wday) << d << " step " << i;
      EXPECT_EQ(week, (got.tm_mday - 1) / 7) << d << " step " << i << ": " << fmt(t);
    }

    // Its description names the same week.
    std::string text = recurrence_text(r, 0, 0, start);
    EXPECT_EQ(0u, text.find(std::string(ui_string(str_at(STR_WEEK_OF_MONTH_RANGE, week))) + " ")) << d << ": " << text;

    // And so does its export.
    IcalItem it;
    it.is_event = true;
    it.due = start;
    it.end = start + 3600;
    it.freq = FREQ_MONTHLY;
    it.by_day = 1;
    std::string out;
    ical_write_item(&out, it, 0);
    std::string byday = "BYDAY=" + std::to_string(week + 1) + kIcalDays[st.tm_wday];
    EXPECT_NE(std::string::npos, out.find(byday)) << d << ": " << out;
  }
}

}  // namespace
