// SPDX-License-Identifier: GPL-3.0-or-later
// Contacts to and from vCard files, and the contact store operation.
#include <ctime>
#include <vector>

#include "interchange/components.h"
#include "interchange/import_internal.h"
#include "interchange/interchange.h"
#include "interchange/vcard_edit.h"
#include "model/item.h"
#include "model/ops.h"
#include "model/recur.h"
#include "support/text.h"

bool contact_append(int64_t slot, std::string* out) {
  const Item* item = item_get(slot);
  if (!item) return false;
  SourceRecord kept;
  bool has_kept = source_get(item->repo, item->uuid, &kept) == 0;
  std::string card = component_for_item(slot, has_kept ? &kept : nullptr);
  if (card.empty()) return false;  // a body that is no vCard
  *out += card;
  return true;
}

namespace {

bool is_leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

std::string trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

}  // namespace

std::string vcard_title(const VCardRecord& rec) {
  std::string title = trimmed(vcard_formatted_name(rec));
  if (!title.empty()) return title;
  std::string given = trimmed(vcard_given_name(rec)), family = trimmed(vcard_family_name(rec));
  title = given;
  if (!given.empty() && !family.empty()) title += " ";
  title += family;
  if (!title.empty()) return title;
  for (const VCardTyped& e : rec.emails) {
    title = trimmed(vcard_unescape(e.value));
    if (!title.empty()) return title;
  }
  for (const VCardTyped& p : rec.phones) {
    title = trimmed(vcard_unescape(p.value));
    if (!title.empty()) return title;
  }
  return std::string();
}

void vcard_form_fields(const VCardRecord& rec, const std::string& text, ItemForm* out) {
  ItemForm& f = *out;
  f.title = vcard_title(rec);
  f.body = text;
  f.due = f.end = 0;
  f.freq = f.interval_minus_one = f.by_day = f.end_kind = f.recur_count = 0;
  f.until = 0;
  f.remind_unit = f.remind_count = 0;
  if (rec.birthday != 0) {
    int month = rec.birthday / 100 % 100, day = rec.birthday % 100;
    time_t now = time(nullptr);
    struct tm tm {};
    localtime_r(&now, &tm);
    int year = tm.tm_year + 1900;
    int64_t due;
    if (month == 2 && day == 29) {
      // The series starts on the last 29 February, so that leap years keep
      // the day and the others fall on 1 March; starting in a common year
      // would move it to 1 March for good.
      while (!is_leap(year)) year--;
      due = local_time_of(year, 2, 29, 0, 0, 0);
    } else {
      due = local_time_of(year, month, day, 0, 0, 0);
      if (due <= now) due = local_time_of(year + 1, month, day, 0, 0, 0);
    }
    f.due = due;
    f.freq = FREQ_YEARLY;
    f.remind_unit = 3;  // days
    f.remind_count = 1;
  }
}

namespace {

// The form of a contact: the item's own fields, with those the card decides.
void vcard_form(int64_t slot, const VCardRecord& rec, const std::string& text, ItemForm* out) {
  *out = ItemForm{};
  if (slot >= 0) item_form_fill(slot, ITEM_VCARD, out);
  vcard_form_fields(rec, text, out);
}

}  // namespace

int64_t vcard_store(int64_t slot, const VCardRecord& rec, const std::string& text, int64_t tag) {
  ItemForm f;
  vcard_form(slot, rec, text, &f);
  return item_store(slot, ITEM_VCARD, f, 0, tag);
}

int contact_entry_of(const std::string& raw, ImportEntry* out) {
  *out = ImportEntry();
  std::vector<std::string> cards = vcard_import_cards(raw.data(), raw.size());
  if (cards.size() != 1) return -1;
  const std::string& card = cards[0];
  VCardRecord rec;
  if (vcard_parse(card.data(), card.size(), &rec) != 0) return -1;
  // A card without a formatted name is named from its other fields rather
  // than lost.
  std::string title = vcard_title(rec);
  if (title.empty()) return -1;
  VCardEdit edit = vcard_edit_of(rec);
  edit.normalise = true;
  if (trimmed(vcard_formatted_name(rec)).empty()) edit.edited.fn = vcard_escape(title.c_str());
  out->type = ITEM_VCARD;
  vcard_form(-1, edit.edited, vcard_apply_edit(card, edit), &out->form);
  out->component = raw;
  return 0;
}

int64_t contact_entry_store(const ImportEntry& e, ItemBatch* batch, int64_t tag, int64_t slot) {
  if (slot < 0) return batch->store(-1, ITEM_VCARD, e.form, 0, tag);
  const Item* item = item_get(slot);
  if (!item || item->repo != batch->repo() || item->type != ITEM_VCARD) return -1;
  // The stored item's own fields (markup, flags) stay; the card decides the rest.
  VCardRecord rec;
  if (vcard_parse(e.form.body.data(), e.form.body.size(), &rec) != 0) return -1;
  ItemForm f;
  vcard_form(slot, rec, e.form.body, &f);
  f.title = e.form.title;
  return batch->store(slot, ITEM_VCARD, f, 0, tag);
}

void contacts_plan_parse(const char* data, size_t len, ImportPlan* plan) {
  for (const std::string& raw : component_split(std::string(data, len))) {
    if (component_kind(raw) != COMPONENT_CARD) continue;
    plan->found_any = true;
    ImportEntry entry;
    if (contact_entry_of(raw, &entry) != 0) {
      plan->skipped++;
      continue;
    }
    plan->entries.push_back(std::move(entry));
  }
}
