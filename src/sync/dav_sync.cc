// SPDX-License-Identifier: GPL-3.0-or-later
// The account sync's stages: what changed on each side, settled by rule,
// applied here in one go and pushed there member by member.
#include "sync/dav_sync.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <ctime>
#include <map>
#include <set>
#include <unordered_map>

#include "crypto/wipe.h"
#include "model/item.h"
#include "model/model.h"
#include "model/ops.h"
#include "model/tag.h"
#include "storage/db.h"
#include "storage/repo.h"
#include "storage/source_store.h"
#include "support/log.h"
#include "support/slot_array.h"
#include "support/text.h"
#include "sync/dav_http.h"
#include "sync/dav_items.h"
#include "sync/dav_map.h"
#include "sync/dav_xml.h"

namespace {

using Uuid = std::array<uint8_t, 16>;
using Hash = std::array<uint8_t, 20>;

Uuid uuid_of(const uint8_t* p) {
  Uuid u;
  std::memcpy(u.data(), p, 16);
  return u;
}

struct UuidHasher {
  size_t operator()(const Uuid& u) const {
    size_t h;
    std::memcpy(&h, u.data(), sizeof h);
    return h;
  }
};

constexpr size_t kNone = static_cast<size_t>(-1);

// Milliseconds since it was made, for the log's account of each stage.
struct Stopwatch {
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  long long ms() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  }
};

struct Col {
  SourceCollection sc;
  DavCollection dc;
  int64_t tag_slot = -1;
  bool contacts = false;
  // What the fetch found.
  DavChanges changes;
  std::vector<DavResource> got;
  std::vector<std::string> missing;
};

enum StepKind {
  PULL_NEW,      // a member new here (or restored after a local deletion)
  PULL_UPDATE,   // the server's version replaces the item's
  DELETE_HERE,   // deleted on the server, unchanged here
  DROP_RECORD,   // deleted on both sides
  PUSH_NEW,      // a new member (or re-created after a deletion there)
  PUSH_UPDATE,   // the item's version replaces the member's
  PUSH_MOVE,     // the item moved to another collection of the account
  DELETE_THERE,  // deleted here, unchanged there
};

struct Step {
  StepKind kind;
  size_t col = kNone;  // where it happens (a move's target)
  size_t rec = kNone;  // the item's record, when it has one
  int64_t slot = -1;   // the item, when it exists
  const DavResource* res = nullptr;
  bool conflict = false;
};

bool kind_fits(const Col& c, int type) {
  if (c.contacts) return type == ITEM_VCARD;
  if (type == ITEM_EVENT) return c.dc.components & DAV_COMP_EVENT;
  if (type == ITEM_TASK) return c.dc.components & DAV_COMP_TODO;
  return false;
}

DavCollection collection_of(const SourceCollection& sc) {
  DavCollection dc;
  dc.href = sc.href;
  dc.display_name = sc.display_name;
  dc.color = sc.color;
  dc.sync_token = sc.sync_token;
  dc.ctag = sc.ctag;
  if (sc.kind == "contacts") {
    dc.kind = DAV_KIND_ADDRESSBOOK;
  } else {
    dc.kind = DAV_KIND_CALENDAR;
    dc.components = sc.kind == "tasks" ? DAV_COMP_TODO
                    : sc.kind == "events" ? DAV_COMP_EVENT
                                          : DAV_COMP_EVENT | DAV_COMP_TODO;
  }
  return dc;
}

}  // namespace

struct DavSyncSession::State {
  int repo = -1;
  std::vector<Col> cols;
  std::vector<SourceRecord> records;
  std::unordered_map<std::string, size_t> by_href;  // resource key → record
  std::unordered_map<Uuid, Hash, UuidHasher> hashes;  // current version of each object
  // Items imported here that are no member yet, by the UID of their kept
  // component: a member with that UID is theirs.
  std::unordered_map<std::string, Uuid> unbound;
  std::vector<Step> pulls, pushes;

  void clear_attempt() {
    for (Col& c : cols) {
      c.changes = DavChanges();
      c.got.clear();
      c.missing.clear();
    }
    records.clear();
    by_href.clear();
    unbound.clear();
    hashes.clear();
    pulls.clear();
    pushes.clear();
  }
  size_t col_of_tag(const uint8_t tag[16]) const {
    for (size_t i = 0; i < cols.size(); i++)
      if (std::memcmp(cols[i].sc.tag, tag, 16) == 0) return i;
    return kNone;
  }
  size_t record_of(const std::string& href) const {
    auto it = by_href.find(dav_resource_key(href));
    return it == by_href.end() ? kNone : it->second;
  }
  int load_hashes() {
    hashes.clear();
    RepoRef ref;
    if (repo_ref(repo, &ref) != 0) return -1;
    return objects_load_current(ref.store, repo, [this](int, const uint8_t u[16], const uint8_t h[20], const uint8_t*,
                                                       size_t) {
      Hash hash;
      std::memcpy(hash.data(), h, 20);
      hashes[uuid_of(u)] = hash;
    });
  }
  // True when the item changed here since it last matched the server. A
  // trashed item counts as unchanged: it is on its way out, and trashing
  // itself is no edit to push.
  bool changed_here(const SourceRecord& r, int64_t slot) const {
    const Item* item = item_get(slot);
    if (!item || (item->flags & ITEM_TRASHED)) return false;
    auto it = hashes.find(uuid_of(r.uuid));
    return it == hashes.end() || std::memcmp(it->second.data(), r.synced_hash, 20) != 0;
  }
};

namespace {

using State = DavSyncSession::State;

int fail(DavSyncSession* s, int rc) {
  s->summary.error = rc;
  if (rc < 0 && rc >= DAV_ERR_INTERNAL && s->client) {
    s->summary.message = dav_error_message(*s->client, rc);
  } else {
    s->summary.message = ui_string_line(STR_DAV_SYNC_LOCAL_FAILED);
  }
  log_message(LOG_ERROR, "dav_sync: %d (status %ld)", rc, s->client ? s->client->status : 0L);
  return rc;
}

// --- records kept across the two commits --------------------------------

// The records an apply keeps, written ahead of its items' commit.
int write_pending(int repo, const std::vector<SourceRecord>& put, const std::vector<Uuid>& drop) {
  if (put.empty() && drop.empty()) return 0;
  SourceTransaction tx(repo);
  if (tx.status() != 0 || source_pending_clear(repo) != 0) return -1;
  for (const SourceRecord& r : put)
    if (source_pending_put(repo, r, false) != 0) return -1;
  SourceRecord gone;
  for (const Uuid& u : drop) {
    std::memcpy(gone.uuid, u.data(), 16);
    if (source_pending_put(repo, gone, true) != 0) return -1;
  }
  return tx.commit();
}

// True when the repository holds the version the record says last matched
// the server: current, or history since (edited after the sync).
bool holds_version(const State& st, const RepoDb& db, const SourceRecord& r) {
  auto it = st.hashes.find(uuid_of(r.uuid));
  if (it == st.hashes.end()) return false;
  if (std::memcmp(it->second.data(), r.synced_hash, 20) == 0) return true;
  Stmt q = object_history_query(db, r.uuid);
  ObjectRow row;
  while (row_read(q.get(), db.key, &row) == 0)
    if (std::memcmp(row.hash, r.synced_hash, 20) == 0) return true;
  return false;
}

// Records an apply left pending (the source store failed, or the program
// stopped, after the repository's commit) are kept when the repository
// holds what they describe and forgotten otherwise, so that the items
// committed without them are neither conflicts nor new here next time.
int settle_pending(State& st) {
  std::vector<std::pair<SourceRecord, bool>> pending;
  int rc = source_pending_each(st.repo, [&pending](const SourceRecord& r, bool drop) {
    pending.emplace_back(r, drop);
    return 0;
  });
  if (rc != 0 || pending.empty()) return rc;
  RepoRef ref;
  if (st.load_hashes() != 0 || repo_ref(st.repo, &ref) != 0) return -1;
  SourceTransaction tx(st.repo);
  if (tx.status() != 0) return -1;
  size_t kept = 0;
  for (const auto& [r, drop] : pending) {
    bool take = drop ? !st.hashes.count(uuid_of(r.uuid)) : holds_version(st, ref.store, r);
    if (!take) continue;
    kept++;
    if ((drop ? source_remove(st.repo, r.uuid) : source_put(st.repo, r)) != 0) return -1;
  }
  if (source_pending_clear(st.repo) != 0 || tx.commit() != 0) return -1;
  log_message(LOG_NOTICE, "dav_sync: %zu of %zu pending records kept", kept, pending.size());
  return 0;
}

// --- fetch -------------------------------------------------------------------

int fetch(DavSyncSession* s) {
  State& st = *s->state;
  st.clear_attempt();
  if (settle_pending(st) != 0) return fail(s, DAV_SYNC_LOCAL_ERROR);
  int rc = source_each(st.repo, [&st](const SourceRecord& r) {
    if (r.href.empty()) {  // an imported item's kept source, no member
      std::string uid = dav_member_uid(r.component);
      if (!uid.empty()) st.unbound[uid] = uuid_of(r.uuid);
      return 0;
    }
    st.by_href[dav_resource_key(r.href)] = st.records.size();
    st.records.push_back(r);
    return 0;
  });
  if (rc != 0) return fail(s, DAV_SYNC_LOCAL_ERROR);
  for (Col& c : st.cols) {
    DavSyncState known;
    known.sync_token = c.sc.sync_token;
    known.ctag = c.sc.ctag;
    for (const SourceRecord& r : st.records)
      if (std::memcmp(r.collection, c.sc.tag, 16) == 0) known.etags[r.href] = r.etag;
    // sync-collection lists a large collection far faster than the ETags
    // do, so the first sync asks for it too; a server without it (one that
    // kept a CTag but no token) is asked for ETags at once.
    DavCollection dc = c.dc;
    bool report = !(known.sync_token.empty() && !known.ctag.empty());
    dc.sync_token = report ? "offered" : "";
    rc = dav_changes(s->client.get(), dc, known, &c.changes);
    if (report && known.sync_token.empty() &&
        (rc == DAV_ERR_FORBIDDEN || rc == DAV_ERR_HTTP || rc == DAV_ERR_PROTOCOL)) {
      log_message(LOG_NOTICE, "dav_sync: no sync-collection (%d), listing ETags", rc);
      dc.sync_token.clear();
      rc = dav_changes(s->client.get(), dc, known, &c.changes);
    }
    if (rc == 0 && !c.changes.changed.empty()) {
      std::vector<std::string> hrefs;
      for (const DavItemRef& ref : c.changes.changed) hrefs.push_back(ref.href);
      rc = dav_multiget(s->client.get(), c.dc, hrefs, &c.got, &c.missing);
    }
    if (rc != 0) return fail(s, rc);
  }
  return 0;
}

// --- resolve -----------------------------------------------------------------

void note_conflict(DavSyncSession* s, const std::string& title) {
  s->summary.conflicts++;
  s->summary.names.push_back(title);
}

// The collections an item is filed in, by the account's tags.
std::unordered_map<int64_t, std::vector<size_t>> item_collections(const State& st) {
  std::unordered_map<int64_t, size_t> col_by_tag;
  for (size_t i = 0; i < st.cols.size(); i++)
    if (st.cols[i].tag_slot >= 1) col_by_tag[st.cols[i].tag_slot] = i;
  std::unordered_map<int64_t, std::vector<size_t>> out;
  int64_t cursor = -1;
  while (const TagLink* l = slot_next<TagLink>(model().tag_links, &cursor)) {
    auto it = col_by_tag.find(l->tag);
    if (it != col_by_tag.end()) out[l->item].push_back(it->second);
  }
  return out;
}

// The item imported here, filed in collection ci and no member yet, whose
// UID the member has; -1 when none. Each such item pairs once.
int64_t unbound_item(State& st, const std::unordered_map<int64_t, std::vector<size_t>>& filed, size_t ci,
                     const DavResource& r, std::set<Uuid>* paired) {
  if (st.unbound.empty()) return -1;
  auto it = st.unbound.find(dav_member_uid(r.data));
  if (it == st.unbound.end() || paired->count(it->second)) return -1;
  int64_t slot = item_find(it->second.data());
  auto in = filed.find(slot);
  if (slot < 0 || in == filed.end() || std::find(in->second.begin(), in->second.end(), ci) == in->second.end())
    return -1;
  paired->insert(it->second);
  return slot;
}

int resolve(DavSyncSession* s) {
  State& st = *s->state;
  if (st.load_hashes() != 0) return fail(s, DAV_SYNC_LOCAL_ERROR);
  std::vector<bool> handled(st.records.size(), false);
  auto filed = item_collections(st);
  // Imported items that a member of the same UID takes over.
  std::set<Uuid> recorded;
  // What the server changed.
  for (size_t ci = 0; ci < st.cols.size(); ci++) {
    Col& c = st.cols[ci];
    for (const DavResource& r : c.got) {
      Step p{PULL_NEW};
      p.col = ci;
      p.res = &r;
      p.rec = st.record_of(r.href);
      if (p.rec == kNone) {
        // The server holds an item imported here too: its version becomes
        // current, the imported one is kept in history, as in a conflict.
        p.slot = unbound_item(st, filed, ci, r, &recorded);
        if (p.slot >= 0) {
          p.kind = PULL_UPDATE;
          p.conflict = true;
          note_conflict(s, item_get(p.slot)->title);
        }
        st.pulls.push_back(p);
        continue;
      }
      handled[p.rec] = true;
      const SourceRecord& rec = st.records[p.rec];
      p.slot = item_find(rec.uuid);
      if (p.slot < 0) {
        // Deleted here, edited there: the edit wins, the item comes back.
        p.conflict = true;
        note_conflict(s, dav_member_title(r.data));
      } else {
        p.kind = PULL_UPDATE;
        p.conflict = st.changed_here(rec, p.slot);
        if (p.conflict) note_conflict(s, item_get(p.slot)->title);
      }
      st.pulls.push_back(p);
    }
    std::vector<std::string> gone = c.changes.removed;
    gone.insert(gone.end(), c.missing.begin(), c.missing.end());
    for (const std::string& href : gone) {
      size_t ri = st.record_of(href);
      if (ri == kNone || handled[ri]) continue;
      handled[ri] = true;
      Step p{DROP_RECORD};
      p.col = ci;
      p.rec = ri;
      p.slot = item_find(st.records[ri].uuid);
      if (p.slot >= 0 && st.changed_here(st.records[ri], p.slot)) {
        // Deleted there, edited here: the edit wins, the member comes back.
        p.kind = PUSH_NEW;
        p.conflict = true;
        note_conflict(s, item_get(p.slot)->title);
        st.pushes.push_back(p);
        continue;
      }
      if (p.slot >= 0) p.kind = DELETE_HERE;
      st.pulls.push_back(p);
    }
  }
  // What changed here.
  for (size_t ri = 0; ri < st.records.size(); ri++) {
    const SourceRecord& rec = st.records[ri];
    recorded.insert(uuid_of(rec.uuid));
    if (handled[ri]) continue;
    size_t ci = st.col_of_tag(rec.collection);
    if (ci == kNone) continue;  // a collection no longer synced
    Step p{DELETE_THERE};
    p.col = ci;
    p.rec = ri;
    p.slot = item_find(rec.uuid);
    if (p.slot < 0) {
      st.pushes.push_back(p);
      continue;
    }
    const Item* item = item_get(p.slot);
    if (item->flags & ITEM_TRASHED) continue;
    const std::vector<size_t>& in = filed[p.slot];
    bool stays = false;
    size_t target = kNone;
    for (size_t k : in) {
      if (k == ci) stays = true;
      if (target == kNone && k != ci && kind_fits(st.cols[k], item->type)) target = k;
    }
    if (!stays && target != kNone) {
      p.kind = PUSH_MOVE;
      p.col = target;
      st.pushes.push_back(p);
    } else if (st.changed_here(rec, p.slot)) {
      p.kind = PUSH_UPDATE;
      st.pushes.push_back(p);
    }
  }
  // New items filed in a collection.
  int64_t cursor = -1;
  while (const Item* item = slot_next<Item>(model().items, &cursor)) {
    if (item->repo != st.repo || (item->flags & ITEM_TRASHED) || recorded.count(uuid_of(item->uuid))) continue;
    auto it = filed.find(cursor);
    if (it == filed.end()) continue;
    for (size_t k : it->second)
      if (kind_fits(st.cols[k], item->type)) {
        Step p{PUSH_NEW};
        p.col = k;
        p.slot = cursor;
        st.pushes.push_back(p);
        break;
      }
  }
  return 0;
}

// --- send --------------------------------------------------------------------

void fill_record(SourceRecord* r, const uint8_t uuid[16], const DavResource& res, const Col& c) {
  std::memcpy(r->uuid, uuid, 16);
  r->component = res.data;
  r->href = res.href;
  r->etag = res.etag;
  std::memcpy(r->collection, c.sc.tag, 16);
  std::memset(r->synced_hash, 0, 20);
}

void set_synced(const State& st, SourceRecord* r) {
  auto it = st.hashes.find(uuid_of(r->uuid));
  if (it != st.hashes.end()) std::memcpy(r->synced_hash, it->second.data(), 20);
}

// Server changes here: items in one journal group; their records pending
// ahead of its commit and in place after it, in one source transaction with
// (when `collections`) the collections' new state.
int apply_steps(DavSyncSession* s, const std::vector<Step>& pulls, bool collections) {
  State& st = *s->state;
  Stopwatch w;
  std::vector<SourceRecord> put;
  std::vector<Uuid> drop;
  std::vector<int64_t> remove;
  {
    ItemBatch batch(st.repo);
    if (batch.status() != 0) return fail(s, DAV_SYNC_LOCAL_ERROR);
    for (const Step& p : pulls) {
      const Col& c = st.cols[p.col];
      if (p.kind == PULL_NEW || p.kind == PULL_UPDATE) {
        SourceRecord kept;
        int64_t slot = dav_member_store(p.res->data, p.slot, c.tag_slot, p.conflict ? 1 : 0, &batch, &kept);
        if (batch.status() != 0) return fail(s, DAV_SYNC_LOCAL_ERROR);
        // A conflict's local version was set aside for history already:
        // without the member's version the whole apply is taken back.
        if (slot < 0 && p.conflict && p.slot >= 0) return fail(s, DAV_SYNC_LOCAL_ERROR);
        if (slot < 0) {
          // Nothing here can hold it; it stays on the server untouched.
          log_message(LOG_WARNING, "dav_sync: a member could not be read (%zu bytes)", p.res->data.size());
          continue;
        }
        if (p.rec != kNone && p.kind == PULL_NEW) drop.push_back(uuid_of(st.records[p.rec].uuid));
        SourceRecord r = std::move(kept);
        fill_record(&r, item_get(slot)->uuid, *p.res, c);
        put.push_back(std::move(r));
        s->summary.pulled++;
      } else if (p.kind == DELETE_HERE) {
        remove.push_back(p.slot);
        drop.push_back(uuid_of(st.records[p.rec].uuid));
      } else if (p.kind == DROP_RECORD) {
        drop.push_back(uuid_of(st.records[p.rec].uuid));
      }
    }
    log_message(LOG_INFO, "dav_sync: stored %zu in %lld ms", pulls.size(), w.ms());
    // The records go ahead of the items, pending, with the hashes of the
    // versions just stored (seen inside the open group): whatever fails
    // from here on, the next sync finds them and keeps those the repository
    // agrees with (settle_pending).
    if (st.load_hashes() != 0) return fail(s, DAV_SYNC_LOCAL_ERROR);
    for (SourceRecord& r : put) set_synced(st, &r);
    if (write_pending(st.repo, put, drop) != 0) return fail(s, DAV_SYNC_LOCAL_ERROR);
    if (batch.commit() != 0) {
      source_pending_clear(st.repo);
      return fail(s, DAV_SYNC_LOCAL_ERROR);
    }
  }
  if (!remove.empty()) {
    if (items_remove(remove) < 0) return fail(s, DAV_SYNC_LOCAL_ERROR);
    s->summary.deleted_here += static_cast<int>(remove.size());
  }
  SourceTransaction tx(st.repo);
  if (tx.status() != 0) return fail(s, DAV_SYNC_LOCAL_ERROR);
  for (const Uuid& u : drop)
    if (source_remove(st.repo, u.data()) != 0) return fail(s, DAV_SYNC_LOCAL_ERROR);
  for (const SourceRecord& r : put)
    if (source_put(st.repo, r) != 0) return fail(s, DAV_SYNC_LOCAL_ERROR);
  if (!put.empty() || !drop.empty())
    if (source_pending_clear(st.repo) != 0) return fail(s, DAV_SYNC_LOCAL_ERROR);
  for (Col& c : st.cols) {
    if (!collections) break;
    c.sc.sync_token = c.changes.sync_token;
    c.sc.ctag = c.changes.ctag;
    if (source_collection_put(st.repo, c.sc) != 0) return fail(s, DAV_SYNC_LOCAL_ERROR);
  }
  if (tx.commit() != 0) return fail(s, DAV_SYNC_LOCAL_ERROR);
  log_message(LOG_INFO, "dav_sync: applied %zu in %lld ms", pulls.size(), w.ms());
  // The pushes below go on from the applied state.
  for (const SourceRecord& r : put) {
    size_t ri = st.record_of(r.href);
    if (ri == kNone) {
      st.by_href[dav_resource_key(r.href)] = st.records.size();
      st.records.push_back(r);
    } else {
      st.records[ri] = r;
    }
  }
  return 0;
}

int apply(DavSyncSession* s) {
  State& st = *s->state;
  bool any = !st.pulls.empty();
  for (const Col& c : st.cols)
    any = any || c.changes.sync_token != c.sc.sync_token || c.changes.ctag != c.sc.ctag;
  return any ? apply_steps(s, st.pulls, true) : 0;
}

constexpr int kHrefTaken = 1;

// A new member the server refused because the collection holds its UID
// already: at our href (412) or elsewhere (no-uid-conflict). The member it
// holds becomes the item's, settled as a conflict: its version current, the
// item's own kept in history. An item that member was bound to goes when
// unchanged since (it is the member's copy); a changed one is pushed first
// and the pair settled next time. 0, SYNC_REMOTE_CHANGED when the member was
// not fetched (it appeared meanwhile: the next attempt pairs it by UID), or
// the error; kHrefTaken when the member at our href has another UID.
int bind_existing(DavSyncSession* s, const Step& p, const std::string& tried, const std::string& uid) {
  State& st = *s->state;
  size_t ri = tried.empty() ? kNone : st.record_of(tried);
  for (size_t i = 0; ri == kNone && i < st.records.size(); i++)
    if (std::memcmp(st.records[i].collection, st.cols[p.col].sc.tag, 16) == 0 &&
        dav_member_uid(st.records[i].component) == uid)
      ri = i;
  if (ri == kNone) return SYNC_REMOTE_CHANGED;
  const SourceRecord rec = st.records[ri];
  if (dav_member_uid(rec.component) != uid) return kHrefTaken;
  int64_t other = item_find(rec.uuid);
  if (other >= 0 && st.changed_here(rec, other)) {
    log_message(LOG_NOTICE, "dav_sync: two items of one UID, the bound one changed");
    return 0;
  }
  DavResource res;
  int rc = dav_get(s->client.get(), rec.href, &res);
  if (rc == DAV_ERR_NOT_FOUND) return SYNC_REMOTE_CHANGED;
  if (rc != 0) return rc;
  note_conflict(s, item_get(p.slot)->title);
  std::vector<Step> steps;
  Step pull{PULL_UPDATE};
  pull.col = p.col;
  pull.slot = p.slot;
  pull.res = &res;
  pull.conflict = true;
  steps.push_back(pull);
  if (other >= 0) {
    Step dup{DELETE_HERE};
    dup.col = p.col;
    dup.rec = ri;
    dup.slot = other;
    steps.push_back(dup);
  }
  return apply_steps(s, steps, false) == 0 ? 0 : DAV_SYNC_LOCAL_ERROR;
}

// One push; 0, SYNC_REMOTE_CHANGED when the server's member moved on
// meanwhile, or the error.
int push(DavSyncSession* s, const Step& p) {
  State& st = *s->state;
  DavClient* c = s->client.get();
  const Col& col = st.cols[p.col];
  SourceRecord rec = p.rec != kNone ? st.records[p.rec] : SourceRecord();
  // An imported item's first push starts from the component it was
  // imported from, and keeps its rule.
  bool imported = p.rec == kNone && p.slot >= 0 && source_get(st.repo, item_get(p.slot)->uuid, &rec) == 0;
  if (p.kind == DELETE_THERE) {
    int rc = dav_delete(c, rec.href, rec.etag);
    if (rc == DAV_ERR_PRECONDITION) return SYNC_REMOTE_CHANGED;
    if (rc != 0) return rc;
    if (source_remove(st.repo, rec.uuid) != 0) return DAV_SYNC_LOCAL_ERROR;
    s->summary.deleted_there++;
    return 0;
  }
  std::string text = dav_member_text(p.slot, p.rec != kNone || imported ? &rec : nullptr);
  if (text.empty()) {
    log_message(LOG_WARNING, "dav_sync: item %lld gives no member", static_cast<long long>(p.slot));
    return 0;
  }
  std::string uid = dav_member_uid(text);
  DavResource r;
  r.data = text;
  if (p.kind == PUSH_UPDATE) {
    r.href = rec.href;
    r.etag = rec.etag;
  } else if (p.kind == PUSH_NEW && p.rec != kNone) {
    r.href = rec.href;  // re-created where it was
  } else {
    r.href = dav_new_href(col.dc, uid);
  }
  int rc = dav_put(c, col.dc, &r);
  if (p.kind == PUSH_NEW && p.rec == kNone && (rc == DAV_ERR_PRECONDITION || c->condition == "no-uid-conflict")) {
    rc = bind_existing(s, p, rc == DAV_ERR_PRECONDITION ? r.href : "", uid);
    if (rc != kHrefTaken) {
      wipe(&text);
      return rc;
    }
    // A member of another UID sits where ours would go: ours goes beside it.
    r.href = dav_new_href(col.dc, uid + "-" + hex_encode(item_get(p.slot)->uuid, 4));
    rc = dav_put(c, col.dc, &r);
  }
  wipe(&text);
  if (rc == DAV_ERR_PRECONDITION) return SYNC_REMOTE_CHANGED;
  if (rc != 0) return rc;
  if (p.kind == PUSH_MOVE) {
    // The new member is there; the old one goes only in the version we
    // moved, so that a change made there meanwhile comes back as a member.
    int del = dav_delete(c, rec.href, rec.etag);
    if (del != 0 && del != DAV_ERR_PRECONDITION) return del;
  }
  SourceRecord out = rec;
  fill_record(&out, item_get(p.slot)->uuid, r, col);
  set_synced(st, &out);
  if (source_put(st.repo, out) != 0) return DAV_SYNC_LOCAL_ERROR;
  s->summary.pushed++;
  return 0;
}

int send(DavSyncSession* s) {
  int rc = apply(s);
  if (rc != 0) return rc;
  for (const Step& p : s->state->pushes) {
    if (s->cancel) return fail(s, DAV_ERR_CANCELLED);
    rc = push(s, p);
    if (rc == SYNC_REMOTE_CHANGED) {
      log_message(LOG_NOTICE, "dav_sync: a member changed on the server meanwhile");
      return rc;
    }
    if (rc != 0) return fail(s, rc);
  }
  // Kept sources of items gone for good (imported, then undone and past
  // redo) are no longer wanted.
  if (source_sweep(s->state->repo) != 0) log_message(LOG_ERROR, "dav_sync: sweep");
  s->summary.error = 0;
  s->summary.message.clear();
  s->account.last_sync = time(nullptr);
  if (dav_account_update(s->account) != 0) log_message(LOG_ERROR, "dav_sync: last sync time not stored");
  return 0;
}

}  // namespace

DavSyncSession::DavSyncSession() : client(std::make_unique<DavClient>()), state(std::make_unique<State>()) {}
DavSyncSession::~DavSyncSession() = default;

int dav_sync_setup(DavSyncSession* s, int repo) {
  s->summary = DavSyncSummary();
  s->state->repo = repo;
  s->state->cols.clear();
  auto not_ready = [s, repo] {
    s->summary.error = DAV_SYNC_NOT_READY;
    s->summary.message = ui_format(STR_DAV_SYNC_NOT_READY, repo >= 0 && repo < static_cast<int>(repo_table().size())
                                                               ? repo_table()[repo].name.c_str()
                                                               : "");
    return DAV_SYNC_NOT_READY;
  };
  if (repo < 0 || repo >= static_cast<int>(repo_table().size()) || !repo_table()[repo].mounted) return not_ready();
  if (dav_account_find(repo, &s->account) != 0) return not_ready();
  std::vector<SourceCollection> cols;
  if (source_collections(repo, &cols) != 0) return not_ready();
  for (const SourceCollection& sc : cols) {
    Col c;
    c.sc = sc;
    c.dc = collection_of(sc);
    c.contacts = c.dc.kind == DAV_KIND_ADDRESSBOOK;
    c.tag_slot = tag_find(sc.tag);
    if (c.tag_slot < 1) continue;  // its tag was deleted: the collection is no longer synced
    s->state->cols.push_back(std::move(c));
  }
  DavAccount creds;
  if (dav_account_credentials(s->account, &creds) != 0) return not_ready();
  int rc = dav_open(s->client.get(), creds);
  wipe(&creds.password);
  if (rc != 0) return fail(s, rc);
  return 0;
}

void dav_sync_begin(SyncDriver* d, DavSyncSession* s) {
  d->step = SYNC_STEP_FETCH;
  d->summary = SyncSummary();
  d->cancelled = false;
  s->cancel = false;
  s->client->cancel = false;
  long requests_before = s->client->requests;
  d->fetch = [s](SyncSummary*) {
    Stopwatch w;
    int rc = fetch(s);
    log_message(LOG_INFO, "dav_sync: fetch %d, %lld ms", rc, w.ms());
    return rc;
  };
  d->resolve = [s](const SyncResolver&, SyncSummary* sum) {
    int before = s->summary.conflicts;
    Stopwatch w;
    int rc = resolve(s);
    log_message(LOG_INFO, "dav_sync: resolve %d, %lld ms", rc, w.ms());
    sum->settled += s->summary.conflicts - before;
    return rc;
  };
  d->send = [s, requests_before](SyncSummary* sum) {
    int pulled = s->summary.pulled, pushed = s->summary.pushed, conflicts = s->summary.conflicts;
    Stopwatch w;
    int rc = send(s);
    log_message(LOG_INFO, "dav_sync: send %d, %lld ms", rc, w.ms());
    sum->fetched += s->summary.pulled - pulled;
    sum->sent += s->summary.pushed - pushed;
    sum->settled += s->summary.conflicts - conflicts;  // a refused create bound to its member
    s->summary.requests = s->client->requests - requests_before;
    return rc;
  };
  d->interrupt = [s] {
    s->cancel = true;
    s->client->cancel = true;
  };
  d->release = [s] { s->state->clear_attempt(); };
}

int dav_sync_repository(int repo, DavSyncSummary* out, long stall_timeout) {
  DavSyncSession s;
  int rc = dav_sync_setup(&s, repo);
  if (stall_timeout > 0) s.client->stall_timeout = s.client->connect_timeout = stall_timeout;
  if (rc == 0) {
    SyncDriver d;
    dav_sync_begin(&d, &s);
    rc = sync_drive(&d, nullptr);
    if (rc == SYNC_REMOTE_CHANGED) {
      // Every attempt met a member that moved on meanwhile.
      rc = fail(&s, DAV_ERR_PRECONDITION);
    }
    if (rc != 0 && s.summary.error == 0) fail(&s, rc);
  }
  if (out) *out = s.summary;
  log_message(rc == 0 ? LOG_INFO : LOG_ERROR, "dav_sync_repository: %d %d", repo, rc);
  return rc;
}

std::string dav_summary_line(int repo, const DavSyncSummary& s) {
  char buf[200];
  std::snprintf(buf, sizeof buf, "%d pulled %d, pushed %d, deleted here %d, deleted there %d, conflicts %d", repo,
                s.pulled, s.pushed, s.deleted_here, s.deleted_there, s.conflicts);
  return buf;
}
