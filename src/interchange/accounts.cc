// SPDX-License-Identifier: GPL-3.0-or-later
// Accounts (keys) to and from JSON files.

#include <vector>

#include "crypto/wipe.h"
#include "interchange/accounts_json.h"
#include "interchange/import_internal.h"
#include "interchange/interchange.h"
#include "model/forms.h"
#include "model/item.h"
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

}  // namespace

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
