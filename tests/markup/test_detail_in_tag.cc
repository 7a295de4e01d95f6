// SPDX-License-Identifier: GPL-3.0-or-later
// The detail text of an item as shown when it is selected in its own tag.
#include "markup/detail_text.h"
#include "model/list_order.h"
#include "model/tag_ops.h"
#include "model/test_ops_fixture.h"
#include "support/local_dates.h"
#include "support/strings.h"

namespace {

class DetailInTag : public RepoModelTest {
 protected:
  void SetUp() override {
    RepoModelTest::SetUp();
    ASSERT_EQ(strings_set_language(0), 1);
  }
  ScopedTz tz{"Europe/Berlin"};
};

TEST_F(DetailInTag, YearlyBirthdayShowsTheOccurrenceOfItsListRow) {
  int64_t tag = make_tag(g_repos[0].root, "birthdays");
  model().view = static_cast<int32_t>(tag);
  ItemForm f;
  f.title = "Ann";
  f.due = lt(1972, 10, 30);
  f.end = lt(1972, 10, 30, 23, 59);
  f.freq = FREQ_YEARLY;
  int64_t slot = item_store(-1, ITEM_EVENT, f, 0, model().view);
  ASSERT_GE(slot, 0);
  int64_t now = time(nullptr);
  int64_t next = item_occurrence_from(item_get(slot), now);
  ASSERT_GT(next, now);
  std::string shown = shown_date_time(next, DATE_LONG);
  const std::string born = shown_date(f.due, DATE_LONG);

  // Whatever view is selected, the text is that of the list row in its tag.
  for (int32_t view : std::initializer_list<int32_t>{VIEW_REMINDERS, VIEW_TRASH, VIEW_FIXED,
                                                    static_cast<int32_t>(g_repos[1].root)}) {
    model().view = view;
    model().selected_item = -1;
    std::string text = item_detail_text_in_tag(slot);
    EXPECT_NE(std::string::npos, text.find(shown)) << view << ": " << text;
    EXPECT_EQ(std::string::npos, text.find(born)) << view << ": " << text;
    EXPECT_EQ(view, model().view);  // left as it was
    EXPECT_EQ(-1, model().selected_item);
  }
  // The plain text follows the view: the reminders view shows the start.
  model().view = VIEW_REMINDERS;
  EXPECT_NE(std::string::npos, item_detail_text(item_get(slot)).find(born));
}

TEST_F(DetailInTag, HomeTagIsTheFirstRealTagElseTheRoot) {
  int64_t a = make_tag(g_repos[0].root, "a");
  int64_t b = make_tag(g_repos[0].root, "b");
  int64_t note = make_item(b, ITEM_NOTE, "n");
  ASSERT_GE(note, 0);
  EXPECT_EQ(b, item_home_tag(note));
  ASSERT_EQ(0, group_begin(0));
  ASSERT_EQ(0, update_tag_item(static_cast<int32_t>(a), static_cast<int32_t>(note), 1));
  ASSERT_EQ(0, update_tag_item(static_cast<int32_t>(b), static_cast<int32_t>(note), 0));
  ASSERT_EQ(0, group_end(0, 0));
  tag_link_append(VIEW_SEARCH, static_cast<int32_t>(note));
  EXPECT_EQ(a, item_home_tag(note));
  tag_links_drop(static_cast<int32_t>(a));
  EXPECT_EQ(g_repos[0].root, item_home_tag(note));  // pseudo links do not count
  EXPECT_EQ(-1, item_home_tag(-1));
}

}  // namespace
