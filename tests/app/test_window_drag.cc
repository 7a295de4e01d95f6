// SPDX-License-Identifier: GPL-3.0-or-later
// Items dragged onto a tag: the list offers them, the tag tree takes them,
// and the drop tags items of the same repository (one undo step) and copies
// those of another.
#include <gtest/gtest.h>

#include <string>

#include "app/drag_items.h"
#include "model/ops.h"
#include "model/tag.h"
#include "storage/journal.h"
#include "window_fixture.h"

namespace {

using DragItems = WindowTest;

bool has_target(GtkTargetList* list, const char* name) {
  guint info = 0;
  return list && gtk_target_list_find(list, gdk_atom_intern(name, FALSE), &info);
}

TEST_F(DragItems, ListOffersAndTreeTakesTheItemsTarget) {
  EXPECT_TRUE(has_target(gtk_drag_source_get_target_list(w.item_list), kItemsTarget));
  EXPECT_TRUE(has_target(gtk_drag_dest_get_target_list(w.tag_tree), kItemsTarget));
}

TEST_F(DragItems, UuidsTravelAndItemsGoneMeanwhileAreLeftOut) {
  int64_t a = add(work, ITEM_NOTE, "a");
  int64_t b = add(work, ITEM_TASK, "b");
  std::string text = drag_items_encode({a, b});
  EXPECT_EQ(66u, text.size());
  EXPECT_EQ((std::vector<int64_t>{a, b}), drag_items_decode(text));
  ASSERT_EQ(0, item_remove(a));
  EXPECT_EQ((std::vector<int64_t>{b}), drag_items_decode(text));
  // Anything else is not an item.
  EXPECT_TRUE(drag_items_decode("").empty());
  EXPECT_TRUE(drag_items_decode("not a uuid\n0123\n").empty());
  EXPECT_TRUE(drag_items_decode(std::string(32, 'f') + "\n").empty());
}

TEST_F(DragItems, DropTagsItemsOfTheRepositoryAndCopiesTheOthers) {
  int64_t a = add(work, ITEM_NOTE, "in work");
  int64_t b = add(work, ITEM_NOTE, "also in work");
  int64_t far = add(g_repos[1].root, ITEM_NOTE, "in the other repository", "its body");
  select(static_cast<int>(work));

  auto before = dump(0);
  EXPECT_EQ(2, drop_items_on_tag(&w, home, {a, b}));
  pump();
  for (int64_t s : {a, b}) {
    EXPECT_TRUE(tag_link_exists(static_cast<int32_t>(home), static_cast<int32_t>(s)));
    EXPECT_TRUE(tag_link_exists(static_cast<int32_t>(work), static_cast<int32_t>(s))) << "tagged, not moved";
  }
  ASSERT_EQ(0, journal_undo(db(0)));
  EXPECT_EQ(before, dump(0));

  // From another repository: a copy in the tag, the original stays.
  size_t items_before = 0;
  int64_t c = -1;
  while (slot_next<Item>(model().items, &c)) items_before++;
  EXPECT_EQ(1, drop_items_on_tag(&w, home, {far}));
  size_t items_after = 0;
  c = -1;
  while (slot_next<Item>(model().items, &c)) items_after++;
  EXPECT_EQ(items_before + 1, items_after);
  EXPECT_NE(nullptr, item_get(far));
  int64_t copy = -1;
  c = -1;
  while (const Item* it = slot_next<Item>(model().items, &c))
    if (it->repo == 0 && it->title == "in the other repository") copy = c;
  ASSERT_GE(copy, 0);
  EXPECT_TRUE(tag_link_exists(static_cast<int32_t>(home), static_cast<int32_t>(copy)));

  // Not a tag: nothing happens.
  auto now = dump(0);
  EXPECT_EQ(-1, drop_items_on_tag(&w, VIEW_TRASH, {a}));
  EXPECT_EQ(-1, drop_items_on_tag(&w, 0, {a}));
  EXPECT_EQ(now, dump(0));
}

}  // namespace
