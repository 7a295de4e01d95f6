// SPDX-License-Identifier: GPL-3.0-or-later
// The navigation ring: pushes, overwrites within a tag, wrap-around after
// 32 entries, and back/forward limits.
#include <gtest/gtest.h>

#include "app/nav_ring.h"

namespace {

NavEntry place(int tag, int item, int type = 0, int64_t day = 0) {
  NavEntry e;
  e.tag = tag;
  e.item = item;
  e.list_type = type;
  e.day = day;
  return e;
}

TEST(NavRing, StartsEmptyAndIgnoresPlacesWithoutItem) {
  NavRing r;
  EXPECT_FALSE(nav_ring_can_back(r));
  EXPECT_FALSE(nav_ring_can_forward(r));
  NavEntry e;
  EXPECT_EQ(nav_ring_back(&r, &e), -1);
  EXPECT_EQ(nav_ring_forward(&r, &e), -1);
  EXPECT_EQ(nav_ring_push(&r, place(5, -1)), 0);
  EXPECT_EQ(r.pos, -1);
}

TEST(NavRing, SameTagOverwritesAndOtherTagAdds) {
  NavRing r;
  EXPECT_EQ(nav_ring_push(&r, place(5, 1)), 1);
  EXPECT_FALSE(nav_ring_can_back(r));  // the first place has nothing behind it
  EXPECT_EQ(nav_ring_push(&r, place(5, 2)), 0);
  EXPECT_EQ(nav_ring_push(&r, place(5, 3)), 0);
  EXPECT_EQ(r.entries[r.pos].item, 3);
  EXPECT_EQ(nav_ring_push(&r, place(6, 4)), 1);
  EXPECT_TRUE(nav_ring_can_back(r));
  EXPECT_FALSE(nav_ring_can_forward(r));

  NavEntry e;
  ASSERT_EQ(nav_ring_back(&r, &e), 0);
  EXPECT_EQ(e.tag, 5);
  EXPECT_EQ(e.item, 3);  // the overwritten entry, not the first item
  EXPECT_FALSE(nav_ring_can_back(r));
  EXPECT_TRUE(nav_ring_can_forward(r));
  ASSERT_EQ(nav_ring_forward(&r, &e), 0);
  EXPECT_EQ(e.tag, 6);
  EXPECT_EQ(e.item, 4);
  EXPECT_FALSE(nav_ring_can_forward(r));
}

TEST(NavRing, PushAfterBackDropsTheForwardPlaces) {
  NavRing r;
  for (int i = 1; i <= 4; i++) nav_ring_push(&r, place(i, i));
  NavEntry e;
  nav_ring_back(&r, &e);
  nav_ring_back(&r, &e);
  EXPECT_EQ(e.tag, 2);
  EXPECT_EQ(nav_ring_push(&r, place(9, 9)), 1);
  EXPECT_FALSE(nav_ring_can_forward(r));
  ASSERT_EQ(nav_ring_back(&r, &e), 0);
  EXPECT_EQ(e.tag, 2);
}

TEST(NavRing, KeepsTheLast32PlacesAfterWrapping) {
  NavRing r;
  for (int i = 1; i <= 33; i++) ASSERT_EQ(nav_ring_push(&r, place(i, 100 + i, i % 9, i * 86400)), 1);
  NavEntry e;
  int steps = 0;
  while (nav_ring_back(&r, &e) == 0) steps++;
  EXPECT_EQ(steps, 31);
  EXPECT_EQ(e.tag, 2);  // tag 1 was dropped
  EXPECT_EQ(e.item, 102);
  EXPECT_EQ(e.list_type, 2);
  EXPECT_EQ(e.day, 2 * 86400);
  EXPECT_EQ(nav_ring_back(&r, &e), -1);
  steps = 0;
  while (nav_ring_forward(&r, &e) == 0) steps++;
  EXPECT_EQ(steps, 31);
  EXPECT_EQ(e.tag, 33);
}

}  // namespace
