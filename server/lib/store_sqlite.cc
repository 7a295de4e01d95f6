// SPDX-License-Identifier: GPL-3.0-or-later
// Account server: the store on SQLite. server.db in the data directory
// holds accounts, repositories, versions and links; traces are files under
// traces/, the update offer is the folder given by --updates, and failed
// password changes are counted in memory (one process serves the store).
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <thread>

#include "server_internal.h"
#include "store.h"
#include "support/log.h"

namespace srv {

namespace {

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS accounts(id INTEGER PRIMARY KEY, name TEXT UNIQUE NOT NULL, hash BLOB NOT NULL);"
    "CREATE TABLE IF NOT EXISTS repos(id INTEGER PRIMARY KEY, account INTEGER NOT NULL, name TEXT NOT NULL, "
    "key_check BLOB NOT NULL, state BLOB NOT NULL, UNIQUE(account, name));"
    "CREATE TABLE IF NOT EXISTS versions(repo INTEGER NOT NULL, uuid BLOB NOT NULL, hash BLOB NOT NULL, "
    "current INTEGER NOT NULL, header BLOB, body BLOB, PRIMARY KEY(repo, uuid, hash));"
    "CREATE TABLE IF NOT EXISTS links(repo INTEGER NOT NULL, a BLOB NOT NULL, b BLOB NOT NULL, "
    "PRIMARY KEY(repo, a, b));";

int open_db(const std::string& data_dir, DbHandle* out) {
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

// Waits for a busy store (another connection's write) within the request's
// work budget, and not at all once the server stops.
int on_busy(void* arg, int) {
  const WorkLimit* w = static_cast<const WorkLimit*>(arg);
  if ((w->stopping && w->stopping->load()) || std::chrono::steady_clock::now() > w->until) return 0;
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return 1;
}

// Runs a statement to its end. 0 or the SQLite code.
int run(sqlite3_stmt* s) {
  int rc = sqlite3_step(s);
  return rc == SQLITE_DONE || rc == SQLITE_ROW ? 0 : rc;
}

// Calls fn for each row of s: 0, fn's first non-zero answer, or the code.
template <typename Fn>
int each_row(sqlite3_stmt* s, Fn fn) {
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW)
    if (int stop = fn(s)) return stop;
  return rc == SQLITE_DONE ? 0 : rc;
}

int version_of(sqlite3_stmt* s, bool bodies, const VersionFn& fn) {
  VersionRow v;
  v.uuid = column_fixed(s, 0, 16);
  v.hash = column_fixed(s, 1, 20);
  v.current = sqlite3_column_int(s, 2);
  if (!v.uuid || !v.hash) return SQLITE_CORRUPT;
  if (bodies) {
    v.header = column_blob(s, 3);
    v.body = column_blob(s, 4);
  }
  return fn(v);
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

class SqliteConn : public StoreConn {
 public:
  SqliteConn(Store* s, DbHandle db) : s_(s), db_(std::move(db)) {}
  ~SqliteConn() override { rollback(); }

  int begin_read() override { return begin("BEGIN;"); }

  // One writer at a time in the process (SQLite has one anyway): waiting
  // here costs nothing, where the busy handler would poll.
  int begin_write(const std::vector<std::string>&) override {
    auto until = w_ ? w_->until : std::chrono::steady_clock::now() + std::chrono::seconds(30);
    turn_ = std::unique_lock<std::timed_mutex>(s_->write_turn, std::defer_lock);
    if (!turn_.try_lock_until(until)) {
      log_message(LOG_WARNING, "sqlite_store: no turn to write within the work limit");
      return -1;
    }
    int rc = begin("BEGIN IMMEDIATE;");
    if (rc != 0) turn_ = {};
    return rc;
  }

  int commit() override {
    int rc = db_exec(db_.get(), "COMMIT;");
    if (rc != SQLITE_OK) {
      log_message(LOG_ERROR, "sqlite_store: commit: %d", rc);
      rollback();
      return rc;
    }
    end();
    return 0;
  }

  void rollback() override {
    if (!sqlite3_get_autocommit(db_.get())) db_exec(db_.get(), "ROLLBACK;");
    end();
  }

  int login_hash(uint32_t id, const std::string& name, uint8_t hash[32]) override {
    Stmt s;
    int rc = prepare("SELECT hash FROM accounts WHERE id=? AND name=?", &s);
    if (rc) return rc;
    sqlite3_bind_int64(s.get(), 1, id);
    bind_text(s.get(), 2, name.c_str());
    return one_hash(s.get(), 0, hash);
  }

  int account_by_name(const std::string& name, uint32_t* id, uint8_t hash[32]) override {
    Stmt s;
    int rc = prepare("SELECT hash, id FROM accounts WHERE name=?", &s);
    if (rc) return rc;
    bind_text(s.get(), 1, name.c_str());
    rc = one_hash(s.get(), 0, hash);
    if (rc == 0) *id = static_cast<uint32_t>(sqlite3_column_int64(s.get(), 1));
    return rc;
  }

  int set_account_hash(uint32_t id, const uint8_t hash[32]) override {
    Stmt s;
    int rc = prepare("UPDATE accounts SET hash=? WHERE id=?", &s);
    if (rc) return rc;
    bind_blob(s.get(), 1, hash, 32);
    sqlite3_bind_int64(s.get(), 2, id);
    return run(s.get());
  }

  int add_account(uint32_t id, const std::string& name, const uint8_t hash[32]) override {
    Stmt s;
    int rc = prepare("INSERT INTO accounts VALUES (?,?,?)", &s);
    if (rc) return rc;
    sqlite3_bind_int64(s.get(), 1, id);
    bind_text(s.get(), 2, name.c_str());
    bind_blob(s.get(), 3, hash, 32);
    if (sqlite3_step(s.get()) == SQLITE_DONE) return 0;
    s.reset();
    if ((rc = prepare("SELECT 1 FROM accounts WHERE name=?", &s)) != 0) return rc;
    bind_text(s.get(), 1, name.c_str());
    return sqlite3_step(s.get()) == SQLITE_ROW ? 1 : 2;
  }

  int delete_account(uint32_t id) override {
    std::vector<int64_t> repos;
    Stmt s;
    int rc = prepare("SELECT id FROM repos WHERE account=?", &s);
    if (rc) return rc;
    sqlite3_bind_int64(s.get(), 1, id);
    rc = each_row(s.get(), [&](sqlite3_stmt* q) {
      repos.push_back(sqlite3_column_int64(q, 0));
      return 0;
    });
    if (rc) return rc;
    for (int64_t r : repos)
      if ((rc = delete_repo(r, false)) != 0) return rc;
    if ((rc = prepare("DELETE FROM accounts WHERE id=?", &s)) != 0) return rc;
    sqlite3_bind_int64(s.get(), 1, id);
    return run(s.get());
  }

  int accounts(std::vector<ServerUser>* out) override {
    Stmt s;
    int rc = prepare(
        "SELECT a.id, a.name, (SELECT count(*) FROM repos r WHERE r.account=a.id) FROM accounts a ORDER BY a.name",
        &s);
    if (rc) return rc;
    return each_row(s.get(), [&](sqlite3_stmt* q) {
      ServerUser u;
      u.id = static_cast<int32_t>(sqlite3_column_int64(q, 0));
      u.name = column_bytes(q, 1);
      u.repos = sqlite3_column_int(q, 2);
      out->push_back(u);
      return 0;
    });
  }

  int each_repo(uint32_t account, const RepoFn& fn) override {
    Stmt s;
    int rc = prepare("SELECT name, id, key_check, state FROM repos WHERE account=? ORDER BY name", &s);
    if (rc) return rc;
    sqlite3_bind_int64(s.get(), 1, account);
    return each_row(s.get(), [&](sqlite3_stmt* q) {
      RepoRow row;
      if (repo_of(q, 1, &row) != 0) return static_cast<int>(SQLITE_CORRUPT);
      return fn(column_bytes(q, 0), row);
    });
  }

  int find_repo(uint32_t account, const std::string& name, RepoRow* row) override {
    Stmt s;
    int rc = prepare("SELECT id, key_check, state FROM repos WHERE account=? AND name=?", &s);
    if (rc) return rc;
    sqlite3_bind_int64(s.get(), 1, account);
    bind_text(s.get(), 2, name.c_str());
    rc = sqlite3_step(s.get());
    if (rc == SQLITE_DONE) return 1;
    if (rc != SQLITE_ROW) return rc;
    return repo_of(s.get(), 0, row);
  }

  int insert_repo(uint32_t account, const std::string& name, const uint8_t key_check[64], const uint8_t state[20],
                  int64_t* id) override {
    Stmt s;
    int rc = prepare("INSERT INTO repos(account, name, key_check, state) VALUES (?,?,?,?)", &s);
    if (rc) return rc;
    sqlite3_bind_int64(s.get(), 1, account);
    bind_text(s.get(), 2, name.c_str());
    bind_blob(s.get(), 3, key_check, 64);
    bind_blob(s.get(), 4, state, 20);
    if ((rc = run(s.get())) != 0) return rc;
    *id = sqlite3_last_insert_rowid(db_.get());
    return 0;
  }

  int set_state(int64_t repo, const uint8_t state[20]) override {
    Stmt s;
    int rc = prepare("UPDATE repos SET state=? WHERE id=?", &s);
    if (rc) return rc;
    bind_blob(s.get(), 1, state, 20);
    sqlite3_bind_int64(s.get(), 2, repo);
    return run(s.get());
  }

  int delete_repo(int64_t repo, bool keep_record) override {
    const char* sqls[] = {"DELETE FROM versions WHERE repo=?", "DELETE FROM links WHERE repo=?",
                          "DELETE FROM repos WHERE id=?"};
    for (int i = 0; i < (keep_record ? 2 : 3); ++i) {
      Stmt s;
      int rc = prepare(sqls[i], &s);
      if (rc) return rc;
      sqlite3_bind_int64(s.get(), 1, repo);
      if ((rc = run(s.get())) != 0) return rc;
    }
    return 0;
  }

  int usage(uint32_t account, int64_t except, uint64_t* bytes) override {
    Stmt s;
    int rc = prepare(
        "SELECT total(length(header)) + total(length(body)) FROM versions WHERE repo IN "
        "(SELECT id FROM repos WHERE account=? AND id<>?)",
        &s);
    if (rc) return rc;
    sqlite3_bind_int64(s.get(), 1, account);
    sqlite3_bind_int64(s.get(), 2, except);
    if ((rc = sqlite3_step(s.get())) != SQLITE_ROW) return rc;
    *bytes = static_cast<uint64_t>(sqlite3_column_double(s.get(), 0));
    return 0;
  }

  int put_version(int64_t repo, const VersionRow& v) override {
    Stmt s;
    int rc = prepare("INSERT OR REPLACE INTO versions VALUES (?,?,?,?,?,?)", &s);
    if (rc) return rc;
    sqlite3_bind_int64(s.get(), 1, repo);
    bind_blob(s.get(), 2, v.uuid, 16);
    bind_blob(s.get(), 3, v.hash, 20);
    sqlite3_bind_int(s.get(), 4, v.current);
    bind_stored(s.get(), 5, v.header);
    bind_stored(s.get(), 6, v.body);
    return run(s.get());
  }

  int delete_version(int64_t repo, const uint8_t uuid[16], const uint8_t hash[20]) override {
    return repo_pair("DELETE FROM versions WHERE repo=? AND uuid=? AND hash=?", repo, uuid, 16, hash, 20);
  }

  int demote_current(int64_t repo, const uint8_t uuid[16]) override {
    return repo_pair("UPDATE versions SET current=1 WHERE repo=? AND uuid=? AND current=0", repo, uuid, 16,
                     nullptr, 0);
  }

  int add_link(int64_t repo, const uint8_t a[16], const uint8_t b[16]) override {
    return repo_pair("INSERT OR IGNORE INTO links VALUES (?,?,?)", repo, a, 16, b, 16);
  }

  int delete_link(int64_t repo, const uint8_t a[16], const uint8_t b[16]) override {
    return repo_pair("DELETE FROM links WHERE repo=? AND a=? AND b=?", repo, a, 16, b, 16);
  }

  int each_version(int64_t repo, bool bodies, const VersionFn& fn) override {
    Stmt s;
    int rc = prepare(bodies ? "SELECT uuid, hash, current, header, body FROM versions WHERE repo=? ORDER BY uuid, hash"
                            : "SELECT uuid, hash, current FROM versions WHERE repo=? ORDER BY uuid, hash",
                     &s);
    if (rc) return rc;
    sqlite3_bind_int64(s.get(), 1, repo);
    return each_row(s.get(), [&](sqlite3_stmt* q) { return version_of(q, bodies, fn); });
  }

  int each_link(int64_t repo, const LinkFn& fn) override {
    Stmt s;
    int rc = prepare("SELECT a, b FROM links WHERE repo=? ORDER BY a, b", &s);
    if (rc) return rc;
    sqlite3_bind_int64(s.get(), 1, repo);
    return each_row(s.get(), [&](sqlite3_stmt* q) {
      const uint8_t* a = column_fixed(q, 0, 16);
      const uint8_t* b = column_fixed(q, 1, 16);
      return a && b ? fn(a, b) : static_cast<int>(SQLITE_CORRUPT);
    });
  }

  int versions_for(int64_t repo, const std::string& request, const VersionFn& fn) override {
    Stmt one, all;
    int rc = prepare("SELECT uuid, hash, current, header, body FROM versions WHERE repo=? AND uuid=? AND hash=?", &one);
    if (rc == 0)
      rc = prepare("SELECT uuid, hash, current, header, body FROM versions WHERE repo=? AND uuid=? ORDER BY hash",
                   &all);
    if (rc) return rc;
    std::set<std::string> seen;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(request.data());
    for (size_t off = 0; off + 36 <= request.size(); off += 36) {
      const uint8_t* u = p + off;
      const uint8_t* h = u + 16;
      sqlite3_stmt* q = is_zero(h, 20) ? all.get() : one.get();
      sqlite3_reset(q);
      sqlite3_bind_int64(q, 1, repo);
      bind_blob(q, 2, u, 16);
      if (q == one.get()) bind_blob(q, 3, h, 20);
      rc = each_row(q, [&](sqlite3_stmt* r) {
        if (!seen.insert(column_bytes(r, 0) + column_bytes(r, 1)).second) return 0;
        return version_of(r, true, fn);
      });
      if (rc) return rc;
    }
    return 0;
  }

  int failures(const std::string& key, time_t now, int window, int* count) override {
    std::lock_guard<std::mutex> g(s_->mu);
    auto it = s_->failures.find(key);
    *count = 0;
    if (it == s_->failures.end()) return 0;
    auto& times = it->second;
    times.erase(std::remove_if(times.begin(), times.end(), [&](time_t t) { return now - t >= window; }),
                times.end());
    *count = static_cast<int>(times.size());
    return 0;
  }

  int add_failure(const std::string& key, time_t now, int window) override {
    std::lock_guard<std::mutex> g(s_->mu);
    // Bounded memory under a flood of invented names: expired entries go first.
    if (s_->failures.size() > 4096) {
      for (auto it = s_->failures.begin(); it != s_->failures.end();) {
        bool old = it->second.empty() || now - it->second.back() >= window;
        it = old ? s_->failures.erase(it) : std::next(it);
      }
    }
    s_->failures[key].push_back(now);
    return 0;
  }

  int put_trace(uint32_t account, time_t stamp, const std::string& name, const std::string& data,
                uint64_t cap) override {
    std::string base = join(s_->cfg.data_dir, "traces");
    std::string dir = join(base, std::to_string(account));
    ::mkdir(base.c_str(), 0700);
    ::mkdir(dir.c_str(), 0700);
    std::string target = join(dir, std::to_string(static_cast<long long>(stamp)) + "-" + name);
    // written beside it under a name the pruning skips, then renamed
    std::string part = join(dir, "." + std::to_string(static_cast<long long>(stamp)) + "-" + name);
    FILE* f = std::fopen(part.c_str(), "wb");
    if (!f) return -1;
    bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    if (std::fclose(f) != 0 || !ok || std::rename(part.c_str(), target.c_str()) != 0) {
      std::remove(part.c_str());
      return -1;
    }
    prune_traces(dir, cap);
    return 0;
  }

  int update_file(const std::string& name, const std::string&, std::string* path) override {
    const std::string& dir = s_->cfg.update_dir;
    if (dir.empty() || !file_exists(join(dir, name))) return 1;
    *path = join(dir, name);
    return 0;
  }

  void set_limit(WorkLimit* w) override {
    w_ = w;
    work_limit_install(db_.get(), w);
    if (w)
      sqlite3_busy_handler(db_.get(), on_busy, w);
    else
      sqlite3_busy_timeout(db_.get(), 30000);
  }

 private:
  int begin(const char* sql) {
    int rc = db_exec(db_.get(), sql);
    if (rc != SQLITE_OK) {
      log_message(LOG_ERROR, "sqlite_store: %s %d", sql, rc);
      return rc;
    }
    stmt_cache_begin(db_.get());
    return 0;
  }
  void end() {
    stmt_cache_end(db_.get());
    if (turn_.owns_lock()) turn_.unlock();
  }
  int prepare(const char* sql, Stmt* s) {
    int rc = stmt_prepare(db_.get(), sql, s);
    if (rc != SQLITE_OK) log_message(LOG_ERROR, "sqlite_store: prepare: %d", rc);
    return rc;
  }
  // 0 with the 32-byte hash of column i, 1 without a row, else a code.
  static int one_hash(sqlite3_stmt* s, int i, uint8_t hash[32]) {
    int rc = sqlite3_step(s);
    if (rc == SQLITE_DONE) return 1;
    if (rc != SQLITE_ROW) return rc;
    const uint8_t* h = column_fixed(s, i, 32);
    if (!h) return SQLITE_CORRUPT;
    std::memcpy(hash, h, 32);
    return 0;
  }
  static int repo_of(sqlite3_stmt* s, int first, RepoRow* row) {
    row->id = sqlite3_column_int64(s, first);
    const uint8_t* kc = column_fixed(s, first + 1, 64);
    const uint8_t* st = column_fixed(s, first + 2, 20);
    if (!kc || !st) return SQLITE_CORRUPT;
    std::memcpy(row->key_check, kc, 64);
    std::memcpy(row->state, st, 20);
    return 0;
  }
  // A statement on (repo, x, y); y left out when null.
  int repo_pair(const char* sql, int64_t repo, const uint8_t* x, size_t nx, const uint8_t* y, size_t ny) {
    Stmt s;
    int rc = prepare(sql, &s);
    if (rc) return rc;
    sqlite3_bind_int64(s.get(), 1, repo);
    bind_blob(s.get(), 2, x, nx);
    if (y) bind_blob(s.get(), 3, y, ny);
    return run(s.get());
  }

  Store* s_;
  DbHandle db_;
  WorkLimit* w_ = nullptr;
  std::unique_lock<std::timed_mutex> turn_;
};

}  // namespace

int sqlite_prepare_store(const ServerConfig& cfg, std::string* error) {
  ::mkdir(cfg.data_dir.c_str(), 0700);
  DbHandle db;
  int rc = open_db(cfg.data_dir, &db);
  if (rc != SQLITE_OK) *error = "cannot open " + join(cfg.data_dir, "server.db") + ": " + std::to_string(rc);
  return rc == SQLITE_OK ? 0 : -1;
}

std::unique_ptr<StoreConn> sqlite_connect(Store* s, std::string* error) {
  DbHandle db;
  int rc = open_db(s->cfg.data_dir, &db);
  if (rc != SQLITE_OK) {
    *error = "open server.db: " + std::to_string(rc);
    return nullptr;
  }
  return std::make_unique<SqliteConn>(s, std::move(db));
}

}  // namespace srv
