// SPDX-License-Identifier: GPL-3.0-or-later
// Full recurrence rules: expansion against known dates, what counts as more
// than an item's own Recurrence, the item's last occurrence and calendar
// marks, and the rule's text in the five languages.
#include <vector>

#include "model/full_rule.h"
#include "model/view_dates.h"
#include "model_fixture.h"
#include "support/strings.h"

namespace {

class FullRuleTest : public ModelTest {
 protected:
  ScopedTz tz{"Europe/Berlin"};

  // An event at `due` with the rule attached; its slot.
  int64_t event(int64_t due, const std::string& rule_text) {
    int64_t slot;
    add_item(ITEM_EVENT, due, rule(FREQ_MONTHLY), &slot);
    EXPECT_EQ(0, item_full_rule_set(slot, rule_text)) << rule_text;
    return slot;
  }
  // The first n occurrences from `from`.
  static std::vector<std::string> first(int64_t slot, int64_t from, size_t n) {
    std::vector<std::string> out;
    for (int64_t t = item_occurrence_from(item_get(slot), from); t && out.size() < n;
         t = item_occurrence_from(item_get(slot), t + 1))
      out.push_back(fmt(t));
    return out;
  }
};

TEST_F(FullRuleTest, ExpandsRulesTheEditorCannotSay) {
  const int64_t nine = lt(2026, 1, 1, 9);
  struct Case {
    const char* name;
    int64_t due;
    std::string rule;
    std::vector<std::string> expect;
    bool ends = false;  // no occurrence after the expected ones
  } cases[] = {
      {"last Friday", lt(2026, 1, 30, 18), "RRULE:FREQ=MONTHLY;BYDAY=-1FR\n",
       {"2026-01-30 18:00:00", "2026-02-27 18:00:00", "2026-03-27 18:00:00", "2026-04-24 18:00:00",
        "2026-05-29 18:00:00"}},
      {"second and second-to-last Monday", lt(2026, 3, 9, 8), "RRULE:FREQ=MONTHLY;BYDAY=2MO,-2MO\n",
       {"2026-03-09 08:00:00", "2026-03-23 08:00:00", "2026-04-13 08:00:00", "2026-04-20 08:00:00",
        "2026-05-11 08:00:00"}},
      {"month-day list", lt(2026, 1, 1, 7), "RRULE:FREQ=MONTHLY;BYMONTHDAY=1,15,-1\n",
       {"2026-01-01 07:00:00", "2026-01-15 07:00:00", "2026-01-31 07:00:00", "2026-02-01 07:00:00",
        "2026-02-15 07:00:00", "2026-02-28 07:00:00"}},
      {"last working day", lt(2026, 1, 30, 17), "RRULE:FREQ=MONTHLY;BYDAY=MO,TU,WE,TH,FR;BYSETPOS=-1\n",
       {"2026-01-30 17:00:00", "2026-02-27 17:00:00", "2026-03-31 17:00:00", "2026-04-30 17:00:00"}},
      {"weekly with an exception", lt(2026, 12, 21, 10),
       "RRULE:FREQ=WEEKLY;BYDAY=MO,TH\nEXDATE:" + std::to_string(lt(2026, 12, 24, 10)) + "\n",
       {"2026-12-21 10:00:00", "2026-12-28 10:00:00", "2026-12-31 10:00:00"}},
      {"added dates only", nine,
       "RDATE:" + std::to_string(lt(2026, 2, 3, 9)) + "," + std::to_string(lt(2026, 5, 6, 9)) + "\n",
       {"2026-01-01 09:00:00", "2026-02-03 09:00:00", "2026-05-06 09:00:00"},
       true},
      {"a moved instance", lt(2026, 1, 5, 9),
       "RRULE:FREQ=WEEKLY;COUNT=3\nMOVED:" + std::to_string(lt(2026, 1, 12, 9)) + "=" +
           std::to_string(lt(2026, 1, 14, 15)) + "\n",
       {"2026-01-05 09:00:00", "2026-01-14 15:00:00", "2026-01-19 09:00:00"},
       true},
      {"counted across a clock change", lt(2026, 3, 20, 9), "RRULE:FREQ=WEEKLY;BYDAY=FR;COUNT=3\n",
       {"2026-03-20 09:00:00", "2026-03-27 09:00:00", "2026-04-03 09:00:00"},
       true},
  };
  for (const Case& c : cases) {
    int64_t slot = event(c.due, c.rule);
    EXPECT_EQ(first(slot, c.due, c.ends ? c.expect.size() + 1 : c.expect.size()), c.expect) << c.name;
  }
}

TEST_F(FullRuleTest, LastOccurrenceEndsCountedAndOpenRules) {
  struct Case {
    std::string rule;
    int64_t last;
  } cases[] = {
      {"RRULE:FREQ=MONTHLY;BYDAY=-1FR;COUNT=3\n", lt(2026, 3, 27, 18)},
      {"RRULE:FREQ=MONTHLY;BYDAY=-1FR;UNTIL=20260501T000000\n", lt(2026, 4, 24, 18)},
      {"RRULE:FREQ=MONTHLY;BYDAY=-1FR\n", RECUR_FOREVER_TIME},
      {"RDATE:" + std::to_string(lt(2027, 7, 1, 18)) + "\n", lt(2027, 7, 1, 18)},
  };
  for (const Case& c : cases) {
    int64_t slot = event(lt(2026, 1, 30, 18), c.rule);
    EXPECT_EQ(item_get(slot)->last_occurrence, c.last) << c.rule;
  }
}

TEST_F(FullRuleTest, QueriesFarAheadAndBackAgreeWithTheSeries) {
  int64_t slot = event(lt(2026, 1, 30, 18), "RRULE:FREQ=MONTHLY;BYDAY=-1FR\n");
  const Item* item = item_get(slot);
  struct Case {
    int64_t from;
    const char* first;
  } cases[] = {
      {lt(2030, 6, 1), "2030-06-28 18:00:00"},
      {lt(2031, 1, 1), "2031-01-31 18:00:00"},
      {lt(2026, 2, 1), "2026-02-27 18:00:00"},
      {lt(2030, 6, 29), "2030-07-26 18:00:00"},
  };
  for (const Case& c : cases) EXPECT_EQ(fmt(item_occurrence_from(item, c.from)), c.first) << fmt(c.from);
}

TEST_F(FullRuleTest, OccurrencesAfterTheLastAreNone) {
  int64_t slot = event(lt(2026, 1, 30, 18), "RRULE:FREQ=MONTHLY;BYDAY=-1FR;COUNT=2\n");
  EXPECT_EQ(item_occurrence_from(item_get(slot), lt(2026, 2, 28)), 0);
}

TEST_F(FullRuleTest, CalendarMarksTheLastFridayNotTheFourth) {
  event(lt(2026, 1, 30, 18), "RRULE:FREQ=MONTHLY;BYDAY=-1FR\n");
  // May 2026 has five Fridays: the 22nd is the fourth, the 29th the last.
  EXPECT_EQ(calendar_month_marks(2026, 5), 1u << 28);
  EXPECT_EQ(calendar_month_marks(2026, 2), 1u << 26);
}

TEST_F(FullRuleTest, DetachingGivesTheItemItsOwnRecurrenceBack) {
  int64_t slot = event(lt(2026, 1, 30, 18), "RRULE:FREQ=MONTHLY;BYDAY=-1FR\n");
  ASSERT_EQ(0, item_full_rule_set(slot, ""));
  EXPECT_EQ(item_full_rule(item_get(slot)), nullptr);
  // Monthly on the 30th, as the item's own rule says.
  EXPECT_EQ(fmt(item_occurrence_from(item_get(slot), lt(2026, 2, 1))), "2026-03-30 18:00:00");
}

TEST_F(FullRuleTest, MalformedTextIsRefusedAndRoundTripsWhenWellFormed) {
  for (const char* bad : {"RRULE:FREQ=SOMETIMES\n", "EXDATE:12,x\n", "MOVED:5\n", "WHAT:1\n"}) {
    FullRule r;
    EXPECT_EQ(-1, full_rule_parse(bad, &r)) << bad;
  }
  FullRule r;
  r.rrule = "FREQ=WEEKLY;BYDAY=MO,TH";
  r.exdates = {5, 9};
  r.rdates = {7};
  r.moved = {{11, 12}};
  r.tzid = "Eastern";
  r.vtimezone = "BEGIN:VTIMEZONE\r\nTZID:Eastern\r\nEND:VTIMEZONE\r\n";
  FullRule back;
  ASSERT_EQ(0, full_rule_parse(full_rule_format(r), &back));
  EXPECT_EQ(back.rrule, r.rrule);
  EXPECT_EQ(back.exdates, r.exdates);
  EXPECT_EQ(back.rdates, r.rdates);
  EXPECT_EQ(back.moved, r.moved);
  EXPECT_EQ(back.tzid, r.tzid);
  EXPECT_EQ(back.vtimezone, r.vtimezone);
}

TEST_F(FullRuleTest, ZonedSeriesKeepTheirZonesClockInBothEngines) {
  // 09:00 in New York, seen from Berlin: New York changes its clocks on 14
  // March 2027, Berlin on the 28th. Whole-day rules expand here, finer ones
  // in libical.
  const char* const rules[] = {"FREQ=WEEKLY;BYDAY=TH", "FREQ=DAILY;INTERVAL=7;BYHOUR=9"};
  for (const char* rule : rules) {
    FullRule r;
    r.rrule = rule;
    r.tzid = "America/New_York";
    int64_t due = lt(2027, 3, 4, 15);
    int64_t slot = event(due, full_rule_format(r));
    EXPECT_EQ(first(slot, due, 5), (std::vector<std::string>{"2027-03-04 15:00:00", "2027-03-11 15:00:00",
                                                             "2027-03-18 14:00:00", "2027-03-25 14:00:00",
                                                             "2027-04-01 15:00:00"}))
        << rule;
    // Far ahead, after a skip: autumn's gap is a week in November.
    EXPECT_EQ(first(slot, lt(2031, 10, 29), 3),
              (std::vector<std::string>{"2031-10-30 14:00:00", "2031-11-06 15:00:00", "2031-11-13 15:00:00"}))
        << rule;
  }
}

TEST_F(FullRuleTest, NeededOnlyForWhatTheItemCannotSay) {
  const int64_t friday_30th = lt(2026, 1, 30, 18), tuesday_10th = lt(2026, 3, 10, 7);
  struct Case {
    const char* rrule;
    int64_t start;
    bool needed;
  } cases[] = {
      {"FREQ=WEEKLY;INTERVAL=2;BYDAY=MO,WE;COUNT=10", friday_30th, false},
      {"FREQ=DAILY;UNTIL=20270101T000000Z", friday_30th, false},
      {"FREQ=MONTHLY;BYDAY=2TU", tuesday_10th, false},
      {"FREQ=MONTHLY;BYMONTHDAY=30", friday_30th, false},
      {"FREQ=YEARLY;BYMONTH=1", friday_30th, false},
      {"FREQ=MONTHLY;BYDAY=-1FR", friday_30th, true},
      {"FREQ=MONTHLY;BYDAY=3TU", tuesday_10th, true},
      {"FREQ=MONTHLY;BYDAY=1MO,3WE", tuesday_10th, true},
      {"FREQ=MONTHLY;BYMONTHDAY=1,15", friday_30th, true},
      {"FREQ=MONTHLY;BYDAY=MO,FR;BYSETPOS=1", friday_30th, true},
      {"FREQ=YEARLY;BYMONTH=3,9", friday_30th, true},
      {"FREQ=WEEKLY;BYDAY=1MO", friday_30th, true},
      {"FREQ=HOURLY;INTERVAL=6", friday_30th, true},
  };
  for (const Case& c : cases) {
    FullRule r;
    r.rrule = c.rrule;
    EXPECT_EQ(full_rule_needed(r, c.start), c.needed) << c.rrule;
  }
  // A zone is more than the item's own rule only where its clock parts from
  // the local one.
  struct ZoneCase {
    const char* tzid;
    bool needed;
  } zones[] = {{"Europe/Berlin", false}, {"Europe/Paris", false}, {"America/New_York", true}, {"UTC", true}};
  for (const ZoneCase& z : zones) {
    FullRule r;
    r.rrule = "FREQ=WEEKLY";
    r.tzid = z.tzid;
    EXPECT_EQ(full_rule_needed(r, friday_30th), z.needed) << z.tzid;
  }
  FullRule with_exception;
  with_exception.rrule = "FREQ=DAILY";
  with_exception.exdates = {friday_30th + 86400};
  EXPECT_TRUE(full_rule_needed(with_exception, friday_30th));
}

TEST_F(FullRuleTest, TextInEveryLanguage) {
  time_t now = time(nullptr);
  struct tm tm {};
  localtime_r(&now, &tm);
  const int year = tm.tm_year + 1900;
  FullRule last_friday, mon_thu, first_monday, every_other, thursdays_new_york;
  last_friday.rrule = "FREQ=MONTHLY;BYDAY=-1FR";
  mon_thu.rrule = "FREQ=WEEKLY;BYDAY=MO,TH";
  mon_thu.exdates = {lt(year, 12, 24, 10)};
  first_monday.rrule = "FREQ=MONTHLY;BYDAY=1MO;COUNT=5";
  every_other.rrule = "FREQ=WEEKLY;INTERVAL=2;BYDAY=1SU";
  thursdays_new_york.rrule = "FREQ=WEEKLY;BYDAY=TH";
  thursdays_new_york.tzid = "America/New_York";
  struct Case {
    int lang;
    const FullRule* rule;
    const char* text;
  } cases[] = {
      {0, &last_friday, "Monthly, on the last Friday"},
      {0, &mon_thu, "Every Monday and Thursday, except 24 December"},
      {0, &first_monday, "Monthly, on the first Monday, ends after 5 occurrences"},
      {0, &thursdays_new_york, "Every Thursday (America/New_York)"},
      {1, &last_friday, "Mensuel, le dernier vendredi"},
      {1, &mon_thu, "Tous les lundis et jeudis, sauf le 24 décembre"},
      {2, &last_friday, "Mensual, el último viernes"},
      {2, &mon_thu, "Cada lunes y jueves, excepto el 24 de diciembre"},
      {3, &last_friday, "Monatlich, am letzten Freitag"},
      {3, &mon_thu, "Jeden Montag und Donnerstag, außer am 24. Dezember"},
      {4, &last_friday, "Ежемесячно, в последнюю пятницу месяца"},
      {4, &first_monday, "Ежемесячно, в первый понедельник месяца, всего 5 повторений"},
      {4, &mon_thu, "По понедельникам и четвергам, кроме 24 декабря"},
      {4, &every_other, "Каждые 2 недели, в первое воскресенье"},
  };
  for (const Case& c : cases) {
    strings_set_language(c.lang);
    EXPECT_EQ(full_rule_text(*c.rule, 0), c.text) << c.lang;
  }
  strings_set_language(0);
}

}  // namespace

#include <libical/ical.h>

namespace {

// libical's own expansion in local floating time, as the reference for the
// rules of whole days that the model expands itself.
std::vector<std::string> libical_first(const char* rrule, int64_t due, size_t n) {
  icalrecurrencetype r = icalrecurrencetype_from_string(rrule);
  time_t tt = static_cast<time_t>(due);
  struct tm tm {};
  localtime_r(&tt, &tm);
  icaltimetype start = icaltime_null_time();
  start.year = tm.tm_year + 1900;
  start.month = tm.tm_mon + 1;
  start.day = tm.tm_mday;
  start.hour = tm.tm_hour;
  start.minute = tm.tm_min;
  icalrecur_iterator* it = icalrecur_iterator_new(r, start);
  std::vector<std::string> out;
  out.push_back(fmt(due));
  for (icaltimetype v = icalrecur_iterator_next(it); !icaltime_is_null_time(v) && out.size() < n;
       v = icalrecur_iterator_next(it)) {
    std::string s = fmt(lt(v.year, v.month, v.day, v.hour, v.minute));
    if (s != out.front()) out.push_back(s);
  }
  icalrecur_iterator_free(it);
  return out;
}

TEST_F(FullRuleTest, DayRulesAgreeWithLibical) {
  const char* const rules[] = {
      "FREQ=MONTHLY;BYDAY=-1FR",
      "FREQ=MONTHLY;BYDAY=2MO,-2MO",
      "FREQ=MONTHLY;INTERVAL=2;BYMONTHDAY=1,15,-1",
      "FREQ=MONTHLY;BYDAY=MO,TU,WE,TH,FR;BYSETPOS=-1",
      "FREQ=MONTHLY;BYDAY=SA,SU;BYSETPOS=1,-1",
      "FREQ=MONTHLY;BYMONTHDAY=13;BYDAY=FR",
      "FREQ=YEARLY;BYMONTH=3,6,9,12;BYDAY=1TH",
      "FREQ=YEARLY;BYMONTH=11;BYDAY=4TH",
      "FREQ=YEARLY;BYDAY=20MO",
      "FREQ=YEARLY;BYMONTHDAY=-1",
      "FREQ=WEEKLY;INTERVAL=2;BYDAY=MO,TH;WKST=SU",
      "FREQ=WEEKLY;BYDAY=TU;BYMONTH=1,7",
      "FREQ=DAILY;BYDAY=MO,WE,FR;COUNT=20",
      "FREQ=DAILY;BYMONTHDAY=1,2;UNTIL=20270101T000000",
      "FREQ=MONTHLY;BYMONTHDAY=31;COUNT=8",
  };
  const int64_t starts[] = {lt(2026, 1, 1, 9), lt(2026, 3, 27, 18, 30), lt(2026, 10, 25, 2, 30)};
  for (const char* rule : rules)
    for (int64_t due : starts) {
      int64_t slot = event(due, std::string("RRULE:") + rule + "\n");
      EXPECT_EQ(first(slot, due, 30), libical_first(rule, due, 30)) << rule << " from " << fmt(due);
    }
}

}  // namespace
