// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/model.h"

#include <new>

#include "model/item.h"
#include "model/recur.h"
#include "model/tag.h"

static Model* create_model() {
  Model* m = new Model();
  m->items = slot_array_new(sizeof(Item));
  m->tags = slot_array_new(sizeof(Tag));
  m->tag_links = slot_array_new(sizeof(TagLink));
  m->reminders = slot_array_new(sizeof(Reminder));
  int64_t slot;
  new (slot_array_add(m->tags, &slot)) Tag{};  // the zero root entry, slot 0
  return m;
}

Model& model() {
  static Model* instance = create_model();
  return *instance;
}

void model_reset() {
  Model& m = model();
  items_reset();
  tags_reset();
  slot_array_free(m.reminders);
  m.reminders = slot_array_new(sizeof(Reminder));
  for (int32_t& c : m.type_counts) c = 0;
  m.duplicate_tag = false;
  m.view = VIEW_REMINDERS;
  m.fixed_kind = FIXED_UPCOMING;
  m.selected_item = -1;
  m.calendar_day = 0;
  m.upcoming_from = 0;
  m.upcoming_to = 0;
  m.show_hidden = false;
  m.list_walk = ListWalk();
  std::vector<int32_t>().swap(m.clipboard);
  m.search_text.clear();
  m.search_case_sensitive = 0;
  m.repo_lookup = nullptr;
  m.item_changed = nullptr;
  m.reminder_changed = nullptr;
  m.undo_changed = nullptr;
}

Tag* model_selected_tag() {
  int32_t view = model().view;
  return view >= 1 ? tag_get(view) : nullptr;
}

int model_selected_repo() {
  const Tag* tag = model_selected_tag();
  return tag ? tag->repo : -1;
}

int repo_ref(int repo, RepoRef* out) {
  *out = RepoRef{};
  Model& m = model();
  if (!m.repo_lookup || m.repo_lookup(repo, out) != 0) return -1;
  return out->store.db && out->store.key ? 0 : -1;
}

bool repo_counts(int repo) {
  Model& m = model();
  if (m.show_hidden || !m.repo_lookup) return true;
  RepoRef ref;
  if (m.repo_lookup(repo, &ref) != 0) return true;
  return !ref.hidden;
}

std::string item_uid(const uint8_t uuid[16]) { return uuid_to_hex(uuid) + "@" + kItemUidDomain; }

std::string uuid_to_hex(const uint8_t uuid[16]) {
  static const char digits[] = "0123456789abcdef";
  std::string s(32, '0');
  for (int i = 0; i < 16; i++) {
    s[2 * i] = digits[uuid[i] >> 4];
    s[2 * i + 1] = digits[uuid[i] & 15];
  }
  return s;
}

static int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int hex_to_uuid(const char* text, uint8_t uuid[16]) {
  if (!text) return -1;
  uint8_t out[16];
  for (int i = 0; i < 16; i++) {
    int hi = hex_digit(text[2 * i]);
    if (hi < 0) return -1;
    int lo = hex_digit(text[2 * i + 1]);
    if (lo < 0) return -1;
    out[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  if (text[32] != '\0') return -1;
  for (int i = 0; i < 16; i++) uuid[i] = out[i];
  return 0;
}

bool uuid_is_zero(const uint8_t uuid[16]) {
  for (int i = 0; i < 16; i++)
    if (uuid[i]) return false;
  return true;
}
