// SPDX-License-Identifier: GPL-3.0-or-later
// Calendar files shaped like the exports of widespread programs: quoted
// parameter values holding ":" and ";", vendor lines without a value, and
// lines that break the grammar, each costing no more than itself.
#include "interchange_fixture.h"

namespace {

class RealCalendarTest : public InterchangeTest {};

// As a desktop mail program writes it: Windows time zone names in quotes,
// a VTIMEZONE block, folded DESCRIPTION lines.
const char kOutlookShaped[] =
    "BEGIN:VCALENDAR\r\n"
    "PRODID:-//Microsoft Corporation//Outlook 16.0 MIMEDIR//EN\r\n"
    "VERSION:2.0\r\n"
    "METHOD:PUBLISH\r\n"
    "X-MS-OLK-FORCEINSPECTOROPEN:TRUE\r\n"
    "BEGIN:VTIMEZONE\r\n"
    "TZID:(UTC+01:00) Amsterdam, Berlin, Bern, Rom, Stockholm, Wien\r\n"
    "BEGIN:STANDARD\r\n"
    "DTSTART:16011028T030000\r\n"
    "RRULE:FREQ=YEARLY;BYDAY=-1SU;BYMONTH=10\r\n"
    "TZOFFSETFROM:+0200\r\n"
    "TZOFFSETTO:+0100\r\n"
    "END:STANDARD\r\n"
    "END:VTIMEZONE\r\n"
    "BEGIN:VEVENT\r\n"
    "CLASS:PUBLIC\r\n"
    "CREATED:20261201T101500Z\r\n"
    "DESCRIPTION:Agenda: budget\\; staffing\\, and the rest\\n\r\n"
    " Second line\r\n"
    "DTEND;TZID=\"(UTC+01:00) Amsterdam, Berlin, Bern, Rom, Stockholm, Wien\":20270115T113000\r\n"
    "DTSTAMP:20261207T090000Z\r\n"
    "DTSTART;TZID=\"(UTC+01:00) Amsterdam, Berlin, Bern, Rom, Stockholm, Wien\":20270115T100000\r\n"
    "LAST-MODIFIED:20261201T101500Z\r\n"
    "LOCATION;LANGUAGE=de-DE:Raum 4.11\r\n"
    "PRIORITY:5\r\n"
    "SEQUENCE:0\r\n"
    "SUMMARY;LANGUAGE=de-DE:Quartalsplanung\r\n"
    "TRANSP:OPAQUE\r\n"
    "UID:040000008200E00074C5B7101A82E00800000000D0A1B2C3D4E5F601000000000000000\r\n"
    "X-ALT-DESC;FMTTYPE=text/html:<html><body><p>Agenda: budget; staffing</p></body></html>\r\n"
    "X-MICROSOFT-CDO-BUSYSTATUS:BUSY\r\n"
    "BEGIN:VALARM\r\n"
    "TRIGGER:-PT15M\r\n"
    "ACTION:DISPLAY\r\n"
    "DESCRIPTION:Reminder\r\n"
    "END:VALARM\r\n"
    "END:VEVENT\r\n"
    "BEGIN:VEVENT\r\n"
    "DTSTART;TZID=\"(UTC+01:00) Amsterdam, Berlin, Bern, Rom, Stockholm, Wien\":20270116T080000\r\n"
    "DTEND;TZID=\"(UTC+01:00) Amsterdam, Berlin, Bern, Rom, Stockholm, Wien\":20270116T083000\r\n"
    "SUMMARY:Standup\r\n"
    "UID:040000008200E00074C5B7101A82E00800000000D0A1B2C3D4E5F602000000000000000\r\n"
    "END:VEVENT\r\n"
    "END:VCALENDAR\r\n";

// As a phone's calendar writes it: an alarm with vendor lines, one of them
// (a proximity radius) broken over a fold so that its continuation has no
// ":" at all, and a structured location whose parameter is quoted.
const char kAppleShaped[] =
    "BEGIN:VCALENDAR\r\n"
    "VERSION:2.0\r\n"
    "PRODID:-//Apple Inc.//macOS 15.1//EN\r\n"
    "CALSCALE:GREGORIAN\r\n"
    "BEGIN:VEVENT\r\n"
    "CREATED:20261130T120000Z\r\n"
    "DTEND;TZID=Europe/Berlin:20270201T190000\r\n"
    "DTSTART;TZID=Europe/Berlin:20270201T180000\r\n"
    "LOCATION:Philharmonie\\nHerbert-von-Karajan-Str. 1\\, Berlin\r\n"
    "SUMMARY:Concert\r\n"
    "UID:5A6B7C8D-1234-4F00-9ABC-DEF012345678\r\n"
    "X-APPLE-STRUCTURED-LOCATION;VALUE=URI;X-ADDRESS=\"Herbert-von-Karajan-Str. 1, 10785 Berlin\";\r\n"
    " X-APPLE-RADIUS=141.17;X-TITLE=\"Philharmonie: Großer Saal\":geo:52.509,13.370\r\n"
    "X-APPLE-RADIUS=141.17\r\n"
    "X-APPLE-TRAVEL-ADVISORY-BEHAVIOR:AUTOMATIC\r\n"
    "BEGIN:VALARM\r\n"
    "X-WR-ALARMUID:0C1D2E3F-AAAA-BBBB-CCCC-DDDDEEEEFFFF\r\n"
    "UID:0C1D2E3F-AAAA-BBBB-CCCC-DDDDEEEEFFFF\r\n"
    "TRIGGER:-PT1H\r\n"
    "ATTACH;VALUE=URI:Chord\r\n"
    "ACTION:AUDIO\r\n"
    "X-APPLE-DEFAULT-ALARM:TRUE\r\n"
    "ACKNOWLEDGED:20261201T080000Z\r\n"
    "END:VALARM\r\n"
    "END:VEVENT\r\n"
    "BEGIN:VTODO\r\n"
    "DUE;VALUE=DATE:20270210\r\n"
    "SUMMARY:Buy tickets\r\n"
    "a stray line\r\n"
    "UID:6B7C8D9E-2345-4F00-9ABC-DEF012345679\r\n"
    "STATUS:NEEDS-ACTION\r\n"
    "END:VTODO\r\n"
    "END:VCALENDAR\r\n";

TEST_F(RealCalendarTest, QuotedParameterValuesKeepOutlookEvents) {
  ImportReport r;
  ASSERT_EQ(import_ics(kOutlookShaped, &r), 2);
  EXPECT_EQ(r.skipped, 0);
  const Item* plan = titled("Quartalsplanung");
  ASSERT_NE(plan, nullptr);
  EXPECT_EQ(plan->type, ITEM_EVENT);
  // The clock time in the importing system's zone (Berlin here).
  EXPECT_EQ(plan->due, lt(2027, 1, 15, 10, 0));
  EXPECT_EQ(plan->end, lt(2027, 1, 15, 11, 30));
  EXPECT_EQ(plan->remind_offset, 15 * 60);
  EXPECT_EQ(item_body_load(plan), "Agenda: budget; staffing, and the rest\nSecond line");
  const Item* standup = titled("Standup");
  ASSERT_NE(standup, nullptr);
  EXPECT_EQ(standup->due, lt(2027, 1, 16, 8, 0));
}

TEST_F(RealCalendarTest, StrayLinesCostOnlyThemselvesInAppleFiles) {
  ImportReport r;
  ASSERT_EQ(import_ics(kAppleShaped, &r), 2);
  EXPECT_EQ(r.skipped, 0);
  const Item* concert = titled("Concert");
  ASSERT_NE(concert, nullptr);
  EXPECT_EQ(concert->due, lt(2027, 2, 1, 18, 0));
  EXPECT_EQ(concert->end, lt(2027, 2, 1, 19, 0));
  EXPECT_EQ(concert->remind_offset, 3600);
  const Item* todo = titled("Buy tickets");
  ASSERT_NE(todo, nullptr);
  EXPECT_EQ(todo->type, ITEM_TASK);
  EXPECT_EQ(todo->due, lt(2027, 2, 10, 0, 0));
}

TEST_F(RealCalendarTest, ValueStartsAtTheFirstColonOutsideQuotes) {
  IcalComponent c;
  c.kind = ICAL_EVENT;
  c.lines = {"DTSTART;TZID=\"A:B;C\":20270115T100000", "SUMMARY;X-NOTE=\"x:y\":Title: with colon",
             "DESCRIPTION;ALTREP=\"cid:part1\";LANGUAGE=en:Body", "X-BROKEN;P=\"never closed:20270101"};
  IcalEntry e;
  ASSERT_EQ(ical_parse_component(c, &e), 0);
  EXPECT_EQ(e.start, lt(2027, 1, 15, 10, 0));
  EXPECT_EQ(e.title, "Title: with colon");
  EXPECT_EQ(e.body, "Body");
  // A bad value on a line we read still drops the component.
  c.lines = {"DTSTART;TZID=\"A:B\":2027", "SUMMARY:x"};
  EXPECT_EQ(ical_parse_component(c, &e), -1);
}

}  // namespace
