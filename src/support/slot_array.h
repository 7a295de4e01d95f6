// SPDX-License-Identifier: GPL-3.0-or-later
// Growable array of fixed-size elements whose slot index stays valid while the
// element lives; slots are the handles of items, tags, links and reminders.
#pragma once

#include <cstddef>
#include <cstdint>

struct SlotBlock {
  unsigned char* storage;  // 32 elements
  uint32_t mask;           // bit b set = slot b of the block in use
};

struct SlotArray {
  SlotBlock* blocks;
  int64_t block_count;
  int64_t block_capacity;  // room in `blocks`, grown by half again when full
  int64_t count;
  int64_t freed;
  uint64_t element_size;
};

SlotArray* slot_array_new(size_t element_size);
void slot_array_free(SlotArray* array);
int64_t slot_array_count(const SlotArray* array);
// A free element (contents undefined) and its slot.
void* slot_array_add(SlotArray* array, int64_t* slot);
void slot_array_remove(SlotArray* array, int64_t slot);
void* slot_array_get(const SlotArray* array, int64_t slot);
// Iteration: the cursor starts at -1; returns the next element in use after it
// and moves the cursor to its slot, or nullptr at the end.
void* slot_array_next(const SlotArray* array, int64_t* cursor);

// Typed view, for callers that prefer it.
template <typename T>
inline T* slot_get(const SlotArray* a, int64_t slot) {
  return static_cast<T*>(slot_array_get(a, slot));
}
template <typename T>
inline T* slot_next(const SlotArray* a, int64_t* cursor) {
  return static_cast<T*>(slot_array_next(a, cursor));
}
