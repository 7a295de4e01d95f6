// SPDX-License-Identifier: GPL-3.0-or-later
// Kept components: files split per UID, imports keeping what they read,
// edits written back with only the changed properties, contacts' labels,
// and full rules coming in from files.
#include <algorithm>
#include <cstring>
#include <functional>

#include "interchange/components.h"
#include "interchange_fixture.h"
#include "interchange/vcard_edit.h"
#include "model/full_rule.h"
#include "storage/repo.h"
#include "storage/source_store.h"

namespace {

// The repository table entry of repository 0, so that it has a source store.
class ComponentsTest : public InterchangeTest {
 protected:
  void SetUp() override {
    InterchangeTest::SetUp();
    RepoEntry e;
    e.path = dir.path();
    std::memcpy(e.key, g_repos[0].key, 32);
    repo_table().push_back(e);
  }
  void TearDown() override {
    for (RepoEntry& e : repo_table()) source_close(&e);
    repo_table().clear();
    InterchangeTest::TearDown();
  }

  static SourceRecord kept_of(const Item* item) {
    SourceRecord r;
    EXPECT_EQ(0, source_get(0, item->uuid, &r));
    return r;
  }
  // Changes the stored item as an editor would.
  static void edit(Item* item, const std::function<void(ItemForm*)>& change) {
    int64_t slot = item_find(item->uuid);
    ItemForm f;
    item_form_fill(slot, item->type, &f);
    change(&f);
    ASSERT_EQ(slot, item_store(slot, item->type, f, 0, model().view));
  }
  // The lines of a text that are not in the other, in order.
  static std::vector<std::string> lines_not_in(const std::string& a, const std::string& b) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < a.size()) {
      size_t nl = a.find("\r\n", pos);
      if (nl == std::string::npos) nl = a.size();
      std::string line = a.substr(pos, nl - pos) + "\r\n";
      if (b.find(line) == std::string::npos) out.push_back(a.substr(pos, nl - pos));
      pos = nl + 2;
    }
    return out;
  }
};

// A rich series a shared calendar holds: attendees, three alarms,
// categories, an attachment, X- properties, an exception, an overridden
// instance and its time zone.
const char kRich[] =
    "BEGIN:VCALENDAR\r\n"
    "VERSION:2.0\r\n"
    "PRODID:-//Other//Calendar 9//EN\r\n"
    "BEGIN:VTIMEZONE\r\n"
    "TZID:Europe/Berlin\r\n"
    "BEGIN:STANDARD\r\nDTSTART:19701025T030000\r\nTZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\n"
    "RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\nEND:STANDARD\r\n"
    "BEGIN:DAYLIGHT\r\nDTSTART:19700329T020000\r\nTZOFFSETFROM:+0100\r\nTZOFFSETTO:+0200\r\n"
    "RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU\r\nEND:DAYLIGHT\r\n"
    "END:VTIMEZONE\r\n"
    "BEGIN:VEVENT\r\n"
    "UID:rich-1@example.org\r\n"
    "DTSTAMP:20300101T000000Z\r\n"
    "DTSTART;TZID=Europe/Berlin:20300107T100000\r\n"
    "DTEND;TZID=Europe/Berlin:20300107T110000\r\n"
    "RRULE:FREQ=WEEKLY;BYDAY=MO,TH\r\n"
    "EXDATE;TZID=Europe/Berlin:20300110T100000\r\n"
    "SUMMARY;LANGUAGE=en:Planning\r\n"
    "DESCRIPTION:Agenda in the wiki\r\n"
    "ORGANIZER;CN=Ana:mailto:ana@example.org\r\n"
    "ATTENDEE;CN=Bo;PARTSTAT=ACCEPTED;ROLE=REQ-PARTICIPANT:mailto:bo@example.or\r\n"
    " g\r\n"
    "ATTENDEE;CN=Cy;PARTSTAT=TENTATIVE:mailto:cy@example.org\r\n"
    "CATEGORIES:Work,Planning\r\n"
    "ATTACH;FMTTYPE=application/pdf:https://example.org/agenda.pdf\r\n"
    "X-MOZ-GENERATION:4\r\n"
    "X-APPLE-TRAVEL-ADVISORY-BEHAVIOR:AUTOMATIC\r\n"
    "BEGIN:VALARM\r\nACTION:DISPLAY\r\nDESCRIPTION:Soon\r\nTRIGGER:-PT15M\r\nEND:VALARM\r\n"
    "BEGIN:VALARM\r\nACTION:EMAIL\r\nSUMMARY:Tomorrow\r\nDESCRIPTION:Planning tomorrow\r\n"
    "ATTENDEE:mailto:ana@example.org\r\nTRIGGER:-P1D\r\nEND:VALARM\r\n"
    "BEGIN:VALARM\r\nACTION:AUDIO\r\nTRIGGER;RELATED=START:-PT1H\r\nX-ALARM-SOUND:bell\r\nEND:VALARM\r\n"
    "END:VEVENT\r\n"
    "BEGIN:VEVENT\r\n"
    "UID:rich-1@example.org\r\n"
    "DTSTAMP:20300101T000000Z\r\n"
    "RECURRENCE-ID;TZID=Europe/Berlin:20300114T100000\r\n"
    "DTSTART;TZID=Europe/Berlin:20300115T140000\r\n"
    "DTEND;TZID=Europe/Berlin:20300115T150000\r\n"
    "SUMMARY:Planning (moved)\r\n"
    "END:VEVENT\r\n"
    "END:VCALENDAR\r\n";

TEST_F(ComponentsTest, RichEventEditedKeepsEverythingButTheSummary) {
  ASSERT_EQ(import_ics(kRich), 1);
  Item* item = titled("Planning");
  ASSERT_TRUE(item);
  SourceRecord kept = kept_of(item);
  EXPECT_EQ(kept.component, kRich);
  edit(item, [](ItemForm* f) { f->title = "Planning, revised"; });

  std::string out = component_for_item(item_find(item->uuid), &kept);
  EXPECT_EQ(lines_not_in(out, kRich), std::vector<std::string>{"SUMMARY;LANGUAGE=en:Planning\\, revised"});
  EXPECT_EQ(lines_not_in(kRich, out), std::vector<std::string>{"SUMMARY;LANGUAGE=en:Planning"});
  // The export file holds the same components under its own calendar head.
  std::string path = dir.file("out.ics");
  ASSERT_EQ(export_calendar(path.c_str(), 0, -1), 1);
  std::string file = read(path);
  size_t from = std::string(kRich).find("BEGIN:VTIMEZONE");
  std::string inner = out.substr(from, out.find("END:VCALENDAR") - from);
  EXPECT_NE(file.find(inner), std::string::npos);
}

TEST_F(ComponentsTest, EachEditReplacesOnlyItsProperties) {
  struct Case {
    const char* name;
    std::function<void(ItemForm*)> change;
    std::vector<std::string> removed, added;
  } cases[] = {
      {"description", [](ItemForm* f) { f->body = "New agenda"; },
       {"DESCRIPTION:Agenda in the wiki"}, {"DESCRIPTION:New agenda"}},
      {"description cleared", [](ItemForm* f) { f->body.clear(); }, {"DESCRIPTION:Agenda in the wiki"}, {}},
      {"start moved an hour, end with it",
       [](ItemForm* f) {
         f->due += 3600;
         f->end += 3600;
       },
       {"DTSTART;TZID=Europe/Berlin:20300107T100000", "DTEND;TZID=Europe/Berlin:20300107T110000"},
       {"DTSTART;TZID=Europe/Berlin:20300107T110000", "DTEND;TZID=Europe/Berlin:20300107T120000"}},
      {"first alarm earlier", [](ItemForm* f) { f->remind_unit = 2, f->remind_count = 2; },
       {"TRIGGER:-PT15M"}, {"TRIGGER:-PT2H"}},
  };
  for (const Case& c : cases) {
    // A UID not of ours: each import makes a new item.
    ASSERT_EQ(import_ics(kRich), 1) << c.name;
    Item* item = item_get(items_of(ITEM_EVENT).back());
    ASSERT_TRUE(item) << c.name;
    SourceRecord kept = kept_of(item);
    edit(item, c.change);
    std::string out = component_for_item(item_find(item->uuid), &kept);
    EXPECT_EQ(lines_not_in(kRich, out), c.removed) << c.name;
    EXPECT_EQ(lines_not_in(out, kRich), c.added) << c.name;
  }
}

TEST_F(ComponentsTest, AnUneditedItemWritesItsComponentByteForByte) {
  ASSERT_EQ(import_ics(kRich), 1);
  Item* item = titled("Planning");
  SourceRecord kept = kept_of(item);
  EXPECT_EQ(component_for_item(item_find(item->uuid), &kept), kRich);
}

TEST_F(ComponentsTest, RemovingTheReminderDropsOnlyTheFirstAlarm) {
  ASSERT_EQ(import_ics(kRich), 1);
  Item* item = titled("Planning");
  SourceRecord kept = kept_of(item);
  edit(item, [](ItemForm* f) { f->remind_unit = f->remind_count = 0; });
  std::string out = component_for_item(item_find(item->uuid), &kept);
  EXPECT_EQ(out.find("TRIGGER:-PT15M"), std::string::npos);
  EXPECT_NE(out.find("TRIGGER:-P1D\r\n"), std::string::npos);
  EXPECT_NE(out.find("TRIGGER;RELATED=START:-PT1H\r\n"), std::string::npos);
}

TEST_F(ComponentsTest, TheImportedSeriesFollowsItsExceptionAndOverride) {
  ASSERT_EQ(import_ics(kRich), 1);
  const Item* item = titled("Planning");
  ASSERT_TRUE(item);
  ASSERT_NE(item_full_rule(item), nullptr);
  std::vector<std::string> got;
  for (int64_t t = item_occurrence_from(item, item->due); t && got.size() < 5; t = item_occurrence_from(item, t + 1))
    got.push_back(fmt(t));
  // Thursday the 10th is taken out; Monday the 14th moved to Tuesday 14:00.
  EXPECT_EQ(got, (std::vector<std::string>{"2030-01-07 10:00:00", "2030-01-15 14:00:00", "2030-01-17 10:00:00",
                                           "2030-01-21 10:00:00", "2030-01-24 10:00:00"}));
}

TEST_F(ComponentsTest, SplitGroupsBySeriesAndNamesTheZonesUsed) {
  const std::string tz = "BEGIN:VTIMEZONE\r\nTZID:Z1\r\nEND:VTIMEZONE\r\n";
  auto ev = [](const char* uid, const char* extra) {
    return std::string("BEGIN:VEVENT\r\nUID:") + uid + "\r\n" + extra + "SUMMARY:s\r\nEND:VEVENT\r\n";
  };
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> uids;
    std::vector<bool> with_zone;
  } cases[] = {
      {"series and override", vcalendar(tz + ev("a", "DTSTART;TZID=Z1:20300101T100000\r\n") +
                                        ev("b", "DTSTART:20300101T100000Z\r\n") +
                                        ev("a", "RECURRENCE-ID:20300108T100000Z\r\n")),
       {"a", "b"}, {true, false}},
      {"overrides without their series", vcalendar(ev("c", "RECURRENCE-ID:1\r\n") + ev("c", "RECURRENCE-ID:2\r\n")),
       {"c", "c"}, {false, false}},
      {"two series with one UID", vcalendar(ev("d", "") + ev("d", "")), {"d", "d"}, {false, false}},
      {"cards", "BEGIN:VCARD\r\nUID:u1\r\nFN:A\r\nEND:VCARD\r\nBEGIN:VCARD\r\nUID:u2\r\nFN:B\r\nEND:VCARD\r\n",
       {"u1", "u2"}, {false, false}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> parts = component_split(c.text);
    std::vector<std::string> uids;
    std::vector<bool> zones;
    for (const std::string& p : parts) {
      uids.push_back(component_uid(p));
      zones.push_back(p.find("BEGIN:VTIMEZONE") != std::string::npos);
    }
    EXPECT_EQ(uids, c.uids) << c.name;
    EXPECT_EQ(zones, c.with_zone) << c.name;
  }
}

const char kCard[] =
    "BEGIN:VCARD\r\n"
    "VERSION:3.0\r\n"
    "FN:Dana Fox\r\n"
    "TEL;TYPE=IPHONE:+1 555 0100\r\n"
    "TEL;TYPE=X-EVOLUTION-ASSISTANT:+1 555 0101\r\n"
    "TEL;TYPE=x-pager-2,WORK:+1 555 0102\r\n"
    "ADR;TYPE=OTHER:;;1 Road;Town;;;\r\n"
    "X-SOCIAL:@dana\r\n"
    "END:VCARD\r\n";

TEST_F(ComponentsTest, ContactsKeepEveryTypeLabel) {
  ASSERT_EQ(import_vcf(kCard), 1);
  Item* item = titled("Dana Fox");
  ASSERT_TRUE(item);
  // The stored card too, as a card without a kept component exports it.
  std::string stored = vcard_export_text(item_body_load(item));
  for (const char* label : {"TYPE=IPHONE", "TYPE=X-EVOLUTION-ASSISTANT", "TYPE=x-pager-2", "TYPE=OTHER"})
    EXPECT_NE(stored.find(label), std::string::npos) << label;

  edit(item, [](ItemForm* f) {
    size_t at = f->body.find("+1 555 0101");
    f->body.replace(at, 11, "+1 555 0199");
  });
  SourceRecord kept = kept_of(item);
  std::string out = component_for_item(item_find(item->uuid), &kept);
  EXPECT_EQ(lines_not_in(kCard, out), std::vector<std::string>{"TEL;TYPE=X-EVOLUTION-ASSISTANT:+1 555 0101"});
  EXPECT_EQ(lines_not_in(out, kCard), (std::vector<std::string>{"TEL;TYPE=X-EVOLUTION-ASSISTANT:+1 555 0199", "N:;;;;"}));
}

// ORG is written anew only when the item's organisation changed, and then
// with the units the card had.
TEST_F(ComponentsTest, TheOrganisationIsReplacedOnlyWhenItChanged) {
  const std::string card =
      "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Fox;Dana;;;\r\nFN:Dana Fox\r\n"
      "ORG:Fox \\, Sons;Sales;EMEA\r\nTEL:+1 555 0100\r\nEND:VCARD\r\n";
  struct Case {
    const char* from;
    const char* to;
    std::vector<std::string> gone, added;
  } cases[] = {
      {"+1 555 0100", "+1 555 0199", {"TEL:+1 555 0100"}, {"TEL:+1 555 0199"}},
      {"ORG:Fox \\, Sons;", "ORG:Fox Bros;", {"ORG:Fox \\, Sons;Sales;EMEA"}, {"ORG:Fox Bros;Sales;EMEA"}},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(import_vcf(card), 1);
    Item* item = item_get(items_of(ITEM_VCARD).back());
    ASSERT_TRUE(item);
    edit(item, [&](ItemForm* f) { f->body.replace(f->body.find(c.from), std::strlen(c.from), c.to); });
    SourceRecord kept = kept_of(item);
    std::string out = component_for_item(item_find(item->uuid), &kept);
    EXPECT_EQ(lines_not_in(card, out), c.gone) << out;
    EXPECT_EQ(lines_not_in(out, card), c.added) << out;
  }
}

TEST_F(ComponentsTest, CardsWithoutNameGetOneOnExport) {
  struct Case {
    std::string card;
    bool adds;
  } cases[] = {
      {"BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Only FN\r\nEND:VCARD\r\n", true},
      {"BEGIN:VCARD\r\nVERSION:3.0\r\nEMAIL:x@example.org\r\nEND:VCARD\r\n", true},
      {"BEGIN:VCARD\r\nVERSION:3.0\r\nN:Fox;Dana;;;\r\nFN:Dana Fox\r\nEND:VCARD\r\n", false},
  };
  for (const Case& c : cases) {
    std::string out = vcard_export_text(c.card);
    size_t n = 0;
    for (size_t at = out.find("\r\nN:"); at != std::string::npos; at = out.find("\r\nN:", at + 1)) n++;
    EXPECT_EQ(n, 1u) << c.card;
    EXPECT_EQ(out.find("N:;;;;\r\n") != std::string::npos, c.adds) << c.card;
  }
}

}  // namespace

// --- Time zones ------------------------------------------------------------------

// New York as a calendar defines it, under a name of the caller's.
std::string new_york_zone(const std::string& tzid, const char* standard = "-0500", const char* daylight = "-0400") {
  return "BEGIN:VTIMEZONE\r\nTZID:" + tzid +
         "\r\nBEGIN:DAYLIGHT\r\nTZOFFSETFROM:" + standard + "\r\nTZOFFSETTO:" + daylight +
         "\r\nDTSTART:19700308T020000\r\nRRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=2SU\r\nEND:DAYLIGHT\r\n"
         "BEGIN:STANDARD\r\nTZOFFSETFROM:" + daylight + "\r\nTZOFFSETTO:" + standard +
         "\r\nDTSTART:19701101T020000\r\nRRULE:FREQ=YEARLY;BYMONTH=11;BYDAY=1SU\r\nEND:STANDARD\r\n"
         "END:VTIMEZONE\r\n";
}

// One event with the given zones and start and end lines; its title names
// its UID too.
std::string zoned_event(const std::string& title, const std::string& zones, const std::string& times,
                        const std::string& extra = "") {
  return vcalendar(zones + "BEGIN:VEVENT\r\nUID:" + title + "@example.org\r\n" + times + extra + "SUMMARY:" + title +
                   "\r\nEND:VEVENT\r\n");
}

TEST_F(ComponentsTest, TimesAreReadInTheirZone) {
  // Seen from Berlin (ahead of New York by six hours in December).
  struct Case {
    const char* name;
    std::string text;
    std::string start, end;
  } cases[] = {
      {"zone defined by the calendar",
       zoned_event("zone defined by the calendar", new_york_zone("America/New_York"), "DTSTART;TZID=America/New_York:20261210T090000\r\n"
                                                      "DTEND;TZID=America/New_York:20261210T100000\r\n"),
       "2026-12-10 15:00:00", "2026-12-10 16:00:00"},
      {"system zone by name",
       zoned_event("system zone by name", "", "DTSTART;TZID=America/New_York:20261210T090000\r\nDTEND;TZID=America/New_York:20261210T100000\r\n"),
       "2026-12-10 15:00:00", "2026-12-10 16:00:00"},
      {"quoted name", zoned_event("quoted name", "", "DTSTART;TZID=\"America/New_York\":20261210T090000\r\nDURATION:PT1H\r\n"),
       "2026-12-10 15:00:00", "2026-12-10 16:00:00"},
      {"a name only the calendar defines",
       zoned_event("a name only the calendar defines", new_york_zone("Eastern Standard Time"), "DTSTART;TZID=Eastern Standard Time:20261210T090000\r\n"
                                                           "DTEND;TZID=Eastern Standard Time:20261210T100000\r\n"),
       "2026-12-10 15:00:00", "2026-12-10 16:00:00"},
      {"the calendar's definition before the system's",
       zoned_event("the calendar's definition before the system's", new_york_zone("America/New_York", "-0300", "-0200"),
                   "DTSTART;TZID=America/New_York:20261210T090000\r\nDTEND;TZID=America/New_York:20261210T100000\r\n"),
       "2026-12-10 13:00:00", "2026-12-10 14:00:00"},
      {"UTC", zoned_event("UTC", "", "DTSTART:20261210T090000Z\r\nDTEND:20261210T100000Z\r\n"), "2026-12-10 10:00:00",
       "2026-12-10 11:00:00"},
      {"floating", zoned_event("floating", "", "DTSTART:20261210T090000\r\nDTEND:20261210T100000\r\n"), "2026-12-10 09:00:00",
       "2026-12-10 10:00:00"},
      {"all day", zoned_event("all day", "", "DTSTART;VALUE=DATE:20261210\r\nDTEND;VALUE=DATE:20261211\r\n"),
       "2026-12-10 00:00:00", "2026-12-11 00:00:00"},
      {"a zone nobody knows",
       zoned_event("a zone nobody knows", "", "DTSTART;TZID=Mars/Olympus:20261210T090000\r\nDTEND;TZID=Mars/Olympus:20261210T100000\r\n"),
       "2026-12-10 09:00:00", "2026-12-10 10:00:00"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(import_ics(c.text), 1) << c.name;
    const Item* item = titled(c.name);
    ASSERT_TRUE(item) << c.name;
    EXPECT_EQ(fmt(item->due), c.start) << c.name;
    EXPECT_EQ(fmt(item->end), c.end) << c.name;
  }
}

TEST_F(ComponentsTest, SeriesKeepTheirZonesClockAcrossDaylightSaving) {
  // New York changes its clocks on 14 March 2027, Berlin on the 28th.
  const std::string weekly = "RRULE:FREQ=WEEKLY;BYDAY=TH\r\n";
  const std::vector<std::string> new_york = {"2027-03-04 15:00:00", "2027-03-11 15:00:00", "2027-03-18 14:00:00",
                                             "2027-03-25 14:00:00", "2027-04-01 15:00:00"};
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> expect;
    bool full_rule;
  } cases[] = {
      {"zone defined by the calendar",
       zoned_event("zone defined by the calendar", new_york_zone("America/New_York"), "DTSTART;TZID=America/New_York:20270304T090000\r\n", weekly),
       new_york, true},
      {"system zone", zoned_event("system zone", "", "DTSTART;TZID=America/New_York:20270304T090000\r\n", weekly), new_york, true},
      {"until in UTC",
       zoned_event("until in UTC", "", "DTSTART;TZID=America/New_York:20270304T090000\r\n",
                   "RRULE:FREQ=WEEKLY;UNTIL=20270318T130000Z\r\n"),
       {"2027-03-04 15:00:00", "2027-03-11 15:00:00", "2027-03-18 14:00:00"}, true},
      {"UTC", zoned_event("UTC", "", "DTSTART:20270304T140000Z\r\n", weekly),
       {"2027-03-04 15:00:00", "2027-03-11 15:00:00", "2027-03-18 15:00:00", "2027-03-25 15:00:00",
        "2027-04-01 16:00:00"},
       true},
      {"floating", zoned_event("floating", "", "DTSTART:20270304T090000\r\n", weekly),
       {"2027-03-04 09:00:00", "2027-03-11 09:00:00", "2027-03-18 09:00:00", "2027-03-25 09:00:00",
        "2027-04-01 09:00:00"},
       false},
      {"the local zone", zoned_event("the local zone", "", "DTSTART;TZID=Europe/Berlin:20270304T090000\r\n", weekly),
       {"2027-03-04 09:00:00", "2027-03-11 09:00:00", "2027-03-18 09:00:00", "2027-03-25 09:00:00",
        "2027-04-01 09:00:00"},
       false},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(import_ics(c.text), 1) << c.name;
    const Item* item = titled(c.name);
    ASSERT_TRUE(item) << c.name;
    // Only a zone whose clock parts from the local one needs more than the
    // editor's own rule.
    EXPECT_EQ(item_full_rule(item) != nullptr, c.full_rule) << c.name;
    std::vector<std::string> got;
    for (int64_t t = item_occurrence_from(item, item->due); t && got.size() < 5; t = item_occurrence_from(item, t + 1))
      got.push_back(fmt(t));
    EXPECT_EQ(got, c.expect) << c.name;
  }
}

TEST_F(ComponentsTest, EditedTimesAreWrittenInTheirOwnZone) {
  struct Case {
    const char* name;
    std::string times;
    std::vector<std::string> written;
  } cases[] = {
      {"zone", "DTSTART;TZID=America/New_York:20261210T090000\r\nDTEND;TZID=America/New_York:20261210T100000\r\n",
       {"DTSTART;TZID=America/New_York:20261210T100000", "DTEND;TZID=America/New_York:20261210T110000"}},
      {"UTC", "DTSTART:20261210T090000Z\r\nDTEND:20261210T100000Z\r\n",
       {"DTSTART:20261210T100000Z", "DTEND:20261210T110000Z"}},
      {"floating", "DTSTART:20261210T090000\r\nDTEND:20261210T100000\r\n",
       {"DTSTART:20261210T100000", "DTEND:20261210T110000"}},
  };
  for (const Case& c : cases) {
    std::string text = zoned_event(c.name, "", c.times);
    ASSERT_EQ(import_ics(text), 1) << c.name;
    Item* item = titled(c.name);
    ASSERT_TRUE(item) << c.name;
    SourceRecord kept = kept_of(item);
    edit(item, [](ItemForm* f) {
      f->due += 3600;
      f->end += 3600;
    });
    std::string out = component_for_item(item_find(item->uuid), &kept);
    EXPECT_EQ(lines_not_in(out, kept.component), c.written) << c.name;
  }
}
