// Account server: administration of accounts on the data directory (the
// server may be running).
#include <openssl/crypto.h>
#include <sys/stat.h>

#include <cstring>

#include "crypto/crypto.h"
#include "server_internal.h"
#include "storage/db.h"

using namespace srv;

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
  Transaction t(db.get(), "BEGIN IMMEDIATE;");
  if (t.status() != SQLITE_OK) return -1;
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
