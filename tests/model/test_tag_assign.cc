// SPDX-License-Identifier: GPL-3.0-or-later
// Tag assignment of several items: one undo step, and all or nothing.
#include "model/tag_assign.h"
#include "test_ops_fixture.h"

namespace {

using TagAssignTest = RepoModelTest;

TEST_F(TagAssignTest, SeveralItemsGetExactlyTheChosenTagsInOneUndoStep) {
  int64_t root = g_repos[0].root;
  int64_t a_tag = make_tag(root, "a");
  int64_t b_tag = make_tag(root, "b");
  int64_t x = make_item(a_tag, ITEM_NOTE, "x");
  int64_t y = make_item(root, ITEM_NOTE, "y");
  int64_t other = make_item(g_repos[1].root, ITEM_NOTE, "elsewhere");
  ASSERT_TRUE(x >= 0 && y >= 0 && other >= 0);
  expect_one_undo_step(0, [&] {
    EXPECT_EQ(0, tags_assign(0, {{root, false}, {a_tag, false}, {b_tag, true}}, {x, y, other}));
  });
  for (int64_t item : {x, y}) {
    EXPECT_TRUE(tag_link_exists(static_cast<int32_t>(b_tag), static_cast<int32_t>(item)));
    EXPECT_FALSE(tag_link_exists(static_cast<int32_t>(a_tag), static_cast<int32_t>(item)));
    EXPECT_FALSE(tag_link_exists(static_cast<int32_t>(root), static_cast<int32_t>(item)));
  }
  // The item of the other repository is left alone.
  EXPECT_TRUE(tag_link_exists(static_cast<int32_t>(g_repos[1].root), static_cast<int32_t>(other)));
  EXPECT_FALSE(tag_link_exists(static_cast<int32_t>(b_tag), static_cast<int32_t>(other)));
}

TEST_F(TagAssignTest, AFailureLeavesStorageAndMemoryAsTheyWere) {
  int64_t root = g_repos[0].root;
  int64_t a_tag = make_tag(root, "a");
  int64_t x = make_item(root, ITEM_NOTE, "x");
  ASSERT_GE(x, 0);
  auto before = dump(0);
  // The second item does not exist: its link fails after x's were changed.
  EXPECT_NE(0, tags_assign(0, {{a_tag, true}, {root, false}}, {x, 987654}));
  EXPECT_EQ(before, dump(0));
  EXPECT_FALSE(tag_link_exists(static_cast<int32_t>(a_tag), static_cast<int32_t>(x)));
  EXPECT_TRUE(tag_link_exists(static_cast<int32_t>(root), static_cast<int32_t>(x)));
}

}  // namespace
