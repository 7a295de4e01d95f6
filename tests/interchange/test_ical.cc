// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "interchange/content_line.h"
#include "interchange/ical.h"

namespace {

// Runs a block with TZ set, restoring it afterwards.
class TzGuard {
 public:
  explicit TzGuard(const char* tz) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~TzGuard() {
    if (had_) setenv("TZ", old_.c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};

int64_t parse_time(const std::string& s) {
  int64_t t = 0;
  return ical_parse_time(s.data(), s.size(), &t) == 0 ? t : -12345;
}

TEST(IcalTime, UtcLocalAndDateForms) {
  TzGuard tz("Europe/Berlin");
  EXPECT_EQ(parse_time("20240301T120000Z"), 1709294400);
  EXPECT_EQ(parse_time("20240301T130000"), 1709294400);  // CET = UTC+1
  EXPECT_EQ(parse_time("20240701T140000"), 1719835200);  // CEST = UTC+2
  EXPECT_EQ(parse_time("20240301"), 1709247600);         // local midnight
  EXPECT_EQ(parse_time("20240301T130000X"), 1709294400); // 16th char not Z: local
  EXPECT_EQ(parse_time("19600101T000000Z"), -315619200); // before 1970 stays valid
}

TEST(IcalTime, RejectsMalformed) {
  for (const char* bad : {"", "2024030", "202403011", "30240301", "20241301", "20240001", "20240341",
                          "20240300", "20240301T240000", "20240301T126000", "20240301T120061",
                          "20240301X120000", "2024-03-01", "20240301T12000"})
    EXPECT_EQ(parse_time(bad), -12345) << bad;
}

TEST(IcalTime, FormatIsUtcAndEmptyForZero) {
  EXPECT_EQ(ical_format_time(1709294400), "20240301T120000Z");
  EXPECT_EQ(ical_format_time(0), "");
}

int64_t dur(const char* s) { return ical_parse_duration(s, std::strlen(s)); }

TEST(IcalDuration, PartsSignsAndLimits) {
  EXPECT_EQ(dur("PT15M"), 900);
  EXPECT_EQ(dur("-PT15M"), -900);
  EXPECT_EQ(dur("P1D"), 86400);
  EXPECT_EQ(dur("P2W"), 1209600);
  EXPECT_EQ(dur("P1DT2H3M"), 86400 + 7200 + 180);
  EXPECT_EQ(dur("+PT1H"), 3600);
  EXPECT_EQ(dur("PT0S"), 0);
  EXPECT_EQ(dur("P53W"), 0);
  EXPECT_EQ(dur("P366D"), 0);
  EXPECT_EQ(dur("PT8761H"), 0);
  EXPECT_EQ(dur("PT525601M"), 0);
  EXPECT_EQ(dur("P"), 0);
  EXPECT_EQ(dur("1D"), 0);
  EXPECT_EQ(dur("PT1D"), 0);
  EXPECT_EQ(dur("P1H"), 0);
  EXPECT_EQ(dur("PT5"), 0);
}

IcalRule rule(const char* s, int* rc) {
  IcalRule r;
  *rc = ical_parse_rrule(s, s + std::strlen(s), &r);
  return r;
}

TEST(IcalRrule, WeeklyByDayDailyAndRejections) {
  int rc;
  IcalRule r = rule("FREQ=WEEKLY;BYDAY=MO,WE,FR", &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(r.freq, 2);
  EXPECT_EQ(r.by_day, 2 | 8 | 32);
  r = rule("FREQ=DAILY;WKST=MO", &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(r.freq, 1);
  rule("FREQ=DAILY;", &rc);
  EXPECT_EQ(rc, -1);
  rule("FREQ=DAILY;COUNT", &rc);
  EXPECT_EQ(rc, -1);
  r = rule("freq=monthly;byday=-1SU;interval=2;count=5", &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(r.freq, 3);
  EXPECT_EQ(r.by_day, 1);
  EXPECT_EQ(r.interval, 2);
  EXPECT_EQ(r.end_kind, RECUR_END_COUNT);
  EXPECT_EQ(r.count, 5);
  r = rule("FREQ=YEARLY;UNTIL=20300101T000000Z", &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(r.end_kind, RECUR_END_UNTIL);
  EXPECT_EQ(r.until, 1893456000);
  r = rule("FREQ=SECONDLY", &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(r.freq, 0);
  rule("FREQ=DAILY;UNTIL=bogus", &rc);
  EXPECT_EQ(rc, -1);
}

TEST(IcalText, EscapingAndFoldingNeverSplitsCharactersOrFoldsBeforeSpace) {
  std::string out;
  ical_write_text(&out, "SUMMARY:", "a,b;c\\d\ne\rf");
  EXPECT_EQ(out, "SUMMARY:a\\,b\\;c\\\\d\\nef\r\n");

  std::string title;
  for (int i = 0; i < 40; i++) title += "\xc3\xa4 ";  // "ä " repeated
  out.clear();
  ical_write_text(&out, "SUMMARY:", title.c_str());
  size_t start = 0;
  while (true) {
    size_t crlf = out.find("\r\n", start);
    ASSERT_NE(crlf, std::string::npos);
    EXPECT_LE(crlf - start, 78u);
    if (crlf + 2 >= out.size()) break;
    ASSERT_EQ(out[crlf + 2], ' ');
    unsigned char next = static_cast<unsigned char>(out[crlf + 3]);
    EXPECT_FALSE(next >= 0x80 && next <= 0xBF) << "fold inside a UTF-8 sequence";
    EXPECT_NE(next, ' ') << "fold right before a space";
    start = crlf + 3;
  }
  // Unfolding gives the escaped text back exactly.
  auto comps = ical_read_components(("BEGIN:VEVENT\r\n" + out + "END:VEVENT\r\n").c_str(), out.size() + 26);
  ASSERT_EQ(comps.size(), 1u);
  EXPECT_EQ(comps[0].lines[0], "SUMMARY:" + title);
}

TEST(IcalText, UnescapeHandlesAllSequences) {
  std::string s = "a\\nb\\Nc\\rd\\te\\,f\\;g\\\\h";
  EXPECT_EQ(content_unescape(s.data(), s.size()), "a\nb\ncd\te,f;g\\h");
}

TEST(IcalReminder, UnitsAreLargestExactDivisor) {
  int n;
  char u;
  ical_reminder_unit(5400, &n, &u);
  EXPECT_EQ(n, 90);
  EXPECT_EQ(u, 'M');
  ical_reminder_unit(2 * 86400, &n, &u);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(u, 'D');
  ical_reminder_unit(2 * 604800, &n, &u);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(u, 'W');
  ical_reminder_unit(7200, &n, &u);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(u, 'H');
  ical_reminder_unit(1, &n, &u);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(u, 'M');
}

std::vector<IcalComponent> read(const std::string& s) { return ical_read_components(s.data(), s.size()); }

TEST(IcalReader, CollectsEventsAndTodosAndUnfoldsOneBlank) {
  auto comps = read(
      "\xEF\xBB\xBF"
      "BEGIN:VCALENDAR\r\n"
      "SUMMARY:outside\r\n"
      "BEGIN:VEVENT\r\n"
      "SUMMARY:Team\r\n"
      "  meeting\r\n"
      "END:VTODO\r\n"
      "END:VEVENT\r\n"
      "begin:vtodo\n"
      "SUMMARY:task\n"
      "\tcontinued\n"
      "END:VTODO\n"
      "END:VCALENDAR\r\n");
  ASSERT_EQ(comps.size(), 2u);
  EXPECT_EQ(comps[0].kind, ICAL_EVENT);
  ASSERT_EQ(comps[0].lines.size(), 1u);
  EXPECT_EQ(comps[0].lines[0], "SUMMARY:Team meeting");
  EXPECT_EQ(comps[1].kind, ICAL_TODO);
  EXPECT_EQ(comps[1].lines[0], "SUMMARY:taskcontinued");
}

TEST(IcalReader, SkipsInvalidUtf8AndOversizedComponentsButKeepsLargeOnes) {
  std::string big(8000, 'x');
  auto comps = read("BEGIN:VEVENT\r\nSUMMARY:bad\xff\r\nEND:VEVENT\r\n"
                    "BEGIN:VEVENT\r\nSUMMARY:ok\r\nDESCRIPTION:" + big + "\r\nEND:VEVENT\r\n");
  ASSERT_EQ(comps.size(), 1u);
  EXPECT_EQ(comps[0].lines[1].size(), 12 + big.size());
  std::string huge(kInterchangeItemMax + 10, 'y');
  comps = read("BEGIN:VEVENT\r\nSUMMARY:huge\r\nDESCRIPTION:" + huge + "\r\nEND:VEVENT\r\n");
  EXPECT_TRUE(comps.empty());
}

TEST(IcalReader, EveryComponentReadsTheZonesItsCalendarDefines) {
  // A zone five hours behind UTC all year, under a name no system knows.
  auto comps = read(
      "BEGIN:VCALENDAR\r\n"
      "BEGIN:VTIMEZONE\r\nTZID:Office\r\nBEGIN:STANDARD\r\nDTSTART:19700101T000000\r\n"
      "TZOFFSETFROM:-0500\r\nTZOFFSETTO:-0500\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n"
      "BEGIN:VEVENT\r\nSUMMARY:a\r\nDTSTART;TZID=Office:20260701T090000\r\nEND:VEVENT\r\n"
      "BEGIN:VTODO\r\nSUMMARY:b\r\nDUE;TZID=Office:20260701T100000\r\nEND:VTODO\r\n"
      "END:VCALENDAR\r\n");
  ASSERT_EQ(comps.size(), 2u);
  const int64_t expect[] = {1782914400, 1782918000};  // 14:00 and 15:00 UTC
  for (size_t i = 0; i < comps.size(); i++) {
    EXPECT_EQ(comps[i].zones.count("Office"), 1u);
    IcalEntry e;
    ASSERT_EQ(ical_parse_component(comps[i], &e), 0);
    EXPECT_EQ(e.start, expect[i]) << i;
  }
}

IcalEntry parse(const std::string& body, IcalKind kind, int* rc) {
  auto comps = read(std::string(kind == ICAL_EVENT ? "BEGIN:VEVENT\r\n" : "BEGIN:VTODO\r\n") + body +
                    (kind == ICAL_EVENT ? "END:VEVENT\r\n" : "END:VTODO\r\n"));
  IcalEntry e;
  *rc = comps.size() == 1 ? ical_parse_component(comps[0], &e) : -99;
  return e;
}

TEST(IcalComponent, EventWithDurationTzidAndAlarm) {
  TzGuard tz("America/New_York");
  int rc;
  IcalEntry e = parse(
      "UID:abc\r\n"
      "DTSTART;TZID=Europe/Paris:20240115T090000\r\n"
      "DURATION:PT1H30M\r\n"
      "SUMMARY:Lunch\\, with Ann\r\n"
      "DESCRIPTION:line1\\nline2\r\n"
      "BEGIN:VALARM\r\n"
      "ACTION:DISPLAY\r\n"
      "DESCRIPTION:Alarm text\r\n"
      "SUMMARY:Alarm summary\r\n"
      "TRIGGER;RELATED=START:-PT15M\r\n"
      "END:VALARM\r\n",
      ICAL_EVENT, &rc);
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(e.uid, "abc");
  EXPECT_EQ(e.title, "Lunch, with Ann");
  EXPECT_EQ(e.body, "line1\nline2");
  EXPECT_EQ(e.start, 1705305600);  // 09:00 in Paris, whatever the local zone
  EXPECT_EQ(e.end, e.start + 5400);
  EXPECT_TRUE(e.has_reminder);
  EXPECT_EQ(e.remind_offset, 900);
}

TEST(IcalComponent, TaskDueRulesAndDrops) {
  int rc;
  IcalEntry e = parse("SUMMARY:t\r\nDTSTART:20240101T100000Z\r\nDURATION:PT2H\r\n", ICAL_TODO, &rc);
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(e.start, 1704103200 + 7200);
  e = parse("SUMMARY:t\r\nSTATUS:COMPLETED\r\n", ICAL_TODO, &rc);
  ASSERT_EQ(rc, 0);  // neither DUE nor DTSTART: a task without a date
  EXPECT_EQ(e.start, 0);
  EXPECT_TRUE(e.completed);
  e = parse("SUMMARY:t\r\nDUE:20240101T100000Z\r\nstatus:completed\r\nRRULE:FREQ=DAILY\r\n", ICAL_TODO, &rc);
  ASSERT_EQ(rc, 0);
  EXPECT_TRUE(e.completed);
  EXPECT_TRUE(e.has_rule);
  parse("DTSTART:20240101T100000Z\r\n", ICAL_EVENT, &rc);
  EXPECT_EQ(rc, -1);  // no SUMMARY
  parse("SUMMARY:x\r\n", ICAL_EVENT, &rc);
  EXPECT_EQ(rc, -1);  // no DTSTART
  parse("SUMMARY:x\r\nDTSTART:2024\r\n", ICAL_EVENT, &rc);
  EXPECT_EQ(rc, -1);
  parse("SUMMARY:x\r\nDTSTART:20240101\r\nRRULE:FREQ=DAILY;\r\n", ICAL_EVENT, &rc);
  EXPECT_EQ(rc, -1);
  e = parse("SUMMARY:x\r\nDTSTART:20240101\r\nNOCOLON\r\n", ICAL_EVENT, &rc);
  EXPECT_EQ(rc, 0);  // the line alone is skipped
  EXPECT_EQ(e.title, "x");
  e = parse("SUMMARY:x\r\nDTSTART:20240101T000000Z\r\nBEGIN:VALARM\r\nTRIGGER:-PT0M\r\nEND:VALARM\r\n",
            ICAL_EVENT, &rc);
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(e.remind_offset, 0);
  EXPECT_EQ(e.end, e.start);
}

TEST(IcalWriter, ExportedItemReadsBackWithEveryField) {
  TzGuard tz("Europe/Berlin");
  IcalItem it;
  for (int i = 0; i < 16; i++) it.uuid[i] = static_cast<uint8_t>(i * 17);
  it.is_event = false;
  it.due = 1709294400;
  it.freq = 2;
  it.interval_minus_one = 1;
  it.by_day = 2 | 8;
  it.end_kind = RECUR_END_COUNT;
  it.recur_count = 4;
  it.remind_offset = 5400;
  it.created = 1700000000;
  it.modified = 1700000100;
  it.title = "Weekly report; draft, v2";
  it.body = "Line one\nLine two \\ end";
  std::string out;
  ical_begin_calendar(&out);
  ical_write_item(&out, it, 1709000000);
  ical_end_calendar(&out);
  EXPECT_NE(out.find("RRULE:FREQ=WEEKLY;INTERVAL=2;BYDAY=MO,WE;COUNT=4\r\n"), std::string::npos);
  EXPECT_NE(out.find("TRIGGER:-PT90M\r\n"), std::string::npos);
  EXPECT_NE(out.find("STATUS:NEEDS-ACTION\r\n"), std::string::npos);
  auto comps = read(out);
  ASSERT_EQ(comps.size(), 1u);
  IcalEntry e;
  ASSERT_EQ(ical_parse_component(comps[0], &e), 0);
  uint8_t uuid[16];
  ASSERT_EQ(ical_uid_uuid(e.uid, uuid), 0);
  EXPECT_EQ(std::memcmp(uuid, it.uuid, 16), 0);
  EXPECT_EQ(e.kind, ICAL_TODO);
  EXPECT_EQ(e.start, it.due);
  EXPECT_EQ(e.title, it.title);
  EXPECT_EQ(e.body, it.body);
  EXPECT_EQ(e.rule.freq, 2);
  EXPECT_EQ(e.rule.interval, 2);
  EXPECT_EQ(e.rule.by_day, 2 | 8);
  EXPECT_EQ(e.rule.count, 4);
  EXPECT_EQ(e.remind_offset, 5400);
}

TEST(IcalWriter, MonthlyByDayUsesWeekOfDueDate) {
  TzGuard tz("UTC");
  IcalItem it;
  it.is_event = true;
  it.due = 1710237600;  // Tue 2024-03-12 10:00
  it.end = it.due + 3600;
  it.freq = 3;
  it.by_day = 1;
  it.end_kind = RECUR_END_UNTIL;
  it.last_occurrence = 1735725600;
  std::string out;
  ical_write_item(&out, it, 0);
  EXPECT_NE(out.find("RRULE:FREQ=MONTHLY;BYDAY=2TU;UNTIL=20250101T100000Z\r\n"), std::string::npos) << out;
  it.by_day = 0;
  out.clear();
  ical_write_item(&out, it, 0);
  EXPECT_NE(out.find("BYMONTHDAY=12"), std::string::npos);
  EXPECT_NE(out.find("DTEND:20240312T110000Z"), std::string::npos);
}

TEST(IcalUid, OnlyOurDomainNamesAUuid) {
  uint8_t u[16];
  std::string hex(32, 'a');
  EXPECT_EQ(ical_uid_uuid(hex + "@" + kIcalVendorDomain, u), 0);
  EXPECT_EQ(ical_uid_uuid(hex + "@example.com", u), -1);
  EXPECT_EQ(ical_uid_uuid(hex.substr(1) + "@" + kIcalVendorDomain, u), -1);
  EXPECT_EQ(ical_uid_uuid("", u), -1);
}

}  // namespace
