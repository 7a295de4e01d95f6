// SPDX-License-Identifier: GPL-3.0-or-later
// Account server: the files exchanged with clients. Uploads (repository
// databases and "sync_2" snapshots of the page layer) are checked and
// applied to the store; downloads ("list", "sync_1", a clone's repository
// database) are written from it. They stay local temporary files of the
// process that handles the request.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <set>

#include "crypto/crypto.h"
#include "storage/page_vfs.h"
#include "server_internal.h"
#include "storage/db.h"
#include "storage/untrusted.h"
#include "support/log.h"

namespace srv {

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

Blob column_blob(sqlite3_stmt* s, int i) {
  Blob b;
  if (sqlite3_column_type(s, i) == SQLITE_NULL) return b;
  b.size = static_cast<size_t>(sqlite3_column_bytes(s, i));
  b.data = sqlite3_column_blob(s, i);
  if (!b.data) b.data = "";  // an empty blob, not NULL
  return b;
}

int bind_stored(sqlite3_stmt* s, int i, const Blob& b) {
  return b.data ? bind_blob(s, i, b.data, b.size) : sqlite3_bind_null(s, i);
}

int upload_covers(StoreConn* store, int64_t repo, const std::string& file, WorkLimit* w) {
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
  auto key = [](const uint8_t* a, size_t na, const uint8_t* b, size_t nb) {
    return std::string(reinterpret_cast<const char*>(a), na) + std::string(reinterpret_cast<const char*>(b), nb);
  };
  rc = store->each_version(repo, false, [&](const VersionRow& v) {
    return versions.count(key(v.uuid, 16, v.hash, 20)) ? 0 : 1;
  });
  if (rc != 0) return rc;
  return store->each_link(repo, [&](const uint8_t* a, const uint8_t* b) { return links.count(key(a, 16, b, 16)) ? 0 : 1; });
}

// A version row of an uploaded file (c1..c5 at columns `first`...), as
// check_upload accepted it. False when it is not one.
bool upload_version(sqlite3_stmt* s, int first, VersionRow* v) {
  v->uuid = column_fixed(s, first, 16);
  v->hash = column_fixed(s, first + 1, 20);
  v->current = sqlite3_column_int(s, first + 2);
  v->header = column_blob(s, first + 3);
  v->body = column_blob(s, first + 4);
  return v->uuid && v->hash && (v->current == 0 || v->current == 1);
}

// Copies t0, t1 and t2 of an uploaded repository database into a new
// server repository (inside the caller's transaction).
int import_repo_db(StoreConn* store, const std::string& file, int64_t repo, uint8_t key_check[64], WorkLimit* w) {
  DbHandle src;
  int rc = open_upload(file, DB_SCHEMA_REPO, w, &src);
  if (rc != 0) return rc;
  if ((rc = key_check_read(src.get(), key_check)) != 0) return rc;
  Stmt in;
  if ((rc = stmt_prepare(src.get(), "SELECT c1, c2, c3, c4, c5 FROM t1", &in)) != SQLITE_OK) return rc;
  while ((rc = sqlite3_step(in.get())) == SQLITE_ROW) {
    VersionRow v;
    if (!upload_version(in.get(), 0, &v)) return SQLITE_MISMATCH;
    if ((rc = store->put_version(repo, v)) != 0) return rc;
  }
  if (rc != SQLITE_DONE) return rc;
  if ((rc = stmt_prepare(src.get(), "SELECT c1, c2 FROM t2", &in)) != SQLITE_OK) return rc;
  while ((rc = sqlite3_step(in.get())) == SQLITE_ROW) {
    const uint8_t* a = column_fixed(in.get(), 0, 16);
    const uint8_t* b = column_fixed(in.get(), 1, 16);
    if (!a || !b) return SQLITE_MISMATCH;
    if ((rc = store->add_link(repo, a, b)) != 0) return rc;
  }
  return rc == SQLITE_DONE ? 0 : rc;
}

// Applies an uploaded "sync_2" snapshot: removed versions, added versions
// (a new current version demotes the previous one), link changes.
int apply_sync(StoreConn* store, const std::string& file, int64_t repo, WorkLimit* w) {
  DbHandle src;
  int rc = open_upload(file, DB_SCHEMA_SNAPSHOT, w, &src);
  if (rc != 0) return rc;
  Stmt s3, s1;
  if ((rc = stmt_prepare(src.get(), "SELECT c1, c2, c3 FROM s3 ORDER BY c3, rowid", &s3)) != SQLITE_OK) return rc;
  if ((rc = stmt_prepare(src.get(), "SELECT c1, c2, c3, c4, c5 FROM s1 WHERE c1=? AND c2=?", &s1)) != SQLITE_OK)
    return rc;
  while ((rc = sqlite3_step(s3.get())) == SQLITE_ROW) {
    const uint8_t* u = column_fixed(s3.get(), 0, 16);
    const uint8_t* h = column_fixed(s3.get(), 1, 20);
    int state = sqlite3_column_int(s3.get(), 2);
    if (!u || !h) return SQLITE_MISMATCH;
    if (state == 0) {
      if ((rc = store->delete_version(repo, u, h)) != 0) return rc;
      continue;
    }
    sqlite3_reset(s1.get());
    bind_blob(s1.get(), 1, u, 16);
    bind_blob(s1.get(), 2, h, 20);
    rc = sqlite3_step(s1.get());
    if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? SQLITE_MISMATCH : rc;
    VersionRow v;
    if (!upload_version(s1.get(), 0, &v)) return SQLITE_MISMATCH;
    if (v.current == 0 && (rc = store->demote_current(repo, u)) != 0) return rc;
    if ((rc = store->put_version(repo, v)) != 0) return rc;
  }
  if (rc != SQLITE_DONE) return rc;
  Stmt s4;
  if ((rc = stmt_prepare(src.get(), "SELECT c1, c2, c3 FROM s4 ORDER BY c3, rowid", &s4)) != SQLITE_OK) return rc;
  while ((rc = sqlite3_step(s4.get())) == SQLITE_ROW) {
    const uint8_t* a = column_fixed(s4.get(), 0, 16);
    const uint8_t* b = column_fixed(s4.get(), 1, 16);
    if (!a || !b) return SQLITE_MISMATCH;
    rc = sqlite3_column_int(s4.get(), 2) ? store->add_link(repo, a, b) : store->delete_link(repo, a, b);
    if (rc != 0) return rc;
  }
  return rc == SQLITE_DONE ? 0 : rc;
}

namespace {

// Inserts a version into a file being written through `out` (uuid, hash,
// current flag, and header and body when `bodies`).
int insert_version(sqlite3_stmt* out, const VersionRow& v, bool bodies) {
  sqlite3_reset(out);
  bind_blob(out, 1, v.uuid, 16);
  bind_blob(out, 2, v.hash, 20);
  sqlite3_bind_int(out, 3, v.current);
  if (bodies) {
    bind_stored(out, 4, v.header);
    bind_stored(out, 5, v.body);
  }
  int rc = sqlite3_step(out);
  return rc == SQLITE_DONE ? 0 : rc;
}

int insert_link(sqlite3_stmt* out, const uint8_t* a, const uint8_t* b) {
  sqlite3_reset(out);
  bind_blob(out, 1, a, 16);
  bind_blob(out, 2, b, 16);
  int rc = sqlite3_step(out);
  return rc == SQLITE_DONE ? 0 : rc;
}

// Copies the repository's versions (with their bodies when asked) and links
// into dst through the two insert statements.
int copy_repo(StoreConn* store, int64_t repo, sqlite3* dst, const char* version_sql, bool bodies,
              const char* link_sql) {
  Stmt vs, ls;
  int rc = stmt_prepare(dst, version_sql, &vs);
  if (rc == SQLITE_OK) rc = stmt_prepare(dst, link_sql, &ls);
  if (rc != SQLITE_OK) return rc;
  rc = store->each_version(repo, bodies, [&](const VersionRow& v) { return insert_version(vs.get(), v, bodies); });
  if (rc == 0) rc = store->each_link(repo, [&](const uint8_t* a, const uint8_t* b) { return insert_link(ls.get(), a, b); });
  return rc;
}

}  // namespace

// Writes "list": s3 every version sorted by uuid and hash, s2 every link
// sorted. Runs inside the caller's read transaction.
int build_list(StoreConn* store, int64_t repo, const std::string& file) {
  DbHandle dst(db_create_snapshot(file.c_str(), nullptr));
  if (!dst) return -1;
  Transaction tx(dst.get());
  int rc = tx.status();
  if (rc == SQLITE_OK) rc = copy_repo(store, repo, dst.get(), "INSERT INTO s3 VALUES (?,?,?)", false,
                                      "INSERT INTO s2 VALUES (?,?)");
  if (rc != SQLITE_OK) return rc;
  return tx.commit();
}

// Writes "sync_1": s1 with each requested version; a zero hash asks for
// every version of the uuid.
int build_sync1(StoreConn* store, int64_t repo, const std::string& request, const std::string& file) {
  if (request.size() % 36 != 0) return -1;
  DbHandle dst(db_create_snapshot(file.c_str(), nullptr));
  if (!dst) return -1;
  Transaction tx(dst.get());
  int rc = tx.status();
  Stmt out;
  if (rc == SQLITE_OK) rc = stmt_prepare(dst.get(), "INSERT INTO s1 VALUES (?,?,?,?,?)", &out);
  if (rc == SQLITE_OK)
    rc = store->versions_for(repo, request, [&](const VersionRow& v) { return insert_version(out.get(), v, true); });
  if (rc != SQLITE_OK) return rc;
  out.reset();
  return tx.commit();
}

// Writes the repository database a clone receives (plain pages).
int build_clone(StoreConn* store, int64_t repo, const uint8_t key_check[64], const std::string& file) {
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
    rc = copy_repo(store, repo, dst.get(), "INSERT INTO t1 VALUES (?,?,?,?,?)", true, "INSERT INTO t2 VALUES (?,?)");
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
