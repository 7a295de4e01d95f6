// SPDX-License-Identifier: GPL-3.0-or-later
// The master password of the configuration database: unlocking it,
// checking a password, and re-creating the database under a new one.
#include "storage/repo.h"

#include <openssl/crypto.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "crypto/crypto.h"
#include "crypto/wipe.h"
#include "storage/db.h"
#include "storage/repo_internal.h"
#include "support/files.h"
#include "support/log.h"

using namespace repo_detail;

namespace {

int copy_file(const std::string& from, const std::string& to) {
  OwnedFile in(std::fopen(from.c_str(), "rb"));
  if (!in) return -1;
  OwnedFile out(std::fopen(to.c_str(), "wb"));
  if (!out) return -1;
  char buf[8192];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, in.get())) > 0) {
    if (std::fwrite(buf, 1, n, out.get()) != n) return -1;
  }
  if (std::ferror(in.get())) return -1;
  if (std::fflush(out.get()) != 0 || ::fsync(fileno(out.get())) != 0) return -1;
  return file_close(&out);
}

// Copies the rows of configuration table t1/t2 with their blobs re-enciphered
// from master_key to new_key, and t3 unchanged.
int copy_config_tables(sqlite3* from, sqlite3* to, const uint8_t new_key[32]) {
  Transaction tx(to);
  int rc = tx.status();
  if (rc != SQLITE_OK) return rc;
  std::vector<uint8_t> buf;
  auto reencipher = [&](const void* p, int n) -> int {
    if (!p || n <= 0 || n % 16) return -1;
    buf.assign(static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
    if (secret_decipher(buf.data(), buf.size()) != 0) return -1;
    if (secret_encipher(buf.data(), buf.size(), new_key) != 0) return -1;
    return 0;
  };
  {
    Stmt sel, ins;
    rc = stmt_prepare(from, "SELECT * FROM t1;", &sel);
    if (rc == SQLITE_OK) rc = stmt_prepare(to, "INSERT INTO t1 VALUES (?,?);", &ins);
    while (rc == SQLITE_OK) {
      int s = sqlite3_step(sel.get());
      if (s == SQLITE_DONE) break;
      if (s != SQLITE_ROW) { rc = s; break; }
      rc = reencipher(sqlite3_column_blob(sel.get(), 1), sqlite3_column_bytes(sel.get(), 1));
      if (rc) break;
      sqlite3_bind_int64(ins.get(), 1, sqlite3_column_int64(sel.get(), 0));
      bind_blob(ins.get(), 2, buf.data(), buf.size());
      if (sqlite3_step(ins.get()) != SQLITE_DONE) { rc = 1; break; }
      sqlite3_reset(ins.get());
    }
  }
  if (rc == SQLITE_OK) {
    Stmt sel, ins;
    rc = stmt_prepare(from, "SELECT * FROM t2;", &sel);
    if (rc == SQLITE_OK) rc = stmt_prepare(to, "INSERT INTO t2 VALUES (?);", &ins);
    while (rc == SQLITE_OK) {
      int s = sqlite3_step(sel.get());
      if (s == SQLITE_DONE) break;
      if (s != SQLITE_ROW) { rc = s; break; }
      rc = reencipher(sqlite3_column_blob(sel.get(), 0), sqlite3_column_bytes(sel.get(), 0));
      if (rc) break;
      bind_blob(ins.get(), 1, buf.data(), buf.size());
      if (sqlite3_step(ins.get()) != SQLITE_DONE) { rc = 1; break; }
      sqlite3_reset(ins.get());
    }
  }
  if (rc == SQLITE_OK) {
    Stmt sel, ins;
    rc = stmt_prepare(from, "SELECT * FROM t3;", &sel);
    if (rc == SQLITE_OK) rc = stmt_prepare(to, "INSERT INTO t3 VALUES (?,?);", &ins);
    while (rc == SQLITE_OK) {
      int s = sqlite3_step(sel.get());
      if (s == SQLITE_DONE) break;
      if (s != SQLITE_ROW) { rc = s; break; }
      const unsigned char* name = sqlite3_column_text(sel.get(), 0);
      sqlite3_bind_text(ins.get(), 1, reinterpret_cast<const char*>(name), sqlite3_column_bytes(sel.get(), 0),
                        SQLITE_TRANSIENT);
      bind_blob(ins.get(), 2, sqlite3_column_blob(sel.get(), 1), static_cast<size_t>(sqlite3_column_bytes(sel.get(), 1)));
      if (sqlite3_step(ins.get()) != SQLITE_DONE) { rc = 1; break; }
      sqlite3_reset(ins.get());
    }
  }
  if (!buf.empty()) wipe(buf.data(), buf.size());
  if (rc == SQLITE_OK) rc = tx.commit();
  return rc;
}

int64_t count_rows(sqlite3* db, const char* sql) {
  Stmt s;
  if (stmt_prepare(db, sql, &s) != SQLITE_OK || sqlite3_step(s.get()) != SQLITE_ROW) return -1;
  return sqlite3_column_int64(s.get(), 0);
}

// Re-reads the repository records after the configuration database was
// rewritten, keeping the open databases of the entries (same order).
void repo_table_reread() {
  std::vector<RepoEntry> old;
  old.swap(repo_table());
  int rc = repo_list_each(repo_state().config, [](int64_t rowid, const uint8_t* rec, size_t len) { parse_repo(rowid, rec, len); });
  if (rc != 0) log_message(LOG_ERROR, "change_master_password: reading the table: %d", rc);
  for (size_t i = 0; i < old.size(); i++) {
    if (i < repo_table().size() && repo_table()[i].path == old[i].path && !repo_table()[i].path.empty()) {
      repo_table()[i].db = old[i].db;
      repo_table()[i].mounted = old[i].mounted;
      repo_table()[i].enabled = old[i].enabled;
    } else if (old[i].db) {
      db_close(old[i].db);
    }
    old[i].db = nullptr;
  }
}

}  // namespace

int config_unlock(const char* password) {
  if (!password) return -1;
  std::string file = config_file_path();
  int scheme = CONFIG_SCHEME_CURRENT;
  sqlite3* db = config_open(file.c_str(), password, &scheme);
  if (!db) return -1;
  config_set(db, repo_state().config_dir);
  if (scheme == CONFIG_SCHEME_LEGACY) {
    log_message(LOG_NOTICE, "config_unlock: converting the configuration database");
    if (change_master_password(password) != 0) {
      config_set(nullptr, repo_state().config_dir);
      wipe(master_key(), kMasterKeySize);
      return -1;
    }
  }
  return 0;
}

int master_password_check(const char* password) {
  if (!password) return -1;
  uint8_t key[32];
  pbkdf2_sha256(password, master_key() + 32, 16, kPbkdf2Rounds, key);
  int rc = CRYPTO_memcmp(key, master_key(), 32) == 0 ? 0 : -1;
  wipe(key, sizeof key);
  return rc;
}

int change_master_password(const char* new_password) {
  if (!repo_state().config || !new_password) return -1;
  std::string file = config_file_path();
  std::string tmp = path_join(repo_state().config_dir, "config.tmp");
  std::string bak = path_join(repo_state().config_dir, "config.bak");
  ::unlink(tmp.c_str());
  ::unlink((tmp + "-journal").c_str());

  uint8_t old_master[48], new_key[32];
  WipeOnExit w1(old_master, sizeof old_master), w2(new_key, sizeof new_key);
  std::memcpy(old_master, master_key(), sizeof old_master);
  auto restore_master = [&] { std::memcpy(master_key(), old_master, sizeof old_master); };

  sqlite3* t = db_create_config_v2(tmp.c_str(), new_password, new_key);
  if (!t) {
    restore_master();
    log_message(LOG_ERROR, "change_master_password: create");
    return -1;
  }
  int rc = copy_config_tables(repo_state().config, t, new_key);
  static const char* const kCounts[] = {"SELECT count(*) FROM t1;", "SELECT count(*) FROM t2;",
                                        "SELECT count(*) FROM t3;"};
  db_close(t);
  restore_master();
  if (rc != 0) {
    log_message(LOG_ERROR, "change_master_password: copy: %d", rc);
    ::unlink(tmp.c_str());
    return -1;
  }

  // Prove the new file with the new password before it replaces the old one.
  int scheme = -1;
  sqlite3* n = config_open(tmp.c_str(), new_password, &scheme);
  bool ok = n && scheme == CONFIG_SCHEME_CURRENT;
  for (const char* sql : kCounts) ok = ok && count_rows(n, sql) == count_rows(repo_state().config, sql);
  db_close(n);
  restore_master();
  if (!ok) {
    log_message(LOG_ERROR, "change_master_password: verify");
    ::unlink(tmp.c_str());
    return -1;
  }

  // Swap: "config" always names a complete database; the old one is kept
  // as "config.bak" until the new one has opened in its place.
  ::unlink(bak.c_str());
  if (::link(file.c_str(), bak.c_str()) != 0 && copy_file(file, bak) != 0) {
    log_message(LOG_ERROR, "change_master_password: backup: %d", errno);
    ::unlink(bak.c_str());
    ::unlink(tmp.c_str());
    return -1;
  }
  if (::rename(tmp.c_str(), file.c_str()) != 0) {
    log_message(LOG_ERROR, "change_master_password: rename: %d", errno);
    ::unlink(bak.c_str());
    ::unlink(tmp.c_str());
    return -1;
  }
  // Should a power loss undo the rename, "config" is the old database whole,
  // under the old password: logged, not failed.
  if (dir_sync(repo_state().config_dir.empty() ? path_parent(file) : repo_state().config_dir) != 0)
    log_message(LOG_WARNING, "change_master_password: sync the folder: %d", errno);
  n = config_open(file.c_str(), new_password, &scheme);
  if (!n || scheme != CONFIG_SCHEME_CURRENT) {
    db_close(n);
    log_message(LOG_ERROR, "change_master_password: reopen");
    if (::rename(bak.c_str(), file.c_str()) != 0)
      log_message(LOG_ERROR, "change_master_password: restore: %d", errno);
    restore_master();
    return -1;
  }
  // master_key now holds the new key; the old connection goes.
  config_set(n, repo_state().config_dir);
  ::unlink(bak.c_str());
  // At start (the old-scheme conversion) there is no table yet; it is read
  // later, once the account record is known.
  if (!repo_table().empty()) repo_table_reread();
  return 0;
}
