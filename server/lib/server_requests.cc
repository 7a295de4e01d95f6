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
#include <thread>
#include <vector>

#include "crypto/crypto.h"
#include "server_internal.h"
#include "storage/db.h"
#include "support/log.h"

namespace srv {

namespace {

std::shared_ptr<std::mutex> repo_lock(Server* s, int64_t repo) {
  std::lock_guard<std::mutex> g(s->mu);
  auto& m = s->repo_locks[repo];
  if (!m) m = std::make_shared<std::mutex>();
  return m;
}

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

// True when the key (account or address) has used up its failed password
// changes within the window. Called with srv->mu held.
bool password_blocked(Server* srv, const std::string& key, time_t now) {
  auto it = srv->password_failures.find(key);
  if (it == srv->password_failures.end()) return false;
  auto& times = it->second;
  times.erase(std::remove_if(times.begin(), times.end(),
                             [&](time_t t) { return now - t >= srv->cfg.password_window; }),
              times.end());
  return static_cast<int>(times.size()) >= srv->cfg.password_attempts;
}

void password_failed(Server* srv, const std::string& key, time_t now) {
  // Bounded memory under a flood of invented names: expired entries go first.
  if (srv->password_failures.size() > 4096) {
    for (auto it = srv->password_failures.begin(); it != srv->password_failures.end();) {
      bool old = it->second.empty() || now - it->second.back() >= srv->cfg.password_window;
      it = old ? srv->password_failures.erase(it) : std::next(it);
    }
  }
  srv->password_failures[key].push_back(now);
}

// The anonymous password change. An unknown name, a wrong password and a
// blocked account or address all get the same answer, so the request cannot
// tell which names exist.
int handle_password(Session* ss) {
  std::string user;
  uint8_t hashes[64];
  if (conn_read_line(&ss->conn, &user, CONN_USER_MAX) != 0 || conn_read(&ss->conn, hashes, 64) != 0) return -1;
  Server* srv = ss->srv;
  time_t now = std::time(nullptr);
  bool blocked;
  {
    std::lock_guard<std::mutex> g(srv->mu);
    blocked = password_blocked(srv, "u:" + user, now) || password_blocked(srv, "a:" + ss->address, now);
  }
  int status = SRV_KEY_MISMATCH;
  Stmt s;
  if (!blocked && stmt_prepare(ss->db.get(), "SELECT id, hash FROM accounts WHERE name=?", &s) == SQLITE_OK) {
    bind_text(s.get(), 1, user.c_str());
    int step = sqlite3_step(s.get());
    if (step == SQLITE_ROW) {
      int64_t id = sqlite3_column_int64(s.get(), 0);
      const uint8_t* h = column_fixed(s.get(), 1, 32);
      if (h && CRYPTO_memcmp(h, hashes, 32) == 0) {
        s.reset();
        Stmt u;
        status = SRV_FAILED;
        if (stmt_prepare(ss->db.get(), "UPDATE accounts SET hash=? WHERE id=?", &u) == SQLITE_OK) {
          bind_blob(u.get(), 1, hashes + 32, 32);
          sqlite3_bind_int64(u.get(), 2, id);
          if (sqlite3_step(u.get()) == SQLITE_DONE) status = SRV_OK;
        }
      }
    } else if (step != SQLITE_DONE) {
      status = SRV_FAILED;
    }
  }
  OPENSSL_cleanse(hashes, sizeof hashes);
  if (status == SRV_KEY_MISMATCH && !blocked) {
    std::lock_guard<std::mutex> g(srv->mu);
    password_failed(srv, "u:" + user, now);
    password_failed(srv, "a:" + ss->address, now);
  }
  log_message(LOG_NOTICE, "password %s from %s: %d%s", log_safe(user).c_str(), ss->peer.c_str(), status,
              blocked ? " (too many attempts)" : "");
  return reply_byte(ss, status);
}

int handle_ls(Session* ss) {
  std::string dot;
  if (conn_read_line(&ss->conn, &dot, 16) != 0) return -1;
  Stmt s;
  if (stmt_prepare(ss->db.get(), "SELECT name FROM repos WHERE account=? ORDER BY name", &s) != SQLITE_OK)
    return reply_byte(ss, SRV_FAILED);
  sqlite3_bind_int64(s.get(), 1, ss->account);
  std::string text;
  while (sqlite3_step(s.get()) == SQLITE_ROW) {
    const char* n = reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0));
    std::string line = std::string(n ? n : "") + "\n";
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
// `except`, which the upload replaces); else the status to answer.
int quota_status(Session* ss, int64_t except, uint64_t bytes) {
  uint64_t used = 0;
  if (account_usage(ss->db.get(), ss->account, except, &used) != 0) return SRV_FAILED;
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
  RepoRow row;
  int rc = find_repo(ss->db.get(), ss->account, id, &row);
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
    // Serialised with every other change of this identifier's repository.
    auto lock = repo_lock(ss->srv, rc == 0 ? row.id : 0);
    std::lock_guard<std::mutex> g(*lock);
    work_begin(ss);
    Transaction t(ss->db.get(), "BEGIN IMMEDIATE;");
    rc = t.status();
    RepoRow now;
    int found = rc == SQLITE_OK ? find_repo(ss->db.get(), ss->account, id, &now) : rc;
    int64_t repo = 0;
    if (found == 0) {
      // a retry of the same creation, or a taken identifier
      rc = CRYPTO_memcmp(now.key_check, key_check, 64) == 0 ? upload_covers(ss->db.get(), now.id, file, &ss->work) : 1;
      if (rc == 1) status = SRV_EXISTS;
      int over = rc == 0 ? quota_status(ss, now.id, bytes) : 0;
      if (over) {
        status = over;
        rc = -1;
      }
      if (rc == 0) rc = delete_repo_rows(ss->db.get(), now.id, true);
      repo = now.id;
    } else if (found == 1) {
      int over = quota_status(ss, 0, bytes);
      if (over) status = over;
      rc = over ? -1 : 0;
      Stmt s;
      if (rc == 0)
        rc = stmt_prepare(ss->db.get(), "INSERT INTO repos(account, name, key_check, state) VALUES (?,?,?,?)", &s);
      if (rc == SQLITE_OK) {
        random_bytes(state, sizeof state);
        sqlite3_bind_int64(s.get(), 1, ss->account);
        bind_text(s.get(), 2, id.c_str());
        bind_blob(s.get(), 3, key_check, 64);
        bind_blob(s.get(), 4, state, 20);
        rc = sqlite3_step(s.get()) == SQLITE_DONE ? 0 : -1;
        repo = sqlite3_last_insert_rowid(ss->db.get());
      }
    } else {
      rc = -1;
    }
    uint8_t kc[64];
    if (rc == 0) rc = import_repo_db(ss->db.get(), file, repo, kc, &ss->work);
    if (rc == 0) rc = new_state(ss->db.get(), repo, state);
    if (rc == 0) rc = t.commit();
    if (rc == 0) status = SRV_OK;
    log_message(LOG_NOTICE, "create repo %u %s%s: %d", ss->account, log_safe(id).c_str(),
                found == 0 ? " (again)" : "", status);
  }
  if (status != SRV_OK) return reply_byte(ss, status);
  return reply_bytes(ss, state, 20);
}

int handle_clone(Session* ss) {
  std::string id;
  if (conn_read_line(&ss->conn, &id, 1000) != 0) return -1;
  TempDir tmp;
  if (make_tmp(ss, &tmp) != 0) return reply_byte(ss, SRV_FAILED);
  std::string file = join(tmp.path, "data");
  RepoRow row;
  int rc;
  {
    Transaction t(ss->db.get(), "BEGIN;");
    rc = t.status();
    if (rc == SQLITE_OK) rc = find_repo(ss->db.get(), ss->account, id, &row);
    if (rc == 1) return reply_byte(ss, SRV_NOT_FOUND);
    if (rc == 0) rc = build_clone(ss->db.get(), row.id, row.key_check, file);
    if (rc == 0) rc = t.commit();
  }
  log_message(LOG_NOTICE, "clone repo %u %s: %d", ss->account, log_safe(id).c_str(), rc);
  if (rc != 0) return reply_byte(ss, SRV_FAILED);
  if (reply_bytes(ss, row.state, 20) != 0) return -1;
  return conn_send_file(&ss->conn, file.c_str(), "data");
}

int handle_del(Session* ss) {
  std::string id;
  if (conn_read_line(&ss->conn, &id, 1000) != 0) return -1;
  RepoRow row;
  int rc = find_repo(ss->db.get(), ss->account, id, &row);
  if (rc == 1) return reply_byte(ss, SRV_NOT_FOUND);
  if (rc != 0) return reply_byte(ss, SRV_FAILED);
  auto lock = repo_lock(ss->srv, row.id);
  std::lock_guard<std::mutex> g(*lock);
  Transaction t(ss->db.get(), "BEGIN IMMEDIATE;");
  rc = t.status();
  if (rc == SQLITE_OK) rc = delete_repo_rows(ss->db.get(), row.id);
  if (rc == 0) rc = t.commit();
  log_message(LOG_NOTICE, "del repo %u %s: %d", ss->account, log_safe(id).c_str(), rc);
  return reply_byte(ss, rc == 0 ? SRV_OK : SRV_FAILED);
}

// Reads the identifier line and the key check of a sync request and finds
// the repository. 0 found; otherwise the status to answer, or -1 when the
// stream failed.
int sync_request(Session* ss, RepoRow* row, std::string* id) {
  uint8_t kc[64];
  if (conn_read_line(&ss->conn, id, 1000) != 0 || conn_read(&ss->conn, kc, 64) != 0) return -1;
  int rc = find_repo(ss->db.get(), ss->account, *id, row);
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
  int rc;
  {
    Transaction t(ss->db.get(), "BEGIN;");
    rc = t.status();
    if (rc == SQLITE_OK) rc = find_repo(ss->db.get(), ss->account, id, &row);  // state and rows together
    if (rc == 0) rc = build_list(ss->db.get(), row.id, file);
    if (rc == 0) rc = t.commit();
  }
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
  int rc;
  {
    Transaction t(ss->db.get(), "BEGIN;");
    rc = t.status();
    if (rc == SQLITE_OK) rc = build_sync1(ss->db.get(), row.id, request, file);
    if (rc == 0) rc = t.commit();
  }
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
  if (status == 0) status = quota_status(ss, -1, bytes);
  if (status != 0) {
    log_message(LOG_WARNING, "put sync %u %s: upload refused (%d)", ss->account, log_safe(id).c_str(), status);
    return reply_byte(ss, status < 0 ? SRV_FAILED : status);
  }
  auto lock = repo_lock(ss->srv, row.id);
  std::lock_guard<std::mutex> g(*lock);
  work_begin(ss);
  status = SRV_FAILED;
  int rc;
  {
    Transaction t(ss->db.get(), "BEGIN IMMEDIATE;");
    rc = t.status();
    RepoRow now;
    if (rc == SQLITE_OK) rc = find_repo(ss->db.get(), ss->account, id, &now);
    if (rc == 0 && (now.id != row.id || std::memcmp(now.state, state, 20) != 0)) {
      status = SRV_STALE;
      rc = -1;
    }
    if (rc == 0) rc = apply_sync(ss->db.get(), file, row.id, &ss->work);
    uint8_t next[20];
    if (rc == 0) rc = new_state(ss->db.get(), row.id, next);
    if (rc == 0) rc = t.commit();
    if (rc == 0) status = SRV_OK;
  }
  log_message(LOG_NOTICE, "put sync %u %s: %d", ss->account, log_safe(id).c_str(), status);
  return reply_byte(ss, status);
}

int handle_get_version(Session* ss) {
  std::string platform, build, lang;
  if (conn_read_line(&ss->conn, &platform, 32) != 0 || conn_read_line(&ss->conn, &build, 32) != 0 ||
      conn_read_line(&ss->conn, &lang, 32) != 0)
    return -1;
  const std::string& dir = ss->srv->cfg.update_dir;
  if (dir.empty() || platform != "linux") return reply_byte(ss, SRV_OK);
  // "version": the version name on the first line, its build number on the second.
  std::string text = read_small_file(join(dir, "version"), 256);
  size_t nl = text.find('\n');
  std::string name = text.substr(0, nl);
  int offered = nl == std::string::npos ? 0 : std::atoi(text.c_str() + nl + 1);
  if (name.empty() || name.size() > 15 || offered <= std::atoi(build.c_str())) return reply_byte(ss, SRV_OK);
  if (reply_bytes(ss, name.c_str(), name.size() + 1) != 0) return -1;
  std::string notes = read_small_file(join(dir, "notes"), 64 * 1024);
  return conn_send_memory(&ss->conn, "notes", notes.data(), notes.size());
}

int handle_get_update(Session* ss) {
  std::string platform;
  if (conn_read_line(&ss->conn, &platform, 32) != 0) return -1;
  const std::string& dir = ss->srv->cfg.update_dir;
  if (dir.empty() || (platform != "lin64" && platform != "lin32")) return reply_byte(ss, SRV_NOT_FOUND);
  std::string file = join(dir, platform);
  if (!file_exists(file)) return reply_byte(ss, SRV_NOT_FOUND);
  log_message(LOG_NOTICE, "get update %u %s", ss->account, platform.c_str());
  return conn_send_file(&ss->conn, file.c_str(), "ordika.gz");
}

// The detached Ed25519 signature of a package, "DIR/<package>.sig" (64
// bytes); clients install only packages that verify. Status 1 when absent.
int handle_get_signature(Session* ss) {
  std::string platform;
  if (conn_read_line(&ss->conn, &platform, 32) != 0) return -1;
  const std::string& dir = ss->srv->cfg.update_dir;
  if (dir.empty() || (platform != "lin64" && platform != "lin32")) return reply_byte(ss, SRV_NOT_FOUND);
  std::string sig = read_small_file(join(dir, platform + ".sig"), 256);
  if (sig.size() != 64) return reply_byte(ss, SRV_NOT_FOUND);
  return conn_send_memory(&ss->conn, "signature", sig.data(), sig.size());
}

// Keeps the newest traces of an account within the cap.
void prune_traces(const std::string& dir, uint64_t cap) {
  struct Entry {
    time_t mtime;
    std::string path;
    uint64_t size;
  };
  std::vector<Entry> files;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (struct dirent* e = ::readdir(d)) {
      if (e->d_name[0] == '.') continue;
      std::string p = join(dir, e->d_name);
      struct stat st;
      if (::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        files.push_back({st.st_mtime, p, static_cast<uint64_t>(st.st_size)});
    }
    ::closedir(d);
  }
  std::sort(files.begin(), files.end(), [](const Entry& a, const Entry& b) {
    return a.mtime != b.mtime ? a.mtime > b.mtime : a.path > b.path;
  });
  uint64_t total = 0;
  for (const Entry& e : files) {
    total += e.size;
    if (total > cap) std::remove(e.path.c_str());
  }
}

int handle_put_trace(Session* ss) {
  std::string platform;
  if (conn_read_line(&ss->conn, &platform, 32) != 0) return -1;
  std::string base = join(ss->srv->cfg.data_dir, "traces");
  std::string dir = join(base, std::to_string(ss->account));
  ::mkdir(base.c_str(), 0700);
  ::mkdir(dir.c_str(), 0700);
  TempDir tmp;
  if (make_tmp(ss, &tmp) != 0) return -1;
  ss->conn.dir = tmp.path;
  ss->conn.max_body = ss->srv->cfg.trace_cap;
  std::string name;
  if (recv_obj(&ss->conn, &name, nullptr, 0) != 0) return -1;
  if (name.empty() || name.find('/') != std::string::npos) return 0;
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%lld-", static_cast<long long>(std::time(nullptr)));
  std::string target = join(dir, stamp + name);
  if (std::rename(join(tmp.path, name).c_str(), target.c_str()) != 0) return -1;
  log_message(LOG_NOTICE, "put trace %u %s", ss->account, log_safe(name).c_str());
  prune_traces(dir, ss->srv->cfg.trace_cap);
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
