// SPDX-License-Identifier: GPL-3.0-or-later
// What an editor does not change stays as it was: an untouched editor asks
// nothing and stores nothing, and a save changes only the field the user
// changed, whatever the kind of item and whatever the editor shows.
#include <functional>

#include "dialogs/contact_editor.h"
#include "dialogs/date_text.h"
#include "dialogs/key_editor.h"
#include "editor_driver.h"

namespace {

using UnchangedEditorTest = EditorTest;

TEST_F(UnchangedEditorTest, CancelOnAnUntouchedNewEditorAsksNothing) {
  for (int type : {ITEM_NOTE, ITEM_TASK, ITEM_EVENT, ITEM_KEY, ITEM_VCARD}) {
    const int before = count_items(type);
    bool editor = false, asked = false;
    Script s;
    s.then([&](GtkWindow* w) {
      editor = !is_message(w);
      respond(w, GTK_RESPONSE_CANCEL);
    });
    s.then([&](GtkWindow* w) {  // a discard question, answered so the editor goes
      asked = is_message(w);
      respond(w, asked ? GTK_RESPONSE_YES : GTK_RESPONSE_CANCEL);
    });
    EXPECT_LT(item_edit(type, -1, tag), 0) << type;
    pump();
    EXPECT_TRUE(editor) << type;
    EXPECT_FALSE(asked) << "a question for an untouched editor of type " << type;
    EXPECT_EQ(0, s.unexpected) << type;
    EXPECT_EQ(before, count_items(type)) << type;
  }
}

// One item of each kind with every stored field set, also those its editor
// has no widget for, and one change made through the editor's widgets.
struct KindCase {
  const char* what;
  int type;
  std::string body;
  std::function<void(Editor*)> change;  // through the widgets
  std::function<void(Stored*)> expect;  // the same change on the stored item
};

const int64_t kDue = lt(2031, 3, 13, 9, 30);  // a Thursday
const int64_t kMovedEnd = lt(2031, 3, 13, 12, 0);

std::string key_body(const char* user) {
  return key_body_format({"https://bank.example", user, "S3cret!pw", kDue, "pin in the drawer"});
}

// A card with what the contact editor shows and what it does not.
const char kCard[] =
    "BEGIN:VCARD\nVERSION:3.0\nN:Okafor;Chidi;Ike;Mr.;\nFN:Chidi Okafor\nORG:Lagos Tiles Ltd.;Sales\n"
    "item1.TEL;TYPE=CELL;TYPE=PREF:+234 803 555 0101\nEMAIL;TYPE=INTERNET;TYPE=PREF:chidi@tiles.example\n"
    "URL:http://old.example\nBDAY:1980-07-21\nNOTE:call after six\nX-CUSTOM-ID:8731\nEND:VCARD\n";

std::vector<KindCase> kind_cases() {
  auto replace = [](std::string s, const std::string& from, const std::string& to) {
    return s.replace(s.find(from), from.size(), to);
  };
  return {
      {"note: body", ITEM_NOTE, "line one\n**two**", [](Editor* ed) { set_body(ed, "rewritten"); },
       [](Stored* s) { s->body = "rewritten"; }},
      {"task: markup", ITEM_TASK, "buy soil",
       [](Editor* ed) { gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(ed->markup_check), FALSE); },
       [](Stored* s) { s->item.markup = 0; }},
      {"event: end", ITEM_EVENT, "room 4",
       [](Editor* ed) { EXPECT_EQ(0, type_time(times_of(ed)->end, date_text_format(kMovedEnd, false))); },
       [](Stored* s) { s->item.end = kMovedEnd; }},
      {"key: user", ITEM_KEY, key_body("ann"),
       [](Editor* ed) { set_text(static_cast<KeySection*>(ed->states[0])->user, "bob"); },
       [](Stored* s) { s->body = key_body("bob"); }},
      {"contact: web address", ITEM_VCARD, kCard,
       [](Editor* ed) { set_text(static_cast<ContactSection*>(ed->states[0])->url, "https://new.example"); },
       [replace](Stored* s) { s->body = replace(s->body, "URL:http://old.example", "URL:https://new.example"); }},
      {"contact: organization", ITEM_VCARD, kCard,
       [](Editor* ed) { set_text(static_cast<ContactSection*>(ed->states[0])->org, "Lagos Tiles Plc"); },
       [replace](Stored* s) { s->body = replace(s->body, "ORG:Lagos Tiles Ltd.;", "ORG:Lagos Tiles Plc;"); }},
  };
}

// The item of a case: markup on, due and end, a weekly rule ending after
// five times, and a reminder 90 seconds ahead, which no editor can show
// exactly.
int64_t store_every_field(const KindCase& c, int64_t tag) {
  ItemForm f;
  f.title = std::string("every field of ") + c.what;
  f.body = c.body;
  f.markup = 1;
  f.due = kDue;
  f.end = kDue + 5400;
  f.freq = FREQ_WEEKLY;
  f.by_day = 1 << 4;
  f.end_kind = RECUR_COUNT;
  f.recur_count = 5;
  f.remind_unit = 1;
  f.remind_count = 2;
  int64_t slot = item_store(-1, c.type, f, 0, tag);
  if (slot < 0) return slot;
  Item* item = item_get(slot);
  item->remind_offset = 90;
  return item_update(item) == 0 ? slot : -1;
}

void expect_same(const Stored& want, const Stored& got, const char* what) {
  SCOPED_TRACE(what);
  ASSERT_TRUE(got.found);
  EXPECT_EQ(want.item.title, got.item.title);
  EXPECT_EQ(want.body, got.body);
  EXPECT_EQ(want.item.type, got.item.type);
  EXPECT_EQ(want.item.flags, got.item.flags);
  EXPECT_EQ(want.item.markup, got.item.markup);
  EXPECT_EQ(want.item.due, got.item.due);
  EXPECT_EQ(want.item.end, got.item.end);
  EXPECT_EQ(want.item.remind_offset, got.item.remind_offset);
  EXPECT_EQ(recurrence_pack(want.item.recurrence), recurrence_pack(got.item.recurrence));
  EXPECT_EQ(want.item.recur_count, got.item.recur_count);
  EXPECT_EQ(want.item.last_occurrence, got.item.last_occurrence);
}

TEST_F(UnchangedEditorTest, ASaveChangesOnlyTheFieldTheUserChanged) {
  for (const KindCase& c : kind_cases()) {
    int64_t slot = store_every_field(c, tag);
    ASSERT_GE(slot, 0) << c.what;
    Stored want = read_back_slot(slot);
    ASSERT_EQ(90, want.item.remind_offset) << c.what;
    c.expect(&want);
    Script s;
    s.then([&](GtkWindow* w) {
      c.change(editor_current());
      respond(w, GTK_RESPONSE_OK);
    });
    EXPECT_EQ(slot, item_edit(c.type, slot, tag)) << c.what;
    EXPECT_EQ(0, s.unexpected) << c.what;
    expect_same(want, read_back_slot(slot), c.what);
  }
}

TEST_F(UnchangedEditorTest, CancelOnAnUntouchedExistingItemAsksNothingAndStoresNothing) {
  for (const KindCase& c : kind_cases()) {
    int64_t slot = store_every_field(c, tag);
    ASSERT_GE(slot, 0) << c.what;
    Stored before = read_back_slot(slot);
    bool asked = false;
    Script s;
    s.then([](GtkWindow* w) { respond(w, GTK_RESPONSE_CANCEL); });
    s.then([&](GtkWindow* w) {  // a discard question, answered so the editor goes
      asked = is_message(w);
      respond(w, asked ? GTK_RESPONSE_YES : GTK_RESPONSE_CANCEL);
    });
    EXPECT_EQ(-1, item_edit(c.type, slot, tag)) << c.what;
    pump();
    EXPECT_FALSE(asked) << "a question for an untouched " << c.what;
    expect_same(before, read_back_slot(slot), c.what);
  }
}

}  // namespace
