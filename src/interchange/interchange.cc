// SPDX-License-Identifier: GPL-3.0-or-later
// The one-call imports and exports of interchange.h: the halves of
// import_plan.h run back to back, logged under each kind's own name.
#include "interchange/interchange.h"

#include <string>

#include "crypto/wipe.h"
#include "interchange/import_plan.h"
#include "model/item.h"
#include "model/ops.h"
#include "model/tag.h"
#include "support/log.h"

namespace {

// The names each kind's one-call forms log under.
struct KindNames {
  const char* import_name;  // "import_calendar"
  const char* stored;       // what a failed store could not store
  const char* skipped;      // what a skipped entry is; nullptr: not logged
  bool count_keys;          // "%d keys imported", also when nothing was
  const char* export_name;  // "export_calendar"
};
// In ImportKind and ExportKind order.
const KindNames kKinds[] = {
    {"import_note", "notes", nullptr, false, "export_notes"},
    {"import_calendar", "items", "components", false, "export_calendar"},
    {"import_contacts", "contacts", "cards", false, "export_contacts"},
    {"key_import", "accounts", nullptr, true, "export_accounts"},
};

void log_imported(const KindNames& k, int n) {
  if (k.count_keys) log_message(LOG_INFO, "%s: %d keys imported", k.import_name, n);
  else log_message(LOG_INFO, "%s: %d imported", k.import_name, n);
}

// Head, each item, tail; *count (when given) the items written.
std::string export_text(ExportKind kind, int repo, int64_t item_slot, int* count) {
  std::string out = export_head(kind);
  int n = 0;
  for (int64_t slot : export_slots(kind, repo, item_slot))
    if (export_append(kind, slot, n == 0, &out)) n++;
  out += export_tail(kind);
  if (count) *count = n;
  return out;
}

int export_file(ExportKind kind, const char* path, int repo, int64_t item_slot) {
  const KindNames& k = kKinds[kind];
  int count = 0;
  std::string text = export_text(kind, repo, item_slot, &count);
  int rc = write_file_all(path, text);
  wipe(&text);  // accounts: every password in clear
  if (rc != 0) {
    log_message(LOG_ERROR, "%s: cannot write the file", k.export_name);
    return -1;
  }
  log_message(LOG_INFO, "%s: %d", k.export_name, count);
  return count;
}

int import_text(ImportKind kind, const char* data, size_t len, int64_t tag, ImportReport* report) {
  const KindNames& k = kKinds[kind];
  ImportReport r;
  if (report) *report = r;
  const Tag* target = tag >= 1 ? tag_get(tag) : nullptr;
  if (!target) {
    log_message(LOG_ERROR, "%s: no tag %lld", k.import_name, static_cast<long long>(tag));
    return -1;
  }
  ImportPlan plan;
  if (!import_plan_parse(kind, data, len, nullptr, &plan)) {
    log_imported(k, 0);
    return -1;
  }
  r.skipped = plan.skipped;
  // Accounts read before a syntax error are kept.
  ItemBatch batch(target->repo);
  import_plan_store(plan, 0, plan.entries.size(), &batch, tag, &r);
  if (batch.commit() != 0) {
    log_message(LOG_ERROR, "%s: cannot store the %s", k.import_name, k.stored);
    if (k.count_keys) log_imported(k, 0);
    return -1;
  }
  if (r.skipped && k.skipped) log_message(LOG_NOTICE, "%s: %d %s skipped", k.import_name, r.skipped, k.skipped);
  log_imported(k, r.imported);
  if (report) *report = r;
  return r.imported;
}

int import_file(ImportKind kind, const char* path, int64_t tag, ImportReport* report) {
  std::string text;
  if (read_file_all(path, &text) != 0) {
    log_message(LOG_ERROR, "%s: cannot read the file", kKinds[kind].import_name);
    if (report) *report = ImportReport{};
    return -1;
  }
  int n = import_text(kind, text.data(), text.size(), tag, report);
  wipe(&text);
  return n;
}

}  // namespace

std::string calendar_text(int repo, int64_t item_slot, int* count) {
  return export_text(EXPORT_CALENDAR, repo, item_slot, count);
}

int export_calendar(const char* path, int repo, int64_t item_slot) {
  return export_file(EXPORT_CALENDAR, path, repo, item_slot);
}

int import_calendar_text(const char* data, size_t len, int64_t tag, ImportReport* report) {
  return import_text(IMPORT_CALENDAR, data, len, tag, report);
}

int import_calendar(const char* path, int64_t tag, ImportReport* report) {
  return import_file(IMPORT_CALENDAR, path, tag, report);
}

std::string contacts_text(int repo, int64_t item_slot, int* count) {
  return export_text(EXPORT_CONTACTS, repo, item_slot, count);
}

int export_contacts(const char* path, int repo, int64_t item_slot) {
  return export_file(EXPORT_CONTACTS, path, repo, item_slot);
}

int import_contacts_text(const char* data, size_t len, int64_t tag, ImportReport* report) {
  return import_text(IMPORT_CONTACTS, data, len, tag, report);
}

int import_contacts(const char* path, int64_t tag, ImportReport* report) {
  return import_file(IMPORT_CONTACTS, path, tag, report);
}

std::string accounts_text(int repo, int64_t item_slot, int* count) {
  return export_text(EXPORT_ACCOUNTS, repo, item_slot, count);
}

int export_accounts(const char* path, int repo, int64_t item_slot) {
  return export_file(EXPORT_ACCOUNTS, path, repo, item_slot);
}

int key_import_text(const char* data, size_t len, int64_t tag) {
  return import_text(IMPORT_ACCOUNTS, data, len, tag, nullptr);
}

int key_import(const char* path, int64_t tag) { return import_file(IMPORT_ACCOUNTS, path, tag, nullptr); }

int export_notes(const char* dir, int repo, int64_t item_slot, const char* name_override) {
  int written = 0;
  for (int64_t slot : export_slots(EXPORT_NOTES, repo, item_slot))
    if (export_note_file(slot, dir, name_override) == 0) written++;
  log_message(LOG_INFO, "export_notes: %d", written);
  return written;
}

int save_item_as(const char* path, int64_t item_slot) {
  const Item* item = item_get(item_slot);
  if (!item || !path) return -1;
  switch (item->type) {
    case ITEM_TASK:
    case ITEM_EVENT:
      return export_calendar(path, item->repo, item_slot) == 1 ? 0 : -1;
    case ITEM_VCARD:
      return export_contacts(path, item->repo, item_slot) == 1 ? 0 : -1;
    default: {
      std::string body = item_body_load(item);
      int rc = write_file_all(path, body);
      wipe(&body);
      if (rc != 0) log_message(LOG_ERROR, "save_item_as: cannot write the file");
      return rc;
    }
  }
}
