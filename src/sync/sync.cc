// Repository synchronisation stages.
#include "sync/sync.h"

#include <openssl/crypto.h>

#include <cstdio>
#include <cstring>

#include "crypto/crypto.h"
#include "storage/db.h"
#include "storage/page_vfs.h"
#include "storage/repo.h"
#include "storage/untrusted.h"
#include "support/extra_texts.h"
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

// Opens dir/name keyed with the repository key.
DbHandle open_keyed(const SyncSession* s, const char* name) {
  std::string p = path_in(s, name);
  if (!file_exists(p)) return DbHandle();
  DbHandle db(db_open(p.c_str()));
  if (db && page_db_key(db.get(), s->key, 32) != 0) db.reset();
  return db;
}

// Attaches the server's "sync_1" to the connection, which from then on reads
// as hostile input: only the snapshot's own tables are accepted.
int attach_sync1(sqlite3* db, const std::string& file, const uint8_t key[32]) {
  if (db_distrust(db) != SQLITE_OK) return SQLITE_ERROR;
  int rc = page_db_attach(db, file.c_str(), "sync1", key, 32);
  if (rc == SQLITE_OK && db_schema_exact(db, "sync1", DB_SCHEMA_SNAPSHOT) != 0) rc = SQLITE_CORRUPT;
  return rc;
}

// Loads (c1, c2) rows: c1 16 bytes, c2 size - 16 bytes; sorted afterwards.
int load_set(sqlite3* db, const char* sql, size_t size, RecordSet* out) {
  recordset_init(out, size, 64);
  Stmt st;
  int rc = stmt_prepare(db, sql, &st);
  if (rc != SQLITE_OK) return rc;
  uint8_t rec[REC_VERSION];
  while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
    const uint8_t* a = column_fixed(st.get(), 0, 16);
    const uint8_t* b = column_fixed(st.get(), 1, static_cast<int>(size - 16));
    if (!a || !b) {
      log_message(LOG_ERROR, "load_set: malformed row");
      return -1;
    }
    std::memcpy(rec, a, 16);
    std::memcpy(rec + 16, b, size - 16);
    recordset_append(out, rec);
  }
  if (rc != SQLITE_DONE) return rc;
  recordset_sort(out);
  return 0;
}

// Local sets of "data": T1, A (added) and R (removed).
int load_local(sqlite3* db, RecordSet* t1, RecordSet* a, RecordSet* r) {
  int rc = load_set(db, "SELECT c1, c2 FROM t1 ORDER BY 1, 2", REC_VERSION, t1);
  if (rc == 0) rc = load_set(db, "SELECT c1, c2 FROM t3 WHERE c3=1 ORDER BY 1, 2", REC_VERSION, a);
  if (rc == 0) rc = load_set(db, "SELECT c1, c2 FROM t3 WHERE c3=0 ORDER BY 1, 2", REC_VERSION, r);
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

int exec_uuid(sqlite3* db, const char* sql, const uint8_t uuid[16]) {
  Stmt st;
  int rc = stmt_prepare(db, sql, &st);
  if (rc != SQLITE_OK) return rc;
  bind_blob(st.get(), 1, uuid, 16);
  rc = sqlite3_step(st.get());
  return rc == SQLITE_DONE ? 0 : rc;
}

// Binds the uuid to every parameter (statements like "... c1=? OR c2=?").
int exec_uuid_all(sqlite3* db, const char* sql, const uint8_t uuid[16]) {
  Stmt st;
  int rc = stmt_prepare(db, sql, &st);
  if (rc != SQLITE_OK) return rc;
  for (int i = 1; i <= sqlite3_bind_parameter_count(st.get()); ++i) bind_blob(st.get(), i, uuid, 16);
  rc = sqlite3_step(st.get());
  return rc == SQLITE_DONE ? 0 : rc;
}

int exec_pair(sqlite3* db, const char* sql, const uint8_t* a, size_t na, const uint8_t* b, size_t nb) {
  Stmt st;
  int rc = stmt_prepare(db, sql, &st);
  if (rc != SQLITE_OK) return rc;
  bind_blob(st.get(), 1, a, na);
  bind_blob(st.get(), 2, b, nb);
  rc = sqlite3_step(st.get());
  return rc == SQLITE_DONE ? 0 : rc;
}

// Reads one (c1, c2, c3, c4, c5) row into a deciphered conflict side.
bool read_version(sqlite3_stmt* st, const uint8_t key[32], std::string* header, std::string* body, bool* has_body) {
  const uint8_t* u = column_fixed(st, 0, 16);
  const uint8_t* h = column_fixed(st, 1, 20);
  if (!u || !h) return false;
  std::string c4 = column_bytes(st, 3);
  bool body_present = sqlite3_column_type(st, 4) != SQLITE_NULL;
  std::string c5 = column_bytes(st, 4);
  if (c4.empty() || c4.size() % 16 || c5.size() % 16) return false;
  if (row_decipher(key, u, h, reinterpret_cast<uint8_t*>(&c4[0]), c4.size(),
                   c5.empty() ? nullptr : reinterpret_cast<uint8_t*>(&c5[0]), c5.size()) != 0)
    return false;
  header->assign(c4.c_str());
  body->assign(c5.empty() ? "" : c5.c_str());
  *has_body = body_present;
  OPENSSL_cleanse(&c4[0], c4.size());
  if (!c5.empty()) OPENSSL_cleanse(&c5[0], c5.size());
  return true;
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

// First current tag of "data" whose parent is the zero uuid.
int find_root_tag(sqlite3* db, const uint8_t key[32], uint8_t out[16]) {
  Stmt st;
  int rc = stmt_prepare(db, "SELECT c1, c2, c4 FROM t1 WHERE c3=0 AND c5 IS NULL ORDER BY rowid", &st);
  if (rc != SQLITE_OK) return rc;
  const std::string zero(32, '0');
  while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
    const uint8_t* u = column_fixed(st.get(), 0, 16);
    const uint8_t* h = column_fixed(st.get(), 1, 20);
    if (!u || !h) continue;
    std::string c4 = column_bytes(st.get(), 2);
    std::string text;
    if (row_decipher_header(key, u, h, reinterpret_cast<const uint8_t*>(c4.data()), c4.size(), &text) != 0) continue;
    if (text.size() > 32 && text.compare(0, 32, zero) == 0 && text[32] == ':') {
      std::memcpy(out, u, 16);
      return 0;
    }
  }
  return -1;
}

}  // namespace

struct SyncSession::Stage2 {
  DbHandle db;
  Stmt remote_stmt, local_stmt;
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
    if (rc == 0) rc = load_set(list.get(), "SELECT c1, c2 FROM s3 ORDER BY rowid", REC_VERSION, &s->s3);
    if (rc == 0) rc = load_set(list.get(), "SELECT c1, c2 FROM s2 ORDER BY rowid", REC_LINK, &s->s2);
    if (rc == 0) rc = load_set(list.get(), "SELECT c1, c2 FROM s3 WHERE c3=0 ORDER BY rowid", REC_VERSION, &s->current);
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
  s->fetched = static_cast<int>(fetch.count);

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
      return extra_text(EXTRA_SYNC_NOT_ON_SERVER);
    case SYNC_STATUS_KEY_CHANGED:
      return extra_text(EXTRA_SYNC_KEY_CHANGED);
    default:
      break;
  }
  // The connection's own cause, as the sync dialog shows it.
  if (rc < 0) return ui_format(257, error_code_text(last_error).c_str());
  return ui_string_line(291);
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
  if (file_exists(sync1)) rc = attach_sync1(st.db.get(), sync1, s->key);
  if (rc == SQLITE_OK) rc = stmt_prepare(st.db.get(), "SELECT * FROM sync1.s1 WHERE c1=? AND c3=0", &st.remote_stmt);
  if (rc == SQLITE_OK) rc = stmt_prepare(st.db.get(), "SELECT * FROM t1 WHERE c1=? AND c3=0", &st.local_stmt);
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
    if (!s->stage2 || !s->stage2->remote_stmt || !s->stage2->local_stmt) return -1;
    SyncConflict k;
    std::memcpy(k.uuid, uuid, 16);
    for (int side = 0; side < 2; ++side) {
      sqlite3_stmt* st = side == 0 ? s->stage2->remote_stmt.get() : s->stage2->local_stmt.get();
      sqlite3_reset(st);
      bind_blob(st, 1, uuid, 16);
      int rc = sqlite3_step(st);
      if (rc == SQLITE_ROW) {
        bool ok = side == 0 ? read_version(st, s->key, &k.remote_header, &k.remote_body, &k.remote_has_body)
                            : read_version(st, s->key, &k.local_header, &k.local_body, &k.local_has_body);
        if (!ok) {
          log_message(LOG_ERROR, "sync_conflicts_next: unreadable version");
          return -1;
        }
        (side == 0 ? k.remote_exists : k.local_exists) = true;
      } else if (rc != SQLITE_DONE) {
        return -1;
      }
      sqlite3_reset(st);
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
  s->stage2->remote_stmt.reset();
  s->stage2->local_stmt.reset();
  if (s->stage2->db) db_exec(s->stage2->db.get(), "DETACH sync1;");
  s->stage2.reset();
}

namespace {

// Stage 3 up to and including the commit of the merged state.
int apply_stage3(SyncSession* s, sqlite3* db) {
  Transaction txn(db);
  int rc = txn.status();
  if (rc != SQLITE_OK) return rc;
  if ((rc = db_exec(db, "DELETE FROM t5;")) != SQLITE_OK) return rc;
  if ((rc = db_exec(db, "INSERT INTO t5 (c6,c7) VALUES (1,1)")) != SQLITE_OK) return rc;

  // Decisions.
  for (size_t i = 0; i < s->decisions.count; ++i) {
    SyncDecision d;
    std::memcpy(&d, s->decisions.at(i), sizeof d);
    const uint8_t* u = d.uuid;
    if (d.choice == SYNC_TAKE_SERVER && !d.remote_exists) {
      log_message(LOG_DEBUG, "delete_obj: %s", hex_encode(u, 16).c_str());
      if ((rc = exec_uuid(db, "DELETE FROM t1 WHERE c1=?", u)) != 0) return rc;
      if ((rc = exec_uuid_all(db, "DELETE FROM t2 WHERE c1=? OR c2=?", u)) != 0) return rc;
      if ((rc = exec_uuid(db, "DELETE FROM t3 WHERE c1=?", u)) != 0) return rc;
      if ((rc = exec_uuid_all(db, "DELETE FROM t4 WHERE c1=? OR c2=?", u)) != 0) return rc;
    } else if (d.choice == SYNC_TAKE_SERVER && !d.local_exists) {
      if ((rc = exec_uuid(db, "INSERT INTO t1 SELECT * FROM sync1.s1 WHERE c1=?", u)) != 0) return rc;
      for (size_t k = 0; k < s->s2.count; ++k) {
        const uint8_t* link = s->s2.at(k);
        if (std::memcmp(link, u, 16) != 0 && std::memcmp(link + 16, u, 16) != 0) continue;
        // a link that is already here is what the server has too
        rc = exec_pair(db, "INSERT INTO t2 VALUES (?,?)", link, 16, link + 16, 16);
        if (rc != 0 && rc != SQLITE_CONSTRAINT) return rc;
      }
      if ((rc = exec_uuid(db, "DELETE FROM t3 WHERE c1=?", u)) != 0) return rc;
      if ((rc = exec_uuid_all(db, "DELETE FROM t4 WHERE c1=? OR c2=?", u)) != 0) return rc;
    } else if (d.choice == SYNC_TAKE_SERVER) {
      Stmt st;
      if ((rc = stmt_prepare(db, "SELECT c2 FROM t1 WHERE c1=? AND c3=0", &st)) != SQLITE_OK) return rc;
      bind_blob(st.get(), 1, u, 16);
      rc = sqlite3_step(st.get());
      if (rc == SQLITE_ROW) {
        std::string hash = column_bytes(st.get(), 0);
        st.reset();
        if ((rc = exec_pair(db, "DELETE FROM t3 WHERE c1=? AND c2=?", u, 16,
                            reinterpret_cast<const uint8_t*>(hash.data()), hash.size())) != 0)
          return rc;
        if ((rc = exec_uuid(db, "DELETE FROM t1 WHERE c1=? AND c3=0", u)) != 0) return rc;
      } else if (rc != SQLITE_DONE) {
        return rc;
      }
      st.reset();
      // The server's current version may be here already as an older one.
      if ((rc = exec_uuid_all(db, "DELETE FROM t1 WHERE c1=? AND c2 IN (SELECT c2 FROM sync1.s1 WHERE c1=? AND c3=0)",
                              u)) != 0)
        return rc;
      if ((rc = exec_uuid(db, "INSERT INTO t1 SELECT * FROM sync1.s1 WHERE c1=? AND c3=0", u)) != 0) return rc;
    } else if (!d.local_exists) {
      // keeping the local state of a deleted object: the deletion stands
      if ((rc = exec_uuid(db, "INSERT OR IGNORE INTO t3 SELECT c1, c2, 0 FROM sync1.s1 WHERE c1=?", u)) != 0)
        return rc;
    } else if (!d.remote_exists) {
      if ((rc = exec_uuid(db, "DELETE FROM t3 WHERE c1=?", u)) != 0) return rc;
      if ((rc = exec_uuid_all(db, "DELETE FROM t4 WHERE c1=? OR c2=?", u)) != 0) return rc;
      if ((rc = exec_uuid(db, "INSERT INTO t3 SELECT c1, c2, 1 FROM t1 WHERE c1=?", u)) != 0) return rc;
      if ((rc = exec_uuid_all(db, "INSERT INTO t4 SELECT c1, c2, 1 FROM t2 WHERE c1=? OR c2=?", u)) != 0) return rc;
    } else {
      // Already recorded when an earlier attempt was refused as stale.
      if ((rc = exec_uuid(db, "INSERT OR IGNORE INTO t3 SELECT c1, c2, 0 FROM sync1.s1 WHERE c1=? AND c3=0", u)) != 0)
        return rc;
      // The version kept may be one the server already has (an older one
      // there); sending it again makes it the server's current version,
      // which would otherwise be left without any.
      if ((rc = exec_uuid(db, "INSERT OR IGNORE INTO t3 SELECT c1, c2, 1 FROM t1 WHERE c1=? AND c3=0", u)) != 0)
        return rc;
    }
  }

  // Versions gone from the server, versions new on the server.
  RecordSet t1, a, r, base, fresh;
  if ((rc = load_local(db, &t1, &a, &r)) != 0) return rc;
  base_and_new(t1, a, r, s->s3, &base, &fresh);
  RecordSet gone = recordset_difference(base, s->s3);
  for (size_t i = 0; i < gone.count; ++i) {
    const uint8_t* g = gone.at(i);
    if ((rc = exec_pair(db, "DELETE FROM t1 WHERE c1=? AND c2=?", g, 16, g + 16, 20)) != 0) return rc;
  }
  for (size_t i = 0; i < fresh.count; ++i) {
    const uint8_t* v = fresh.at(i);
    // A version already stored here (an upload whose reply was lost) is
    // kept as it is rather than inserted twice.
    Stmt have;
    if ((rc = stmt_prepare(db, "SELECT 1 FROM t1 WHERE c1=? AND c2=?", &have)) != SQLITE_OK) return rc;
    bind_blob(have.get(), 1, v, 16);
    bind_blob(have.get(), 2, v + 16, 20);
    rc = sqlite3_step(have.get());
    if (rc == SQLITE_ROW) continue;
    if (rc != SQLITE_DONE) return rc;
    Stmt st;
    if ((rc = stmt_prepare(db, "SELECT c3 FROM sync1.s1 WHERE c1=? AND c2=?", &st)) != SQLITE_OK) return rc;
    bind_blob(st.get(), 1, v, 16);
    bind_blob(st.get(), 2, v + 16, 20);
    rc = sqlite3_step(st.get());
    if (rc == SQLITE_ROW && sqlite3_column_int(st.get(), 0) == 0) {
      if ((rc = exec_uuid(db, "UPDATE t1 SET c3=1 WHERE c1=? AND c3=0", v)) != 0) return rc;
    } else if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
      return rc;
    }
    st.reset();
    if ((rc = exec_pair(db, "INSERT INTO t1 SELECT * FROM sync1.s1 WHERE c1=? AND c2=?", v, 16, v + 16, 20)) != 0)
      return rc;
  }

  // Which version is current travels only with new versions: when the
  // server's current version is one this copy holds as an older one, the
  // flags are set as the server has them, unless the local current version
  // is still to be sent (the upload makes it the server's).
  RecordSet local_current;
  if ((rc = load_set(db, "SELECT c1, c2 FROM t1 WHERE c3=0 ORDER BY 1, 2", REC_VERSION, &local_current)) != 0)
    return rc;
  RecordSet differing = recordset_difference(s->current, local_current);
  for (size_t i = 0; i < differing.count; ++i) {
    const uint8_t* v = differing.at(i);
    Stmt mine;
    if ((rc = stmt_prepare(db,
                           "SELECT 1 FROM t1 INNER JOIN t3 ON (t1.c1=t3.c1 AND t1.c2=t3.c2) WHERE t1.c1=? AND "
                           "t1.c3=0 AND t3.c3=1",
                           &mine)) != SQLITE_OK)
      return rc;
    bind_blob(mine.get(), 1, v, 16);
    rc = sqlite3_step(mine.get());
    if (rc == SQLITE_ROW) continue;
    if (rc != SQLITE_DONE) return rc;
    Stmt held;
    if ((rc = stmt_prepare(db, "SELECT c3 FROM t1 WHERE c1=? AND c2=?", &held)) != SQLITE_OK) return rc;
    bind_blob(held.get(), 1, v, 16);
    bind_blob(held.get(), 2, v + 16, 20);
    rc = sqlite3_step(held.get());
    if (rc == SQLITE_DONE || (rc == SQLITE_ROW && sqlite3_column_int(held.get(), 0) == 0)) continue;
    if (rc != SQLITE_ROW) return rc;
    held.reset();
    if ((rc = exec_uuid(db, "UPDATE t1 SET c3=1 WHERE c1=? AND c3=0", v)) != 0) return rc;
    if ((rc = exec_pair(db, "UPDATE t1 SET c3=0 WHERE c1=? AND c2=?", v, 16, v + 16, 20)) != 0) return rc;
  }

  // Tag links.
  if ((rc = load_set(db, "SELECT c1, c2 FROM t1 ORDER BY 1, 2", REC_VERSION, &t1)) != 0) return rc;
  RecordSet l, lr, la;
  if ((rc = load_set(db, "SELECT c1, c2 FROM t2 ORDER BY c1, c2", REC_LINK, &l)) != 0) return rc;
  if ((rc = load_set(db, "SELECT c1, c2 FROM t4 WHERE c3=0 ORDER BY c1, c2", REC_LINK, &lr)) != 0) return rc;
  if ((rc = load_set(db, "SELECT c1, c2 FROM t4 WHERE c3=1 ORDER BY c1, c2", REC_LINK, &la)) != 0) return rc;
  RecordSet add = recordset_difference(recordset_difference(s->s2, l), lr);
  for (size_t i = 0; i < add.count; ++i)
    if ((rc = exec_pair(db, "INSERT INTO t2 VALUES (?,?)", add.at(i), 16, add.at(i) + 16, 16)) != 0) return rc;
  RecordSet drop = recordset_difference(recordset_difference(l, s->s2), la);
  for (size_t i = 0; i < drop.count; ++i)
    if ((rc = exec_pair(db, "DELETE FROM t2 WHERE c1=? AND c2=?", drop.at(i), 16, drop.at(i) + 16, 16)) != 0)
      return rc;
  RecordSet orphans = recordset_difference(recordset_uuids(gone), recordset_uuids(t1));
  for (size_t i = 0; i < orphans.count; ++i)
    if ((rc = exec_uuid_all(db, "DELETE FROM t2 WHERE c1=? OR c2=?", orphans.at(i))) != 0) return rc;
  {
    Stmt items, linked;
    if ((rc = stmt_prepare(db, "SELECT c1 FROM t1 WHERE c3=0 and c5 is not NULL", &items)) != SQLITE_OK) return rc;
    if ((rc = stmt_prepare(db, "SELECT  1 FROM t2 WHERE c2=?", &linked)) != SQLITE_OK) return rc;
    bool have_root = false;
    uint8_t root[16];
    while ((rc = sqlite3_step(items.get())) == SQLITE_ROW) {
      const uint8_t* u = column_fixed(items.get(), 0, 16);
      if (!u) continue;
      sqlite3_reset(linked.get());
      bind_blob(linked.get(), 1, u, 16);
      int lrc = sqlite3_step(linked.get());
      if (lrc == SQLITE_ROW) continue;
      if (lrc != SQLITE_DONE) return lrc;
      if (!have_root) {
        if (find_root_tag(db, s->key, root) != 0) {
          log_message(LOG_ERROR, "send_sync_objs: no root tag");
          return -1;
        }
        have_root = true;
      }
      if ((rc = exec_pair(db, "INSERT INTO t2 VALUES (?,?)", root, 16, u, 16)) != 0) return rc;
    }
    if (rc != SQLITE_DONE) return rc;
  }
  if ((rc = db_exec(db, "DELETE FROM t4;")) != SQLITE_OK) return rc;
  if ((rc = load_set(db, "SELECT c1, c2 FROM t2 ORDER BY c1, c2", REC_LINK, &l)) != 0) return rc;
  RecordSet up = recordset_difference(l, s->s2);
  for (size_t i = 0; i < up.count; ++i)
    if ((rc = exec_pair(db, "INSERT INTO t4 VALUES (?,?,1)", up.at(i), 16, up.at(i) + 16, 16)) != 0) return rc;
  RecordSet down = recordset_difference(s->s2, l);
  for (size_t i = 0; i < down.count; ++i)
    if ((rc = exec_pair(db, "INSERT INTO t4 VALUES (?,?,0)", down.at(i), 16, down.at(i) + 16, 16)) != 0) return rc;

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
  int rc = attach_sync1(db, sync1, s->key);
  if (rc == SQLITE_OK) rc = apply_stage3(s, db);
  db_exec(db, "DETACH sync1;");
  if (rc != 0) {
    log_message(LOG_ERROR, "send_sync_objs: %d", rc);
    return rc < 0 ? -1 : rc;
  }
  if (db_query_state(db, "SELECT 1 FROM t3;") == 1 && db_query_state(db, "SELECT 1 FROM t4;") == 1) return 0;

  std::string sync2 = path_in(s, "sync_2");
  {
    DbHandle snap(db_create_snapshot(sync2.c_str(), s->key));
    if (!snap) return -1;
  }
  rc = page_db_attach(db, sync2.c_str(), "sync2", s->key, 32);
  if (rc == SQLITE_OK) {
    Transaction txn(db);
    rc = txn.status();
    if (rc == SQLITE_OK)
      rc = db_exec(db,
                   "INSERT INTO sync2.s1 SELECT t1.c1, t1.c2, t1.c3, t1.c4, t1.c5 FROM t1 INNER JOIN t3 ON "
                   "(t1.c1=t3.c1 AND t1.c2=t3.c2) WHERE t3.c3=1;");
    if (rc == SQLITE_OK) s->sent = sqlite3_changes(db);
    if (rc == SQLITE_OK) rc = db_exec(db, "INSERT INTO sync2.s3 SELECT * FROM t3;");
    if (rc == SQLITE_OK) rc = db_exec(db, "INSERT INTO sync2.s4 SELECT * FROM t4;");
    if (rc == SQLITE_OK) rc = txn.commit();
  }
  db_exec(db, "DETACH sync2;");
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
  Transaction txn(db);
  rc = txn.status();
  if (rc == SQLITE_OK) rc = db_exec(db, "DELETE FROM t3; DELETE FROM t4;");
  if (rc == SQLITE_OK) rc = txn.commit();
  return rc;
}
