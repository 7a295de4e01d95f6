// Account server: the store. server.db holds accounts, repositories,
// versions and links; uploads are read from and downloads written to
// snapshot files of the page layer.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <set>

#include "crypto/crypto.h"
#include "server_internal.h"
#include "storage/db.h"
#include "storage/page_vfs.h"
#include "storage/untrusted.h"
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


}  // namespace

extern const char kRepoSchema[];
const char kRepoSchema[] =
    "CREATE TABLE t0(c1, c2);CREATE TABLE t1(c1, c2, c3 INT, c4, c5, PRIMARY KEY(c1, c2, c3));CREATE TABLE t2(c1, c2, "
    "PRIMARY KEY(c1, c2));CREATE TABLE t3(c1, c2, c3 INT, PRIMARY KEY(c1, c2, c3));CREATE TABLE t4(c1, c2, c3 INT, "
    "PRIMARY KEY(c1, c2, c3));CREATE TABLE t5(c1, c2, c3 INT, c4, c5, c6 INT, c7 INT);CREATE INDEX t2_i ON t2(c2);";

std::string join(const std::string& a, const std::string& b) { return a.empty() ? b : a + "/" + b; }

TempDir::~TempDir() {
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
int delete_repo_rows(sqlite3* db, int64_t repo, bool keep_record) {
  const char* sqls[] = {"DELETE FROM versions WHERE repo=?", "DELETE FROM links WHERE repo=?",
                        "DELETE FROM repos WHERE id=?"};
  for (const char* sql : sqls) {
    if (keep_record && sql == sqls[2]) break;
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

namespace {

int on_progress(void* arg) {
  const WorkLimit* w = static_cast<const WorkLimit*>(arg);
  if (w->stopping && w->stopping->load()) return 1;
  return std::chrono::steady_clock::now() > w->until ? 1 : 0;
}

bool blob_or_null(sqlite3_stmt* s, int i) {
  int t = sqlite3_column_type(s, i);
  return t == SQLITE_NULL || (t == SQLITE_BLOB && static_cast<size_t>(sqlite3_column_bytes(s, i)) <= kRowMax);
}

// Marks a received file refused for its content (not a failure to read it).
constexpr int kRefused = -2;

// Checks every row of `sql` with `ok`; adds the stored size of columns from
// `sized` on to *bytes. 0, kRefused, or the SQLite code.
template <typename Ok>
int check_rows(sqlite3* db, const char* sql, int sized, uint64_t* bytes, Ok ok) {
  Stmt s;
  int rc = stmt_prepare(db, sql, &s);
  if (rc != SQLITE_OK) return rc;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
    if (!ok(s.get())) return kRefused;
    for (int i = sized; i < sqlite3_column_count(s.get()); ++i) *bytes += sqlite3_column_bytes(s.get(), i);
  }
  return rc == SQLITE_DONE ? 0 : rc;
}

bool version_row(sqlite3_stmt* s) {
  int c3 = sqlite3_column_int(s, 2);
  return column_fixed(s, 0, 16) && column_fixed(s, 1, 20) && sqlite3_column_type(s, 2) == SQLITE_INTEGER &&
         (c3 == 0 || c3 == 1) && blob_or_null(s, 3) && blob_or_null(s, 4);
}

bool link_row(sqlite3_stmt* s) { return column_fixed(s, 0, 16) && column_fixed(s, 1, 16); }

}  // namespace

void work_limit_install(sqlite3* db, WorkLimit* w) {
  if (w)
    sqlite3_progress_handler(db, 1000, on_progress, w);
  else
    sqlite3_progress_handler(db, 0, nullptr, nullptr);
}

int open_upload(const std::string& file, int kind, WorkLimit* w, DbHandle* out) {
  int rc = open_plain(file, SQLITE_OPEN_READONLY, out);
  if (rc != SQLITE_OK) return -1;
  if (w) work_limit_install(out->get(), w);
  if (db_distrust(out->get()) != SQLITE_OK) return -1;
  if (db_schema_exact(out->get(), "main", kind) != 0) return kRefused;
  return 0;
}

int check_upload(const std::string& file, int kind, WorkLimit* w, uint64_t* bytes, uint8_t key_check[64]) {
  *bytes = 0;
  DbHandle db;
  int rc = open_upload(file, kind, w, &db);
  if (rc == kRefused) return SRV_BAD_REQUEST;
  if (rc != 0) return -1;
  if (kind == DB_SCHEMA_REPO) {
    uint8_t kc[64];
    if (key_check_read(db.get(), kc) != 0) return SRV_BAD_REQUEST;  // t0 without the check
    if (key_check) std::memcpy(key_check, kc, 64);
    rc = check_rows(db.get(), "SELECT c1, c2, c3, c4, c5 FROM t1", 3, bytes, version_row);
    if (rc == 0) rc = check_rows(db.get(), "SELECT c1, c2 FROM t2", 2, bytes, link_row);
  } else {
    rc = check_rows(db.get(), "SELECT c1, c2, c3, c4, c5 FROM s1", 3, bytes, version_row);
    if (rc == 0)
      rc = check_rows(db.get(), "SELECT c1, c2, c3 FROM s3", 3, bytes, [](sqlite3_stmt* s) {
        return column_fixed(s, 0, 16) && column_fixed(s, 1, 20) && sqlite3_column_type(s, 2) == SQLITE_INTEGER;
      });
    if (rc == 0)
      rc = check_rows(db.get(), "SELECT c1, c2, c3 FROM s4", 3, bytes, [](sqlite3_stmt* s) {
        return link_row(s) && sqlite3_column_type(s, 2) == SQLITE_INTEGER;
      });
  }
  if (rc == SQLITE_INTERRUPT) log_message(LOG_WARNING, "check_upload: over the work limit");
  if (rc == kRefused) return SRV_BAD_REQUEST;
  return rc == 0 ? 0 : -1;
}

int account_usage(sqlite3* store, int64_t account, int64_t except, uint64_t* out) {
  Stmt s;
  int rc = stmt_prepare(store,
                        "SELECT total(length(header)) + total(length(body)) FROM versions WHERE repo IN "
                        "(SELECT id FROM repos WHERE account=? AND id<>?)",
                        &s);
  if (rc != SQLITE_OK) return rc;
  sqlite3_bind_int64(s.get(), 1, account);
  sqlite3_bind_int64(s.get(), 2, except);
  if ((rc = sqlite3_step(s.get())) != SQLITE_ROW) return rc;
  *out = static_cast<uint64_t>(sqlite3_column_double(s.get(), 0));
  return 0;
}

int upload_covers(sqlite3* store, int64_t repo, const std::string& file, WorkLimit* w) {
  DbHandle src;
  int rc = open_upload(file, DB_SCHEMA_REPO, w, &src);
  if (rc != 0) return rc;
  std::set<std::string> versions, links;
  Stmt s;
  if ((rc = stmt_prepare(src.get(), "SELECT c1, c2 FROM t1", &s)) != SQLITE_OK) return rc;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) versions.insert(column_bytes(s.get(), 0) + column_bytes(s.get(), 1));
  if (rc != SQLITE_DONE) return rc;
  if ((rc = stmt_prepare(src.get(), "SELECT c1, c2 FROM t2", &s)) != SQLITE_OK) return rc;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) links.insert(column_bytes(s.get(), 0) + column_bytes(s.get(), 1));
  if (rc != SQLITE_DONE) return rc;
  const char* sqls[2] = {"SELECT uuid, hash FROM versions WHERE repo=?", "SELECT a, b FROM links WHERE repo=?"};
  for (int i = 0; i < 2; ++i) {
    if ((rc = stmt_prepare(store, sqls[i], &s)) != SQLITE_OK) return rc;
    sqlite3_bind_int64(s.get(), 1, repo);
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
      if (!(i ? links : versions).count(column_bytes(s.get(), 0) + column_bytes(s.get(), 1))) return 1;
    if (rc != SQLITE_DONE) return rc;
  }
  return 0;
}

// Copies t0, t1 and t2 of an uploaded repository database into a new
// server repository (inside the caller's transaction).
int import_repo_db(sqlite3* store, const std::string& file, int64_t repo, uint8_t key_check[64], WorkLimit* w) {
  DbHandle src;
  int rc = open_upload(file, DB_SCHEMA_REPO, w, &src);
  if (rc != 0) return rc;
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
int apply_sync(sqlite3* store, const std::string& file, int64_t repo, WorkLimit* w) {
  DbHandle src;
  int rc = open_upload(file, DB_SCHEMA_SNAPSHOT, w, &src);
  if (rc != 0) return rc;
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
  Transaction tx(dst.get());
  int rc = tx.status();
  if (rc == SQLITE_OK)
    rc = copy_rows(store, "SELECT uuid, hash, current FROM versions WHERE repo=? ORDER BY uuid, hash", repo,
                   dst.get(), "INSERT INTO s3 VALUES (?,?,?)", 3);
  if (rc == SQLITE_OK)
    rc = copy_rows(store, "SELECT a, b FROM links WHERE repo=? ORDER BY a, b", repo, dst.get(),
                   "INSERT INTO s2 VALUES (?,?)", 2);
  if (rc != SQLITE_OK) return rc;
  return tx.commit();
}

// Writes "sync_1": s1 with each requested version; a zero hash asks for
// every version of the uuid.
int build_sync1(sqlite3* store, int64_t repo, const std::string& request, const std::string& file) {
  if (request.size() % 36 != 0) return -1;
  DbHandle dst(db_create_snapshot(file.c_str(), nullptr));
  if (!dst) return -1;
  Transaction tx(dst.get());
  int rc = tx.status();
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
  return tx.commit();
}

// Writes the repository database a clone receives (plain pages).
int build_clone(sqlite3* store, int64_t repo, const uint8_t key_check[64], const std::string& file) {
  std::remove(file.c_str());
  DbHandle dst;
  int rc = open_plain(file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, &dst);
  if (rc != SQLITE_OK) return rc;
  Transaction tx(dst.get());
  rc = tx.status();
  if (rc == SQLITE_OK) rc = db_exec(dst.get(), kRepoSchema);
  if (rc == SQLITE_OK) rc = key_check_write(dst.get(), key_check);
  if (rc == SQLITE_OK) rc = db_exec(dst.get(), "INSERT INTO t5 (c6,c7) VALUES (1,1)");
  if (rc == SQLITE_OK)
    rc = copy_rows(store, "SELECT uuid, hash, current, header, body FROM versions WHERE repo=?", repo, dst.get(),
                   "INSERT INTO t1 VALUES (?,?,?,?,?)", 5);
  if (rc == SQLITE_OK)
    rc = copy_rows(store, "SELECT a, b FROM links WHERE repo=?", repo, dst.get(), "INSERT INTO t2 VALUES (?,?)", 2);
  if (rc != SQLITE_OK) return rc;
  return tx.commit();
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

}  // namespace srv
