// SPDX-License-Identifier: GPL-3.0-or-later
// Record sets: growth, sorting, search and the merge operations of sync.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "common/test_support.h"
#include "support/record_set.h"

namespace {

// A record of `size` bytes whose first byte is a and second byte b.
std::vector<uint8_t> rec(size_t size, uint8_t a, uint8_t b = 0) {
  std::vector<uint8_t> r(size, 0);
  r[0] = a;
  if (size > 16) r[16] = b;
  return r;
}

RecordSet make(size_t size, std::initializer_list<std::pair<uint8_t, uint8_t>> items) {
  RecordSet s;
  recordset_init(&s, size, 0);
  for (auto& it : items) recordset_append(&s, rec(size, it.first, it.second).data());
  recordset_sort(&s);
  return s;
}

std::vector<std::pair<int, int>> dump(const RecordSet& s) {
  std::vector<std::pair<int, int>> out;
  for (size_t i = 0; i < s.count; ++i) out.emplace_back(s.at(i)[0], s.size > 16 ? s.at(i)[16] : -1);
  return out;
}

using V = std::vector<std::pair<int, int>>;

}  // namespace

TEST(RecordSet, GrowsSortsSearchesAndIterates) {
  RecordSet s;
  recordset_init(&s, REC_VERSION, 0);
  EXPECT_EQ(1u, s.capacity);
  for (int i = 9; i >= 0; --i) recordset_append(&s, rec(REC_VERSION, static_cast<uint8_t>(i), 1).data());
  EXPECT_EQ(10u, s.count);
  EXPECT_EQ(16u, s.capacity);
  recordset_sort(&s);
  for (size_t i = 0; i < s.count; ++i) EXPECT_EQ(i, s.at(i)[0]);
  auto key = rec(REC_VERSION, 4, 1);
  EXPECT_TRUE(recordset_contains(&s, key.data()));
  key[16] = 2;
  EXPECT_FALSE(recordset_contains(&s, key.data()));
  auto by_uuid = [](const void* k, const void* r) { return std::memcmp(k, r, 16); };
  const uint8_t* hit = recordset_search(&s, key.data(), by_uuid);
  ASSERT_NE(nullptr, hit);
  EXPECT_EQ(4, hit[0]);
  int seen = 0;
  while (recordset_next(&s)) ++seen;
  EXPECT_EQ(10, seen);
  EXPECT_EQ(nullptr, recordset_next(&s));
  recordset_rewind(&s);
  EXPECT_EQ(0, recordset_next(&s)[0]);
  recordset_free(&s);
  EXPECT_EQ(0u, s.count);
}

TEST(RecordSet, MergeOperations) {
  RecordSet a = make(REC_VERSION, {{1, 1}, {2, 1}, {2, 2}, {4, 1}});
  RecordSet b = make(REC_VERSION, {{2, 2}, {3, 1}, {4, 1}, {5, 5}});
  EXPECT_EQ((V{{1, 1}, {2, 1}}), dump(recordset_difference(a, b)));
  EXPECT_EQ((V{{2, 2}, {4, 1}}), dump(recordset_intersection(a, b)));
  EXPECT_EQ((V{{1, 1}, {2, 1}, {2, 2}, {3, 1}, {4, 1}, {5, 5}}), dump(recordset_union(a, b)));
  EXPECT_EQ((V{{1, -1}, {2, -1}, {4, -1}}), dump(recordset_uuids(a)));
  RecordSet empty;
  recordset_init(&empty, REC_VERSION, 0);
  EXPECT_EQ(dump(a), dump(recordset_difference(a, empty)));
  EXPECT_EQ(0u, recordset_intersection(a, empty).count);
  EXPECT_EQ(dump(a), dump(recordset_union(empty, a)));
}

TEST(RecordSet, UnionZeroFillsShorterRecordsAndUuidsDropTheZeroUuid) {
  RecordSet versions = make(REC_VERSION, {{1, 3}, {5, 2}});
  RecordSet uuids = make(REC_UUID, {{1, 0}, {3, 0}, {5, 0}});
  RecordSet u = recordset_union(versions, uuids);
  EXPECT_EQ(size_t(REC_VERSION), u.size);
  // a zero-filled uuid record sorts before the versions of the same uuid
  EXPECT_EQ((V{{1, 0}, {1, 3}, {3, 0}, {5, 0}, {5, 2}}), dump(u));
  RecordSet z = make(REC_VERSION, {{0, 1}, {0, 2}, {7, 1}});
  EXPECT_EQ((V{{7, -1}}), dump(recordset_uuids(z)));
}

TEST(RecordSet, WritesRawRecords) {
  ScratchDir dir("recset");
  RecordSet s = make(REC_VERSION, {{2, 9}, {1, 8}});
  ASSERT_EQ(0, recordset_write(&s, dir.file("objs").c_str()));
  std::ifstream f(dir.file("objs"), std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  std::string raw = ss.str();
  ASSERT_EQ(72u, raw.size());
  EXPECT_EQ(1, raw[0]);
  EXPECT_EQ(8, raw[16]);
  EXPECT_EQ(2, raw[36]);
  RecordSet e;
  recordset_init(&e, REC_VERSION, 0);
  ASSERT_EQ(0, recordset_write(&e, dir.file("empty").c_str()));
  std::ifstream g(dir.file("empty"), std::ios::binary | std::ios::ate);
  EXPECT_EQ(0, static_cast<int>(g.tellg()));
}
