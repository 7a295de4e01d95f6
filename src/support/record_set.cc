// SPDX-License-Identifier: GPL-3.0-or-later
// Record sets and their merge operations.
#include "support/record_set.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

int cmp_n(const uint8_t* a, const uint8_t* b, size_t n) { return std::memcmp(a, b, n); }

// Copies a record of `from` bytes into `to` bytes, zero-filled.
void widen(std::vector<uint8_t>* out, const uint8_t* rec, size_t from, size_t to) {
  size_t at = out->size();
  out->resize(at + to, 0);
  std::memcpy(out->data() + at, rec, std::min(from, to));
}

}  // namespace

void recordset_init(RecordSet* s, size_t size, size_t capacity) {
  s->size = size;
  s->capacity = capacity ? capacity : 1;
  s->count = 0;
  s->cursor = 0;
  s->data.clear();
  s->data.reserve(s->capacity * size);
}

void recordset_append(RecordSet* s, const void* rec) {
  if (s->count == s->capacity) {
    s->capacity *= 2;
    s->data.reserve(s->capacity * s->size);
  }
  const uint8_t* p = static_cast<const uint8_t*>(rec);
  s->data.insert(s->data.end(), p, p + s->size);
  s->count++;
}

void recordset_sort(RecordSet* s) {
  if (s->count < 2) return;
  size_t sz = s->size;
  std::vector<size_t> idx(s->count);
  for (size_t i = 0; i < idx.size(); ++i) idx[i] = i;
  const uint8_t* base = s->data.data();
  std::sort(idx.begin(), idx.end(), [&](size_t x, size_t y) { return cmp_n(base + x * sz, base + y * sz, sz) < 0; });
  std::vector<uint8_t> sorted(s->count * sz);
  for (size_t i = 0; i < idx.size(); ++i) std::memcpy(sorted.data() + i * sz, base + idx[i] * sz, sz);
  s->data.swap(sorted);
}

const uint8_t* recordset_search(const RecordSet* s, const void* key, int (*cmp)(const void* key, const void* rec)) {
  size_t lo = 0, hi = s->count;
  while (lo < hi) {
    size_t mid = lo + (hi - lo) / 2;
    int c = cmp(key, s->at(mid));
    if (c == 0) return s->at(mid);
    if (c < 0)
      hi = mid;
    else
      lo = mid + 1;
  }
  return nullptr;
}

bool recordset_contains(const RecordSet* s, const void* rec) {
  size_t lo = 0, hi = s->count;
  while (lo < hi) {
    size_t mid = lo + (hi - lo) / 2;
    int c = std::memcmp(rec, s->at(mid), s->size);
    if (c == 0) return true;
    if (c < 0)
      hi = mid;
    else
      lo = mid + 1;
  }
  return false;
}

const uint8_t* recordset_next(RecordSet* s) {
  if (s->cursor >= s->count) return nullptr;
  return s->at(s->cursor++);
}

void recordset_rewind(RecordSet* s) { s->cursor = 0; }

void recordset_free(RecordSet* s) {
  std::vector<uint8_t>().swap(s->data);
  s->count = s->capacity = s->cursor = 0;
}

int recordset_write(const RecordSet* s, const char* path) {
  FILE* f = std::fopen(path, "wb");
  if (!f) return -1;
  size_t bytes = s->count * s->size;
  bool ok = bytes == 0 || std::fwrite(s->data.data(), 1, bytes, f) == bytes;
  if (std::fclose(f) != 0) ok = false;
  return ok ? 0 : -1;
}

RecordSet recordset_difference(const RecordSet& a, const RecordSet& b) {
  RecordSet r;
  recordset_init(&r, a.size, a.count);
  size_t n = std::min(a.size, b.size);
  size_t i = 0, j = 0;
  while (i < a.count) {
    if (j >= b.count) {
      recordset_append(&r, a.at(i++));
      continue;
    }
    int c = cmp_n(a.at(i), b.at(j), n);
    if (c < 0)
      recordset_append(&r, a.at(i++));
    else if (c > 0)
      ++j;
    else
      ++i;
  }
  return r;
}

RecordSet recordset_intersection(const RecordSet& a, const RecordSet& b) {
  RecordSet r;
  recordset_init(&r, a.size, std::min(a.count, b.count));
  size_t n = std::min(a.size, b.size);
  size_t i = 0, j = 0;
  while (i < a.count && j < b.count) {
    int c = cmp_n(a.at(i), b.at(j), n);
    if (c < 0)
      ++i;
    else if (c > 0)
      ++j;
    else
      recordset_append(&r, a.at(i++));
  }
  return r;
}

RecordSet recordset_union(const RecordSet& a, const RecordSet& b) {
  size_t sz = std::max(a.size, b.size);
  RecordSet r;
  recordset_init(&r, sz, a.count + b.count);
  std::vector<uint8_t> wa(sz), wb(sz);
  size_t i = 0, j = 0;
  auto load = [&](std::vector<uint8_t>* w, const RecordSet& s, size_t k) {
    std::fill(w->begin(), w->end(), 0);
    std::memcpy(w->data(), s.at(k), s.size);
  };
  const uint8_t* last = nullptr;
  auto emit = [&](const std::vector<uint8_t>& w) {
    if (last && std::memcmp(last, w.data(), sz) == 0) return;
    r.data.reserve((r.count + 1) * sz);
    widen(&r.data, w.data(), sz, sz);
    r.count++;
    if (r.count > r.capacity) r.capacity = r.count;
    last = r.data.data() + (r.count - 1) * sz;
  };
  while (i < a.count || j < b.count) {
    if (i < a.count) load(&wa, a, i);
    if (j < b.count) load(&wb, b, j);
    if (j >= b.count) {
      emit(wa);
      ++i;
    } else if (i >= a.count) {
      emit(wb);
      ++j;
    } else {
      int c = std::memcmp(wa.data(), wb.data(), sz);
      if (c <= 0) {
        emit(wa);
        ++i;
        if (c == 0) ++j;
      } else {
        emit(wb);
        ++j;
      }
    }
  }
  return r;
}

RecordSet recordset_uuids(const RecordSet& a) {
  RecordSet r;
  recordset_init(&r, REC_UUID, a.count);
  uint8_t prev[REC_UUID] = {};
  for (size_t i = 0; i < a.count; ++i) {
    const uint8_t* p = a.at(i);
    if (std::memcmp(p, prev, REC_UUID) == 0) continue;
    std::memcpy(prev, p, REC_UUID);
    recordset_append(&r, p);
  }
  return r;
}
