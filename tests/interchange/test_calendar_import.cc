// SPDX-License-Identifier: GPL-3.0-or-later
// Tasks and events through calendar files: export layout, re-import by UID,
// the import rules and the mended faults (dates before 1970, missing UIDs,
// large intervals, alarm texts, oversized components).
#include "interchange_fixture.h"

namespace {

class CalendarTest : public InterchangeTest {};

int64_t store_form(int type, const ItemForm& f) { return item_store(-1, type, f, 0, model().view); }

TEST_F(CalendarTest, ExportWritesTheSubsetAndReimportUpdatesByUid) {
  ItemForm ev;
  ev.title = "Team, sync; weekly";
  ev.body = "Line1\nLine2";
  ev.due = lt(2030, 3, 4, 10, 0);  // a Monday
  ev.end = ev.due + 3600;
  ev.freq = FREQ_WEEKLY;
  ev.interval_minus_one = 1;
  ev.by_day = 2 | 8;  // MO, WE
  ev.end_kind = RECUR_COUNT;
  ev.recur_count = 10;
  ev.remind_unit = 1;
  ev.remind_count = 90;
  int64_t es = store_form(ITEM_EVENT, ev);
  ASSERT_GE(es, 0);
  ItemForm task;
  task.title = "File taxes";
  task.due = lt(2030, 5, 31, 12, 0);
  task.remind_unit = 3;
  task.remind_count = 2;
  task.flags = ITEM_COMPLETED;
  int64_t ts = store_form(ITEM_TASK, task);
  ASSERT_GE(ts, 0);
  ItemForm note;
  note.title = "not exported";
  ASSERT_GE(store_form(ITEM_NOTE, note), 0);

  std::string path = dir.file("out.ics");
  ASSERT_EQ(export_calendar(path.c_str(), 0, -1), 2);
  std::string text = read(path);
  EXPECT_EQ(text.rfind("BEGIN:VCALENDAR\r\nPRODID:-//Velmor Inc.//Ordika Calendar 1.0//EN\r\n", 0), 0u);
  EXPECT_NE(text.find("UID:" + uuid_to_hex(item_get(es)->uuid) + "@" + kIcalVendorDomain + "\r\n"), std::string::npos);
  EXPECT_NE(text.find("RRULE:FREQ=WEEKLY;INTERVAL=2;BYDAY=MO,WE;COUNT=10\r\n"), std::string::npos);
  EXPECT_NE(text.find("DTSTART:20300304T090000Z\r\nDTEND:20300304T100000Z\r\n"), std::string::npos);
  EXPECT_NE(text.find("SUMMARY:Team\\, sync\\; weekly\r\n"), std::string::npos);
  EXPECT_NE(text.find("DESCRIPTION:Line1\\nLine2\r\n"), std::string::npos);
  EXPECT_NE(text.find("TRIGGER:-PT90M\r\n"), std::string::npos);
  EXPECT_NE(text.find("TRIGGER:-P2D\r\n"), std::string::npos);
  EXPECT_NE(text.find("STATUS:COMPLETED\r\nCOMPLETED:20300531T100000Z\r\n"), std::string::npos);
  EXPECT_EQ(text.find("not exported"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 15), "END:VCALENDAR\r\n");

  // The same file again updates both items instead of duplicating them.
  size_t items_before = items_of(ITEM_EVENT).size() + items_of(ITEM_TASK).size();
  std::string edited = text;
  edited.replace(edited.find("SUMMARY:Team"), 12, "SUMMARY:Crew");
  ImportReport r;
  EXPECT_EQ(import_ics(edited, &r), 2);
  EXPECT_EQ(r.updated, 2);
  EXPECT_EQ(items_of(ITEM_EVENT).size() + items_of(ITEM_TASK).size(), items_before);
  const Item* e = item_get(es);
  EXPECT_EQ(e->title, "Crew, sync; weekly");
  EXPECT_EQ(e->due, ev.due);
  EXPECT_EQ(e->end, ev.end);
  EXPECT_EQ(e->recurrence.freq, FREQ_WEEKLY);
  EXPECT_EQ(e->recurrence.interval_minus_one, 1);
  EXPECT_EQ(e->recurrence.by_day, 2 | 8);
  EXPECT_EQ(e->recurrence.end_kind, RECUR_COUNT);
  EXPECT_EQ(e->recur_count, 10);
  EXPECT_EQ(e->remind_offset, 5400);
  EXPECT_EQ(item_body_load(e), "Line1\nLine2");
  const Item* t = item_get(ts);
  EXPECT_TRUE(t->flags & ITEM_COMPLETED);

  // A re-import that says the task is open again reopens it.
  std::string reopened = text;
  reopened.replace(reopened.find("STATUS:COMPLETED"), 16, "STATUS:NEEDS-ACTION");
  EXPECT_EQ(import_ics(reopened), 2);
  EXPECT_FALSE(item_get(ts)->flags & ITEM_COMPLETED);
}

TEST_F(CalendarTest, ImportRulesAndMendedFaults) {
  std::string cal = vcalendar(
      // Local time with a zone parameter, clamped interval, alarm texts.
      "BEGIN:VEVENT\nUID:abc@elsewhere.example\nDTSTART;TZID=Europe/Paris:20300301T090000\n"
      "DTEND;TZID=Europe/Paris:20300301T100000\nRRULE:FREQ=WEEKLY;BYDAY=MO,WE,FR;INTERVAL=500\n"
      "SUMMARY:Standup\nBEGIN:VALARM\nACTION:DISPLAY\nSUMMARY:Alarm title\nDESCRIPTION:Alarm text\n"
      "TRIGGER:-PT15M\nEND:VALARM\nEND:VEVENT\n"
      // A yearly series reaching 1970 at midnight UTC: the next one, as 0 means no date.
      "BEGIN:VEVENT\nDTSTART:19650101T000000Z\nRRULE:FREQ=YEARLY\nSUMMARY:Epoch\nEND:VEVENT\n"
      // A daily series from the year 1000 moves without walking every day.
      "BEGIN:VEVENT\nDTSTART:10000101T090000Z\nRRULE:FREQ=DAILY;INTERVAL=3\nSUMMARY:Ancient\nEND:VEVENT\n"
      // No UID, a birthday from before 1970.
      "BEGIN:VEVENT\nDTSTART;VALUE=DATE:19650704\nRRULE:FREQ=YEARLY\nSUMMARY:Birthday\nEND:VEVENT\n"
      // A one-off event before 1970: skipped.
      "BEGIN:VEVENT\nUID:old\nDTSTART:19600101T120000Z\nSUMMARY:Old\nEND:VEVENT\n"
      // A counted series crossing 1970: the occurrences before it are used up.
      "BEGIN:VEVENT\nUID:count\nDTSTART:19691230T120000Z\nRRULE:FREQ=DAILY;COUNT=5\nSUMMARY:Count\nEND:VEVENT\n"
      // A counted series ending before 1970: skipped.
      "BEGIN:VEVENT\nUID:ended\nDTSTART:19691201T120000Z\nRRULE:FREQ=DAILY;COUNT=3\nSUMMARY:Ended\nEND:VEVENT\n"
      // A task due from DTSTART plus DURATION.
      "BEGIN:VTODO\nUID:t1\nDTSTART:20300101T080000Z\nDURATION:PT2H\nSUMMARY:Task\nEND:VTODO\n"
      // A task without DUE or DTSTART: a task without a date.
      "BEGIN:VTODO\nUID:t2\nSUMMARY:Undated\nEND:VTODO\n"
      // A rule ending in ";": skipped.
      "BEGIN:VEVENT\nUID:bad\nDTSTART:20300101T080000Z\nRRULE:FREQ=DAILY;\nSUMMARY:Bad\nEND:VEVENT\n"
      // Completed, a trigger after the start, an escaped description.
      "BEGIN:VTODO\nUID:t3\nDUE:20300102\nSTATUS:completed\nSUMMARY:Done\nDESCRIPTION:a\\nb\\, c\\;d\n"
      "BEGIN:VALARM\nTRIGGER;RELATED=END:PT5M\nEND:VALARM\nEND:VTODO\n"
      // Monthly on the n-th weekday.
      "BEGIN:VEVENT\nUID:m\nDTSTART:20300312T180000Z\nRRULE:FREQ=MONTHLY;BYDAY=2TU;UNTIL=20301231T000000Z\n"
      "SUMMARY:Club\nEND:VEVENT\n");
  ImportReport r;
  EXPECT_EQ(import_ics(cal, &r), 9);
  EXPECT_EQ(r.imported, 9);
  EXPECT_EQ(r.skipped, 3);
  EXPECT_EQ(r.updated, 0);

  Item* standup = titled("Standup");
  ASSERT_TRUE(standup);
  EXPECT_EQ(standup->type, ITEM_EVENT);
  EXPECT_EQ(standup->due, lt(2030, 3, 1, 9, 0));
  EXPECT_EQ(standup->end, lt(2030, 3, 1, 10, 0));
  EXPECT_EQ(standup->recurrence.freq, FREQ_WEEKLY);
  EXPECT_EQ(standup->recurrence.interval_minus_one, 127);  // INTERVAL=500 held as 128
  EXPECT_EQ(standup->recurrence.by_day, 2 | 8 | 32);
  EXPECT_EQ(standup->remind_offset, 900);
  EXPECT_EQ(item_body_load(standup), "");  // the alarm's text is not the item's

  Item* bday = titled("Birthday");
  ASSERT_TRUE(bday);
  EXPECT_EQ(bday->due, lt(1970, 7, 4));
  EXPECT_EQ(bday->recurrence.freq, FREQ_YEARLY);

  EXPECT_EQ(titled("Old"), nullptr);
  ASSERT_TRUE(titled("Epoch"));
  EXPECT_EQ(titled("Epoch")->due, 31536000);  // 1 January 1971, 00:00 UTC
  Item* ancient = titled("Ancient");
  ASSERT_TRUE(ancient);
  EXPECT_GE(ancient->due, 0);
  EXPECT_LT(ancient->due, 3 * 86400 + 86400);
  EXPECT_EQ(ancient->recurrence.interval_minus_one, 2);
  EXPECT_EQ(titled("Ended"), nullptr);
  Item* count = titled("Count");
  ASSERT_TRUE(count);
  EXPECT_EQ(count->due, 43200);  // 1 January 1970, 12:00 UTC
  EXPECT_EQ(count->recurrence.end_kind, RECUR_COUNT);
  EXPECT_EQ(count->recur_count, 3);

  Item* task = titled("Task");
  ASSERT_TRUE(task);
  EXPECT_EQ(task->type, ITEM_TASK);
  EXPECT_EQ(task->due, 1893492000);  // 2030-01-01 10:00 UTC
  ASSERT_TRUE(titled("Undated"));
  EXPECT_EQ(titled("Undated")->due, 0);
  EXPECT_EQ(titled("Undated")->type, ITEM_TASK);
  EXPECT_EQ(titled("Bad"), nullptr);

  Item* done = titled("Done");
  ASSERT_TRUE(done);
  EXPECT_TRUE(done->flags & ITEM_COMPLETED);
  EXPECT_EQ(done->due, lt(2030, 1, 2));
  EXPECT_EQ(done->remind_offset, 1);  // at the due time
  EXPECT_EQ(item_body_load(done), "a\nb, c;d");

  Item* club = titled("Club");
  ASSERT_TRUE(club);
  EXPECT_EQ(club->recurrence.freq, FREQ_MONTHLY);
  EXPECT_EQ(club->recurrence.by_day, 1);
  EXPECT_EQ(club->recurrence.end_kind, RECUR_UNTIL);

  // New items went into the selected tag.
  EXPECT_EQ(linked_items(static_cast<int32_t>(g_repos[0].root)).size(), 9u);
}

TEST_F(CalendarTest, IntervalsOutsideTheRecordAreClamped) {
  std::string cal = vcalendar(
      "BEGIN:VEVENT\nDTSTART:20300101T080000Z\nRRULE:FREQ=DAILY;INTERVAL=0\nSUMMARY:Zero\nEND:VEVENT\n"
      "BEGIN:VEVENT\nDTSTART:20300101T080000Z\nRRULE:FREQ=DAILY;INTERVAL=-5\nSUMMARY:Negative\nEND:VEVENT\n"
      "BEGIN:VEVENT\nDTSTART:20300101T080000Z\nRRULE:FREQ=YEARLY;INTERVAL=128\nSUMMARY:Max\nEND:VEVENT\n"
      "BEGIN:VEVENT\nDTSTART:20300101T080000Z\nRRULE:FREQ=DAILY;COUNT=0\nSUMMARY:NoCount\nEND:VEVENT\n");
  EXPECT_EQ(import_ics(cal), 4);
  EXPECT_EQ(titled("Zero")->recurrence.interval_minus_one, 0);
  EXPECT_EQ(titled("Negative")->recurrence.interval_minus_one, 0);
  EXPECT_EQ(titled("Max")->recurrence.interval_minus_one, 127);
  EXPECT_EQ(titled("NoCount")->recur_count, 1);
}

TEST_F(CalendarTest, OurUidOfAnotherKindOfItemGivesANewItem) {
  ItemForm note;
  note.title = "a note";
  note.body = "keep me";
  int64_t ns = store_form(ITEM_NOTE, note);
  ASSERT_GE(ns, 0);
  std::string uid = uuid_to_hex(item_get(ns)->uuid) + "@" + kIcalVendorDomain;
  ImportReport r;
  EXPECT_EQ(import_ics(vcalendar("BEGIN:VEVENT\nUID:" + uid + "\nDTSTART:20300101T080000Z\nSUMMARY:Ev\nEND:VEVENT\n"), &r),
            1);
  EXPECT_EQ(r.updated, 0);
  EXPECT_EQ(item_get(ns)->type, ITEM_NOTE);
  EXPECT_EQ(item_get(ns)->title, "a note");
  EXPECT_EQ(item_body_load(item_get(ns)), "keep me");
  EXPECT_NE(titled("Ev"), nullptr);
}

TEST_F(CalendarTest, LongTextsStayWholeUpToTheItemLimit) {
  std::string long_text(100000, 'x');
  for (size_t i = 0; i < long_text.size(); i += 70) long_text[i] = ',';
  std::string huge(kInterchangeItemMax + 10, 'y');
  std::string cal = vcalendar("BEGIN:VEVENT\nUID:l\nDTSTART:20300101T080000Z\nSUMMARY:Long\nDESCRIPTION:" +
                              ical_escape_text(long_text.c_str()) + "\nEND:VEVENT\n" +
                              "BEGIN:VEVENT\nUID:h\nDTSTART:20300101T080000Z\nSUMMARY:Huge\nDESCRIPTION:" + huge +
                              "\nEND:VEVENT\n");
  ImportReport r;
  EXPECT_EQ(import_ics(cal, &r), 1);
  ASSERT_NE(titled("Long"), nullptr);
  EXPECT_EQ(item_body_load(titled("Long")), long_text);
  EXPECT_EQ(titled("Huge"), nullptr);

  // And out again, folded, and back in by UID.
  std::string path = dir.file("long.ics");
  ASSERT_EQ(export_calendar(path.c_str(), 0, -1), 1);
  std::string text = read(path);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find("\r\n", pos);
    ASSERT_NE(nl, std::string::npos);
    EXPECT_LE(nl - pos, 75u);
    pos = nl + 2;
  }
  EXPECT_EQ(import_ics(text, &r), 1);
  EXPECT_EQ(r.updated, 1);
  EXPECT_EQ(item_body_load(titled("Long")), long_text);
}

TEST_F(CalendarTest, FilesThatCannotBeReadOrWritten) {
  EXPECT_EQ(import_calendar(dir.file("missing.ics").c_str(), model().view), -1);
  EXPECT_EQ(import_calendar(dir.path().c_str(), model().view), -1);  // a directory
  EXPECT_EQ(export_calendar((dir.path() + "/no/such/dir/x.ics").c_str(), 0, -1), -1);
  // No real tag to import into: the import is refused as a whole.
  int64_t before = slot_array_count(model().items);
  model().view = VIEW_REMINDERS;
  ImportReport r;
  EXPECT_EQ(import_ics(vcalendar("BEGIN:VEVENT\nDTSTART:20300101T080000Z\nSUMMARY:x\nEND:VEVENT\n"), &r), -1);
  EXPECT_EQ(r.imported, 0);
  EXPECT_EQ(slot_array_count(model().items), before);
}

TEST_F(CalendarTest, UndatedTasksRoundTrip) {
  ItemForm t;
  t.title = "Someday";
  t.flags = ITEM_COMPLETED;
  int64_t s = item_store(-1, ITEM_TASK, t, 0, model().view);
  ASSERT_GE(s, 0);
  ASSERT_EQ(item_get(s)->due, 0);
  std::string path = dir.file("undated.ics");
  ASSERT_EQ(export_calendar(path.c_str(), 0, -1), 1);
  std::string text = read(path);
  // No empty values: other readers reject them, and so would we.
  EXPECT_EQ(text.find("DUE:"), std::string::npos);
  EXPECT_EQ(text.find("COMPLETED:"), std::string::npos);
  ImportReport r;
  EXPECT_EQ(import_ics(text, &r), 1);
  EXPECT_EQ(r.updated, 1);
  EXPECT_EQ(item_get(s)->due, 0);
  EXPECT_TRUE(item_get(s)->flags & ITEM_COMPLETED);
}

TEST_F(CalendarTest, SingleItemExport) {
  ItemForm a, b;
  a.title = "A";
  a.due = lt(2030, 1, 1, 9);
  b.title = "B";
  b.due = lt(2030, 1, 2, 9);
  int64_t sa = store_form(ITEM_EVENT, a);
  ASSERT_GE(store_form(ITEM_TASK, b), 0);
  std::string path = dir.file("one.ics");
  ASSERT_EQ(export_calendar(path.c_str(), 0, sa), 1);
  std::string text = read(path);
  EXPECT_NE(text.find("SUMMARY:A\r\n"), std::string::npos);
  EXPECT_EQ(text.find("SUMMARY:B\r\n"), std::string::npos);
  EXPECT_EQ(text.find("BEGIN:VTODO"), std::string::npos);
}

}  // namespace
