// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/item.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include <sys/mman.h>

#include "crypto/crypto.h"
#include "model/full_rule.h"
#include "model/model.h"
#include "model/recur.h"
#include "support/log.h"

int32_t recurrence_pack(const Recurrence& r) {
  uint32_t v = uint32_t(r.freq) | uint32_t(r.interval_minus_one) << 8 | uint32_t(r.by_day) << 16 |
               uint32_t(r.end_kind) << 24;
  return static_cast<int32_t>(v);
}

Recurrence recurrence_unpack(int32_t value) {
  uint32_t v = static_cast<uint32_t>(value);
  Recurrence r;
  r.freq = v & 0xff;
  r.interval_minus_one = (v >> 8) & 0xff;
  r.by_day = (v >> 16) & 0xff;
  r.end_kind = (v >> 24) & 0xff;
  return r;
}

// --- Serialized forms ---------------------------------------------------------

std::string item_header_format(const Item& item) {
  long long field7 = 0;
  if (item.recurrence.end_kind == RECUR_COUNT)
    field7 = item.recur_count;
  else if (item.recurrence.end_kind == RECUR_UNTIL)
    field7 = item.last_occurrence;
  char prefix[256];
  int n = snprintf(prefix, sizeof prefix, "%d:%d:%d:%lld:%lld:%d;%lld:%d;%lld:%lld:%lld:", item.type, item.flags,
                   item.markup, (long long)item.due, (long long)item.end, recurrence_pack(item.recurrence), field7,
                   item.remind_offset, (long long)item.next_remind, (long long)item.created,
                   (long long)item.modified);
  std::string s(prefix, n > 0 ? size_t(n) : 0);
  s += item.title;
  return s;
}

std::string body_to_storage(const std::string& body) {
  std::string out;
  out.reserve(body.size() + body.size() / 16 + 1);
  for (size_t i = 0; i < body.size(); i++) {
    if (body[i] == '\n' && (i == 0 || body[i - 1] != '\r')) out += '\r';
    out += body[i];
  }
  return out;
}

std::string body_from_storage(const char* data, size_t len) {
  std::string out;
  if (!data) return out;
  out.reserve(len);
  for (size_t i = 0; i < len && data[i]; i++)
    if (data[i] != '\r') out += data[i];
  return out;
}

size_t padded_length(size_t len) { return (len + 16) & ~size_t(15); }

std::vector<uint8_t> pad16(const std::string& text) {
  std::vector<uint8_t> buf(padded_length(text.size()), 0);
  memcpy(buf.data(), text.data(), text.size());
  return buf;
}

void item_version_hash(const std::string& header, const std::string& stored_body, uint8_t hash[20]) {
  Sha1Context c;
  sha1_init(&c);
  sha1_update(&c, header.data(), header.size());
  sha1_update(&c, stored_body.data(), stored_body.size());
  sha1_final(&c, hash);
}

// --- Header parsing -----------------------------------------------------------

// A decimal integer: optional "-", then at least one digit, within 64 bits
// (what strtoll reads without ERANGE). *p is left on the first character
// after it; false when there is no digit or the value does not fit.
static bool scan_number(const char** p, int64_t* out) {
  const char* q = *p;
  bool negative = *q == '-';
  if (negative) q++;
  const uint64_t limit = negative ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX);
  uint64_t v = 0;
  const char* digits = q;
  // Eighteen digits cannot overflow; only longer numbers need the check.
  unsigned d;
  while ((d = unsigned(static_cast<unsigned char>(*q)) - unsigned('0')) <= 9 && q - digits < 18) {
    v = v * 10 + d;
    q++;
  }
  for (; (d = unsigned(static_cast<unsigned char>(*q)) - unsigned('0')) <= 9; q++) {
    if (v > (limit - d) / 10) return false;
    v = v * 10 + d;
  }
  if (q == digits) return false;
  *out = negative ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
  *p = q;
  return true;
}

static bool fits32(int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

struct HeaderFields {
  int64_t type, flags, markup, due, end, recurrence, remind_offset, created, modified;
  bool has_field7 = false, has_field9 = false;
  int64_t field7 = 0, field9 = 0;
  const char* title = nullptr;
};

// Splits the nine numeric tokens, each ended by ":", and the title. Tokens 6
// and 7 may carry a second number after ";". Returns false for a missing or
// malformed token. One pass, no copies.
static bool split_header(const char* header, HeaderFields* f) {
  if (!header) return false;
  const char* p = header;
  int64_t* plain[9] = {&f->type, &f->flags, &f->markup, &f->due, &f->end, &f->recurrence, &f->remind_offset,
                       &f->created, &f->modified};
  for (int i = 0; i < 9; i++) {
    if (!scan_number(&p, plain[i])) return false;
    if (*p == ';' && (i == 5 || i == 6)) {
      p++;
      int64_t second;
      if (!scan_number(&p, &second)) return false;
      if (i == 5) {
        f->has_field7 = true;
        f->field7 = second;
      } else {
        f->has_field9 = true;
        f->field9 = second;
      }
    }
    if (*p != ':') return false;
    p++;
  }
  f->title = p;
  return true;
}

// --- uuid -> slot map ---------------------------------------------------------

static uint64_t load64(const uint8_t* p) {
  uint64_t v;
  memcpy(&v, p, 8);
  return v;
}

// Uuids are mostly random, but not all writers made them so: mix both halves.
static size_t uuid_hash(const uint8_t uuid[16]) {
  uint64_t h = load64(uuid) * 0x9E3779B97F4A7C15ull ^ load64(uuid + 8);
  h ^= h >> 32;
  h *= 0xD6E8FEB86659FD93ull;
  h ^= h >> 32;
  return static_cast<size_t>(h);
}

static bool uuid_equal(const uint8_t* a, const uint8_t* b) {
  return (load64(a) ^ load64(b)) == 0 && (load64(a + 8) ^ load64(b + 8)) == 0;
}

// Index of the uuid's entry, or of the empty entry where it would go. The
// table is never full (at most 3/4 used).
static size_t uuid_map_probe(const UuidSlotMap& map, const uint8_t uuid[16]) {
  size_t mask = map.capacity - 1;
  size_t i = uuid_hash(uuid) & mask;
  while (map.entries[i].slot >= 0 && !uuid_equal(map.entries[i].uuid, uuid)) i = (i + 1) & mask;
  return i;
}

constexpr size_t kHugePage = size_t(2) << 20;

static UuidSlotMap::Entry* table_alloc(size_t capacity) {
  size_t bytes = capacity * sizeof(UuidSlotMap::Entry);
  bool huge = bytes >= kHugePage;
  // aligned_alloc wants a multiple of the alignment; capacities are powers of two.
  void* p = aligned_alloc(huge ? kHugePage : 64, huge ? (bytes + kHugePage - 1) & ~(kHugePage - 1) : bytes);
  if (!p) return nullptr;
#ifdef MADV_HUGEPAGE
  if (huge) madvise(p, bytes, MADV_HUGEPAGE);  // only a hint; fine if refused
#endif
  auto* e = static_cast<UuidSlotMap::Entry*>(p);
  for (size_t i = 0; i < capacity; i++) e[i].slot = -1;
  return e;
}

UuidSlotMap::~UuidSlotMap() { free(entries); }

static void uuid_map_rehash(UuidSlotMap* map, size_t capacity) {
  UuidSlotMap::Entry* fresh = table_alloc(capacity);
  if (!fresh) {
    // Out of memory: keep the old table, which still has room for one more.
    log_message(LOG_ERROR, "uuid_map_rehash: %zu", capacity);
    return;
  }
  UuidSlotMap::Entry* old = map->entries;
  size_t old_capacity = map->capacity;
  map->entries = fresh;
  map->capacity = capacity;
  for (size_t i = 0; i < old_capacity; i++) {
    if (old[i].slot >= 0) map->entries[uuid_map_probe(*map, old[i].uuid)] = old[i];
  }
  free(old);
}

void uuid_map_reserve(UuidSlotMap* map, size_t n) {
  size_t capacity = map->capacity ? map->capacity : 16;
  while (n > capacity / 4 * 3) capacity *= 2;
  if (capacity != map->capacity) uuid_map_rehash(map, capacity);
}

int64_t uuid_map_find(const UuidSlotMap& map, const uint8_t uuid[16]) {
  if (map.count == 0) return -1;
  return map.entries[uuid_map_probe(map, uuid)].slot;
}

void uuid_map_set(UuidSlotMap* map, const uint8_t uuid[16], int64_t slot) {
  if (slot < 0) return;
  uuid_map_reserve(map, map->count + 1);
  // A failed growth leaves at least one empty entry, so probing ends.
  if (!map->entries || map->count + 1 >= map->capacity) return;
  UuidSlotMap::Entry& e = map->entries[uuid_map_probe(*map, uuid)];
  if (e.slot < 0) {
    memcpy(e.uuid, uuid, 16);
    map->count++;
  }
  e.slot = slot;
}

void uuid_map_erase(UuidSlotMap* map, const uint8_t uuid[16]) {
  if (map->count == 0) return;
  size_t mask = map->capacity - 1;
  size_t hole = uuid_map_probe(*map, uuid);
  if (map->entries[hole].slot < 0) return;
  map->count--;
  // Backward shift: move up every later entry of the run whose home is not
  // between the hole and itself, so that no probe sequence is broken.
  for (size_t i = (hole + 1) & mask; map->entries[i].slot >= 0; i = (i + 1) & mask) {
    size_t home = uuid_hash(map->entries[i].uuid) & mask;
    if (((i - home) & mask) >= ((i - hole) & mask)) {
      map->entries[hole] = map->entries[i];
      hole = i;
    }
  }
  map->entries[hole].slot = -1;
}

void uuid_map_prefetch(const UuidSlotMap& map, const uint8_t uuid[16]) {
  if (map.capacity) __builtin_prefetch(&map.entries[uuid_hash(uuid) & (map.capacity - 1)]);
}

void uuid_map_clear(UuidSlotMap* map) {
  if (map->count) {
    for (size_t i = 0; i < map->capacity; i++) map->entries[i].slot = -1;
  }
  map->count = 0;
}

static Item* append_item(int64_t* slot) {
  int64_t s;
  void* p = slot_array_add(model().items, &s);
  if (!p) return nullptr;
  Item* item = new (p) Item{};
  if (slot) *slot = s;
  return item;
}

// Splits and checks a header string; logs what it rejects.
static bool header_checked(int repo, const uint8_t uuid[16], const char* header, HeaderFields* f,
                           Recurrence* rec) {
  bool ok = split_header(header, f);
  if (ok) {
    ok = f->type >= 0 && f->type <= 4 && f->flags >= 0 && f->flags <= 4 && f->due >= 0 && f->end >= 0 &&
         f->recurrence >= 0 && f->remind_offset >= 0 && f->created > 0 && f->modified > 0 &&
         f->created <= f->modified;
    // Fields that are 32 bits wide in the record cannot hold more.
    ok = ok && fits32(f->markup) && fits32(f->recurrence) && fits32(f->remind_offset);
  }
  if (ok) {
    *rec = recurrence_unpack(static_cast<int32_t>(f->recurrence));
    if (rec->freq != 0 && f->has_field7 && rec->end_kind == RECUR_COUNT) ok = fits32(f->field7);
  }
  if (!ok) log_message(LOG_ERROR, "items_add_from_str(%d, %s)", repo, uuid_to_hex(uuid).c_str());
  return ok;
}

static void fill_item(Item* item, int repo, const uint8_t uuid[16], const HeaderFields& f, const Recurrence& rec) {
  memcpy(item->uuid, uuid, 16);
  item->repo = static_cast<int8_t>(repo);
  item->type = static_cast<int8_t>(f.type);
  item->flags = static_cast<int8_t>(f.flags);
  item->markup = static_cast<int8_t>(f.markup);
  item->due = f.due;
  item->end = f.end;
  item->recurrence = rec;
  item->remind_offset = static_cast<int32_t>(f.remind_offset);
  item->created = f.created;
  item->modified = f.modified;
  item->title = f.title;
  if (rec.freq != 0 && f.has_field7) {
    if (rec.end_kind == RECUR_COUNT)
      item->recur_count = static_cast<int32_t>(f.field7);
    else if (rec.end_kind == RECUR_UNTIL)
      item->last_occurrence = f.field7;
  }
  item->next_remind = f.has_field9 ? f.field9 : 0;
}

Item* items_add_from_str(int repo, const uint8_t uuid[16], const char* header, int64_t* slot) {
  HeaderFields f;
  Recurrence rec;
  if (!header_checked(repo, uuid, header, &f, &rec)) return nullptr;
  int64_t s;
  Item* item = append_item(&s);
  if (!item) return nullptr;
  fill_item(item, repo, uuid, f, rec);
  uuid_map_set(&model().item_index, item->uuid, s);
  if (slot) *slot = s;
  return item;
}

int item_parse_header(const char* header, Item* record) {
  HeaderFields f;
  if (!split_header(header, &f)) return -1;
  record->type = static_cast<int8_t>(f.type);
  record->flags = static_cast<int8_t>(f.flags);
  record->markup = static_cast<int8_t>(f.markup);
  record->due = f.due;
  record->end = f.end;
  record->recurrence = recurrence_unpack(static_cast<int32_t>(f.recurrence));
  record->recur_count = 0;
  record->remind_offset = static_cast<int32_t>(f.remind_offset);
  record->next_remind = 0;
  record->created = f.created;
  record->modified = f.modified;
  record->title = f.title;
  return 0;
}

// --- Key bodies -----------------------------------------------------------------

void key_body_parse(const char* body, KeyBody* out) {
  *out = KeyBody{};
  if (!body) return;
  std::string* fields[3] = {&out->url, &out->user, &out->password};
  const char* p = body;
  for (int i = 0; i < 4; i++) {
    const char* lf = strchr(p, '\n');
    if (!lf) return;
    if (i < 3) {
      fields[i]->assign(p, lf);
    } else {
      std::string date(p, lf);
      out->date = strtoll(date.c_str(), nullptr, 0);
    }
    p = lf + 1;
  }
  out->notes = p;
}

std::string key_body_format(const KeyBody& key) {
  std::string s = key.url;
  s += '\n';
  s += key.user;
  s += '\n';
  s += key.password;
  s += '\n';
  s += std::to_string(static_cast<long long>(key.date));
  s += '\n';
  s += key.notes;
  if (s.size() > ITEM_BODY_MAX) {
    log_message(LOG_WARNING, "key_body_format: %zu bytes cut to %zu", s.size(), ITEM_BODY_MAX);
    size_t cut = ITEM_BODY_MAX;
    // Never leave half a UTF-8 sequence at the end.
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) cut--;
    s.resize(cut);
  }
  return s;
}

// --- The item collection ----------------------------------------------------------

Item* item_new(int64_t* slot) {
  uint8_t uuid[16];
  if (random_uuid(uuid) != 0) {
    log_message(LOG_ERROR, "item_new: no random bytes");
    return nullptr;
  }
  int64_t s;
  Item* item = append_item(&s);
  if (!item) return nullptr;
  memcpy(item->uuid, uuid, 16);
  uuid_map_set(&model().item_index, item->uuid, s);
  if (slot) *slot = s;
  return item;
}

int64_t item_find(const uint8_t uuid[16]) { return uuid_map_find(model().item_index, uuid); }

int64_t item_find_hex(const char* text) {
  uint8_t uuid[16];
  if (hex_to_uuid(text, uuid) != 0) return -1;
  return item_find(uuid);
}

Item* item_get(int64_t slot) {
  if (slot < 0) return nullptr;
  return slot_get<Item>(model().items, slot);
}

// Empties the record's title, marks it deleted and frees its slot.
static void remove_record(SlotArray* array, Item* item, int64_t slot) {
  std::string().swap(item->title);
  item->flags |= ITEM_DELETED;
  slot_array_remove(array, slot);
}

void items_remove_slot(int64_t slot) {
  Model& m = model();
  Item* item = item_get(slot);
  if (!item) return;
  uuid_map_erase(&m.item_index, item->uuid);
  remove_record(m.items, item, slot);
}

static void free_items(SlotArray* array) {
  if (!array) return;
  int64_t cursor = -1;
  while (Item* item = slot_next<Item>(array, &cursor)) item->~Item();
  slot_array_free(array);
}

void items_reset() {
  Model& m = model();
  free_items(m.items);
  full_rules_reset();
  m.items = slot_array_new(sizeof(Item));
  uuid_map_clear(&m.item_index);
}

void items_count_reset() {
  for (int32_t& c : model().type_counts) c = 0;
}

void items_inc_count(int type) {
  if (type < 0 || type > 4) {
    log_message(LOG_ERROR, "items_inc_count: type %d does not exist", type);
    return;
  }
  model().type_counts[type]++;
}

void item_set_last_occurrence(Item* item) {
  if (item->full_rule > 0) {
    item->last_occurrence = item->due ? full_rule_last(item) : 0;
    return;
  }
  const Recurrence& r = item->recurrence;
  if (!recur_active(r)) {
    item->last_occurrence = item->due;
    return;
  }
  switch (r.end_kind) {
    case RECUR_UNTIL:
      break;  // the stored until time
    case RECUR_COUNT:
      item->last_occurrence = item->due ? recur_advance(item->due, r, item->recur_count - 1) : 0;
      break;
    default:
      item->last_occurrence = RECUR_FOREVER_TIME;
      break;
  }
}

// --- History view ------------------------------------------------------------------

HistoryView::HistoryView() : versions(slot_array_new(sizeof(Item))) {}

HistoryView::~HistoryView() { free_items(versions); }

Item* history_get(const HistoryView& view, int64_t slot) {
  if (slot < 0) return nullptr;
  return slot_get<Item>(view.versions, slot);
}

void history_clear(HistoryView* view) {
  free_items(view->versions);
  view->versions = slot_array_new(sizeof(Item));
  view->headers.clear();
}

Item* history_add(HistoryView* view, int repo, const uint8_t uuid[16], const std::string& header,
                  const uint8_t version_hash[20], int64_t* slot) {
  HeaderFields f;
  Recurrence rec;
  if (!header_checked(repo, uuid, header.c_str(), &f, &rec)) return nullptr;
  int64_t s;
  void* p = slot_array_add(view->versions, &s);
  if (!p) return nullptr;
  Item* version = new (p) Item{};
  fill_item(version, repo, uuid, f, rec);
  memcpy(version->version_hash, version_hash, 20);
  item_set_last_occurrence(version);
  if (view->headers.size() <= static_cast<size_t>(s)) view->headers.resize(static_cast<size_t>(s) + 1);
  view->headers[static_cast<size_t>(s)] = header;
  if (slot) *slot = s;
  return version;
}

void history_remove_slot(HistoryView* view, int64_t slot) {
  Item* version = history_get(*view, slot);
  if (!version) return;
  remove_record(view->versions, version, slot);
  if (static_cast<size_t>(slot) < view->headers.size()) view->headers[static_cast<size_t>(slot)].clear();
}

const std::string* history_header(const HistoryView& view, int64_t slot) {
  if (!history_get(view, slot) || static_cast<size_t>(slot) >= view.headers.size()) return nullptr;
  const std::string& h = view.headers[static_cast<size_t>(slot)];
  return h.empty() ? nullptr : &h;
}
