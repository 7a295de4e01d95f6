// Account server: storage, administration and the request service.
#include "server.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/crypto.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "crypto/crypto.h"
#include "crypto/page_vfs.h"
#include "storage/db.h"
#include "storage/sqlite_util.h"
#include "support/log.h"
#include "sync/conn.h"

namespace {

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS accounts(id INTEGER PRIMARY KEY, name TEXT UNIQUE NOT NULL, hash BLOB NOT NULL);"
    "CREATE TABLE IF NOT EXISTS repos(id INTEGER PRIMARY KEY, account INTEGER NOT NULL, name TEXT NOT NULL, "
    "key_check BLOB NOT NULL, state BLOB NOT NULL, UNIQUE(account, name));"
    "CREATE TABLE IF NOT EXISTS versions(repo INTEGER NOT NULL, uuid BLOB NOT NULL, hash BLOB NOT NULL, "
    "current INTEGER NOT NULL, header BLOB, body BLOB, PRIMARY KEY(repo, uuid, hash));"
    "CREATE TABLE IF NOT EXISTS links(repo INTEGER NOT NULL, a BLOB NOT NULL, b BLOB NOT NULL, "
    "PRIMARY KEY(repo, a, b));";

// The repository database as clients store it (what a clone delivers).
const char kRepoSchema[] =
    "CREATE TABLE t0(c1, c2);CREATE TABLE t1(c1, c2, c3 INT, c4, c5, PRIMARY KEY(c1, c2, c3));CREATE TABLE t2(c1, c2, "
    "PRIMARY KEY(c1, c2));CREATE TABLE t3(c1, c2, c3 INT, PRIMARY KEY(c1, c2, c3));CREATE TABLE t4(c1, c2, c3 INT, "
    "PRIMARY KEY(c1, c2, c3));CREATE TABLE t5(c1, c2, c3 INT, c4, c5, c6 INT, c7 INT);CREATE INDEX t2_i ON t2(c2);";

constexpr size_t kIdMax = 255;

std::string join(const std::string& a, const std::string& b) { return a.empty() ? b : a + "/" + b; }

// A directory removed with its files when it goes out of scope.
struct TempDir {
  std::string path;
  ~TempDir() {
    if (path.empty()) return;
    if (DIR* d = ::opendir(path.c_str())) {
      while (struct dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        std::string p = join(path, e->d_name);
        if (std::remove(p.c_str()) != 0) {
          // the directory form of a received name: one level below
          if (DIR* sub = ::opendir(p.c_str())) {
            while (struct dirent* f = ::readdir(sub))
              if (std::strcmp(f->d_name, ".") && std::strcmp(f->d_name, "..")) std::remove(join(p, f->d_name).c_str());
            ::closedir(sub);
          }
          ::rmdir(p.c_str());
        }
      }
      ::closedir(d);
    }
    ::rmdir(path.c_str());
  }
};

int open_store(const std::string& data_dir, DbHandle* out) {
  std::string file = join(data_dir, "server.db");
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  out->reset(raw);
  if (rc != SQLITE_OK) return rc;
  sqlite3_busy_timeout(raw, 30000);
  rc = db_exec(raw, "PRAGMA journal_mode=WAL;PRAGMA synchronous=FULL;PRAGMA foreign_keys=OFF;");
  if (rc == SQLITE_OK) rc = db_exec(raw, kSchema);
  return rc;
}

bool id_ok(const std::string& id) {
  if (id.empty() || id.size() > kIdMax) return false;
  for (unsigned char ch : id)
    if (ch < 0x20 || ch == 0x7f) return false;
  return true;
}

bool is_zero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i]) return false;
  return true;
}

struct RepoRow {
  int64_t id = 0;
  uint8_t key_check[64] = {};
  uint8_t state[20] = {};
};

// 0 found, 1 none, else a SQLite code.
int find_repo(sqlite3* db, int64_t account, const std::string& name, RepoRow* row) {
  Stmt s;
  int rc = stmt_prepare(db, "SELECT id, key_check, state FROM repos WHERE account=? AND name=?", &s);
  if (rc != SQLITE_OK) return rc;
  sqlite3_bind_int64(s.get(), 1, account);
  bind_text(s.get(), 2, name.c_str());
  rc = sqlite3_step(s.get());
  if (rc == SQLITE_DONE) return 1;
  if (rc != SQLITE_ROW) return rc;
  row->id = sqlite3_column_int64(s.get(), 0);
  const uint8_t* kc = column_fixed(s.get(), 1, 64);
  const uint8_t* st = column_fixed(s.get(), 2, 20);
  if (!kc || !st) return SQLITE_CORRUPT;
  std::memcpy(row->key_check, kc, 64);
  std::memcpy(row->state, st, 20);
  return 0;
}

int new_state(sqlite3* db, int64_t repo, uint8_t state[20]) {
  random_bytes(state, 20);
  Stmt s;
  int rc = stmt_prepare(db, "UPDATE repos SET state=? WHERE id=?", &s);
  if (rc != SQLITE_OK) return rc;
  bind_blob(s.get(), 1, state, 20);
  sqlite3_bind_int64(s.get(), 2, repo);
  rc = sqlite3_step(s.get());
  return rc == SQLITE_DONE ? 0 : rc;
}

// Rolls back unless committed.
struct Txn {
  sqlite3* db;
  bool open = false;
  int begin(const char* sql = "BEGIN IMMEDIATE;") {
    int rc = db_exec(db, sql);
    open = rc == SQLITE_OK;
    return rc;
  }
  int commit() {
    int rc = db_exec(db, "COMMIT;");
    if (rc == SQLITE_OK) open = false;
    return rc;
  }
  ~Txn() {
    if (open) db_exec(db, "ROLLBACK;");
  }
};

int delete_repo_rows(sqlite3* db, int64_t repo) {
  const char* sqls[] = {"DELETE FROM versions WHERE repo=?", "DELETE FROM links WHERE repo=?",
                        "DELETE FROM repos WHERE id=?"};
  for (const char* sql : sqls) {
    Stmt s;
    int rc = stmt_prepare(db, sql, &s);
    if (rc != SQLITE_OK) return rc;
    sqlite3_bind_int64(s.get(), 1, repo);
    if ((rc = sqlite3_step(s.get())) != SQLITE_DONE) return rc;
  }
  return 0;
}

// Opens a plain (unkeyed) database file of the page layer.
int open_plain(const std::string& file, int flags, DbHandle* out) {
  sqlite3* raw = nullptr;
  int rc = page_db_open(file.c_str(), &raw, flags);
  out->reset(raw);
  return rc;
}

// Copies t0, t1 and t2 of an uploaded repository database into a new
// server repository (inside the caller's transaction).
int import_repo_db(sqlite3* store, const std::string& file, int64_t repo, uint8_t key_check[64]) {
  DbHandle src;
  int rc = open_plain(file, SQLITE_OPEN_READONLY, &src);
  if (rc != SQLITE_OK) return rc;
  if ((rc = key_check_read(src.get(), key_check)) != 0) return rc;
  Stmt in, out;
  if ((rc = stmt_prepare(src.get(), "SELECT c1, c2, c3, c4, c5 FROM t1", &in)) != SQLITE_OK) return rc;
  if ((rc = stmt_prepare(store, "INSERT INTO versions VALUES (?,?,?,?,?,?)", &out)) != SQLITE_OK) return rc;
  while ((rc = sqlite3_step(in.get())) == SQLITE_ROW) {
    const uint8_t* u = column_fixed(in.get(), 0, 16);
    const uint8_t* h = column_fixed(in.get(), 1, 20);
    int c3 = sqlite3_column_int(in.get(), 2);
    if (!u || !h || (c3 != 0 && c3 != 1)) return SQLITE_MISMATCH;
    sqlite3_reset(out.get());
    sqlite3_bind_int64(out.get(), 1, repo);
    bind_blob(out.get(), 2, u, 16);
    bind_blob(out.get(), 3, h, 20);
    sqlite3_bind_int(out.get(), 4, c3);
    sqlite3_bind_value(out.get(), 5, sqlite3_column_value(in.get(), 3));
    sqlite3_bind_value(out.get(), 6, sqlite3_column_value(in.get(), 4));
    if ((rc = sqlite3_step(out.get())) != SQLITE_DONE) return rc;
  }
  if (rc != SQLITE_DONE) return rc;
  if ((rc = stmt_prepare(src.get(), "SELECT c1, c2 FROM t2", &in)) != SQLITE_OK) return rc;
  if ((rc = stmt_prepare(store, "INSERT OR IGNORE INTO links VALUES (?,?,?)", &out)) != SQLITE_OK) return rc;
  while ((rc = sqlite3_step(in.get())) == SQLITE_ROW) {
    const uint8_t* a = column_fixed(in.get(), 0, 16);
    const uint8_t* b = column_fixed(in.get(), 1, 16);
    if (!a || !b) return SQLITE_MISMATCH;
    sqlite3_reset(out.get());
    sqlite3_bind_int64(out.get(), 1, repo);
    bind_blob(out.get(), 2, a, 16);
    bind_blob(out.get(), 3, b, 16);
    if ((rc = sqlite3_step(out.get())) != SQLITE_DONE) return rc;
  }
  return rc == SQLITE_DONE ? 0 : rc;
}

// Applies an uploaded "sync_2" snapshot: removed versions, added versions
// (a new current version demotes the previous one), link changes.
int apply_sync(sqlite3* store, const std::string& file, int64_t repo) {
  DbHandle src;
  int rc = open_plain(file, SQLITE_OPEN_READONLY, &src);
  if (rc != SQLITE_OK) return rc;
  Stmt s3, s1, del, demote, ins;
  if ((rc = stmt_prepare(src.get(), "SELECT c1, c2, c3 FROM s3 ORDER BY c3, rowid", &s3)) != SQLITE_OK) return rc;
  if ((rc = stmt_prepare(src.get(), "SELECT c3, c4, c5 FROM s1 WHERE c1=? AND c2=?", &s1)) != SQLITE_OK) return rc;
  if ((rc = stmt_prepare(store, "DELETE FROM versions WHERE repo=? AND uuid=? AND hash=?", &del)) != SQLITE_OK)
    return rc;
  if ((rc = stmt_prepare(store, "UPDATE versions SET current=1 WHERE repo=? AND uuid=? AND current=0", &demote)) !=
      SQLITE_OK)
    return rc;
  if ((rc = stmt_prepare(store, "INSERT OR REPLACE INTO versions VALUES (?,?,?,?,?,?)", &ins)) != SQLITE_OK) return rc;
  while ((rc = sqlite3_step(s3.get())) == SQLITE_ROW) {
    const uint8_t* u = column_fixed(s3.get(), 0, 16);
    const uint8_t* h = column_fixed(s3.get(), 1, 20);
    int state = sqlite3_column_int(s3.get(), 2);
    if (!u || !h) return SQLITE_MISMATCH;
    if (state == 0) {
      sqlite3_reset(del.get());
      sqlite3_bind_int64(del.get(), 1, repo);
      bind_blob(del.get(), 2, u, 16);
      bind_blob(del.get(), 3, h, 20);
      if ((rc = sqlite3_step(del.get())) != SQLITE_DONE) return rc;
      continue;
    }
    sqlite3_reset(s1.get());
    bind_blob(s1.get(), 1, u, 16);
    bind_blob(s1.get(), 2, h, 20);
    rc = sqlite3_step(s1.get());
    if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? SQLITE_MISMATCH : rc;
    int c3 = sqlite3_column_int(s1.get(), 0);
    if (c3 != 0 && c3 != 1) return SQLITE_MISMATCH;
    if (c3 == 0) {
      sqlite3_reset(demote.get());
      sqlite3_bind_int64(demote.get(), 1, repo);
      bind_blob(demote.get(), 2, u, 16);
      if ((rc = sqlite3_step(demote.get())) != SQLITE_DONE) return rc;
    }
    sqlite3_reset(ins.get());
    sqlite3_bind_int64(ins.get(), 1, repo);
    bind_blob(ins.get(), 2, u, 16);
    bind_blob(ins.get(), 3, h, 20);
    sqlite3_bind_int(ins.get(), 4, c3);
    sqlite3_bind_value(ins.get(), 5, sqlite3_column_value(s1.get(), 1));
    sqlite3_bind_value(ins.get(), 6, sqlite3_column_value(s1.get(), 2));
    if ((rc = sqlite3_step(ins.get())) != SQLITE_DONE) return rc;
  }
  if (rc != SQLITE_DONE) return rc;
  Stmt s4, ladd, ldel;
  if ((rc = stmt_prepare(src.get(), "SELECT c1, c2, c3 FROM s4 ORDER BY c3, rowid", &s4)) != SQLITE_OK) return rc;
  if ((rc = stmt_prepare(store, "INSERT OR IGNORE INTO links VALUES (?,?,?)", &ladd)) != SQLITE_OK) return rc;
  if ((rc = stmt_prepare(store, "DELETE FROM links WHERE repo=? AND a=? AND b=?", &ldel)) != SQLITE_OK) return rc;
  while ((rc = sqlite3_step(s4.get())) == SQLITE_ROW) {
    const uint8_t* a = column_fixed(s4.get(), 0, 16);
    const uint8_t* b = column_fixed(s4.get(), 1, 16);
    if (!a || !b) return SQLITE_MISMATCH;
    sqlite3_stmt* st = sqlite3_column_int(s4.get(), 2) ? ladd.get() : ldel.get();
    sqlite3_reset(st);
    sqlite3_bind_int64(st, 1, repo);
    bind_blob(st, 2, a, 16);
    bind_blob(st, 3, b, 16);
    if ((rc = sqlite3_step(st)) != SQLITE_DONE) return rc;
  }
  return rc == SQLITE_DONE ? 0 : rc;
}

// Copies every row that `select_sql` (binding the repository as ?1) yields
// from src into dst through `insert_sql`, column by column. SQLITE_DONE's 0,
// or the failing code.
int copy_rows(sqlite3* src, const char* select_sql, int64_t repo, sqlite3* dst, const char* insert_sql,
              int columns) {
  Stmt in, out;
  int rc = stmt_prepare(src, select_sql, &in);
  if (rc == SQLITE_OK) rc = stmt_prepare(dst, insert_sql, &out);
  if (rc != SQLITE_OK) return rc;
  sqlite3_bind_int64(in.get(), 1, repo);
  while ((rc = sqlite3_step(in.get())) == SQLITE_ROW) {
    sqlite3_reset(out.get());
    for (int i = 0; i < columns; ++i) sqlite3_bind_value(out.get(), i + 1, sqlite3_column_value(in.get(), i));
    if ((rc = sqlite3_step(out.get())) != SQLITE_DONE) return rc;
  }
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

// Writes "list": s3 every version sorted by uuid and hash, s2 every link
// sorted. Runs inside the caller's read transaction.
int build_list(sqlite3* store, int64_t repo, const std::string& file) {
  DbHandle dst(db_create_snapshot(file.c_str(), nullptr));
  if (!dst) return -1;
  int rc = db_exec(dst.get(), "BEGIN;");
  if (rc == SQLITE_OK)
    rc = copy_rows(store, "SELECT uuid, hash, current FROM versions WHERE repo=? ORDER BY uuid, hash", repo,
                   dst.get(), "INSERT INTO s3 VALUES (?,?,?)", 3);
  if (rc == SQLITE_OK)
    rc = copy_rows(store, "SELECT a, b FROM links WHERE repo=? ORDER BY a, b", repo, dst.get(),
                   "INSERT INTO s2 VALUES (?,?)", 2);
  if (rc != SQLITE_OK) return rc;
  return db_exec(dst.get(), "COMMIT;");
}

// Writes "sync_1": s1 with each requested version; a zero hash asks for
// every version of the uuid.
int build_sync1(sqlite3* store, int64_t repo, const std::string& request, const std::string& file) {
  if (request.size() % 36 != 0) return -1;
  DbHandle dst(db_create_snapshot(file.c_str(), nullptr));
  if (!dst) return -1;
  int rc = db_exec(dst.get(), "BEGIN;");
  Stmt one, all, out;
  if (rc == SQLITE_OK)
    rc = stmt_prepare(store,
                      "SELECT uuid, hash, current, header, body FROM versions WHERE repo=? AND uuid=? AND hash=?", &one);
  if (rc == SQLITE_OK)
    rc = stmt_prepare(store,
                      "SELECT uuid, hash, current, header, body FROM versions WHERE repo=? AND uuid=? ORDER BY hash",
                      &all);
  if (rc == SQLITE_OK) rc = stmt_prepare(dst.get(), "INSERT INTO s1 VALUES (?,?,?,?,?)", &out);
  if (rc != SQLITE_OK) return rc;
  std::set<std::string> seen;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(request.data());
  for (size_t off = 0; off < request.size(); off += 36) {
    const uint8_t* u = p + off;
    const uint8_t* h = u + 16;
    sqlite3_stmt* q = is_zero(h, 20) ? all.get() : one.get();
    sqlite3_reset(q);
    sqlite3_bind_int64(q, 1, repo);
    bind_blob(q, 2, u, 16);
    if (q == one.get()) bind_blob(q, 3, h, 20);
    while ((rc = sqlite3_step(q)) == SQLITE_ROW) {
      std::string key = column_bytes(q, 0) + column_bytes(q, 1);
      if (!seen.insert(key).second) continue;
      sqlite3_reset(out.get());
      for (int i = 0; i < 5; ++i) sqlite3_bind_value(out.get(), i + 1, sqlite3_column_value(q, i));
      if ((rc = sqlite3_step(out.get())) != SQLITE_DONE) return rc;
    }
    if (rc != SQLITE_DONE) return rc;
  }
  one.reset();
  all.reset();
  out.reset();
  return db_exec(dst.get(), "COMMIT;");
}

// Writes the repository database a clone receives (plain pages).
int build_clone(sqlite3* store, int64_t repo, const uint8_t key_check[64], const std::string& file) {
  std::remove(file.c_str());
  DbHandle dst;
  int rc = open_plain(file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, &dst);
  if (rc == SQLITE_OK) rc = db_exec(dst.get(), "BEGIN;");
  if (rc == SQLITE_OK) rc = db_exec(dst.get(), kRepoSchema);
  if (rc == SQLITE_OK) rc = key_check_write(dst.get(), key_check);
  if (rc == SQLITE_OK) rc = db_exec(dst.get(), "INSERT INTO t5 (c6,c7) VALUES (1,1)");
  if (rc == SQLITE_OK)
    rc = copy_rows(store, "SELECT uuid, hash, current, header, body FROM versions WHERE repo=?", repo, dst.get(),
                   "INSERT INTO t1 VALUES (?,?,?,?,?)", 5);
  if (rc == SQLITE_OK)
    rc = copy_rows(store, "SELECT a, b FROM links WHERE repo=?", repo, dst.get(), "INSERT INTO t2 VALUES (?,?)", 2);
  if (rc != SQLITE_OK) return rc;
  return db_exec(dst.get(), "COMMIT;");
}

std::string read_small_file(const std::string& path, size_t max) {
  std::string out;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && out.size() < max) out.append(buf, n);
  std::fclose(f);
  if (out.size() > max) out.resize(max);
  return out;
}

bool file_exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

// ---------------------------------------------------------------------------
// Service

struct Server {
  ServerConfig cfg;
  int listen_fd = -1;
  int wake[2] = {-1, -1};
  std::atomic<bool> stopping{false};
  std::mutex mu;
  std::condition_variable cv;
  int active = 0;
  std::map<int64_t, std::shared_ptr<std::mutex>> repo_locks;
  std::map<int, time_t> sessions;  // socket -> start, for the session deadline
  std::atomic<uint64_t> tmp_counter{0};
};

namespace {

// One client conversation.
struct Session {
  Server* srv;
  DbHandle db;
  Connection conn;
  uint32_t account = 0;
  std::string user;
  std::string peer;
};

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

int handle_password(Session* ss) {
  std::string user;
  uint8_t hashes[64];
  if (conn_read_line(&ss->conn, &user, CONN_USER_MAX) != 0 || conn_read(&ss->conn, hashes, 64) != 0) return -1;
  int status = SRV_NOT_FOUND;
  Stmt s;
  if (stmt_prepare(ss->db.get(), "SELECT id, hash FROM accounts WHERE name=?", &s) == SQLITE_OK) {
    bind_text(s.get(), 1, user.c_str());
    if (sqlite3_step(s.get()) == SQLITE_ROW) {
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
      } else {
        status = SRV_KEY_MISMATCH;
      }
    }
  }
  OPENSSL_cleanse(hashes, sizeof hashes);
  log_message(LOG_NOTICE, "password %s: %d", user.c_str(), status);
  if (status != SRV_OK)
    std::this_thread::sleep_for(std::chrono::milliseconds(ss->srv->cfg.fail_delay_ms));  // slows guessing
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

int handle_create(Session* ss) {
  std::string id;
  if (conn_read_line(&ss->conn, &id, 1000) != 0) return -1;
  if (!id_ok(id)) return reply_byte(ss, SRV_BAD_REQUEST);
  RepoRow row;
  int rc = find_repo(ss->db.get(), ss->account, id, &row);
  if (rc == 0) return reply_byte(ss, SRV_EXISTS);
  if (rc != 1) return reply_byte(ss, SRV_FAILED);
  TempDir tmp;
  if (make_tmp(ss, &tmp) != 0) return reply_byte(ss, SRV_FAILED);
  if (reply_byte(ss, SRV_OK) != 0) return -1;
  ss->conn.dir = tmp.path;
  ss->conn.max_body = ss->srv->cfg.max_object;
  std::string name;
  if (recv_obj(&ss->conn, &name, nullptr, 0) != 0 || name.empty()) return -1;
  uint8_t state[20];
  int status = SRV_FAILED;
  {
    Txn t{ss->db.get()};
    uint8_t key_check[64];
    Stmt s;
    rc = t.begin();
    if (rc == SQLITE_OK) rc = stmt_prepare(ss->db.get(), "INSERT INTO repos(account, name, key_check, state) VALUES (?,?,?,?)", &s);
    int64_t repo = 0;
    if (rc == SQLITE_OK) {
      random_bytes(state, sizeof state);
      sqlite3_bind_int64(s.get(), 1, ss->account);
      bind_text(s.get(), 2, id.c_str());
      bind_blob(s.get(), 3, state, 20);  // replaced below
      bind_blob(s.get(), 4, state, 20);
      rc = sqlite3_step(s.get());
      if (rc == SQLITE_CONSTRAINT) status = SRV_EXISTS;
      rc = rc == SQLITE_DONE ? 0 : rc;
      repo = sqlite3_last_insert_rowid(ss->db.get());
    }
    s.reset();
    if (rc == 0) rc = import_repo_db(ss->db.get(), join(tmp.path, name), repo, key_check);
    if (rc == 0 && (rc = stmt_prepare(ss->db.get(), "UPDATE repos SET key_check=? WHERE id=?", &s)) == SQLITE_OK) {
      bind_blob(s.get(), 1, key_check, 64);
      sqlite3_bind_int64(s.get(), 2, repo);
      rc = sqlite3_step(s.get()) == SQLITE_DONE ? 0 : -1;
      s.reset();
    }
    if (rc == 0) rc = t.commit();
    if (rc == 0) status = SRV_OK;
    log_message(LOG_NOTICE, "create repo %u %s: %d", ss->account, id.c_str(), rc);
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
    Txn t{ss->db.get()};
    rc = t.begin("BEGIN;");
    if (rc == SQLITE_OK) rc = find_repo(ss->db.get(), ss->account, id, &row);
    if (rc == 1) return reply_byte(ss, SRV_NOT_FOUND);
    if (rc == 0) rc = build_clone(ss->db.get(), row.id, row.key_check, file);
    if (rc == 0) rc = t.commit();
  }
  log_message(LOG_NOTICE, "clone repo %u %s: %d", ss->account, id.c_str(), rc);
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
  Txn t{ss->db.get()};
  rc = t.begin();
  if (rc == SQLITE_OK) rc = delete_repo_rows(ss->db.get(), row.id);
  if (rc == 0) rc = t.commit();
  log_message(LOG_NOTICE, "del repo %u %s: %d", ss->account, id.c_str(), rc);
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
    Txn t{ss->db.get()};
    rc = t.begin("BEGIN;");
    if (rc == SQLITE_OK) rc = find_repo(ss->db.get(), ss->account, id, &row);  // state and rows together
    if (rc == 0) rc = build_list(ss->db.get(), row.id, file);
    if (rc == 0) rc = t.commit();
  }
  if (rc != 0) {
    log_message(LOG_ERROR, "get list %u %s: %d", ss->account, id.c_str(), rc);
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
    Txn t{ss->db.get()};
    rc = t.begin("BEGIN;");
    if (rc == SQLITE_OK) rc = build_sync1(ss->db.get(), row.id, request, file);
    if (rc == 0) rc = t.commit();
  }
  if (rc != 0) {
    log_message(LOG_ERROR, "get sync %u %s: %d", ss->account, id.c_str(), rc);
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
  if (st != 0) return reply_byte(ss, SRV_FAILED);
  if (std::memcmp(state, row.state, 20) != 0) return reply_byte(ss, SRV_STALE);
  TempDir tmp;
  if (make_tmp(ss, &tmp) != 0) return reply_byte(ss, SRV_FAILED);
  if (reply_byte(ss, SRV_OK) != 0) return -1;
  ss->conn.dir = tmp.path;
  ss->conn.max_body = ss->srv->cfg.max_object;
  std::string name;
  if (recv_obj(&ss->conn, &name, nullptr, 0) != 0 || name.empty()) return -1;
  auto lock = repo_lock(ss->srv, row.id);
  std::lock_guard<std::mutex> g(*lock);
  int status = SRV_FAILED;
  int rc;
  {
    Txn t{ss->db.get()};
    rc = t.begin();
    RepoRow now;
    if (rc == SQLITE_OK) rc = find_repo(ss->db.get(), ss->account, id, &now);
    if (rc == 0 && (now.id != row.id || std::memcmp(now.state, state, 20) != 0)) {
      status = SRV_STALE;
      rc = -1;
    }
    if (rc == 0) rc = apply_sync(ss->db.get(), join(tmp.path, name), row.id);
    uint8_t next[20];
    if (rc == 0) rc = new_state(ss->db.get(), row.id, next);
    if (rc == 0) rc = t.commit();
    if (rc == 0) status = SRV_OK;
  }
  log_message(LOG_NOTICE, "put sync %u %s: %d", ss->account, id.c_str(), status);
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
  log_message(LOG_NOTICE, "put trace %u %s", ss->account, name.c_str());
  prune_traces(dir, ss->srv->cfg.trace_cap);
  return 0;
}

// Drops the deadline entry of a socket before it is closed (and its number
// can be reused).
void forget_session(Server* srv, int fd) {
  std::lock_guard<std::mutex> g(srv->mu);
  srv->sessions.erase(fd);
}

void serve_connection(Server* srv, int fd, std::string peer) {
  Session ss;
  ss.srv = srv;
  ss.peer = peer;
  int rc = open_store(srv->cfg.data_dir, &ss.db);
  if (rc != SQLITE_OK) {
    log_message(LOG_ERROR, "serve: open store: %d", rc);
    forget_session(srv, fd);
    ::close(fd);
    return;
  }
  bool anonymous = false;
  auto lookup = [&](uint32_t id, const std::string& user, uint8_t hash[32]) {
    Stmt s;
    if (stmt_prepare(ss.db.get(), "SELECT hash FROM accounts WHERE id=? AND name=?", &s) != SQLITE_OK) return -1;
    sqlite3_bind_int64(s.get(), 1, id);
    bind_text(s.get(), 2, user.c_str());
    if (sqlite3_step(s.get()) != SQLITE_ROW) return -1;
    const uint8_t* h = column_fixed(s.get(), 0, 32);
    if (!h) return -1;
    std::memcpy(hash, h, 32);
    return 0;
  };
  if (conn_accept(&ss.conn, fd, lookup, &anonymous, &ss.account, &ss.user) != 0) {
    log_message(LOG_NOTICE, "serve %s: handshake failed", peer.c_str());
    std::this_thread::sleep_for(std::chrono::milliseconds(srv->cfg.fail_delay_ms));  // slows guessing
    forget_session(srv, fd);
    conn_close(&ss.conn);
    return;
  }
  std::string command;
  if (conn_read_line(&ss.conn, &command, 32) != 0) {
    log_message(LOG_NOTICE, "serve %s: no request (wrong password?) %s", peer.c_str(), ss.user.c_str());
    std::this_thread::sleep_for(std::chrono::milliseconds(srv->cfg.fail_delay_ms));  // slows guessing
    forget_session(srv, fd);
    conn_close(&ss.conn);
    return;
  }
  if (anonymous) {
    rc = command == "password" ? handle_password(&ss) : -1;
  } else if (command == "ls") {
    rc = handle_ls(&ss);
  } else if (command == "create repo") {
    rc = handle_create(&ss);
  } else if (command == "clone repo") {
    rc = handle_clone(&ss);
  } else if (command == "del repo") {
    rc = handle_del(&ss);
  } else if (command == "get list") {
    rc = handle_get_list(&ss);
  } else if (command == "get sync") {
    rc = handle_get_sync(&ss);
  } else if (command == "put sync") {
    rc = handle_put_sync(&ss);
  } else if (command == "get version") {
    rc = handle_get_version(&ss);
  } else if (command == "get update") {
    rc = handle_get_update(&ss);
  } else if (command == "get signature") {
    rc = handle_get_signature(&ss);
  } else if (command == "put trace") {
    rc = handle_put_trace(&ss);
  } else {
    log_message(LOG_NOTICE, "serve %s: unknown request", peer.c_str());
    rc = -1;
  }
  if (rc != 0) log_message(LOG_NOTICE, "serve %s: %s failed", peer.c_str(), command.c_str());
  // Let the client read the last reply before the close.
  ::shutdown(ss.conn.socket, SHUT_WR);
  forget_session(srv, fd);
  conn_close(&ss.conn);
}

}  // namespace

Server* server_create(const ServerConfig& cfg) {
  auto s = std::make_unique<Server>();
  s->cfg = cfg;
  ::mkdir(cfg.data_dir.c_str(), 0700);
  std::string tmp = join(cfg.data_dir, "tmp");
  ::mkdir(tmp.c_str(), 0700);
  if (cfg.log_to_file) log_set_file(join(cfg.data_dir, "server.log").c_str());
  // Transfers left over by an earlier run (never applied) are dropped.
  if (DIR* d = ::opendir(tmp.c_str())) {
    while (struct dirent* e = ::readdir(d)) {
      if (e->d_name[0] == '.') continue;
      TempDir stale{join(tmp, e->d_name)};
    }
    ::closedir(d);
  }
  DbHandle db;
  int rc = open_store(cfg.data_dir, &db);
  if (rc != SQLITE_OK) {
    std::fprintf(stderr, "ordika-server: cannot open %s/server.db: %d\n", cfg.data_dir.c_str(), rc);
    return nullptr;
  }
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  struct sockaddr_in addr;
  std::memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(cfg.port));
  if (inet_pton(AF_INET, cfg.listen_host.c_str(), &addr.sin_addr) != 1 ||
      ::bind(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 64) != 0) {
    std::fprintf(stderr, "ordika-server: cannot listen on %s:%d: %s\n", cfg.listen_host.c_str(), cfg.port,
                 std::strerror(errno));
    ::close(fd);
    return nullptr;
  }
  if (::pipe2(s->wake, O_CLOEXEC) != 0) {
    ::close(fd);
    return nullptr;
  }
  s->listen_fd = fd;
  log_message(LOG_NOTICE, "server: listening on %s:%d", cfg.listen_host.c_str(), server_port(s.get()));
  return s.release();
}

int server_port(const Server* s) {
  struct sockaddr_in addr;
  socklen_t len = sizeof addr;
  if (::getsockname(s->listen_fd, reinterpret_cast<struct sockaddr*>(&addr), &len) != 0) return -1;
  return ntohs(addr.sin_port);
}

int server_run(Server* s) {
  while (!s->stopping) {
    struct pollfd p[2] = {{s->listen_fd, POLLIN, 0}, {s->wake[0], POLLIN, 0}};
    int n = ::poll(p, 2, 1000);
    {
      // Conversations past their deadline are cut: their thread's next read
      // or write fails and it closes the socket.
      std::lock_guard<std::mutex> g(s->mu);
      time_t now = std::time(nullptr);
      for (auto& [sock, start] : s->sessions)
        if (start && now - start >= s->cfg.max_session) {
          log_message(LOG_NOTICE, "server: session %d over time", sock);
          ::shutdown(sock, SHUT_RDWR);
          start = 0;
        }
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (p[1].revents) break;
    if (!(p[0].revents & POLLIN)) continue;
    struct sockaddr_in peer;
    socklen_t len = sizeof peer;
    int fd = ::accept4(s->listen_fd, reinterpret_cast<struct sockaddr*>(&peer), &len, SOCK_CLOEXEC);
    if (fd < 0) continue;
    char ip[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &peer.sin_addr, ip, sizeof ip);
    std::string who = std::string(ip) + ":" + std::to_string(ntohs(peer.sin_port));
    {
      std::lock_guard<std::mutex> g(s->mu);
      if (s->active >= s->cfg.max_clients) {
        log_message(LOG_WARNING, "server: busy, refused %s", who.c_str());
        ::close(fd);
        continue;
      }
      s->active++;
    }
    struct timeval tv = {s->cfg.io_timeout, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    {
      std::lock_guard<std::mutex> g(s->mu);
      s->sessions[fd] = std::time(nullptr);
    }
    std::thread([s, fd, who] {
      serve_connection(s, fd, who);
      std::lock_guard<std::mutex> g(s->mu);
      s->active--;
      s->cv.notify_all();
    }).detach();
  }
  return 0;
}

int server_active(Server* s) {
  std::lock_guard<std::mutex> g(s->mu);
  return s->active;
}

void server_stop(Server* s) {
  s->stopping = true;
  char b = 1;
  if (::write(s->wake[1], &b, 1) < 0) {
  }
}

void server_destroy(Server* s) {
  if (!s) return;
  {
    std::unique_lock<std::mutex> g(s->mu);
    s->cv.wait(g, [s] { return s->active == 0; });
  }
  if (s->listen_fd >= 0) ::close(s->listen_fd);
  for (int fd : s->wake)
    if (fd >= 0) ::close(fd);
  delete s;
}

// ---------------------------------------------------------------------------
// Administration

int server_user_add(const std::string& data_dir, const std::string& name, const std::string& password,
                    int32_t* id_out) {
  if (name.empty() || name.size() > CONN_USER_MAX || name.find('\n') != std::string::npos) return -1;
  ::mkdir(data_dir.c_str(), 0700);
  DbHandle db;
  if (open_store(data_dir, &db) != SQLITE_OK) return -1;
  uint8_t hash[32];
  sha256(hash, password.data(), password.size());
  int rc = -1;
  for (int attempt = 0; attempt < 20; ++attempt) {
    uint32_t id = 0;
    random_bytes(&id, sizeof id);
    id &= 0x3fffffff;
    if (id == 0) continue;
    Stmt s;
    if (stmt_prepare(db.get(), "INSERT INTO accounts VALUES (?,?,?)", &s) != SQLITE_OK) break;
    sqlite3_bind_int64(s.get(), 1, id);
    bind_text(s.get(), 2, name.c_str());
    bind_blob(s.get(), 3, hash, 32);
    int step = sqlite3_step(s.get());
    if (step == SQLITE_DONE) {
      if (id_out) *id_out = static_cast<int32_t>(id);
      rc = 0;
      break;
    }
    s.reset();
    // a taken name ends the attempts, a taken number draws again
    Stmt q;
    if (stmt_prepare(db.get(), "SELECT 1 FROM accounts WHERE name=?", &q) != SQLITE_OK) break;
    bind_text(q.get(), 1, name.c_str());
    if (sqlite3_step(q.get()) == SQLITE_ROW) {
      rc = 1;
      break;
    }
  }
  OPENSSL_cleanse(hash, sizeof hash);
  return rc;
}

int server_user_del(const std::string& data_dir, const std::string& name) {
  DbHandle db;
  if (open_store(data_dir, &db) != SQLITE_OK) return -1;
  Txn t{db.get()};
  if (t.begin() != SQLITE_OK) return -1;
  int64_t id = 0;
  {
    Stmt s;
    if (stmt_prepare(db.get(), "SELECT id FROM accounts WHERE name=?", &s) != SQLITE_OK) return -1;
    bind_text(s.get(), 1, name.c_str());
    if (sqlite3_step(s.get()) != SQLITE_ROW) return 1;
    id = sqlite3_column_int64(s.get(), 0);
  }
  std::vector<int64_t> repos;
  {
    Stmt s;
    if (stmt_prepare(db.get(), "SELECT id FROM repos WHERE account=?", &s) != SQLITE_OK) return -1;
    sqlite3_bind_int64(s.get(), 1, id);
    while (sqlite3_step(s.get()) == SQLITE_ROW) repos.push_back(sqlite3_column_int64(s.get(), 0));
  }
  for (int64_t r : repos)
    if (delete_repo_rows(db.get(), r) != 0) return -1;
  Stmt s;
  if (stmt_prepare(db.get(), "DELETE FROM accounts WHERE id=?", &s) != SQLITE_OK) return -1;
  sqlite3_bind_int64(s.get(), 1, id);
  if (sqlite3_step(s.get()) != SQLITE_DONE) return -1;
  s.reset();
  return t.commit() == SQLITE_OK ? 0 : -1;
}

int server_users(const std::string& data_dir, std::vector<ServerUser>* out) {
  out->clear();
  DbHandle db;
  if (open_store(data_dir, &db) != SQLITE_OK) return -1;
  Stmt s;
  if (stmt_prepare(db.get(),
                   "SELECT a.id, a.name, (SELECT count(*) FROM repos r WHERE r.account=a.id) FROM accounts a "
                   "ORDER BY a.name",
                   &s) != SQLITE_OK)
    return -1;
  while (sqlite3_step(s.get()) == SQLITE_ROW) {
    ServerUser u;
    u.id = static_cast<int32_t>(sqlite3_column_int64(s.get(), 0));
    const char* n = reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 1));
    u.name = n ? n : "";
    u.repos = sqlite3_column_int(s.get(), 2);
    out->push_back(u);
  }
  return 0;
}
