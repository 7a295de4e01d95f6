// Accounts (keys) to and from JSON files.

#include <vector>

#include "crypto/wipe.h"
#include "interchange/accounts_json.h"
#include "interchange/import_internal.h"
#include "interchange/interchange.h"
#include "model/forms.h"
#include "model/item.h"
#include "model/ops.h"
#include "model/tag.h"
#include "model/tag_ops.h"
#include "support/log.h"
#include "support/text.h"

namespace {

// The key body keeps one field a line: a line break inside the address, user
// name or password would shift every later field.
std::string one_line(const std::string& s, bool* changed) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    if (c == '\r' || c == '\n') *changed = true;
    else out += c;
  }
  return out;
}

void collect(int64_t slot, Item*, void* ctx) { static_cast<std::vector<int64_t>*>(ctx)->push_back(slot); }

}  // namespace

std::vector<int64_t> account_slots(int64_t item_slot, int repo) {
  std::vector<int64_t> slots;
  if (item_slot >= 0) {
    const Item* item = item_get(item_slot);
    if (item && item->type == ITEM_KEY) slots.push_back(item_slot);
    return slots;
  }
  int64_t root = repo_root_tag(repo);
  if (root >= 1) items_under_tag(root, 1 << ITEM_KEY, collect, &slots);
  return slots;
}

bool account_append(int64_t slot, bool first, std::string* out) {
  const Item* item = item_get(slot);
  if (!item) return false;
  std::string body = item_body_load(item);
  KeyBody key;
  key_body_parse(body.c_str(), &key);
  wipe(&body);
  AccountRecord rec;
  rec.title = item->title;
  rec.url = key.url;
  rec.username = key.user;
  rec.password = key.password;
  rec.notes = key.notes;
  rec.expires = key.date;
  if (!first) *out += ",";
  std::string entry = accounts_json_entry(rec);
  *out += entry;
  wipe(&entry);
  wipe(&rec.password);
  wipe(&key.password);
  return true;
}

std::string accounts_text(int64_t item_slot, int repo, int* count) {
  std::string entries;
  int n = 0;
  for (int64_t slot : account_slots(item_slot, repo))
    if (account_append(slot, n == 0, &entries)) n++;
  std::string out = accounts_json_file(entries);
  wipe(&entries);
  if (count) *count = n;
  return out;
}

int export_accounts(int64_t item_slot, int repo, const char* path) {
  int count = 0;
  std::string text = accounts_text(item_slot, repo, &count);
  int rc = write_file_all(path, text);
  wipe(&text);
  if (rc != 0) {
    log_message(LOG_ERROR, "export_accounts: cannot write the file");
    return -1;
  }
  log_message(LOG_INFO, "export_accounts: %d", count);
  return count;
}

bool accounts_plan_parse(const char* data, size_t len, ImportPlan* plan) {
  if (!utf8_valid_n(data, len) || std::string(data, len).find('\0') != std::string::npos) {
    log_message(LOG_ERROR, "key_import: invalid UTF-8");
    plan->malformed = true;
    return false;
  }
  int rc = accounts_json_read(data, len, [&](const AccountRecord& rec) {
    plan->found_any = true;
    KeyBody key;
    bool changed = false;
    key.url = one_line(rec.url, &changed);
    key.user = one_line(rec.username, &changed);
    key.password = one_line(rec.password, &changed);
    if (changed) log_message(LOG_WARNING, "key_import: line breaks dropped from a single-line field");
    key.date = rec.expires > 0 ? rec.expires : 0;
    key.notes = rec.notes;
    ImportEntry entry;
    entry.type = ITEM_KEY;
    entry.form.title = rec.title;
    entry.form.body = key_body_format(key);
    entry.form.markup = 1;
    key_form_set_expiry(&entry.form, key.date);
    wipe(&key.password);
    plan->entries.push_back(std::move(entry));
  });
  if (rc < 0) {
    log_message(LOG_ERROR, "key_import: JSON parsing error");
    plan->malformed = true;
  }
  return true;
}

int key_import_text(const char* data, size_t len, int64_t tag) {
  ImportPlan plan;
  if (!accounts_plan_parse(data, len, &plan)) {
    log_message(LOG_INFO, "key_import: %d keys imported", 0);
    return -1;
  }
  const Tag* target = tag >= 1 ? tag_get(tag) : nullptr;
  if (!target) {
    log_message(LOG_ERROR, "key_import: no tag %lld", static_cast<long long>(tag));
    return -1;
  }
  // Accounts read before a syntax error are kept.
  ItemBatch batch(target->repo);
  ImportReport r;
  import_plan_store(plan, 0, plan.entries.size(), &batch, tag, &r);
  int created = r.imported;
  if (batch.commit() != 0) {
    log_message(LOG_ERROR, "key_import: cannot store the accounts");
    created = -1;
  }
  log_message(LOG_INFO, "key_import: %d keys imported", created < 0 ? 0 : created);
  return created;
}

int key_import(const char* path, int64_t tag) {
  std::string text;
  if (read_file_all(path, &text) != 0) {
    log_message(LOG_ERROR, "key_import: cannot read the file");
    return -1;
  }
  int n = key_import_text(text.data(), text.size(), tag);
  wipe(&text);
  return n;
}

int import_accounts(const char* path, int64_t tag) { return key_import(path, tag); }
