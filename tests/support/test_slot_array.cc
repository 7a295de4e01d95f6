// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <set>

#include "support/slot_array.h"

namespace {

struct Elem {
  int64_t value;
  char pad[20];
};

struct ArrayDeleter {
  void operator()(SlotArray* a) const { slot_array_free(a); }
};
using ArrayPtr = std::unique_ptr<SlotArray, ArrayDeleter>;

ArrayPtr make_array() { return ArrayPtr(slot_array_new(sizeof(Elem))); }

int64_t add(SlotArray* a, int64_t value) {
  int64_t slot = -1;
  auto* e = static_cast<Elem*>(slot_array_add(a, &slot));
  e->value = value;
  return slot;
}

TEST(SlotArray, GrowsByBlocksOf32AndReusesFreedSlots) {
  auto a = make_array();
  for (int i = 0; i < 33; i++) EXPECT_EQ(add(a.get(), i), i);
  EXPECT_EQ(a->block_count, 2);
  EXPECT_EQ(slot_array_count(a.get()), 33);
  slot_array_remove(a.get(), 5);
  EXPECT_EQ(slot_array_count(a.get()), 32);
  EXPECT_EQ(slot_array_get(a.get(), 5), nullptr);
  EXPECT_EQ(add(a.get(), 99), 5);
  EXPECT_EQ(a->freed, 0);
  EXPECT_EQ(slot_get<Elem>(a.get(), 5)->value, 99);
}

TEST(SlotArray, WithoutFreedSlotsNewElementsGoToLastBlock) {
  auto a = make_array();
  for (int i = 0; i < 40; i++) add(a.get(), i);
  EXPECT_EQ(add(a.get(), 40), 40);
  // Fill the second block, then a third block starts.
  for (int i = 41; i < 64; i++) EXPECT_EQ(add(a.get(), i), i);
  EXPECT_EQ(add(a.get(), 64), 64);
  EXPECT_EQ(a->block_count, 3);
}

TEST(SlotArray, PointersStayValidWhileArrayGrows) {
  auto a = make_array();
  add(a.get(), 7);
  Elem* first = slot_get<Elem>(a.get(), 0);
  for (int i = 0; i < 1000; i++) add(a.get(), i);
  EXPECT_EQ(first, slot_get<Elem>(a.get(), 0));
  EXPECT_EQ(first->value, 7);
}

TEST(SlotArray, RemovingTwiceChangesNothing) {
  auto a = make_array();
  add(a.get(), 1);
  add(a.get(), 2);
  slot_array_remove(a.get(), 1);
  slot_array_remove(a.get(), 1);
  EXPECT_EQ(slot_array_count(a.get()), 1);
  EXPECT_EQ(a->freed, 1);
  slot_array_remove(a.get(), 1000);  // beyond the blocks: ignored
  slot_array_remove(a.get(), -1);
  EXPECT_EQ(slot_array_count(a.get()), 1);
}

TEST(SlotArray, IterationVisitsSlotsInOrderAndSkipsHoles) {
  auto a = make_array();
  for (int i = 0; i < 70; i++) add(a.get(), i * 10);
  slot_array_remove(a.get(), 0);
  for (int s = 31; s < 64; s++) slot_array_remove(a.get(), s);
  std::vector<int64_t> seen;
  int64_t cursor = -1;
  while (Elem* e = slot_next<Elem>(a.get(), &cursor)) {
    EXPECT_EQ(e->value, cursor * 10);
    seen.push_back(cursor);
  }
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front(), 1);
  EXPECT_EQ(seen.size(), 70u - 1 - 33);
  EXPECT_EQ(seen[29], 30);
  EXPECT_EQ(seen[30], 64);
}

TEST(SlotArray, NullAndOutOfRangeAreHarmless) {
  EXPECT_EQ(slot_array_count(nullptr), 0);
  EXPECT_EQ(slot_array_get(nullptr, 0), nullptr);
  slot_array_free(nullptr);
  auto a = make_array();
  EXPECT_EQ(slot_array_get(a.get(), 0), nullptr);
  EXPECT_EQ(slot_array_get(a.get(), 32), nullptr);
  int64_t cursor = -1;
  EXPECT_EQ(slot_array_next(a.get(), &cursor), nullptr);
}

TEST(SlotArray, ChurnKeepsCountsConsistent) {
  auto a = make_array();
  std::set<int64_t> live;
  unsigned seed = 12345;
  for (int step = 0; step < 5000; step++) {
    seed = seed * 1103515245 + 12345;
    if (live.empty() || (seed >> 16) % 3 != 0) {
      live.insert(add(a.get(), step));
    } else {
      auto it = live.begin();
      std::advance(it, (seed >> 8) % live.size());
      slot_array_remove(a.get(), *it);
      live.erase(it);
    }
    ASSERT_EQ(slot_array_count(a.get()), static_cast<int64_t>(live.size()));
  }
  int64_t cursor = -1, n = 0;
  while (slot_array_next(a.get(), &cursor)) {
    EXPECT_TRUE(live.count(cursor));
    n++;
  }
  EXPECT_EQ(n, static_cast<int64_t>(live.size()));
}

}  // namespace
