// SPDX-License-Identifier: GPL-3.0-or-later
// Real calendar and address-book files written by other programs: every one
// imports without a crash, a hang or a sanitizer report, and what a person
// would expect of a good number of them comes through.
#include <filesystem>
#include <algorithm>
#include <map>

#include "interchange_fixture.h"

namespace {

namespace fs = std::filesystem;

const std::string kCorpora = ORDIKA_SOURCE_DIR "/tests/data/corpora";

std::vector<std::string> files_in(const char* sub, const char* ext) {
  std::vector<std::string> out;
  std::error_code ec;
  for (auto& e : fs::directory_iterator(kCorpora + "/" + sub, ec))
    if (e.path().extension() == ext) out.push_back(e.path().string());
  std::sort(out.begin(), out.end());
  return out;
}

class CorporaTest : public InterchangeTest {
 protected:
  void clear() {
    std::vector<int64_t> slots;
    int64_t c = -1;
    while (slot_next<Item>(model().items, &c)) slots.push_back(c);
    for (int64_t s : slots) item_remove(s);
  }
  std::string summary() {
    std::string out;
    int64_t c = -1;
    while (Item* item = slot_next<Item>(model().items, &c)) {
      char buf[256];
      snprintf(buf, sizeof buf, "  [%d] '%s' due=%s end=%s freq=%d iv=%d bd=%d ek=%d cnt=%d rem=%d fl=%d\n", item->type,
               item->title.c_str(), fmt(item->due).c_str(), item->end ? fmt(item->end).c_str() : "-",
               item->recurrence.freq, item->recurrence.interval_minus_one, item->recurrence.by_day,
               item->recurrence.end_kind, item->recur_count, item->remind_offset, item->flags);
      out += buf;
    }
    return out;
  }
};

TEST_F(CorporaTest, Survey) {
  // ORDIKA_SURVEY=1 prints what every file gives (for writing expectations).
  if (!getenv("ORDIKA_SURVEY")) GTEST_SKIP();
  for (auto& f : files_in("ics", ".ics")) {
    ImportReport r;
    int n = import_calendar(f.c_str(), model().view, &r);
    printf("%s: %d imported %d skipped\n%s", fs::path(f).filename().c_str(), n, r.skipped, summary().c_str());
    clear();
  }
  for (auto& f : files_in("vcf", ".vcf")) {
    ImportReport r;
    int n = import_contacts(f.c_str(), model().view, &r);
    printf("%s: %d imported %d skipped\n", fs::path(f).filename().c_str(), n, r.skipped);
    int64_t c = -1;
    while (Item* item = slot_next<Item>(model().items, &c))
      printf("  '%s' due=%s\n%s\n", item->title.c_str(), fmt(item->due).c_str(), item_body_load(item).c_str());
    clear();
  }
}

// Every file imports; what we export of it reads back as the same items
// (updated by UID, not duplicated).
TEST_F(CorporaTest, EveryCalendarImportsAndRoundTrips) {
  auto files = files_in("ics", ".ics");
  ASSERT_GE(files.size(), 100u) << "corpus missing at " << kCorpora;
  int total = 0;
  for (auto& f : files) {
    SCOPED_TRACE(f);
    ImportReport r;
    int n = import_calendar(f.c_str(), model().view, &r);
    ASSERT_GE(n, 0);
    EXPECT_EQ(n, r.imported);
    total += n;
    if (n > 0) {
      std::string before = summary();
      std::string out = dir.file("rt.ics");
      ASSERT_EQ(export_calendar(out.c_str(), 0, -1), n);
      ImportReport again;
      EXPECT_EQ(import_calendar(out.c_str(), model().view, &again), n);
      EXPECT_EQ(again.updated, n);
      EXPECT_EQ(summary(), before);
    }
    clear();
  }
  EXPECT_GE(total, 80);
}

TEST_F(CorporaTest, EveryAddressBookImportsAndRoundTrips) {
  auto files = files_in("vcf", ".vcf");
  ASSERT_GE(files.size(), 15u);
  for (auto& f : files) {
    SCOPED_TRACE(f);
    ImportReport r;
    int n = import_contacts(f.c_str(), model().view, &r);
    EXPECT_GE(n, 1);
    std::map<std::string, std::string> bodies;
    int64_t c = -1;
    while (Item* item = slot_next<Item>(model().items, &c)) bodies[item->title] = item_body_load(item);
    std::string out = dir.file("rt.vcf");
    ASSERT_EQ(export_contacts(out.c_str(), 0, -1), n);
    clear();
    EXPECT_EQ(import_contacts(out.c_str(), model().view), n);
    std::map<std::string, std::string> again;
    c = -1;
    while (Item* item = slot_next<Item>(model().items, &c)) again[item->title] = item_body_load(item);
    EXPECT_EQ(again.size(), bodies.size());
    clear();
  }
}

class CorporaFileTest : public CorporaTest {
 protected:
  int load(const char* name, ImportReport* r = nullptr) {
    std::string path = kCorpora + "/" + (std::string(name).find(".vcf") != std::string::npos ? "vcf/" : "ics/") + name;
    return std::string(name).find(".vcf") != std::string::npos ? import_contacts(path.c_str(), model().view, r)
                                                                : import_calendar(path.c_str(), model().view, r);
  }
  static std::vector<Item*> all_titled(const std::string& title) {
    std::vector<Item*> out;
    int64_t c = -1;
    while (Item* item = slot_next<Item>(model().items, &c))
      if (item->title == title) out.push_back(item);
    return out;
  }
  static VCardRecord card(const Item* item) {
    VCardRecord rec;
    std::string body = item_body_load(item);
    EXPECT_EQ(vcard_parse(body.data(), body.size(), &rec), 0);
    return rec;
  }
};

TEST_F(CorporaFileTest, HolidaysAsAllDayDates) {
  EXPECT_EQ(load("icalendar-example.ics"), 3);
  ASSERT_TRUE(titled("New Year's Day"));
  EXPECT_EQ(titled("New Year's Day")->due, lt(2022, 1, 1));
  EXPECT_EQ(titled("Orthodox Christmas")->due, lt(2022, 1, 7));
  EXPECT_EQ(titled("International Women's Day")->due, lt(2022, 3, 8));
  EXPECT_EQ(titled("International Women's Day")->type, ITEM_EVENT);
}

TEST_F(CorporaFileTest, RecurringEventsWithAlarms) {
  // Clock times of Los Angeles, seen from Berlin nine hours later.
  EXPECT_EQ(load("icaljs-daily_recur.ics"), 1);
  Item* daily = titled("Every day recurring");
  ASSERT_TRUE(daily);
  EXPECT_EQ(daily->due, lt(2012, 8, 1, 14));
  EXPECT_EQ(daily->end, lt(2012, 8, 1, 15));
  EXPECT_EQ(daily->recurrence.freq, FREQ_DAILY);
  EXPECT_EQ(daily->recurrence.end_kind, RECUR_FOREVER);
  EXPECT_EQ(daily->remind_offset, 1800);  // the alarm's "-P0DT0H30M0S", not its SUMMARY

  EXPECT_EQ(load("icaljs-parserv2.ics"), 1);
  Item* cal = titled("Calendar");
  ASSERT_TRUE(cal);
  EXPECT_EQ(cal->due, lt(2012, 9, 11, 19, 30));
  EXPECT_EQ(cal->remind_offset, 300);

  EXPECT_EQ(load("icalendar-issue_1081_event_with_rrule.ics"), 1);
  Item* counted = titled("Test Event");
  ASSERT_TRUE(counted);
  EXPECT_EQ(counted->due, 1735725600);  // 2025-01-01 10:00 UTC
  EXPECT_EQ(counted->recurrence.freq, FREQ_DAILY);
  EXPECT_EQ(counted->recurrence.end_kind, RECUR_COUNT);
  EXPECT_EQ(counted->recur_count, 10);

  EXPECT_EQ(load("icalendar-x_location.ics"), 1);
  Item* sync = titled("Daily Sync");
  ASSERT_TRUE(sync);
  EXPECT_EQ(sync->due, lt(2016, 10, 28, 14));
  EXPECT_EQ(sync->end, lt(2016, 10, 28, 14, 30));
  EXPECT_EQ(sync->recurrence.freq, FREQ_WEEKLY);
  EXPECT_EQ(sync->recurrence.by_day, 0x3E);  // Monday to Friday

  EXPECT_EQ(load("icalendar-issue_165_missing_event.ics"), 1);
  Item* standup = titled("Sprint 25 Daily Standup");
  ASSERT_TRUE(standup);
  EXPECT_EQ(standup->due, lt(2015, 7, 3, 10));
  EXPECT_EQ(standup->recurrence.end_kind, RECUR_UNTIL);
  EXPECT_EQ(standup->last_occurrence <= 1437552000, true);  // until 2015-07-22 08:00 UTC

  // Of two RRULE lines the last one counts.
  EXPECT_EQ(load("icaljs-multiple_rrules.ics"), 1);
  Item* multi = titled("sahaja <> frashed");
  ASSERT_TRUE(multi);
  EXPECT_EQ(multi->recurrence.freq, FREQ_MONTHLY);
  EXPECT_EQ(multi->recurrence.by_day, 1);
  EXPECT_EQ(multi->recurrence.end_kind, RECUR_UNTIL);
}

TEST_F(CorporaFileTest, DurationsTextsAndSkippedComponents) {
  EXPECT_EQ(load("icaljs-duration_instead_of_dtend.ics"), 1);
  Item* day = titled("Really long event name thing");
  ASSERT_TRUE(day);
  EXPECT_EQ(day->end - day->due, 86400);

  EXPECT_EQ(load("icalendar-created_calendar_with_unicode_fields.ics"), 2);
  EXPECT_TRUE(titled("Non-ASCII Test: \xC3\x84\xC3\x96\xC3\x9C \xC3\xA4\xC3\xB6\xC3\xBC \xE2\x82\xAC"));
  EXPECT_EQ(load("icalendar-issue_350.ics"), 1);
  EXPECT_TRUE(titled("Termin 4353 und\"so\""));
  EXPECT_EQ(load("icalendar-issue_722_timezone_transition_ambiguity.ics"), 4);
  EXPECT_TRUE(titled("This event is clearly in summer"));

  // Birthdays: one recurring series and its moved instances.
  EXPECT_EQ(load("icaljs-google_birthday.ics"), 4);
  EXPECT_EQ(all_titled("PErson #2's birthday").size(), 4u);

  // Components without SUMMARY or start, and empty calendars, give nothing.
  ImportReport r;
  EXPECT_EQ(load("icalendar-big_bad_calendar.ics", &r), 0);
  EXPECT_EQ(r.skipped, 20);
  EXPECT_EQ(load("icalendar-rfc_5545_RDATE_example.ics", &r), 0);
  EXPECT_EQ(load("icalendar-pr_480_summary_with_colon.ics", &r), 0);
  EXPECT_EQ(load("icalendar-bom_calendar.ics", &r), 0);
  EXPECT_EQ(r.skipped, 0);
  EXPECT_EQ(load("icaljs-blank_line_mid.ics", &r), 0);
  // A task with neither due date nor start comes in without a date.
  EXPECT_EQ(load("icalendar-issue_1050_calendar_with_events_and_todos.ics", &r), 3);
  EXPECT_EQ(r.skipped, 0);
  ASSERT_TRUE(titled("Test Todo 1"));
  EXPECT_EQ(titled("Test Todo 1")->type, ITEM_TASK);
  EXPECT_EQ(titled("Test Todo 1")->due, 0);
}

TEST_F(CorporaFileTest, PhonesNamesAndAddressesFromAddressBooks) {
  EXPECT_EQ(load("ezvcard-John_Doe_IPHONE.vcf"), 1);
  Item* john = titled("Mr. John Richter James Doe Sr.");
  ASSERT_TRUE(john);
  VCardRecord rec = card(john);
  EXPECT_EQ(rec.birthday, 20120606);
  EXPECT_EQ(john->recurrence.freq, FREQ_YEARLY);
  EXPECT_EQ(john->remind_offset, 86400);
  EXPECT_EQ(vcard_url(rec), "http://www.ibm.com");
  ASSERT_EQ(rec.phones.size(), 7u);
  EXPECT_EQ(rec.phones[0].value, "905-555-1234");
  EXPECT_EQ(rec.phones[0].flags & (TEL_PREF | TEL_CELL), TEL_PREF | TEL_CELL);
  EXPECT_EQ(rec.phones[3].flags & (TEL_HOME | TEL_FAX), TEL_HOME | TEL_FAX);
  ASSERT_EQ(rec.emails.size(), 1u);
  EXPECT_EQ(rec.emails[0].value, "john.doe@ibm.com");
  ASSERT_EQ(rec.addresses.size(), 2u);
  EXPECT_EQ(vcard_unescape(rec.addresses[1].part[2]), "Street4\nBuilding 6\nFloor 8");

  // Cards of a phone without a formatted name are named by their e-mail.
  EXPECT_EQ(load("ezvcard-John_Doe_ANDROID.vcf"), 6);
  EXPECT_TRUE(titled("john.doe@company.com"));
  EXPECT_TRUE(titled("jane.doe@company.com"));
  // Quoted-printable UTF-8 names.
  EXPECT_TRUE(titled("\xC3\x91\xC3\x91\xC3\x91\xC3\x91"));

  // An escaped comma in FN is a comma in the title.
  EXPECT_EQ(load("ezvcard-John_Doe_EVOLUTION.vcf"), 1);
  Item* evo = titled("Mr. John Richter, James Doe Sr.");
  ASSERT_TRUE(evo);
  EXPECT_EQ(card(evo).birthday, 19800322);

  EXPECT_EQ(load("ezvcard-rfc2426-example.vcf"), 2);
  Item* frank = titled("Frank Dawson");
  ASSERT_TRUE(frank);
  rec = card(frank);
  ASSERT_EQ(rec.phones.size(), 2u);
  EXPECT_EQ(rec.phones[0].value, "+1-919-676-9515");
  EXPECT_EQ(rec.phones[1].flags, TEL_FAX | TEL_WORK);
  ASSERT_EQ(rec.emails.size(), 2u);
  EXPECT_EQ(rec.emails[1].value, "fdawson@earthlink.net");
  ASSERT_EQ(rec.addresses.size(), 1u);
  EXPECT_EQ(rec.addresses[0].part[3], "Raleigh");  // across a folded line
  EXPECT_TRUE(titled("Tim Howes"));

  EXPECT_EQ(load("ezvcard-outlook-2007.vcf"), 1);
  Item* mike = titled("Mr. Michael Angstadt Jr.");
  ASSERT_TRUE(mike);
  rec = card(mike);
  EXPECT_EQ(rec.birthday, 19220310);
  EXPECT_EQ(rec.phones.size(), 4u);
  EXPECT_EQ(vcard_unescape(rec.note).rfind("This is the NOTE field", 0), 0u);

  EXPECT_EQ(load("ezvcard-gmail-list.vcf"), 3);
  EXPECT_TRUE(titled("Arnold Smith"));
  EXPECT_TRUE(titled("Doug White"));
  EXPECT_EQ(load("ezvcard-rfc6350-example.vcf"), 1);
  Item* simon = titled("Simon Perreault");
  ASSERT_TRUE(simon);
  EXPECT_EQ(card(simon).emails[0].value, "simon.perreault@viagenie.ca");
}

}  // namespace
