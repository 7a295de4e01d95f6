// SPDX-License-Identifier: GPL-3.0-or-later
// Repository synchronisation stages.
#include "sync/sync.h"

#include <openssl/crypto.h>

#include <cstdio>
#include <cstring>

#include "crypto/crypto.h"
#include "storage/db.h"
#include "storage/journal.h"
#include "storage/repo.h"
#include "storage/sync_store.h"
#include "storage/untrusted.h"
#include "support/files.h"
#include "support/log.h"
#include "support/strings.h"
#include "support/text.h"
#include "sync/error_text.h"

namespace {

std::string path_in(const SyncSession* s, const char* name) { return path_join(s->dir, name); }

void remove_db(const std::string& p) {
  std::remove(p.c_str());
  std::remove((p + "-journal").c_str());
}

DbHandle open_keyed(const SyncSession* s, const char* name) { return sync_store_open(path_in(s, name), s->key); }

// Local sets of "data": T1, A (added) and R (removed).
int load_local(sqlite3* db, RecordSet* t1, RecordSet* a, RecordSet* r) {
  int rc = sync_store_load(db, SYNC_SET_VERSIONS, t1);
  if (rc == 0) rc = sync_store_load(db, SYNC_SET_ADDED, a);
  if (rc == 0) rc = sync_store_load(db, SYNC_SET_REMOVED, r);
  return rc;
}

// BASE = (T1 - A) ∪ R, NEW = S3 - BASE.
void base_and_new(const RecordSet& t1, const RecordSet& a, const RecordSet& r, const RecordSet& s3,
                  RecordSet* base, RecordSet* fresh) {
  *base = recordset_union(recordset_difference(t1, a), r);
  *fresh = recordset_difference(s3, *base);
}

// Starts a repository request: connect as the owner and put the command,
// the identifier and the key check of "data".
int repo_request(SyncSession* s, Connection* c, const char* command, sqlite3* data) {
  uint8_t check[64];
  if (key_check_read(data, check) != 0) {
    log_message(LOG_ERROR, "repo_request: key check");
    return -1;
  }
  std::string text = std::string(command) + "\n" + s->server_id + "\n";
  if (text.size() >= 1000 || s->server_id.empty() || s->server_id.find('\n') != std::string::npos) return -1;
  if (server_connect(c, s->login) != 0) return -1;
  if (conn_put_text(c, text.c_str()) != 0 || conn_put(c, check, 64) != 0) return -1;
  return 0;
}

// Offset of the start of token k (0-based) of a ":"-separated text and the
// offset of its end; false when the text has fewer tokens.
bool token_range(const std::string& t, int k, size_t* start, size_t* end) {
  size_t pos = 0;
  for (int i = 0; i < k; ++i) {
    size_t c = t.find(':', pos);
    if (c == std::string::npos) return false;
    pos = c + 1;
  }
  *start = pos;
  size_t c = t.find(':', pos);
  *end = c == std::string::npos ? t.size() : c;
  return true;
}

}  // namespace

struct SyncSession::Stage2 {
  DbHandle db;
  SyncVersionReader reader;
};

SyncSession::SyncSession() = default;

SyncSession::~SyncSession() {
  sync_free(this);
  OPENSSL_cleanse(key, sizeof key);
}

int sync_session_setup(SyncSession* s, const RepoEntry& e, const Account& signed_in) {
  if (e.server_id.empty() || e.path.empty()) return -1;
  if (login_for_repo(e, signed_in, &s->login) != 0) return -1;
  s->dir = e.path;
  s->server_id = e.server_id;
  std::memcpy(s->key, e.key, 32);
  return 0;
}

bool sync_versions_equal(const std::string& h1, const std::string* b1, const std::string& h2,
                         const std::string* b2) {
  if ((b1 == nullptr) != (b2 == nullptr)) return false;
  if (b1 && *b1 != *b2) return false;
  int k = b1 ? 8 : 1;  // the modified field: item header token 9, tag string token 2
  size_t s1, e1, s2, e2;
  if (!token_range(h1, k, &s1, &e1) || !token_range(h2, k, &s2, &e2)) return false;
  if (s1 != s2) return false;
  return h1.compare(0, s1, h2, 0, s2) == 0 && h1.compare(e1, std::string::npos, h2, e2, std::string::npos) == 0;
}

void sync_free(SyncSession* s) {
  s->stage2.reset();
  recordset_free(&s->s3);
  recordset_free(&s->s2);
  recordset_free(&s->conflicts);
  recordset_free(&s->current);
  recordset_free(&s->decisions);
  s->have_sets = false;
  s->asking = false;
}

int recv_repo_list(SyncSession* s) {
  sync_free(s);
  s->fetched = 0;
  for (const char* f : {"list", "sync_1", "sync_2"}) remove_db(path_in(s, f));
  DbHandle data = open_keyed(s, "data");
  if (!data) {
    log_message(LOG_ERROR, "recv_repo_list: open data");
    return -1;
  }
  int result = -1;
  {
    Connection c;
    if (repo_request(s, &c, "get list", data.get()) == 0 && conn_send(&c) == 0 && conn_recv(&c) == 0) {
      if (c.recv_size == CONN_DIGEST) {
        std::string hash_file = path_in(s, "list.hash");
        FILE* f = std::fopen(hash_file.c_str(), "wb");
        bool ok = f && std::fwrite(c.recv_frame + CONN_HEADER, 1, CONN_DIGEST, f) == CONN_DIGEST;
        if (f && std::fclose(f) != 0) ok = false;
        conn_skip_frame(&c);
        c.dir = s->dir;
        c.accept_name = [](const char* n) { return std::strcmp(n, "list") == 0; };
        std::string name;
        if (ok && recv_obj_paged(&c, s->key, &name) == 0 && name == "list" && file_exists(path_in(s, "list")))
          result = 0;
      } else if (c.recv_size == 1) {
        result = c.recv_frame[CONN_HEADER];
        // A zero status brings no listing: nothing to merge with, so the
        // sync cannot go on.
        if (result == 0) result = -1;
      }
    }
    if (result != 0) log_message(LOG_ERROR, "recv_repo_list: %d", result);
    if (result == SYNC_STATUS_KEY_CHANGED)
      log_message(LOG_ERROR, "recv_repo_list: the server's copy has another key check (password changed here?)");
    conn_close(&c);
  }
  if (result != 0) return result;

  RecordSet t1, a, r;
  {
    DbHandle list = open_keyed(s, "list");
    int rc = list ? 0 : -1;
    if (rc == 0) rc = db_open_untrusted_check(list.get(), "main", DB_SCHEMA_SNAPSHOT);
    if (rc == 0) rc = sync_store_load(list.get(), SYNC_SET_LIST_VERSIONS, &s->s3);
    if (rc == 0) rc = sync_store_load(list.get(), SYNC_SET_LIST_LINKS, &s->s2);
    if (rc == 0) rc = sync_store_load(list.get(), SYNC_SET_LIST_CURRENT, &s->current);
    if (rc == 0) rc = load_local(data.get(), &t1, &a, &r);
    if (rc != 0) {
      log_message(LOG_ERROR, "recv_repo_list: load: %d", rc);
      sync_free(s);
      return -1;
    }
  }
  RecordSet base, fresh;
  base_and_new(t1, a, r, s->s3, &base, &fresh);
  RecordSet base_u = recordset_uuids(base);
  RecordSet del_local = recordset_difference(recordset_uuids(r), recordset_uuids(t1));
  RecordSet mod_local = recordset_intersection(recordset_uuids(a), base_u);
  RecordSet del_remote = recordset_difference(recordset_difference(base_u, recordset_uuids(s->s3)), del_local);
  RecordSet mod_remote = recordset_intersection(recordset_uuids(fresh), base_u);
  RecordSet del_mod = recordset_intersection(del_local, mod_remote);
  s->conflicts = recordset_union(del_mod, recordset_intersection(mod_local, recordset_union(del_remote, mod_remote)));
  // Every version of a conflicting object, not only the new ones: the
  // server's current version may be one this copy already holds (as an
  // older version, demoted by a local edit) while only older versions are
  // new. Without it the conflict would show the object as deleted on the
  // server, and taking the server's side would delete it here.
  RecordSet fetch = recordset_union(fresh, s->conflicts);
  recordset_rewind(&s->conflicts);
  s->fetched = static_cast<int>(fresh.count);

  std::string objs = path_in(s, "sync.objs");
  std::string sync1 = path_in(s, "sync_1");
  if (recordset_write(&fetch, objs.c_str()) != 0) {
    log_message(LOG_ERROR, "recv_repo_list: sync.objs");
    sync_free(s);
    return -1;
  }
  if (fetch.count == 0) {
    DbHandle empty(db_create_snapshot(sync1.c_str(), s->key));
    if (!empty) {
      sync_free(s);
      return -1;
    }
  } else {
    int rc = -1;
    Connection c;
    if (repo_request(s, &c, "get sync", data.get()) == 0 && conn_send_file(&c, objs.c_str(), "sync.objs") == 0 &&
        conn_send(&c) == 0 && conn_recv(&c) == 0 && c.recv_size != 1 && !s->cancel) {
      c.dir = s->dir;
      c.accept_name = [](const char* n) { return std::strcmp(n, "sync_1") == 0; };
      std::string name;
      if (recv_obj_paged(&c, s->key, &name) == 0 && name == "sync_1" && file_exists(sync1)) rc = 0;
    }
    conn_close(&c);
    if (rc != 0) {
      // Without the server's versions the later stages would fail or
      // merge half a state: end the sync here.
      log_message(LOG_ERROR, "recv_sync_objs");
      sync_free(s);
      return -1;
    }
  }
  s->have_sets = true;
  return 0;
}

std::string sync_list_status_text(int rc) {
  switch (rc) {
    case 0:
      return std::string();
    case SYNC_STATUS_NOT_FOUND:
      return ui_text(STR_SYNC_NOT_ON_SERVER);
    case SYNC_STATUS_KEY_CHANGED:
      return ui_text(STR_SYNC_KEY_CHANGED);
    default:
      break;
  }
  // The connection's own cause, as the sync dialog shows it.
  if (rc < 0) return ui_format(STR_SYNC_FAILED, error_code_text(last_error()).c_str());
  return ui_string_line(STR_MSG_REQUEST_FAILED);
}

int sync_conflicts_begin(SyncSession* s) {
  if (!s->have_sets) return -1;
  s->settled = 0;
  recordset_init(&s->decisions, sizeof(SyncDecision), s->conflicts.count);
  s->asking = false;
  recordset_rewind(&s->conflicts);
  if (s->conflicts.count == 0) return 0;
  s->stage2 = std::make_unique<SyncSession::Stage2>();
  SyncSession::Stage2& st = *s->stage2;
  st.db = open_keyed(s, "data");
  if (!st.db) {
    s->stage2.reset();
    return -1;
  }
  std::string sync1 = path_in(s, "sync_1");
  int rc = SQLITE_OK;
  if (file_exists(sync1)) rc = sync_store_attach_received(st.db.get(), sync1, s->key);
  if (rc == SQLITE_OK) rc = sync_reader_open(&st.reader, st.db.get());
  if (rc != SQLITE_OK) {
    log_message(LOG_ERROR, "sync_conflicts_begin: %d", rc);
    sync_conflicts_end(s);
    return -1;
  }
  return 0;
}

int sync_conflicts_next(SyncSession* s, SyncConflict* out) {
  if (!s->have_sets || s->asking) return -1;
  while (const uint8_t* uuid = recordset_next(&s->conflicts)) {
    if (!s->stage2) return -1;
    SyncConflict k;
    std::memcpy(k.uuid, uuid, 16);
    for (int side = 0; side < 2; ++side) {
      bool remote = side == 0;
      int rc = sync_reader_read(&s->stage2->reader, remote, uuid, s->key, remote ? &k.remote_header : &k.local_header,
                                remote ? &k.remote_body : &k.local_body,
                                remote ? &k.remote_has_body : &k.local_has_body);
      if (rc < 0) {
        log_message(LOG_ERROR, "sync_conflicts_next: unreadable version");
        return -1;
      }
      (remote ? k.remote_exists : k.local_exists) = rc == 1;
    }
    SyncDecision d{};
    std::memcpy(d.uuid, uuid, 16);
    d.remote_exists = k.remote_exists;
    d.local_exists = k.local_exists;
    if (k.remote_exists && k.local_exists &&
        sync_versions_equal(k.remote_header, k.remote_has_body ? &k.remote_body : nullptr, k.local_header,
                            k.local_has_body ? &k.local_body : nullptr)) {
      d.choice = SYNC_TAKE_SERVER;
      recordset_append(&s->decisions, &d);
      s->settled++;
      continue;
    }
    s->pending = d;
    s->asking = true;
    *out = std::move(k);
    return 1;
  }
  return 0;
}

int sync_conflicts_decide(SyncSession* s, int answer) {
  if (!s->asking) return -1;
  s->asking = false;
  if (answer != SYNC_TAKE_SERVER && answer != SYNC_KEEP_LOCAL) return -1;
  s->pending.choice = static_cast<uint8_t>(answer);
  recordset_append(&s->decisions, &s->pending);
  return 0;
}

void sync_conflicts_end(SyncSession* s) {
  if (!s->stage2) return;
  s->stage2->reader = SyncVersionReader();
  if (s->stage2->db) sync_store_detach_received(s->stage2->db.get());
  s->stage2.reset();
}

namespace {

// Stage 3 up to and including the commit of the merged state.
int apply_stage3(SyncSession* s, sqlite3* db) {
  Transaction txn(db);
  int rc = txn.status();
  if (rc != SQLITE_OK) return rc;
  if ((rc = journal_reset(db)) != SQLITE_OK) return rc;

  for (size_t i = 0; i < s->decisions.count; ++i) {
    SyncDecision d;
    std::memcpy(&d, s->decisions.at(i), sizeof d);
    if ((rc = sync_store_apply_decision(db, d, s->s2)) != 0) return rc;
  }

  // Versions gone from the server, versions new on the server.
  RecordSet t1, a, r, base, fresh;
  if ((rc = load_local(db, &t1, &a, &r)) != 0) return rc;
  base_and_new(t1, a, r, s->s3, &base, &fresh);
  RecordSet gone = recordset_difference(base, s->s3);
  for (size_t i = 0; i < gone.count; ++i)
    if ((rc = sync_store_drop_version(db, gone.at(i))) != 0) return rc;
  for (size_t i = 0; i < fresh.count; ++i)
    if ((rc = sync_store_take_version(db, fresh.at(i))) != 0) return rc;

  // Which version is current travels only with new versions: when the
  // server's current version is one this copy holds as an older one, the
  // flags are set as the server has them, unless the local current version
  // is still to be sent (the upload makes it the server's).
  RecordSet local_current;
  if ((rc = sync_store_load(db, SYNC_SET_CURRENT, &local_current)) != 0) return rc;
  RecordSet differing = recordset_difference(s->current, local_current);
  for (size_t i = 0; i < differing.count; ++i)
    if ((rc = sync_store_follow_current(db, differing.at(i))) != 0) return rc;

  // Tag links.
  if ((rc = sync_store_load(db, SYNC_SET_VERSIONS, &t1)) != 0) return rc;
  RecordSet l, lr, la;
  if ((rc = sync_store_load(db, SYNC_SET_LINKS, &l)) != 0) return rc;
  if ((rc = sync_store_load(db, SYNC_SET_LINKS_REMOVED, &lr)) != 0) return rc;
  if ((rc = sync_store_load(db, SYNC_SET_LINKS_ADDED, &la)) != 0) return rc;
  RecordSet add = recordset_difference(recordset_difference(s->s2, l), lr);
  for (size_t i = 0; i < add.count; ++i)
    if ((rc = sync_store_link(db, add.at(i), true)) != 0) return rc;
  RecordSet drop = recordset_difference(recordset_difference(l, s->s2), la);
  for (size_t i = 0; i < drop.count; ++i)
    if ((rc = sync_store_link(db, drop.at(i), false)) != 0) return rc;
  RecordSet orphans = recordset_difference(recordset_uuids(gone), recordset_uuids(t1));
  for (size_t i = 0; i < orphans.count; ++i)
    if ((rc = sync_store_unlink_all(db, orphans.at(i))) != 0) return rc;
  if ((rc = sync_store_link_loose_items(db, s->key)) != 0) return rc;
  if ((rc = sync_store_load(db, SYNC_SET_LINKS, &l)) != 0) return rc;
  if ((rc = sync_store_record_link_changes(db, recordset_difference(l, s->s2), recordset_difference(s->s2, l))) != 0)
    return rc;

  return txn.commit();
}

}  // namespace

int send_sync_objs(SyncSession* s) {
  s->sent = 0;
  if (!s->have_sets) return -1;
  DbHandle data = open_keyed(s, "data");
  if (!data) {
    log_message(LOG_ERROR, "send_sync_objs: open data");
    return -1;
  }
  sqlite3* db = data.get();
  std::string sync1 = path_in(s, "sync_1");
  int rc = sync_store_attach_received(db, sync1, s->key);
  if (rc == SQLITE_OK) rc = apply_stage3(s, db);
  sync_store_detach_received(db);
  if (rc != 0) {
    log_message(LOG_ERROR, "send_sync_objs: %d", rc);
    return rc < 0 ? -1 : rc;
  }
  if (!sync_store_has_changes(db)) return 0;

  std::string sync2 = path_in(s, "sync_2");
  rc = sync_store_write_upload(db, sync2, s->key, &s->sent);
  if (rc != SQLITE_OK) {
    log_message(LOG_ERROR, "send_sync_objs: sync_2: %d", rc);
    return rc;
  }

  uint8_t state[CONN_DIGEST];
  {
    std::string hash_file = path_in(s, "list.hash");
    FILE* f = std::fopen(hash_file.c_str(), "rb");
    bool ok = f && std::fread(state, 1, sizeof state, f) == sizeof state;
    if (f) std::fclose(f);
    if (!ok) {
      log_message(LOG_ERROR, "send_sync_objs: list.hash");
      return -1;
    }
  }
  int result = -1;
  {
    Connection c;
    if (repo_request(s, &c, "put sync", db) == 0 && conn_put(&c, state, sizeof state) == 0 && conn_send(&c) == 0 &&
        conn_recv(&c) == 0 && c.recv_size == 1) {
      int status = c.recv_frame[CONN_HEADER];
      if (status == 255) {
        result = -1;
      } else if (status != 0) {
        log_message(LOG_ERROR, "send_sync_objs: remote data changed - repeat sync");
        result = 1;
      } else if (conn_send_file_paged(&c, sync2.c_str(), s->key, "sync_2") == 0 && conn_recv(&c) == 0 &&
                 c.recv_size == 1) {
        // The server checks its state again once the upload is in: another
        // client may have been faster while this one was sending. That is
        // the same "sync again" as a refusal before the upload.
        status = c.recv_frame[CONN_HEADER];
        if (status == 0) {
          result = 0;
        } else if (status != 255) {
          log_message(LOG_ERROR, "send_sync_objs: remote data changed - repeat sync");
          result = 1;
        }
      }
    }
    if (result < 0) log_message(LOG_ERROR, "send_sync_objs");
    conn_close(&c);
  }
  if (result != 0) return result;
  return sync_store_clear_changes(db);
}
