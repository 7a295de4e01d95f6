// SPDX-License-Identifier: GPL-3.0-or-later
// The history view renders each stored version from its own stored header:
// what the parsed record drops (the count of a recurrence) still shows.
#include <string>

#include "markup/detail_text.h"
#include "model/test_ops_fixture.h"
#include "support/strings.h"

namespace {

class HistoryText : public RepoModelTest {
 protected:
  void SetUp() override {
    RepoModelTest::SetUp();
    ASSERT_EQ(strings_set_language(0), 1);
  }
  int save(Item* item, const std::string& body, int keep) {
    EXPECT_EQ(0, journal_begin(db()));
    int rc = item_save(item, body, keep);
    EXPECT_EQ(0, journal_commit(db()));
    return rc;
  }
  ScopedTz tz{"Europe/Berlin"};
};

TEST_F(HistoryText, EachVersionShowsItsOwnStoredHeader) {
  int64_t slot;
  Item* ev = item_new(&slot);
  ASSERT_NE(ev, nullptr);
  ev->type = ITEM_EVENT;
  ev->title = "Course";
  ev->due = lt(2030, 3, 4, 10);
  ev->end = lt(2030, 3, 4, 11);
  ev->recurrence.freq = FREQ_DAILY;
  ev->recurrence.end_kind = RECUR_COUNT;
  ev->recur_count = 4;
  ASSERT_EQ(0, save(ev, "first", 0));
  std::string first_header = item_header_format(*ev);
  ev->title = "Course, moved";
  ev->recur_count = 9;
  ASSERT_EQ(0, save(ev, "second", 1));
  ev->title = "Course, last";
  ASSERT_EQ(0, save(ev, "third", 1));

  HistoryView view;
  EXPECT_EQ(history_header(view, 0), nullptr) << "nothing loaded";
  ASSERT_EQ(history_load(&view, item_get(slot)), 2);
  int64_t cursor = -1, first = -1, second = -1;
  while (Item* v = slot_next<Item>(view.versions, &cursor)) {
    if (v->title == "Course") first = cursor;
    if (v->title == "Course, moved") second = cursor;
  }
  ASSERT_GE(first, 0);
  ASSERT_GE(second, 0);
  ASSERT_NE(history_header(view, first), nullptr);
  EXPECT_EQ(*history_header(view, first), first_header);

  std::string text = history_version_text(view, first);
  EXPECT_NE(text.find("Course"), std::string::npos);
  EXPECT_NE(text.find(ui_plural_format(STR_ENDS_AFTER_N, 4)), std::string::npos) << text;
  EXPECT_NE(text.find("first"), std::string::npos);
  text = history_version_text(view, second);
  EXPECT_NE(text.find(ui_plural_format(STR_ENDS_AFTER_N, 9)), std::string::npos) << text;
  EXPECT_NE(text.find("second"), std::string::npos);

  // A removed version has no header any more; the other keeps its own.
  ASSERT_EQ(0, history_remove(&view, first));
  EXPECT_EQ(history_header(view, first), nullptr);
  EXPECT_EQ(history_version_text(view, first), "");
  EXPECT_NE(history_header(view, second), nullptr);
  history_clear(&view);
  EXPECT_EQ(history_header(view, second), nullptr);
  EXPECT_EQ(history_version_text(view, second), "");
}

}  // namespace
