// SPDX-License-Identifier: GPL-3.0-or-later
// The clipboard: its entries, paste into another repository, and links to
// the copied items put into the selected item.
#include "model/clipboard.h"

#include <strings.h>

#include <cstring>
#include <memory>
#include <set>

#include "crypto/wipe.h"
#include "model/full_rule.h"
#include "model/item.h"
#include "model/model.h"
#include "model/ops.h"
#include "model/tag.h"
#include "storage/db.h"
#include "storage/repo.h"
#include "storage/source_store.h"
#include "support/log.h"
#include "support/text.h"

namespace {

// Bodies may hold passwords (keys): wipe the copies this module makes.
void wipe_body(ItemForm* f) {
  wipe(&f->body);
}

// The UID lines of the events, tasks or card of a kept source (not those an
// alarm may have of its own): [begin, end) of each, continuation lines
// included.
std::vector<std::pair<size_t, size_t>> uid_lines(const std::string& text) {
  std::vector<std::pair<size_t, size_t>> out;
  std::vector<bool> item_level;  // per open component: whether it is the item
  auto named = [&text](size_t pos, size_t end, const char* name) {
    size_t n = std::strlen(name);
    return end - pos > n && strncasecmp(text.c_str() + pos, name, n) == 0;
  };
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = pos;
    do {
      size_t nl = text.find('\n', end);
      end = nl == std::string::npos ? text.size() : nl + 1;
    } while (end < text.size() && (text[end] == ' ' || text[end] == '\t'));
    if (named(pos, end, "BEGIN:")) {
      item_level.push_back(named(pos, end, "BEGIN:VEVENT") || named(pos, end, "BEGIN:VTODO") ||
                           named(pos, end, "BEGIN:VCARD"));
    } else if (named(pos, end, "END:")) {
      if (!item_level.empty()) item_level.pop_back();
    } else if (!item_level.empty() && item_level.back() && (named(pos, end, "UID:") || named(pos, end, "UID;"))) {
      out.emplace_back(pos, end);
    }
    pos = end;
  }
  return out;
}

// The value of the first UID (unfolded), empty when there is none.
std::string first_uid(const std::string& text) {
  auto lines = uid_lines(text);
  if (lines.empty()) return std::string();
  std::string line;
  for (size_t i = lines[0].first; i < lines[0].second; i++) {
    if (text[i] == '\r') continue;
    if (text[i] == '\n') {
      i++;  // the blank that folded the line
      continue;
    }
    line += text[i];
  }
  size_t colon = line.find(':');
  return colon == std::string::npos ? std::string() : line.substr(colon + 1);
}

// The text with every UID (a series' master and its overrides alike) made
// `uid`; every other line as it was.
std::string with_uid(const std::string& text, const std::string& uid) {
  std::string out;
  size_t at = 0;
  for (const auto& [begin, end] : uid_lines(text)) {
    out.append(text, at, begin - at);
    out += "UID:" + uid + "\r\n";
    at = end;
  }
  return out + text.substr(at);
}

// The UIDs the repository's kept sources hold.
std::set<std::string> uids_in(int repo) {
  std::set<std::string> out;
  if (!source_exists(repo)) return out;
  source_each(repo, [&out](const SourceRecord& r) {
    std::string uid = first_uid(r.component);
    if (!uid.empty()) out.insert(uid);
    return 0;
  });
  return out;
}

// Keeps the source of each pasted item (the copy of its original's kept
// component, without the original's sync state: the copy is a new member
// wherever it goes) in the target's source store, in one write. The
// component keeps its UID, as the same event does in another calendar,
// unless the target holds that UID already: then it gets the copy's own, so
// that no two items of a repository share one.
void keep_pasted_sources(int target, const std::vector<std::pair<int64_t, SourceRecord>>& kept) {
  if (kept.empty()) return;
  std::set<std::string> taken = uids_in(target);
  SourceTransaction tx(target);
  if (tx.status() != 0) {
    log_message(LOG_ERROR, "paste_items: sources: %d", tx.status());
    return;
  }
  for (const auto& [slot, from] : kept) {
    const Item* item = item_get(slot);
    if (!item) continue;
    SourceRecord r;
    std::memcpy(r.uuid, item->uuid, 16);
    std::string uid = first_uid(from.component);
    bool own = uid.empty() || taken.insert(uid).second;
    r.component = own ? from.component : with_uid(from.component, item_uid(item->uuid));
    r.rule = from.rule;
    if (source_put(target, r) != 0) return;  // rolled back
  }
  if (tx.commit() != 0) {
    log_message(LOG_ERROR, "paste_items: sources not kept");
    return;
  }
  for (const auto& [slot, from] : kept)
    if (!from.rule.empty()) item_full_rule_set(slot, from.rule);
}

}  // namespace

const std::vector<int32_t>& clipboard() { return model().clipboard; }

void clipboard_clear() { std::vector<int32_t>().swap(model().clipboard); }

void copy_items(const std::vector<int32_t>& slots) {
  std::vector<int32_t>& entries = model().clipboard;
  entries.clear();
  for (int32_t s : slots)
    if (s >= 0) entries.push_back(s);
}

void copy_all_items() {
  int32_t tag = model().view;
  log_message(LOG_DEBUG, "copy_all_items: %d", tag);
  if (tag < 1 || !tag_get(tag)) return;  // -t of a fixed row would name an item slot
  model().clipboard.assign(1, -tag);
}

int paste_repo(int64_t tag) {
  // A copy: the clipboard may change under the paste (an item removed).
  std::vector<int32_t> entries = model().clipboard;
  return paste_items(tag, entries);
}

size_t paste_size(const std::vector<int32_t>& entries) {
  if (!(entries.size() == 1 && entries[0] < 0)) return entries.size();
  const Tag* src_tag = tag_get(-static_cast<int64_t>(entries[0]));
  if (!src_tag) return 0;
  size_t n = 0;
  int64_t cursor = -1;
  while (const Item* item = slot_next<Item>(model().items, &cursor))
    if (item->repo == src_tag->repo) n++;
  return n;
}

// A paste that reports its progress writes its pages out every so many
// items, so that no piece of it, the commit included, holds the window long.
constexpr size_t kPasteWriteOut = 250;

int paste_items(int64_t tag, const std::vector<int32_t>& entries, PasteProgress progress, void* ctx) {
  Model& m = model();
  const Tag* target_tag = tag >= 1 ? tag_get(tag) : nullptr;
  if (!target_tag) return -1;
  int target = target_tag->repo;
  std::vector<int64_t> sources;
  if (entries.size() == 1 && entries[0] < 0) {
    const Tag* src_tag = tag_get(-static_cast<int64_t>(entries[0]));
    int source = src_tag ? src_tag->repo : -1;
    log_message(LOG_INFO, "paste_repo: %d -> %d", source, target);
    if (source < 0 || source == target) return 0;
    int64_t cursor = -1;
    while (const Item* item = slot_next<Item>(m.items, &cursor))
      if (item->repo == source) sources.push_back(cursor);
  } else {
    log_message(LOG_INFO, "paste_items: -> %d (%d)", target, static_cast<int>(entries.size()));
    for (int32_t s : entries) {
      const Item* item = item_get(s);
      if (item && item->repo != target) sources.push_back(s);
    }
  }
  if (sources.empty()) return 0;

  // The bodies are read item by item from the source repositories: one read
  // transaction and one set of statements each, not a lock per body.
  std::vector<std::unique_ptr<StmtCacheScope>> statements;
  std::vector<std::unique_ptr<Transaction>> reads;
  std::unordered_set<int> source_repos;
  for (int64_t s : sources) {
    RepoRef ref;
    int repo = item_get(s)->repo;
    if (!source_repos.insert(repo).second || repo_ref(repo, &ref) != 0) continue;
    reads.push_back(std::make_unique<Transaction>(ref.store.db));
    statements.push_back(std::make_unique<StmtCacheScope>(ref.store.db));
  }
  // The whole paste is one journal group: one undo step takes it back.
  ItemBatch batch(target);
  std::vector<std::pair<int64_t, SourceRecord>> kept;
  for (size_t i = 0; i < sources.size(); i++) {
    // The caller may let the window draw here: the items are looked up again.
    if (progress && !progress(i, sources.size(), ctx)) {
      log_message(LOG_INFO, "paste_items: cancelled at %d", static_cast<int>(i));
      return -2;  // the batch rolls back
    }
    int64_t s = sources[i];
    const Item* item = item_get(s);
    if (!item) continue;
    ItemForm form;
    form_from_item(item, &form);
    int type = item->type;
    int flags = item->flags & (ITEM_COMPLETED | ITEM_TRASHED);
    // Only tasks, events and contacts come from calendar and address files.
    SourceRecord source;
    bool has_source = (type == ITEM_TASK || type == ITEM_EVENT || type == ITEM_VCARD) && source_exists(item->repo) &&
                      source_get(item->repo, item->uuid, &source) == 0 && !source.component.empty();
    int64_t stored = batch.store(-1, type, form, 0, tag, flags);
    wipe_body(&form);
    if (batch.status() != 0) break;
    if (stored >= 0 && has_source) kept.emplace_back(stored, std::move(source));
    if (progress && (i + 1) % kPasteWriteOut == 0) batch.write_out();
  }
  size_t n = batch.size();
  int rc = batch.commit();
  if (rc != 0) {
    log_message(LOG_ERROR, "paste_repo: %d", rc);
    return -1;
  }
  keep_pasted_sources(target, kept);
  return static_cast<int>(n);
}

int attach_items() {
  Model& m = model();
  log_message(LOG_DEBUG, "attach_items: %d", static_cast<int>(m.clipboard.size()));
  int64_t sel = m.selected_item;
  const Item* item = item_get(sel);
  if (!item || m.clipboard.empty() || m.clipboard[0] < 0) return -1;
  if (item->type != ITEM_TASK && item->type != ITEM_EVENT && item->type != ITEM_NOTE) return -1;
  const Item* first = item_get(m.clipboard[0]);
  if (!first || first->repo != item->repo) return -1;
  ItemForm form;
  form_from_item(item, &form);
  std::string lines;
  for (int32_t s : m.clipboard) {
    const Item* other = item_get(s);
    if (!other || s == sel) continue;
    lines += "[[ordika:" + uuid_to_hex(other->uuid) + "]]\r\n";
  }
  if (lines.empty()) {
    wipe_body(&form);
    return 0;
  }
  form.body.insert(0, lines);
  int64_t rc = item_store(sel, item->type, form, 0, m.view);
  wipe_body(&form);
  return rc >= 0 ? 0 : -1;
}

void clipboard_forget(const std::unordered_set<int64_t>& slots) {
  std::vector<int32_t>& entries = model().clipboard;
  size_t kept = 0;
  for (int32_t c : entries)
    if (!slots.count(c)) entries[kept++] = c;
  entries.resize(kept);
  if (entries.empty()) clipboard_clear();
}
