// SPDX-License-Identifier: GPL-3.0-or-later
// The list preferences have one home, the settings: what the options dialog
// writes there is what the lists use, and what the next run starts with.
#include "model/list.h"
#include "model/list_order.h"
#include "test_startup_fixture.h"

using namespace startup_test;

namespace {

class ListPreferences : public StartupTest {};

TEST_F(ListPreferences, OptionsWrittenDuringARunSurviveShutdown) {
  first_run();
  ASSERT_EQ(1, app_core().settings.show_completed);
  ASSERT_EQ(5, app_core().settings.upcoming_days);
  model().view = static_cast<int32_t>(root_tag(0));
  ItemForm f;
  item_form_fill(-1, ITEM_TASK, &f);
  f.title = "done";
  f.flags = ITEM_COMPLETED;
  int64_t done = item_store(-1, ITEM_TASK, f, 0, model().view);
  ASSERT_GE(done, 0);
  EXPECT_EQ(done, list_next(-1));

  // The options dialog.
  app_core().settings.show_completed = 0;
  app_core().settings.upcoming_days = 9;
  EXPECT_EQ(-1, list_next(-1));  // seen at once
  model().view = VIEW_FIXED;
  model().fixed_kind = FIXED_UPCOMING;
  int64_t now = time(nullptr);
  list_rows(0, now);
  EXPECT_EQ(local_midnight_after(now, 9), model().upcoming_to);

  restart();
  EXPECT_EQ(0, app_core().settings.show_completed);
  EXPECT_EQ(9, app_core().settings.upcoming_days);
}

}  // namespace
