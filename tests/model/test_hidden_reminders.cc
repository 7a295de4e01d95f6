// SPDX-License-Identifier: GPL-3.0-or-later
// Hiding a repository is a display choice: storing its items keeps their
// reminders, which come back into the reminder list once it counts again.
#include <cstring>

#include "test_ops_fixture.h"

namespace {

class HiddenReminders : public RepoModelTest {
 protected:
  // The stored header of the item's current version.
  std::string stored_header(int repo, const Item* item) {
    std::string out;
    RepoDb r{db(repo), g_repos[repo].key, false};
    objects_load_current(r, repo, [&](int, const uint8_t* uuid, const uint8_t* hash, const uint8_t* c4, size_t len) {
      if (std::memcmp(uuid, item->uuid, 16) == 0) row_decipher_header(g_repos[repo].key, uuid, hash, c4, len, &out);
    });
    return out;
  }

  // The first seven ':'-separated fields of a header (up to next_remind).
  static std::string head_fields(const std::string& header) {
    size_t pos = 0;
    for (int i = 0; i < 7 && pos != std::string::npos; i++) pos = header.find(':', pos + 1);
    return header.substr(0, pos);
  }

  // A task due tomorrow in repository 1 with a reminder 30 minutes ahead.
  int64_t task_with_reminder() {
    model().view = static_cast<int32_t>(g_repos[1].root);
    ItemForm f;
    item_form_fill(-1, ITEM_TASK, &f);
    f.title = "dentist";
    f.due = time(nullptr) + 86400;
    f.remind_unit = 1;
    f.remind_count = 30;
    return item_store(-1, ITEM_TASK, f, 0, g_repos[1].root);
  }
};

TEST_F(HiddenReminders, StoringAnItemOfAHiddenRepositoryKeepsItsReminder) {
  int64_t slot = task_with_reminder();
  ASSERT_GE(slot, 0);
  ASSERT_NE(nullptr, reminder_find(slot));
  std::string visible_header = stored_header(1, item_get(slot));

  g_repos[1].hidden = true;
  reminders_rebuild();
  EXPECT_EQ(nullptr, reminder_find(slot));

  // An edit made while hidden (a list, an import, the tool).
  ItemForm f;
  item_form_fill(slot, ITEM_TASK, &f);
  EXPECT_EQ(1, f.remind_unit);
  EXPECT_EQ(30, f.remind_count);
  f.title = "dentist, moved";
  ASSERT_EQ(slot, item_store(slot, ITEM_TASK, f, 0, 0));
  const Item* item = item_get(slot);
  EXPECT_EQ(1800, item->remind_offset);
  EXPECT_EQ(item->due - 1800, item->next_remind);
  EXPECT_EQ(nullptr, reminder_find(slot));
  // Stored with the same due, recurrence and reminder fields as before the
  // switch: "type:flags:markup:due:end:rule;count:offset;next:..."
  std::string hidden_header = stored_header(1, item);
  EXPECT_EQ(head_fields(visible_header), head_fields(hidden_header));
  EXPECT_NE(std::string::npos, hidden_header.find(":1800;")) << hidden_header;

  // Counting again (shown, or no longer hidden) brings the entry back.
  model().show_hidden = true;
  reminders_rebuild();
  ASSERT_NE(nullptr, reminder_find(slot));
  EXPECT_EQ(item->next_remind, reminder_find(slot)->remind_at);
  model().show_hidden = false;
  g_repos[1].hidden = false;
  reminders_rebuild();
  EXPECT_NE(nullptr, reminder_find(slot));
}

TEST_F(HiddenReminders, FlagChangesOfHiddenItemsLeaveNoEntry) {
  int64_t slot = task_with_reminder();
  ASSERT_GE(slot, 0);
  g_repos[1].hidden = true;
  ASSERT_EQ(0, item_set_flags(slot, ITEM_TRASHED));
  ASSERT_EQ(0, item_set_flags(slot, 0));
  EXPECT_EQ(nullptr, reminder_find(slot));
  EXPECT_EQ(1800, item_get(slot)->remind_offset);
  g_repos[1].hidden = false;
  reminders_rebuild();
  EXPECT_NE(nullptr, reminder_find(slot));
}

}  // namespace
