// SPDX-License-Identifier: GPL-3.0-or-later
// Items pasted into another repository take what their source said along:
// the pasted copy exports everything the original's file held, a second copy
// in one repository gets its own UID, and the copy's source follows undo and
// redo of the paste until nothing can bring the copy back.
#include <algorithm>
#include <cstring>

#include "interchange/components.h"
#include "interchange/interchange.h"
#include "model/clipboard.h"
#include "model/full_rule.h"
#include "model/mount.h"
#include "storage/repo.h"
#include "storage/source_store.h"
#include "model/test_startup_fixture.h"

using namespace startup_test;

namespace {

class PasteSourcesTest : public StartupTest {
 protected:
  // The item titled `title` in repository `repo`; -1 when none.
  static int64_t titled_in(int repo, const std::string& title) {
    int64_t cursor = -1;
    while (const Item* item = slot_next<Item>(model().items, &cursor))
      if (item->repo == repo && item->title == title) return cursor;
    return -1;
  }
  static bool has_source(int repo, int64_t slot) {
    SourceRecord r;
    const Item* item = item_get(slot);
    return item && source_get(repo, item->uuid, &r) == 0;
  }
};

const char kMeeting[] =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Other//EN\r\n"
    "BEGIN:VEVENT\r\nUID:meeting-7@example.org\r\nDTSTAMP:20300101T000000Z\r\n"
    "DTSTART:20300107T090000Z\r\nDTEND:20300107T100000Z\r\n"
    "RRULE:FREQ=MONTHLY;BYDAY=-1FR\r\n"
    "SUMMARY:Review\r\n"
    "ORGANIZER;CN=Ana:mailto:ana@example.org\r\n"
    "ATTENDEE;CN=Bo;PARTSTAT=ACCEPTED:mailto:bo@example.org\r\n"
    "X-MOZ-GENERATION:4\r\n"
    "BEGIN:VALARM\r\nUID:alarm-1\r\nACTION:DISPLAY\r\nDESCRIPTION:Soon\r\nTRIGGER:-PT15M\r\nEND:VALARM\r\n"
    "BEGIN:VALARM\r\nACTION:EMAIL\r\nSUMMARY:Tomorrow\r\nDESCRIPTION:Review tomorrow\r\n"
    "ATTENDEE:mailto:ana@example.org\r\nTRIGGER:-P1D\r\nEND:VALARM\r\n"
    "END:VEVENT\r\n"
    "BEGIN:VEVENT\r\nUID:meeting-7@example.org\r\nDTSTAMP:20300101T000000Z\r\n"
    "RECURRENCE-ID:20300125T090000Z\r\nDTSTART:20300124T090000Z\r\nSUMMARY:Review (early)\r\nEND:VEVENT\r\n"
    "END:VCALENDAR\r\n";

const char kCard[] =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Dana Fox\r\nN:Fox;Dana;;;\r\n"
    "TEL;TYPE=IPHONE:+1 555 0100\r\nX-SOCIAL:@dana\r\nEND:VCARD\r\n";

TEST_F(PasteSourcesTest, PastedItemsExportWhatTheirSourceSaid) {
  struct Case {
    const char* title;
    const char* file;
    bool calendar;
    std::vector<const char*> exported;
  } cases[] = {
      {"Review", kMeeting, true,
       {"UID:meeting-7@example.org", "ATTENDEE;CN=Bo;PARTSTAT=ACCEPTED:mailto:bo@example.org", "X-MOZ-GENERATION:4",
        "TRIGGER:-PT15M", "TRIGGER:-P1D", "RRULE:FREQ=MONTHLY;BYDAY=-1FR"}},
      {"Dana Fox", kCard, false, {"TEL;TYPE=IPHONE:+1 555 0100", "X-SOCIAL:@dana"}},
  };
  first_run();
  int other = add_repository("other");
  repo_remount();
  for (const Case& c : cases) {
    ASSERT_EQ(1, c.calendar ? import_calendar_text(c.file, std::strlen(c.file), root_tag(0))
                            : import_contacts_text(c.file, std::strlen(c.file), root_tag(0)))
        << c.title;
    int64_t original = titled_in(0, c.title);
    ASSERT_GE(original, 0) << c.title;
    ASSERT_EQ(1, paste_items(root_tag(other), {static_cast<int32_t>(original)})) << c.title;
    int64_t copy = titled_in(other, c.title);
    ASSERT_GE(copy, 0) << c.title;
    int count = 0;
    std::string text = c.calendar ? calendar_text(other, copy, &count) : contacts_text(other, copy, &count);
    EXPECT_EQ(1, count) << c.title;
    for (const char* line : c.exported)
      EXPECT_NE(text.find(std::string(line) + "\r\n"), std::string::npos) << c.title << ": " << line;
  }
  // The copy's occurrences follow the rule its source said, as the original's.
  const Item* original = item_get(titled_in(0, "Review"));
  const Item* copy = item_get(titled_in(other, "Review"));
  ASSERT_NE(item_full_rule(copy), nullptr);
  EXPECT_EQ(item_occurrence_from(copy, copy->due + 1), item_occurrence_from(original, original->due + 1));
}

TEST_F(PasteSourcesTest, ASecondCopyInOneRepositoryGetsItsOwnUid) {
  first_run();
  int other = add_repository("other");
  repo_remount();
  ASSERT_EQ(1, import_calendar_text(kMeeting, sizeof kMeeting - 1, root_tag(0)));
  int32_t original = static_cast<int32_t>(titled_in(0, "Review"));
  ASSERT_EQ(1, paste_items(root_tag(other), {original}));
  ASSERT_EQ(1, paste_items(root_tag(other), {original}));
  std::vector<std::string> uids;
  int64_t cursor = -1;
  while (const Item* item = slot_next<Item>(model().items, &cursor)) {
    if (item->repo != other) continue;
    SourceRecord r;
    ASSERT_EQ(0, source_get(other, item->uuid, &r));
    std::string uid = component_uid(r.component);
    bool own = uid == item_uid(item->uuid);
    // The series and its overridden instance keep sharing one UID; an
    // alarm keeps its own.
    if (own) {
      EXPECT_EQ(r.component.find("meeting-7"), std::string::npos);
      EXPECT_NE(r.component.find("\r\nUID:alarm-1\r\n"), std::string::npos);
    }
    uids.push_back(own ? "own" : uid);
  }
  std::sort(uids.begin(), uids.end());
  EXPECT_EQ(uids, (std::vector<std::string>{"meeting-7@example.org", "own"}));
}

TEST_F(PasteSourcesTest, UndoAndRedoOfThePasteTakeTheSourceAlong) {
  first_run();
  int other = add_repository("other");
  repo_remount();
  ASSERT_EQ(1, import_calendar_text(kMeeting, sizeof kMeeting - 1, root_tag(0)));
  ASSERT_EQ(1, paste_items(root_tag(other), {static_cast<int32_t>(titled_in(0, "Review"))}));
  ASSERT_TRUE(has_source(other, titled_in(other, "Review")));
  uint8_t uuid[16];
  std::memcpy(uuid, item_get(titled_in(other, "Review"))->uuid, 16);
  SourceRecord r;

  // Undone, the copy can still be redone: its source waits for it.
  ASSERT_EQ(0, repo_journal_step(other, 0));
  EXPECT_LT(titled_in(other, "Review"), 0);
  EXPECT_EQ(0, source_get(other, uuid, &r));
  ASSERT_EQ(0, repo_journal_step(other, 1));
  int64_t copy = titled_in(other, "Review");
  ASSERT_GE(copy, 0);
  EXPECT_TRUE(has_source(other, copy));
  EXPECT_NE(item_full_rule(item_get(copy)), nullptr);

  // Undone and then out of reach of redo (a later change), it goes.
  ASSERT_EQ(0, repo_journal_step(other, 0));
  ASSERT_GE(add_note(root_tag(other), "later"), 0);
  repo_remount();
  EXPECT_EQ(1, source_get(other, uuid, &r));
  // The original's source was never touched.
  EXPECT_TRUE(has_source(0, titled_in(0, "Review")));
}

}  // namespace
