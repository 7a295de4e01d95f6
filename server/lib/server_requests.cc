// SPDX-License-Identifier: GPL-3.0-or-later
// Account server: the request handlers, one per request text.
#include <dirent.h>
#include <openssl/crypto.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <vector>

#include "crypto/crypto.h"
#include "server_internal.h"
#include "storage/db.h"
#include "support/log.h"

namespace srv {

namespace {

Store* store_of(Session* ss) { return ss->srv->store.get(); }

int reply_byte(Session* ss, int value) {
  uint8_t b = static_cast<uint8_t>(value);
  if (conn_put(&ss->conn, &b, 1) != 0) return -1;
  return conn_send(&ss->conn);
}

int reply_bytes(Session* ss, const void* p, size_t n) {
  if (conn_put(&ss->conn, p, n) != 0) return -1;
  return conn_send(&ss->conn);
}

int make_tmp(Session* ss, TempDir* t) {
  uint64_t n = ss->srv->tmp_counter.fetch_add(1);
  uint8_t r[4];
  random_bytes(r, sizeof r);
  char name[64];
  std::snprintf(name, sizeof name, "%llu-%02x%02x%02x%02x", static_cast<unsigned long long>(n), r[0], r[1], r[2],
                r[3]);
  std::string path = join(join(ss->srv->cfg.data_dir, "tmp"), name);
  if (::mkdir(path.c_str(), 0700) != 0) {
    log_message(LOG_ERROR, "make_tmp: mkdir(%s): %d", path.c_str(), errno);
    return -1;
  }
  t->path = path;
  return 0;
}

// Makes the request's scratch folder, answers OK and receives the upload
// into it. False when the handler must end, with its return value in *ret.
bool receive_upload(Session* ss, TempDir* tmp, std::string* file, int* ret) {
  if (make_tmp(ss, tmp) != 0) {
    *ret = reply_byte(ss, SRV_FAILED);
    return false;
  }
  *ret = -1;
  if (reply_byte(ss, SRV_OK) != 0) return false;
  ss->conn.dir = tmp->path;
  ss->conn.max_body = ss->srv->cfg.max_object;
  std::string name;
  if (recv_obj(&ss->conn, &name, nullptr, 0) != 0 || name.empty()) return false;
  *file = join(tmp->path, name);
  return true;
}

// The anonymous password change. An unknown name, a wrong password and a
// blocked account or address all get the same answer, so the request cannot
// tell which names exist. Failures count against the name and against the
// address, each blocked after its attempts within the window; the count is
// read and raised under the keys' locks, so every process sees them all.
int handle_password(Session* ss) {
  std::string user;
  uint8_t hashes[64];
  if (conn_read_line(&ss->conn, &user, CONN_USER_MAX) != 0 || conn_read(&ss->conn, hashes, 64) != 0) return -1;
  const ServerConfig& cfg = ss->srv->cfg;
  time_t now = std::time(nullptr);
  const std::string keys[2] = {"u:" + user, "a:" + ss->address};
  bool blocked = false;
  int status = SRV_FAILED;
  work_begin(ss);
  if (StoreLease db{store_of(ss), &ss->work}) {
    StoreTx tx(db.get(), true, {"password " + keys[0], "password " + keys[1]});
    int rc = tx.status();
    for (const std::string& key : keys) {
      int n = 0;
      if (rc == 0) rc = db->failures(key, now, cfg.password_window, &n);
      blocked = blocked || n >= cfg.password_attempts;
    }
    status = SRV_KEY_MISMATCH;
    if (rc == 0 && !blocked) {
      uint32_t id = 0;
      uint8_t stored[32];
      int found = db->account_by_name(user, &id, stored);
      if (found == 0 && CRYPTO_memcmp(stored, hashes, 32) == 0)
        status = db->set_account_hash(id, hashes + 32) == 0 ? SRV_OK : SRV_FAILED;
      else if (found < 0)
        status = SRV_FAILED;
      OPENSSL_cleanse(stored, sizeof stored);
    }
    if (status == SRV_KEY_MISMATCH && !blocked)
      for (const std::string& key : keys)
        if (rc == 0) rc = db->add_failure(key, now, cfg.password_window);
    if (rc == 0) rc = tx.commit();
    if (rc != 0) status = SRV_FAILED;
  }
  OPENSSL_cleanse(hashes, sizeof hashes);
  log_message(LOG_NOTICE, "password %s from %s: %d%s", log_safe(user).c_str(), ss->peer.c_str(), status,
              blocked ? " (too many attempts)" : "");
  return reply_byte(ss, status);
}

int handle_ls(Session* ss) {
  std::string dot;
  if (conn_read_line(&ss->conn, &dot, 16) != 0) return -1;
  std::vector<std::string> names;
  work_begin(ss);
  {
    StoreLease db(store_of(ss), &ss->work);
    if (!db || db->repo_names(ss->account, &names) != 0) return reply_byte(ss, SRV_FAILED);
  }
  std::string text;
  for (const std::string& n : names) {
    std::string line = n + "\n";
    if (text.size() + line.size() > CONN_PAYLOAD) {
      log_message(LOG_WARNING, "ls: list of account %u cut at one frame", ss->account);
      break;
    }
    text += line;
  }
  if (text.empty()) return reply_byte(ss, SRV_OK);
  return reply_bytes(ss, text.data(), text.size());
}

// 0 when `bytes` more fit the account's quota (leaving out repository
// `except`, which the upload replaces); else the status to answer. Asked
// inside the account's write, so that uploads in other processes cannot
// pass the quota together.
int quota_status(Session* ss, StoreConn* db, int64_t except, uint64_t bytes) {
  uint64_t used = 0;
  if (db->usage(ss->account, except, &used) != 0) return SRV_FAILED;
  if (used + bytes <= ss->srv->cfg.quota) return 0;
  log_message(LOG_WARNING, "quota: account %u would store %llu bytes", ss->account,
              static_cast<unsigned long long>(used + bytes));
  return SRV_BAD_REQUEST;
}

// "create repo". A taken identifier still receives the upload: when it
// carries the key check of the repository stored under that identifier and
// the server holds nothing the upload lacks, this is a retry of a creation
// whose reply was lost, and the upload replaces the copy; otherwise the
// identifier is taken.
int handle_create(Session* ss) {
  std::string id;
  if (conn_read_line(&ss->conn, &id, 1000) != 0) return -1;
  if (!id_ok(id)) return reply_byte(ss, SRV_BAD_REQUEST);
  int rc;
  {
    work_begin(ss);
    StoreLease db(store_of(ss), &ss->work);
    RepoRow row;
    rc = db ? db->find_repo(ss->account, id, &row) : -1;
  }
  if (rc != 0 && rc != 1) return reply_byte(ss, SRV_FAILED);
  TempDir tmp;
  std::string file;
  int ret = 0;
  if (!receive_upload(ss, &tmp, &file, &ret)) return ret;
  work_begin(ss);
  uint64_t bytes = 0;
  uint8_t key_check[64];
  int status = check_upload(file, DB_SCHEMA_REPO, &ss->work, &bytes, key_check);
  if (status != 0) {
    log_message(LOG_WARNING, "create repo %u %s: upload refused (%d)", ss->account, log_safe(id).c_str(), status);
    return reply_byte(ss, status < 0 ? SRV_FAILED : status);
  }
  uint8_t state[20];
  status = SRV_FAILED;
  {
    // Serialised with every other change of the account's repositories.
    work_begin(ss);
    StoreLease db(store_of(ss), &ss->work);
    if (!db) return reply_byte(ss, SRV_FAILED);
    StoreTx t(db.get(), true, {account_lock(ss->account)});
    rc = t.status();
    RepoRow now;
    int found = rc == 0 ? db->find_repo(ss->account, id, &now) : rc;
    int64_t repo = 0;
    if (found == 0) {
      // a retry of the same creation, or a taken identifier
      rc = CRYPTO_memcmp(now.key_check, key_check, 64) == 0 ? upload_covers(db.get(), now.id, file, &ss->work) : 1;
      if (rc == 1) status = SRV_EXISTS;
      int over = rc == 0 ? quota_status(ss, db.get(), now.id, bytes) : 0;
      if (over) {
        status = over;
        rc = -1;
      }
      if (rc == 0) rc = db->delete_repo(now.id, true);
      repo = now.id;
    } else if (found == 1) {
      int over = quota_status(ss, db.get(), 0, bytes);
      if (over) status = over;
      rc = over ? -1 : 0;
      random_bytes(state, sizeof state);
      if (rc == 0) rc = db->insert_repo(ss->account, id, key_check, state, &repo);
    } else {
      rc = -1;
    }
    uint8_t kc[64];
    if (rc == 0) rc = import_repo_db(db.get(), file, repo, kc, &ss->work);
    random_bytes(state, sizeof state);
    if (rc == 0) rc = db->set_state(repo, state);
    if (rc == 0) rc = t.commit();
    if (rc == 0) status = SRV_OK;
    log_message(LOG_NOTICE, "create repo %u %s%s: %d", ss->account, log_safe(id).c_str(),
                found == 0 ? " (again)" : "", status);
  }
  if (status != SRV_OK) return reply_byte(ss, status);
  return reply_bytes(ss, state, 20);
}

// Reads the repository and writes one of the files a client downloads
// (`build` runs inside a read transaction, on the repository found). 0, 1
// when the account has no such repository, else a failure.
int read_repo(Session* ss, const std::string& id, RepoRow* row,
              const std::function<int(StoreConn*, const RepoRow&)>& build) {
  work_begin(ss);
  StoreLease db(store_of(ss), &ss->work);
  if (!db) return -1;
  StoreTx t(db.get(), false);
  int rc = t.status();
  if (rc == 0) rc = db->find_repo(ss->account, id, row);  // state and rows together
  if (rc == 0) rc = build(db.get(), *row);
  if (rc == 0) rc = t.commit();
  return rc;
}

int handle_clone(Session* ss) {
  std::string id;
  if (conn_read_line(&ss->conn, &id, 1000) != 0) return -1;
  TempDir tmp;
  if (make_tmp(ss, &tmp) != 0) return reply_byte(ss, SRV_FAILED);
  std::string file = join(tmp.path, "data");
  RepoRow row;
  int rc = read_repo(ss, id, &row, [&](StoreConn* db, const RepoRow& r) {
    return build_clone(db, r.id, r.key_check, file);
  });
  if (rc == 1) return reply_byte(ss, SRV_NOT_FOUND);
  log_message(LOG_NOTICE, "clone repo %u %s: %d", ss->account, log_safe(id).c_str(), rc);
  if (rc != 0) return reply_byte(ss, SRV_FAILED);
  if (reply_bytes(ss, row.state, 20) != 0) return -1;
  return conn_send_file(&ss->conn, file.c_str(), "data");
}

int handle_del(Session* ss) {
  std::string id;
  if (conn_read_line(&ss->conn, &id, 1000) != 0) return -1;
  int rc;
  {
    work_begin(ss);
    StoreLease db(store_of(ss), &ss->work);
    if (!db) return reply_byte(ss, SRV_FAILED);
    StoreTx t(db.get(), true, {account_lock(ss->account)});
    RepoRow row;
    rc = t.status();
    if (rc == 0) rc = db->find_repo(ss->account, id, &row);
    if (rc == 1) return reply_byte(ss, SRV_NOT_FOUND);
    if (rc == 0) rc = db->delete_repo(row.id, false);
    if (rc == 0) rc = t.commit();
  }
  log_message(LOG_NOTICE, "del repo %u %s: %d", ss->account, log_safe(id).c_str(), rc);
  return reply_byte(ss, rc == 0 ? SRV_OK : SRV_FAILED);
}

// Reads the identifier line and the key check of a sync request and finds
// the repository. 0 found; otherwise the status to answer, or -1 when the
// stream failed.
int sync_request(Session* ss, RepoRow* row, std::string* id) {
  uint8_t kc[64];
  if (conn_read_line(&ss->conn, id, 1000) != 0 || conn_read(&ss->conn, kc, 64) != 0) return -1;
  int rc;
  {
    work_begin(ss);
    StoreLease db(store_of(ss), &ss->work);
    rc = db ? db->find_repo(ss->account, *id, row) : -1;
  }
  if (rc == 1) return SRV_NOT_FOUND;
  if (rc != 0) return SRV_FAILED;
  if (std::memcmp(kc, row->key_check, 64) != 0) {
    log_message(LOG_NOTICE, "sync %u %s: key check differs", ss->account, id->c_str());
    return SRV_KEY_MISMATCH;
  }
  return 0;
}

int handle_get_list(Session* ss) {
  RepoRow row;
  std::string id;
  int st = sync_request(ss, &row, &id);
  if (st < 0) return -1;
  if (st != 0) return reply_byte(ss, st);
  TempDir tmp;
  if (make_tmp(ss, &tmp) != 0) return reply_byte(ss, SRV_FAILED);
  std::string file = join(tmp.path, "list");
  int rc = read_repo(ss, id, &row, [&](StoreConn* db, const RepoRow& r) { return build_list(db, r.id, file); });
  if (rc != 0) {
    log_message(LOG_ERROR, "get list %u %s: %d", ss->account, log_safe(id).c_str(), rc);
    return reply_byte(ss, SRV_FAILED);
  }
  if (reply_bytes(ss, row.state, 20) != 0) return -1;
  return conn_send_file(&ss->conn, file.c_str(), "list");
}

int handle_get_sync(Session* ss) {
  RepoRow row;
  std::string id;
  int st = sync_request(ss, &row, &id);
  if (st < 0) return -1;
  std::string request;
  ss->conn.max_body = ss->srv->cfg.max_request;
  if (recv_obj(&ss->conn, nullptr, nullptr, 1, &request) != 0) return -1;
  if (st != 0) return reply_byte(ss, st);
  if (request.size() % 36 != 0) return reply_byte(ss, SRV_BAD_REQUEST);
  TempDir tmp;
  if (make_tmp(ss, &tmp) != 0) return reply_byte(ss, SRV_FAILED);
  std::string file = join(tmp.path, "sync_1");
  int rc = read_repo(ss, id, &row, [&](StoreConn* db, const RepoRow& r) {
    return r.id == row.id ? build_sync1(db, r.id, request, file) : 1;  // deleted and made anew meanwhile
  });
  if (rc != 0) {
    log_message(LOG_ERROR, "get sync %u %s: %d", ss->account, log_safe(id).c_str(), rc);
    return reply_byte(ss, SRV_FAILED);
  }
  return conn_send_file(&ss->conn, file.c_str(), "sync_1");
}

int handle_put_sync(Session* ss) {
  RepoRow row;
  std::string id;
  int st = sync_request(ss, &row, &id);
  if (st < 0) return -1;
  uint8_t state[20];
  if (conn_read(&ss->conn, state, 20) != 0) return -1;
  if (st != 0) return reply_byte(ss, st);
  if (std::memcmp(state, row.state, 20) != 0) return reply_byte(ss, SRV_STALE);
  TempDir tmp;
  std::string file;
  int ret = 0;
  if (!receive_upload(ss, &tmp, &file, &ret)) return ret;
  work_begin(ss);
  uint64_t bytes = 0;
  int status = check_upload(file, DB_SCHEMA_SNAPSHOT, &ss->work, &bytes);
  if (status != 0) {
    log_message(LOG_WARNING, "put sync %u %s: upload refused (%d)", ss->account, log_safe(id).c_str(), status);
    return reply_byte(ss, status < 0 ? SRV_FAILED : status);
  }
  {
    // Serialised with every other change of the account's repositories.
    work_begin(ss);
    StoreLease db(store_of(ss), &ss->work);
    if (!db) return reply_byte(ss, SRV_FAILED);
    StoreTx t(db.get(), true, {account_lock(ss->account)});
    int rc = t.status();
    status = SRV_FAILED;
    RepoRow now;
    if (rc == 0) rc = db->find_repo(ss->account, id, &now);
    int over = rc == 0 ? quota_status(ss, db.get(), -1, bytes) : 0;
    if (over) {
      status = over;
      rc = -1;
    }
    if (rc == 0 && (now.id != row.id || std::memcmp(now.state, state, 20) != 0)) {
      status = SRV_STALE;
      rc = -1;
    }
    if (rc == 0) rc = apply_sync(db.get(), file, row.id, &ss->work);
    uint8_t next[20];
    random_bytes(next, sizeof next);
    if (rc == 0) rc = db->set_state(row.id, next);
    if (rc == 0) rc = t.commit();
    if (rc == 0) status = SRV_OK;
  }
  log_message(LOG_NOTICE, "put sync %u %s: %d", ss->account, log_safe(id).c_str(), status);
  return reply_byte(ss, status);
}

// A file of the update offer: 0 with *path readable, 1 when the offer has
// none, else a failure.
int update_file(Session* ss, const std::string& name, TempDir* tmp, std::string* path) {
  if (tmp->path.empty() && make_tmp(ss, tmp) != 0) return -1;
  work_begin(ss);
  StoreLease db(store_of(ss), &ss->work);
  return db ? db->update_file(name, tmp->path, path) : -1;
}

int handle_get_version(Session* ss) {
  std::string platform, build, lang;
  if (conn_read_line(&ss->conn, &platform, 32) != 0 || conn_read_line(&ss->conn, &build, 32) != 0 ||
      conn_read_line(&ss->conn, &lang, 32) != 0)
    return -1;
  TempDir tmp;
  std::string path;
  if (platform != "linux" || update_file(ss, "version", &tmp, &path) != 0) return reply_byte(ss, SRV_OK);
  // "version": the version name on the first line, its build number on the second.
  std::string text = read_small_file(path, 256);
  size_t nl = text.find('\n');
  std::string name = text.substr(0, nl);
  int offered = nl == std::string::npos ? 0 : std::atoi(text.c_str() + nl + 1);
  if (name.empty() || name.size() > 15 || offered <= std::atoi(build.c_str())) return reply_byte(ss, SRV_OK);
  if (reply_bytes(ss, name.c_str(), name.size() + 1) != 0) return -1;
  std::string notes;
  if (update_file(ss, "notes", &tmp, &path) == 0) notes = read_small_file(path, 64 * 1024);
  return conn_send_memory(&ss->conn, "notes", notes.data(), notes.size());
}

int handle_get_update(Session* ss) {
  std::string platform;
  if (conn_read_line(&ss->conn, &platform, 32) != 0) return -1;
  TempDir tmp;
  std::string file;
  if ((platform != "lin64" && platform != "lin32") || update_file(ss, platform, &tmp, &file) != 0)
    return reply_byte(ss, SRV_NOT_FOUND);
  log_message(LOG_NOTICE, "get update %u %s", ss->account, platform.c_str());
  return conn_send_file(&ss->conn, file.c_str(), "ordika.gz");
}

// The detached Ed25519 signature of a package, "DIR/<package>.sig" (64
// bytes); clients install only packages that verify. Status 1 when absent.
int handle_get_signature(Session* ss) {
  std::string platform;
  if (conn_read_line(&ss->conn, &platform, 32) != 0) return -1;
  TempDir tmp;
  std::string path;
  if ((platform != "lin64" && platform != "lin32") || update_file(ss, platform + ".sig", &tmp, &path) != 0)
    return reply_byte(ss, SRV_NOT_FOUND);
  std::string sig = read_small_file(path, 256);
  if (sig.size() != 64) return reply_byte(ss, SRV_NOT_FOUND);
  return conn_send_memory(&ss->conn, "signature", sig.data(), sig.size());
}

int handle_put_trace(Session* ss) {
  std::string platform;
  if (conn_read_line(&ss->conn, &platform, 32) != 0) return -1;
  TempDir tmp;
  if (make_tmp(ss, &tmp) != 0) return -1;
  ss->conn.dir = tmp.path;
  ss->conn.max_body = ss->srv->cfg.trace_cap;
  std::string name;
  if (recv_obj(&ss->conn, &name, nullptr, 0) != 0) return -1;
  if (name.empty() || name.find('/') != std::string::npos) return 0;
  work_begin(ss);
  StoreLease db(store_of(ss), &ss->work);
  std::string data = read_small_file(join(tmp.path, name), ss->srv->cfg.trace_cap);
  if (!db || db->put_trace(ss->account, std::time(nullptr), name, data, ss->srv->cfg.trace_cap) != 0) return -1;
  log_message(LOG_NOTICE, "put trace %u %s", ss->account, log_safe(name).c_str());
  return 0;
}

}  // namespace

void work_begin(Session* ss) {
  ss->work.until = std::chrono::steady_clock::now() + std::chrono::seconds(ss->srv->cfg.work_limit);
  ss->work.stopping = &ss->srv->stopping;
}

std::string log_safe(const std::string& text) {
  std::string out;
  for (unsigned char ch : text) {
    if (ch < 0x20 || ch == 0x7f || ch == '\\') {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02x", ch);
      out += esc;
    } else {
      out.push_back(static_cast<char>(ch));
    }
  }
  return out;
}

int handle_request(Session* ss, const std::string& command, bool anonymous) {
  if (anonymous) return command == "password" ? handle_password(ss) : -1;
  if (command == "ls") return handle_ls(ss);
  if (command == "create repo") return handle_create(ss);
  if (command == "clone repo") return handle_clone(ss);
  if (command == "del repo") return handle_del(ss);
  if (command == "get list") return handle_get_list(ss);
  if (command == "get sync") return handle_get_sync(ss);
  if (command == "put sync") return handle_put_sync(ss);
  if (command == "get version") return handle_get_version(ss);
  if (command == "get update") return handle_get_update(ss);
  if (command == "get signature") return handle_get_signature(ss);
  if (command == "put trace") return handle_put_trace(ss);
  log_message(LOG_NOTICE, "serve %s: unknown request", ss->peer.c_str());
  return -1;
}

}  // namespace srv
