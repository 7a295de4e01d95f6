// SPDX-License-Identifier: GPL-3.0-or-later
// Sorted sets of fixed-size records (version records of uuid and hash, link
// records of two uuids, uuid records) and the merge operations that
// synchronisation combines them with. Records compare by memcmp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct RecordSet {
  size_t size = 0;      // bytes per record
  size_t capacity = 0;  // records the storage holds before it doubles
  size_t count = 0;
  size_t cursor = 0;    // next record for recordset_next
  std::vector<uint8_t> data;

  const uint8_t* at(size_t i) const { return data.data() + i * size; }
};

enum { REC_UUID = 16, REC_VERSION = 36, REC_LINK = 32 };

// A set of `size`-byte records with room for `capacity` (0 counts as 1).
void recordset_init(RecordSet* s, size_t size, size_t capacity);
// Appends one record of s->size bytes.
void recordset_append(RecordSet* s, const void* rec);
// Sorts by memcmp of whole records.
void recordset_sort(RecordSet* s);
// Binary search with a comparison of key and record; the record or nullptr.
const uint8_t* recordset_search(const RecordSet* s, const void* key, int (*cmp)(const void* key, const void* rec));
// True when the sorted set holds a record equal to rec over s->size bytes.
bool recordset_contains(const RecordSet* s, const void* rec);
// Next record at the cursor (advancing it), or nullptr at the end.
const uint8_t* recordset_next(RecordSet* s);
void recordset_rewind(RecordSet* s);
void recordset_free(RecordSet* s);
// Writes all records raw ("wb"; an empty set gives an empty file). 0 or -1.
int recordset_write(const RecordSet* s, const char* path);

// Merge operations over sorted inputs; the result is sorted.
// a - b: records of a without an equal record in b (compared over the
// shorter of the two record sizes).
RecordSet recordset_difference(const RecordSet& a, const RecordSet& b);
// a ∩ b: records of a that have an equal record in b.
RecordSet recordset_intersection(const RecordSet& a, const RecordSet& b);
// a ∪ b, equal records once; shorter records are zero-filled to the longer
// record size.
RecordSet recordset_union(const RecordSet& a, const RecordSet& b);
// The first 16 bytes of each record, consecutive duplicates and a leading
// all-zero uuid dropped.
RecordSet recordset_uuids(const RecordSet& a);
