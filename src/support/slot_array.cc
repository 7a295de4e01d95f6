// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/slot_array.h"

#include <cstdlib>

#include "support/log.h"

namespace {

constexpr uint32_t kFull = 0xffffffffu;

bool add_block(SlotArray* a) {
  if (a->block_count == a->block_capacity) {
    // Geometric growth: a mount adds thousands of blocks one at a time.
    int64_t capacity = a->block_capacity + a->block_capacity / 2 + 4;
    auto* blocks = static_cast<SlotBlock*>(std::realloc(a->blocks, sizeof(SlotBlock) * capacity));
    if (!blocks) return false;
    a->blocks = blocks;
    a->block_capacity = capacity;
  }
  SlotBlock* blocks = a->blocks;
  auto* storage = static_cast<unsigned char*>(std::malloc(a->element_size * 32));
  if (!storage) return false;
  blocks[a->block_count].storage = storage;
  blocks[a->block_count].mask = 0;
  a->block_count++;
  return true;
}

}  // namespace

SlotArray* slot_array_new(size_t element_size) {
  auto* a = static_cast<SlotArray*>(std::calloc(1, sizeof(SlotArray)));
  if (!a) return nullptr;
  a->element_size = element_size ? element_size : 1;
  if (!add_block(a)) {
    std::free(a->blocks);
    std::free(a);
    return nullptr;
  }
  return a;
}

void slot_array_free(SlotArray* a) {
  if (!a) return;
  for (int64_t i = 0; i < a->block_count; i++) std::free(a->blocks[i].storage);
  std::free(a->blocks);
  std::free(a);
}

int64_t slot_array_count(const SlotArray* a) { return a ? a->count : 0; }

void* slot_array_add(SlotArray* a, int64_t* slot) {
  if (!a) return nullptr;
  // Freed slots may sit in any block; otherwise only the last one has room.
  int64_t first = a->freed > 0 ? 0 : a->block_count - 1;
  for (int64_t i = first; i < a->block_count; i++) {
    SlotBlock& b = a->blocks[i];
    if (b.mask == kFull) continue;
    int bit = __builtin_ctz(~b.mask);
    b.mask |= 1u << bit;
    if (a->freed > 0) a->freed--;
    a->count++;
    if (slot) *slot = i * 32 + bit;
    return b.storage + a->element_size * bit;
  }
  if (!add_block(a)) {
    log_message(LOG_ERROR, "slot_array_add: out of memory");
    return nullptr;
  }
  SlotBlock& b = a->blocks[a->block_count - 1];
  b.mask = 1;
  a->count++;
  if (slot) *slot = (a->block_count - 1) * 32;
  return b.storage;
}

void slot_array_remove(SlotArray* a, int64_t slot) {
  if (!a || slot < 0 || slot / 32 >= a->block_count) return;
  SlotBlock& b = a->blocks[slot / 32];
  uint32_t bit = 1u << (slot % 32);
  if (!(b.mask & bit)) {
    log_message(LOG_ERROR, "array_delete: item %d does not exist (item size = %d)", (int)slot,
                (int)a->element_size);
    return;
  }
  b.mask &= ~bit;
  a->count--;
  a->freed++;
}

void* slot_array_get(const SlotArray* a, int64_t slot) {
  if (!a || slot < 0 || slot / 32 >= a->block_count) return nullptr;
  const SlotBlock& b = a->blocks[slot / 32];
  if (!(b.mask & (1u << (slot % 32)))) return nullptr;
  return b.storage + a->element_size * (slot % 32);
}

void* slot_array_next(const SlotArray* a, int64_t* cursor) {
  if (!a || !cursor) return nullptr;
  int64_t s = *cursor < 0 ? 0 : *cursor + 1;
  while (s / 32 < a->block_count) {
    const SlotBlock& b = a->blocks[s / 32];
    uint32_t rest = b.mask & (kFull << (s % 32));
    if (rest) {
      int bit = __builtin_ctz(rest);
      *cursor = (s / 32) * 32 + bit;
      return b.storage + a->element_size * bit;
    }
    s = (s / 32 + 1) * 32;
  }
  return nullptr;
}
