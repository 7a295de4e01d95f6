// SPDX-License-Identifier: GPL-3.0-or-later
// Form rules shared by the editors, importers and the tool: a recurrence
// rule into the form, a key's expiry, a new contact's body, and undo/redo
// seen by the model.
#include <algorithm>
#include <cstring>

#include "model/forms.h"
#include "test_startup_fixture.h"

namespace {

ItemForm with_rule() {
  ItemForm f;
  f.title = "kept";
  f.freq = FREQ_DAILY;
  f.interval_minus_one = 4;
  f.by_day = 3;
  f.end_kind = RECUR_COUNT;
  f.recur_count = 9;
  f.until = 77;
  return f;
}

RuleFields rule_of(int freq, int interval = 0, int by_day = 0, int end_kind = 0, int count = 0, int64_t until = 0) {
  RuleFields r;
  r.freq = freq;
  r.interval = interval;
  r.by_day = by_day;
  r.end_kind = end_kind;
  r.count = count;
  r.until = until;
  return r;
}

TEST(FormRules, RuleIntoTheForm) {
  ItemForm f = with_rule();
  ASSERT_EQ(0, form_set_rule(&f, rule_of(FREQ_WEEKLY, 2, 0x80 | 2 | 32)));
  EXPECT_EQ(FREQ_WEEKLY, f.freq);
  EXPECT_EQ(1, f.interval_minus_one);
  EXPECT_EQ(2 | 32, f.by_day);  // weekday bits only
  EXPECT_EQ(RECUR_FOREVER, f.end_kind);
  EXPECT_EQ(0, f.recur_count);  // earlier end fields do not linger
  EXPECT_EQ(0, f.until);
  EXPECT_EQ("kept", f.title);

  ASSERT_EQ(0, form_set_rule(&f, rule_of(FREQ_MONTHLY, 0, 4, RECUR_COUNT, 0)));
  EXPECT_EQ(0, f.interval_minus_one);  // absent interval: every month
  EXPECT_EQ(1, f.by_day);               // any weekday: same weekday of the same week
  EXPECT_EQ(RECUR_COUNT, f.end_kind);
  EXPECT_EQ(1, f.recur_count);

  ASSERT_EQ(0, form_set_rule(&f, rule_of(FREQ_YEARLY, 1000, 5, RECUR_COUNT, 5000000)));
  EXPECT_EQ(127, f.interval_minus_one);
  EXPECT_EQ(0, f.by_day);  // yearly and daily rules have no weekdays
  EXPECT_EQ(kRecurCountMax, f.recur_count);

  ASSERT_EQ(0, form_set_rule(&f, rule_of(FREQ_DAILY, 1, 0, RECUR_UNTIL, 0, 1893456000)));
  EXPECT_EQ(RECUR_UNTIL, f.end_kind);
  EXPECT_EQ(1893456000, f.until);
  EXPECT_EQ(0, f.recur_count);
}

TEST(FormRules, RulesThatCannotBeStoredLeaveTheFormAlone) {
  for (RuleFields r : {rule_of(0), rule_of(5), rule_of(-1), rule_of(FREQ_DAILY, 1, 0, RECUR_UNTIL, 0, -86400)}) {
    ItemForm f = with_rule();
    EXPECT_EQ(-1, form_set_rule(&f, r));
    EXPECT_EQ(0, item_form_differs(f, with_rule()));
    EXPECT_EQ(9, f.recur_count);
  }
  ItemForm f = with_rule();
  form_clear_rule(&f);
  EXPECT_EQ(0, f.freq | f.interval_minus_one | f.by_day | f.end_kind | f.recur_count);
  EXPECT_EQ(0, f.until);
}

TEST(FormRules, KeyExpiryIsTheDueTimeWithAReminderThreeDaysAhead) {
  ItemForm f;
  key_form_set_expiry(&f, 1893456000);
  EXPECT_EQ(1893456000, f.due);
  EXPECT_EQ(3, f.remind_unit);
  EXPECT_EQ(3, f.remind_count);
  EXPECT_EQ(3 * 86400, f.remind_count * remind_unit_seconds(f.remind_unit));
  // Unchecking the expiry removes both.
  key_form_set_expiry(&f, 0);
  EXPECT_EQ(0, f.due);
  EXPECT_EQ(0, f.remind_unit);
  EXPECT_EQ(0, f.remind_count);
  key_form_set_expiry(&f, -5);
  EXPECT_EQ(0, f.due);
}

TEST(FormRules, NewContactBodyEscapesItsName) {
  EXPECT_EQ("BEGIN:VCARD\nVERSION:3.0\nN:;\nFN:Ann Lee\nEND:VCARD\n", contact_default_body("Ann Lee"));
  std::string body = contact_default_body("Roe, Bob; \\ Jr.\nline");
  EXPECT_NE(std::string::npos, body.find("FN:Roe\\, Bob\\; \\\\ Jr.\\nline\n")) << body;
  EXPECT_EQ(5, std::count(body.begin(), body.end(), '\n'));  // the name cannot add lines
}

using JournalStep = startup_test::StartupTest;

TEST_F(JournalStep, UndoAndRedoAreSeenByTheModel) {
  first_run();
  int64_t note = add_note(root_tag(0), "undone");
  ASSERT_GE(note, 0);
  uint8_t uuid[16];
  std::memcpy(uuid, item_get(note)->uuid, 16);
  ASSERT_EQ(0, repo_journal_step(0, 0));
  EXPECT_EQ(-1, item_find(uuid));
  EXPECT_EQ(1, repo_journal_step(0, 0));  // a new repository starts with nothing to undo
  ASSERT_EQ(0, repo_journal_step(0, 1));
  EXPECT_GE(item_find(uuid), 0);
  EXPECT_EQ("undone", item_get(item_find(uuid))->title);
  EXPECT_EQ(1, repo_journal_step(0, 1));  // nothing left to redo
  EXPECT_EQ(-1, repo_journal_step(7, 0));
  EXPECT_EQ(-1, repo_journal_step(-1, 1));
}

}  // namespace
