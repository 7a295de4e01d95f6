// SPDX-License-Identifier: GPL-3.0-or-later
// The two halves of an import and the slices of an export, by kind.
#include "interchange/import_plan.h"

#include <strings.h>

#include <array>
#include <cstring>
#include <map>
#include <ctime>
#include <memory>

#include "crypto/wipe.h"
#include "interchange/accounts_json.h"
#include "interchange/components.h"
#include "interchange/ical.h"
#include "interchange/import_internal.h"
#include "model/item.h"
#include "model/tag_ops.h"
#include "storage/source_store.h"
#include "support/log.h"

namespace {

// Each export's item types (bit n: ItemType n), in ExportKind order.
const int kExportTypes[] = {1 << ITEM_NOTE, 1 << ITEM_TASK | 1 << ITEM_EVENT, 1 << ITEM_VCARD, 1 << ITEM_KEY};

void collect(int64_t slot, Item*, void* ctx) { static_cast<std::vector<int64_t>*>(ctx)->push_back(slot); }

// Keeps the entry's component beside the stored item; an item an account
// syncs keeps its sync state.
void keep_component(int repo, int64_t slot, const ImportEntry& e) {
  const Item* item = item_get(slot);
  if (!item) return;
  SourceRecord r;
  if (source_get(repo, item->uuid, &r) != 0) {
    r = SourceRecord();
    std::memcpy(r.uuid, item->uuid, 16);
  }
  r.component = e.component;
  r.rule = e.rule;
  if (source_put(repo, r) != 0) log_message(LOG_ERROR, "import_plan_store: source_put");
}

}  // namespace

ImportPlan::~ImportPlan() {
  for (ImportEntry& e : entries) wipe(&e.form.body);
}

bool import_plan_parse(ImportKind kind, const char* data, size_t len, const char* title, ImportPlan* plan) {
  switch (kind) {
    case IMPORT_NOTES: note_plan_parse(data, len, title, plan); break;
    case IMPORT_CALENDAR: calendar_plan_parse(data, len, plan); break;
    case IMPORT_CONTACTS: contacts_plan_parse(data, len, plan); break;
    case IMPORT_ACCOUNTS: return accounts_plan_parse(data, len, plan);
  }
  return true;
}

int import_plan_read(ImportKind kind, const char* path, ImportPlan* plan) {
  std::string text;
  if (read_file_all(path, &text) != 0) {
    log_message(LOG_ERROR, "import_plan_read: cannot read the file");
    return -1;
  }
  import_plan_parse(kind, text.data(), text.size(), path, plan);
  wipe(&text);
  return 0;
}

void import_plan_store(const ImportPlan& plan, size_t from, size_t to, ItemBatch* batch, int64_t tag,
                       ImportReport* report) {
  if (to > plan.entries.size()) to = plan.entries.size();
  // The kept components of a slice are one write to the source store. They
  // describe the file, not an edit: an undone import leaves them for its
  // redo, and they go once nothing can bring the items back (source_sweep).
  std::unique_ptr<SourceTransaction> sources;
  // Items kept from other programs' files are found again by their UID.
  std::map<std::string, std::array<uint8_t, 16>> uids;
  bool uids_read = false;
  for (size_t i = from; i < to; i++) {
    if (batch->status() != 0) return;
    const ImportEntry* ep = &plan.entries[i];
    ImportEntry matched;
    if (!ep->has_uuid && !ep->uid.empty()) {
      if (!uids_read) {
        uids_read = true;
        source_each(batch->repo(), [&uids](const SourceRecord& r) {
          std::string uid = component_uid(r.component);
          if (!uid.empty() && component_kind(r.component) != COMPONENT_CARD)
            std::copy(r.uuid, r.uuid + 16, uids[uid].begin());
          return 0;
        });
      }
      auto found = uids.find(ep->uid);
      if (found != uids.end()) {
        matched = *ep;
        matched.has_uuid = true;
        std::copy(found->second.begin(), found->second.end(), matched.uuid);
        ep = &matched;
      }
    }
    const ImportEntry& e = *ep;
    bool updated = false;
    int64_t slot = e.type == ITEM_TASK || e.type == ITEM_EVENT ? calendar_entry_store(e, batch, tag, &updated)
                                                               : batch->store(-1, e.type, e.form, 0, tag);
    if (slot < 0) {
      if (report) report->skipped++;
      continue;
    }
    if (!e.component.empty()) {
      if (!sources) sources = std::make_unique<SourceTransaction>(batch->repo());
      if (sources->status() == 0) keep_component(batch->repo(), slot, e);
    }
    if (report) {
      report->imported++;
      if (updated) report->updated++;
    }
  }
  if (sources && sources->commit() != 0) log_message(LOG_ERROR, "import_plan_store: sources not kept");
}

ImportKind import_kind_of(const std::string& path) {
  auto ends = [&](const char* ext) {
    size_t n = std::char_traits<char>::length(ext);
    return path.size() > n && strcasecmp(path.c_str() + path.size() - n, ext) == 0;
  };
  if (ends(".ics")) return IMPORT_CALENDAR;
  if (ends(".vcf")) return IMPORT_CONTACTS;
  if (ends(".json")) return IMPORT_ACCOUNTS;
  return IMPORT_NOTES;
}

std::vector<int64_t> export_slots(ExportKind kind, int repo, int64_t item_slot) {
  int mask = kExportTypes[kind];
  auto wanted = [mask](const Item* item) { return item->type >= 0 && item->type < 31 && (mask >> item->type & 1); };
  std::vector<int64_t> slots;
  if (item_slot >= 0) {
    const Item* item = item_get(item_slot);
    if (item && wanted(item)) slots.push_back(item_slot);
    return slots;
  }
  int64_t root = repo_root_tag(repo);
  if (root >= 1) items_under_tag(root, mask, collect, &slots);
  return slots;
}

std::string export_head(ExportKind kind) {
  std::string out;
  if (kind == EXPORT_CALENDAR) ical_begin_calendar(&out);
  if (kind == EXPORT_ACCOUNTS) {
    out = accounts_json_file("");
    out.resize(1);  // "["
  }
  return out;
}

std::string export_tail(ExportKind kind) {
  std::string out;
  if (kind == EXPORT_CALENDAR) ical_end_calendar(&out);
  if (kind == EXPORT_ACCOUNTS) out = accounts_json_file("").substr(1);
  return out;
}

bool export_append(ExportKind kind, int64_t slot, bool first, std::string* out) {
  switch (kind) {
    case EXPORT_NOTES: return false;
    case EXPORT_CALENDAR: return calendar_append_item(slot, time(nullptr), out);
    case EXPORT_CONTACTS: return contact_append(slot, out);
    case EXPORT_ACCOUNTS: return account_append(slot, first, out);
  }
  return false;
}
