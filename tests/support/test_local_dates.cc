// SPDX-License-Identifier: GPL-3.0-or-later
// Dates and times the window shows follow the language chosen in Options,
// whatever the process locale.
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "support/local_dates.h"
#include "support/strings.h"

namespace {

int64_t local_time(int y, int mo, int d, int h, int mi) {
  struct tm tm {};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_isdst = -1;
  return static_cast<int64_t>(mktime(&tm));
}

struct LanguageCase {
  int lang;
  const char* short_date;  // 2026-12-08
  const char* long_date;
  const char* afternoon;  // 15:00
  const char* morning;    // 09:05
  const char* short_date_time;
  const char* long_date_time;
};

const LanguageCase kCases[] = {
    {0, "Dec 8, 2026", "December 8, 2026", "3:00 PM", "9:05 AM", "Dec 8, 2026, 3:00 PM", "December 8, 2026 at 3:00 PM"},
    {1, "8 déc. 2026", "8 décembre 2026", "15:00", "09:05", "8 déc. 2026, 15:00", "8 décembre 2026 à 15:00"},
    {2, "8 dic 2026", "8 de diciembre de 2026", "15:00", "09:05", "8 dic 2026, 15:00", "8 de diciembre de 2026, 15:00"},
    {3, "08.12.2026", "8. Dezember 2026", "15:00", "09:05", "08.12.2026, 15:00", "8. Dezember 2026 um 15:00"},
    {4, "8 дек. 2026 г.", "8 декабря 2026 г.", "15:00", "09:05", "8 дек. 2026 г., 15:00", "8 декабря 2026 г. в 15:00"},
};

class LocalDatesTest : public ::testing::Test {
 protected:
  void TearDown() override { strings_set_language(0); }
};

TEST_F(LocalDatesTest, EachLanguageWritesDatesAndTimesItsOwnWay) {
  const int64_t afternoon = local_time(2026, 12, 8, 15, 0);
  const int64_t morning = local_time(2026, 12, 8, 9, 5);
  for (const LanguageCase& c : kCases) {
    ASSERT_EQ(1, strings_set_language(c.lang));
    SCOPED_TRACE(c.lang);
    EXPECT_EQ(c.short_date, shown_date(afternoon, DATE_SHORT));
    EXPECT_EQ(c.long_date, shown_date(afternoon, DATE_LONG));
    EXPECT_EQ(c.short_date, shown_ymd(2026, 12, 8, DATE_SHORT));
    EXPECT_EQ(c.long_date, shown_ymd(2026, 12, 8, DATE_LONG));
    EXPECT_EQ(c.afternoon, shown_time(afternoon));
    EXPECT_EQ(c.morning, shown_time(morning));
    EXPECT_EQ(c.short_date_time, shown_date_time(afternoon, DATE_SHORT));
    EXPECT_EQ(c.long_date_time, shown_date_time(afternoon, DATE_LONG));
  }
}

// The command-line tool prints ISO forms in every language.
TEST_F(LocalDatesTest, TheIsoSwitchGivesTheSameFormsInEveryLanguage) {
  const int64_t t = local_time(2026, 12, 8, 15, 0);
  shown_dates_iso(true);
  for (const LanguageCase& c : kCases) {
    ASSERT_EQ(1, strings_set_language(c.lang));
    EXPECT_EQ("2026-12-08", shown_date(t, DATE_LONG)) << c.lang;
    EXPECT_EQ("2026-12-08", shown_ymd(2026, 12, 8, DATE_SHORT)) << c.lang;
    EXPECT_EQ("15:00", shown_time(t)) << c.lang;
    EXPECT_EQ("2026-12-08 15:00", shown_date_time(t, DATE_LONG)) << c.lang;
  }
  shown_dates_iso(false);
}

TEST_F(LocalDatesTest, NoTimeIsShownAsNothing) {
  EXPECT_EQ("", shown_date(0, DATE_LONG));
  EXPECT_EQ("", shown_time(0));
  EXPECT_EQ("", shown_date_time(0, DATE_SHORT));
}

TEST_F(LocalDatesTest, MidnightAndNoonAreTwelveInEnglish) {
  ASSERT_EQ(1, strings_set_language(0));
  EXPECT_EQ("12:00 AM", shown_time(local_time(2026, 1, 1, 0, 0)));
  EXPECT_EQ("12:30 PM", shown_time(local_time(2026, 1, 1, 12, 30)));
}

}  // namespace
