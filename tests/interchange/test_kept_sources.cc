// SPDX-License-Identifier: GPL-3.0-or-later
// Kept sources across undo and redo: an undone import's components come
// back with its redo, and go once nothing can bring their items back.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "interchange/interchange.h"
#include "model/mount.h"
#include "model/ops.h"
#include "model/test_startup_fixture.h"
#include "storage/source_store.h"

using namespace startup_test;

namespace {

const char kEvent[] =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Other//Client//EN\r\nBEGIN:VEVENT\r\nUID:kept-1\r\n"
    "DTSTAMP:20260101T000000Z\r\nDTSTART:20260105T100000Z\r\nDTEND:20260105T110000Z\r\nSUMMARY:Kept\r\n"
    "ATTENDEE;CN=Bob:mailto:bob@example.org\r\nX-OTHER-CLIENT:kept\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";

enum Step { UNDO, REDO, DELETE, OTHER_CHANGE, RESTART };

class KeptSourcesTest : public StartupTest {};

TEST_F(KeptSourcesTest, AKeptSourceStaysWhileTheJournalCanBringItsItemBack) {
  struct Case {
    const char* name;
    std::vector<Step> steps;
    bool item;  // the item is there at the end
    bool kept;  // and its record
  } cases[] = {
      {"undone", {UNDO}, false, true},
      {"undone-redone", {UNDO, REDO}, true, true},
      {"undone-then-another-change", {UNDO, OTHER_CHANGE}, false, false},
      {"undone-then-restart", {UNDO, RESTART}, false, false},
      {"deleted", {DELETE}, false, true},
      {"deleted-undone", {DELETE, UNDO}, true, true},
      {"deleted-then-restart", {DELETE, RESTART}, false, false},
      {"kept-across-restart", {RESTART}, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    first_run();
    ASSERT_EQ(1, import_calendar_text(kEvent, sizeof kEvent - 1, root_tag(0)));
    int64_t slot = -1, cursor = -1;
    while (const Item* item = slot_next<Item>(model().items, &cursor))
      if (item->title == "Kept") slot = cursor;
    ASSERT_GE(slot, 0);
    uint8_t uuid[16];
    std::memcpy(uuid, item_get(slot)->uuid, 16);
    for (Step s : c.steps) {
      int rc = 0;
      if (s == UNDO || s == REDO) rc = repo_journal_step(0, s == REDO);
      if (s == DELETE) rc = item_remove(item_find(uuid));
      if (s == OTHER_CHANGE) rc = add_note(root_tag(0), "another") >= 0 ? 0 : -1;
      if (s == RESTART) restart();
      ASSERT_EQ(0, rc) << s;
      repo_remount();
    }
    EXPECT_EQ(c.item, item_find(uuid) >= 0);
    SourceRecord r;
    EXPECT_EQ(c.kept ? 0 : 1, source_get(0, uuid, &r));
    if (c.item) {
      int n = 0;
      std::string text = calendar_text(0, -1, &n);
      EXPECT_NE(std::string::npos, text.find("X-OTHER-CLIENT:kept")) << text;
      EXPECT_NE(std::string::npos, text.find("ATTENDEE;CN=Bob")) << text;
    }
    TearDown();
    SetUp();
  }
}

}  // namespace
