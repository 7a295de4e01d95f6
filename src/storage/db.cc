// SPDX-License-Identifier: GPL-3.0-or-later
#include "storage/db.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/crypto.h"
#include "crypto/wipe.h"
#include "storage/journal.h"
#include "storage/page_vfs.h"
#include "storage/schema.h"
#include "support/files.h"
#include "support/log.h"

namespace {

constexpr uint32_t kConfigIterations = 20002;

int step_done(sqlite3_stmt* s) {
  int rc = sqlite3_step(s);
  if (rc == SQLITE_DONE) return 0;
  return rc == SQLITE_ROW ? 1 : rc;
}

// Removes a database file and any rollback journal left beside it.
void remove_db_file(const char* file) {
  std::remove(file);
  std::string journal = std::string(file) + "-journal";
  std::remove(journal.c_str());
}

std::string text_of(const std::string& padded) {
  size_t n = padded.find('\0');
  return n == std::string::npos ? padded : padded.substr(0, n);
}

// Writes, reads back and verifies the key check of a freshly made database.
int key_check_store(sqlite3* db, const uint8_t key[32]) {
  Secret<64> rec;
  key_check_make(key, rec.b);
  int rc = key_check_write(db, rec.b);
  if (rc != 0) return rc;
  Secret<64> back;
  rc = key_check_read(db, back.b);
  if (rc != 0) return rc;
  return key_check_verify(key, back.b) == 0 ? 0 : -1;
}

// 0 when the open connection's t0 verifies against key.
int key_check_matches(sqlite3* db, const uint8_t key[32]) {
  Secret<64> rec;
  int rc = key_check_read(db, rec.b);
  if (rc != 0) return rc;
  return key_check_verify(key, rec.b) == 0 ? 0 : -1;
}

int open_create(const char* file, sqlite3** out) {
  sqlite3* raw = nullptr;
  int rc = page_db_open(file, &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  *out = raw;
  return rc;
}

// Opens `file` keyed with key/len and proves the key against t0 (whose
// check is made from the key's first 32 bytes).
sqlite3* open_verified(const char* file, const uint8_t* key, int len) {
  DbHandle db(db_open(file));
  if (!db) return nullptr;
  if (page_db_key(db.get(), key, len) != 0) return nullptr;
  if (key_check_matches(db.get(), key) != 0) return nullptr;
  return db.release();
}

// Generic change log on t3 (objects) or t4 (links).
int changelog(sqlite3* db, int table, const uint8_t k1[16], const uint8_t* k2, size_t k2_len, int state) {
  const char* sel = table == 3 ? "SELECT c3, rowid FROM t3 WHERE c1=? AND c2=?" : "SELECT c3, rowid FROM t4 WHERE c1=? AND c2=?";
  Stmt s;
  int rc = stmt_prepare(db, sel, &s);
  if (rc != SQLITE_OK) return rc;
  if ((rc = bind_blob(s.get(), 1, k1, 16)) != SQLITE_OK || (rc = bind_blob(s.get(), 2, k2, k2_len)) != SQLITE_OK)
    return rc;
  rc = sqlite3_step(s.get());
  if (rc == SQLITE_DONE) {
    s.reset();
    rc = stmt_prepare(db, table == 3 ? "INSERT INTO t3 VALUES (?,?,?)" : "INSERT INTO t4 VALUES (?,?,?)", &s);
    if (rc != SQLITE_OK) return rc;
    if ((rc = bind_blob(s.get(), 1, k1, 16)) != SQLITE_OK || (rc = bind_blob(s.get(), 2, k2, k2_len)) != SQLITE_OK ||
        (rc = sqlite3_bind_int(s.get(), 3, state)) != SQLITE_OK)
      return rc;
    if ((rc = step_done(s.get())) != 0) return rc;
    return journal_append(db, JOURNAL_INSERT, table, k1, k2, state, nullptr, 0, nullptr, 0);
  }
  if (rc != SQLITE_ROW) return rc;
  int old_state = sqlite3_column_int(s.get(), 0);
  int64_t rowid = sqlite3_column_int64(s.get(), 1);
  s.reset();
  if (old_state == state) return 0;
  rc = stmt_prepare(db, table == 3 ? "DELETE FROM t3 WHERE rowid=?" : "DELETE FROM t4 WHERE rowid=?", &s);
  if (rc != SQLITE_OK) return rc;
  sqlite3_bind_int64(s.get(), 1, rowid);
  if ((rc = step_done(s.get())) != 0) return rc;
  return journal_append(db, JOURNAL_DELETE, table, k1, k2, old_state, nullptr, 0, nullptr, 0);
}

// Deciphers c4 (and c5) of a "SELECT * FROM t1 ..." row and returns c5's text.
std::string read_body(const RepoDb& r, sqlite3_stmt* s, const char* who) {
  int rc = sqlite3_step(s);
  if (rc != SQLITE_ROW) {
    if (rc != SQLITE_DONE) log_message(LOG_ERROR, "%s: %d", who, rc);
    return std::string();
  }
  const uint8_t* uuid = column_fixed(s, 0, 16);
  const uint8_t* hash = column_fixed(s, 1, 20);
  std::string c4 = column_bytes(s, 3);
  std::string c5 = column_bytes(s, 4);
  if (c5.empty()) return std::string();
  if (!uuid || !hash || !r.key ||
      row_decipher(r.key, uuid, hash, reinterpret_cast<uint8_t*>(c4.data()), c4.size(),
                   reinterpret_cast<uint8_t*>(c5.data()), c5.size()) != 0) {
    log_message(LOG_ERROR, "%s: bad row", who);
    return std::string();
  }
  wipe(c4.data(), c4.size());
  std::string text = text_of(c5);
  wipe(c5.data(), c5.size());
  return text;
}

struct StoredRow {
  int64_t rowid = 0;
  uint8_t k2[20] = {};
  int c3 = 0;
  std::string c4, c5;
};

const uint8_t* bytes_of(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

}  // namespace

// ---------------------------------------------------------------------------

sqlite3* db_open(const char* file) {
  sqlite3* raw = nullptr;
  int rc = page_db_open(file, &raw, SQLITE_OPEN_READWRITE);
  if (rc != SQLITE_OK) {
    log_message(LOG_ERROR, "db_open(): %d", rc);
    sqlite3_close_v2(raw);
    return nullptr;
  }
  return raw;
}

void db_close(sqlite3* db) {
  if (!db) return;
  stmt_cache_end(db);
  sqlite3_close_v2(db);
}

sqlite3* db_create_config_v2(const char* file, const char* password, uint8_t* key_out) {
  if (!file || !password) return nullptr;
  // Never destroy an existing file: failures below remove only what we made.
  if (path_exists(file)) {
    log_message(LOG_ERROR, "db_create_config_v2(%s): %d", file, SQLITE_CANTOPEN);
    return nullptr;
  }
  sqlite3* raw = nullptr;
  int rc = open_create(file, &raw);
  DbHandle db(raw);
  Secret<48> key;
  if (rc == SQLITE_OK && random_bytes(key.b + 32, 16) != 0) rc = -1;
  if (rc == SQLITE_OK) {
    pbkdf2_sha256(password, key.b + 32, 16, kConfigIterations, key.b);
    rc = page_db_key(db.get(), key.b, 48);
  }
  if (rc == SQLITE_OK) {
    Transaction tx(db.get());
    rc = tx.status();
    if (rc == SQLITE_OK) rc = db_exec(db.get(), schema::kConfig);
    if (rc == SQLITE_OK) rc = key_check_store(db.get(), key.b);
    if (rc == SQLITE_OK) rc = tx.commit();
  }
  if (rc != SQLITE_OK) {
    log_message(LOG_ERROR, "db_create_config_v2(%s): %d", file, rc);
    db.reset();
    remove_db_file(file);
    return nullptr;
  }
  if (key_out)
    std::memcpy(key_out, key.b, 32);
  else
    std::memcpy(master_key(), key.b, 48);
  return db.release();
}

sqlite3* config_create(const char* config_dir, const char* password) {
  if (!config_dir) return nullptr;
  std::string file = config_dir;
  if (dir_exists(file)) file = path_join(file, "config");
  return db_create_config_v2(file.c_str(), password, nullptr);
}

sqlite3* config_open(const char* file, const char* password, int* scheme) {
  if (!file || !password) return nullptr;
  Secret<48> key;
  bool have_salt = false;
  if (OwnedFile f{std::fopen(file, "rb")}) have_salt = std::fread(key.b + 32, 1, 16, f.get()) == 16;
  if (have_salt) {
    pbkdf2_sha256(password, key.b + 32, 16, kConfigIterations, key.b);
    if (sqlite3* db = open_verified(file, key.b, 48)) {
      std::memcpy(master_key(), key.b, 48);
      if (scheme) *scheme = CONFIG_SCHEME_CURRENT;
      return db;
    }
  }
  // Legacy files are keyed with the repository-style derivation, no salt.
  Secret<48> legacy;
  derive_key(password, legacy.b);
  if (sqlite3* db = open_verified(file, legacy.b, 32)) {
    std::memcpy(master_key(), legacy.b, 48);
    if (scheme) *scheme = CONFIG_SCHEME_LEGACY;
    return db;
  }
  return nullptr;
}

sqlite3* db_create_repo(const char* file, const uint8_t key[32]) {
  if (!file || !key) return nullptr;
  sqlite3* raw = nullptr;
  int rc = open_create(file, &raw);
  DbHandle db(raw);
  if (rc == SQLITE_OK) rc = page_db_key(db.get(), key, 32);
  if (rc == SQLITE_OK) {
    Transaction tx(db.get());
    rc = tx.status();
    if (rc == SQLITE_OK) rc = db_exec(db.get(), schema::kRepo);
    if (rc == SQLITE_OK) rc = db_exec(db.get(), "INSERT INTO t5 (c6,c7) VALUES (1,1)");
    if (rc == SQLITE_OK) rc = key_check_store(db.get(), key);
    if (rc == SQLITE_OK) rc = tx.commit();
  }
  if (rc != SQLITE_OK) {
    log_message(LOG_ERROR, "db_create_repo(): %d", rc);
    return nullptr;
  }
  return db.release();
}

sqlite3* db_create_snapshot(const char* file, const uint8_t* key) {
  if (!file) return nullptr;
  remove_db_file(file);
  sqlite3* raw = nullptr;
  int rc = open_create(file, &raw);
  DbHandle db(raw);
  if (rc == SQLITE_OK && key) rc = page_db_key(db.get(), key, 32);
  if (rc == SQLITE_OK) rc = db_exec(db.get(), schema::kSnapshot);
  if (rc != SQLITE_OK) {
    log_message(LOG_ERROR, "db_create_snapshot(%s): %d", file, rc);
    db.reset();
    remove_db_file(file);
    return nullptr;
  }
  return db.release();
}

int key_check_write(sqlite3* db, const uint8_t check[64]) {
  Stmt s;
  int rc = stmt_prepare(db, "INSERT INTO t0 VALUES (?,?)", &s);
  if (rc != SQLITE_OK) return rc;
  if ((rc = bind_blob(s.get(), 1, check, 32)) != SQLITE_OK || (rc = bind_blob(s.get(), 2, check + 32, 32)) != SQLITE_OK)
    return rc;
  return step_done(s.get());
}

int key_check_read(sqlite3* db, uint8_t check[64]) {
  Stmt s;
  int rc = stmt_prepare(db, "SELECT * FROM t0", &s);
  if (rc != SQLITE_OK) return rc;
  rc = sqlite3_step(s.get());
  if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? -1 : rc;
  if (sqlite3_column_count(s.get()) < 2) return -1;
  const uint8_t* a = column_fixed(s.get(), 0, 32);
  const uint8_t* b = column_fixed(s.get(), 1, 32);
  if (!a || !b) return -1;
  std::memcpy(check, a, 32);
  std::memcpy(check + 32, b, 32);
  return 0;
}

int db_get_sign_path(const char* file, uint8_t check[64], const uint8_t* key) {
  DbHandle db(db_open(file));
  int rc = db ? 0 : -1;
  if (rc == 0 && key) rc = page_db_key(db.get(), key, 32);
  if (rc == 0) rc = key_check_read(db.get(), check);
  if (rc != 0) {
    log_message(LOG_ERROR, "db_get_sign_path");
    return -1;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Configuration database

std::string setting_get(sqlite3* cfg, const char* name) {
  Stmt s;
  if (stmt_prepare(cfg, "SELECT v FROM t3 WHERE c=?", &s) != SQLITE_OK) return std::string();
  if (bind_text(s.get(), 1, name) != SQLITE_OK) return std::string();
  if (sqlite3_step(s.get()) != SQLITE_ROW) return std::string();
  return text_of(column_bytes(s.get(), 0));
}

int setting_get_int(sqlite3* cfg, const char* name, int def) {
  std::string v = setting_get(cfg, name);
  if (v.empty()) return def;
  return static_cast<int>(std::strtol(v.c_str(), nullptr, 10));
}

int setting_put(sqlite3* cfg, const char* name, const void* bytes, size_t len) {
  Stmt s;
  int rc = stmt_prepare(cfg, "INSERT OR REPLACE INTO t3 VALUES (?,?)", &s);
  if (rc != SQLITE_OK) return rc;
  if (!bytes) len = 0;
  if ((rc = bind_text(s.get(), 1, name)) != SQLITE_OK || (rc = bind_blob(s.get(), 2, bytes ? bytes : "", len)) != SQLITE_OK)
    return rc;
  rc = step_done(s.get());
  if (rc != 0) log_message(LOG_ERROR, "setting_put(%s): %d", name, rc);
  return rc;
}

int setting_put_str(sqlite3* cfg, const char* name, const char* text) {
  if (!text) text = "";
  return setting_put(cfg, name, text, std::strlen(text) + 1);
}

int setting_put_int(sqlite3* cfg, const char* name, int value) {
  char buf[16];
  int n = std::snprintf(buf, sizeof buf, "%d", value);
  return setting_put(cfg, name, buf, static_cast<size_t>(n) + 1);
}

int config_record_get(sqlite3* cfg, int number, uint8_t* buf, size_t len) {
  Stmt s;
  int rc = stmt_prepare(cfg, "SELECT c2 FROM t1 WHERE c1=?", &s);
  if (rc != SQLITE_OK) return rc;
  sqlite3_bind_int(s.get(), 1, number);
  rc = sqlite3_step(s.get());
  if (rc == SQLITE_DONE) return 1;
  if (rc != SQLITE_ROW) return rc;
  const void* p = sqlite3_column_blob(s.get(), 0);
  if (!p || static_cast<size_t>(sqlite3_column_bytes(s.get(), 0)) != len) return -1;
  std::memcpy(buf, p, len);
  return 0;
}

int config_record_put(sqlite3* cfg, int number, const uint8_t* bytes, size_t len) {
  if (!bytes) return -1;
  // Delete and insert together: a failed insert must not lose the record.
  int rc = db_exec(cfg, "SAVEPOINT config_record_put;");
  if (rc != SQLITE_OK) return rc;
  auto replace = [&]() -> int {
    Stmt s;
    int rc = stmt_prepare(cfg, "DELETE FROM t1 WHERE c1=?", &s);
    if (rc != SQLITE_OK) return rc;
    sqlite3_bind_int(s.get(), 1, number);
    if ((rc = step_done(s.get())) != 0) return rc;
    rc = stmt_prepare(cfg, "INSERT INTO t1 VALUES (?,?)", &s);
    if (rc != SQLITE_OK) return rc;
    sqlite3_bind_int(s.get(), 1, number);
    if ((rc = bind_blob(s.get(), 2, bytes, len)) != SQLITE_OK) return rc;
    return step_done(s.get());
  };
  rc = replace();
  if (rc != 0) {
    log_message(LOG_ERROR, "config_record_put(%d): %d", number, rc);
    db_exec(cfg, "ROLLBACK TO config_record_put;");
  }
  db_exec(cfg, "RELEASE config_record_put;");
  return rc;
}

int secret_encipher(uint8_t* buf, size_t len, const uint8_t* key) {
  if (len % 16) return -1;
  CipherContext ctx;
  if (page_cipher(&ctx, key, CIPHER_ENCRYPT) != 0) return -1;
  return cbc_encrypt_inplace(&ctx, buf, len) == static_cast<long>(len) ? 0 : -1;
}

int secret_decipher(uint8_t* buf, size_t len, const uint8_t* key) {
  if (len % 16) return -1;
  CipherContext ctx;
  if (page_cipher(&ctx, key, CIPHER_DECRYPT) != 0) return -1;
  return cbc_decrypt_inplace(&ctx, buf, len) == static_cast<long>(len) ? 0 : -1;
}

int repo_list_count(sqlite3* cfg) {
  Stmt s;
  if (stmt_prepare(cfg, "SELECT rowid FROM t2", &s) != SQLITE_OK) return 0;
  int n = 0;
  while (sqlite3_step(s.get()) == SQLITE_ROW) ++n;
  return n;
}

int repo_list_each(sqlite3* cfg, const std::function<void(int64_t, const uint8_t*, size_t)>& fn) {
  Stmt s;
  int rc = stmt_prepare(cfg, "SELECT rowid, c1 FROM t2", &s);
  if (rc != SQLITE_OK) return rc;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
    const uint8_t* p = static_cast<const uint8_t*>(sqlite3_column_blob(s.get(), 1));
    size_t n = static_cast<size_t>(sqlite3_column_bytes(s.get(), 1));
    fn(sqlite3_column_int64(s.get(), 0), p, p ? n : 0);
  }
  return rc == SQLITE_DONE ? 0 : rc;
}

int repo_list_add(sqlite3* cfg, const uint8_t* rec, size_t len, int64_t* rowid) {
  Stmt s;
  int rc = stmt_prepare(cfg, "INSERT INTO t2 VALUES (?)", &s);
  if (rc != SQLITE_OK) return rc;
  if ((rc = bind_blob(s.get(), 1, rec, len)) != SQLITE_OK) return rc;
  if ((rc = step_done(s.get())) != 0) {
    log_message(LOG_ERROR, "repo_list_add: %d", rc);
    return rc;
  }
  if (rowid) *rowid = sqlite3_last_insert_rowid(cfg);
  return 0;
}

int repo_list_update(sqlite3* cfg, int64_t rowid, const uint8_t* rec, size_t len) {
  Stmt s;
  int rc = stmt_prepare(cfg, "UPDATE t2 SET c1=? WHERE rowid=?", &s);
  if (rc != SQLITE_OK) return rc;
  if ((rc = bind_blob(s.get(), 1, rec, len)) != SQLITE_OK) return rc;
  sqlite3_bind_int64(s.get(), 2, rowid);
  rc = step_done(s.get());
  if (rc != 0) log_message(LOG_ERROR, "repo_list_update(%lld): %d", static_cast<long long>(rowid), rc);
  return rc;
}

int repo_list_remove(sqlite3* cfg, int64_t rowid) {
  Stmt s;
  int rc = stmt_prepare(cfg, "DELETE FROM t2 WHERE rowid=?", &s);
  if (rc != SQLITE_OK) return rc;
  sqlite3_bind_int64(s.get(), 1, rowid);
  return step_done(s.get());
}

// ---------------------------------------------------------------------------
// Repository database

static int row_cipher(const uint8_t key[32], const uint8_t uuid[16], const uint8_t hash[20], uint8_t* c4,
                      size_t c4_len, uint8_t* c5, size_t c5_len, int direction) {
  if (!key || !uuid || !hash) return -1;
  if (!c4) c4_len = 0;
  if (!c5) c5_len = 0;
  if (c4_len % 16 || c5_len % 16) return -1;
  CipherContext ctx;
  if (object_cipher(&ctx, key, uuid, hash, direction) != 0) return -1;
  auto run = [&](uint8_t* p, size_t n) -> bool {
    if (!n) return true;
    long done = direction == CIPHER_ENCRYPT ? cbc_encrypt_inplace(&ctx, p, n) : cbc_decrypt_inplace(&ctx, p, n);
    return done == static_cast<long>(n);
  };
  return run(c4, c4_len) && run(c5, c5_len) ? 0 : -1;
}

int row_encipher(const uint8_t key[32], const uint8_t uuid[16], const uint8_t hash[20], uint8_t* c4, size_t c4_len,
                 uint8_t* c5, size_t c5_len) {
  return row_cipher(key, uuid, hash, c4, c4_len, c5, c5_len, CIPHER_ENCRYPT);
}

int row_decipher(const uint8_t key[32], const uint8_t uuid[16], const uint8_t hash[20], uint8_t* c4, size_t c4_len,
                 uint8_t* c5, size_t c5_len) {
  return row_cipher(key, uuid, hash, c4, c4_len, c5, c5_len, CIPHER_DECRYPT);
}

int row_decipher_header(const uint8_t key[32], const uint8_t uuid[16], const uint8_t hash[20], const uint8_t* c4,
                        size_t len, std::string* out) {
  if (!c4 || len % 16) return -1;
  std::string buf(reinterpret_cast<const char*>(c4), len);
  if (row_decipher(key, uuid, hash, reinterpret_cast<uint8_t*>(buf.data()), len, nullptr, 0) != 0) return -1;
  *out = text_of(buf);
  wipe(buf.data(), buf.size());
  return 0;
}

int objects_load_current(const RepoDb& r, int repo_index, const ObjectLoadFn& fn) {
  Stmt s;
  int rc = stmt_prepare(r.db, "SELECT c1, c2, c4 FROM t1 WHERE c3=0", &s);
  if (rc != SQLITE_OK) {
    log_message(LOG_ERROR, "objects_load_current: %d", rc);
    return rc;
  }
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
    const uint8_t* uuid = column_fixed(s.get(), 0, 16);
    const uint8_t* hash = column_fixed(s.get(), 1, 20);
    size_t len = 0;
    const uint8_t* c4 = column_blob(s.get(), 2, &len);
    if (!uuid || !hash) {
      log_message(LOG_WARNING, "objects_load_current: bad row in %d", repo_index);
      continue;
    }
    fn(repo_index, uuid, hash, c4, c4 ? len : 0);
  }
  if (rc != SQLITE_DONE) {
    log_message(LOG_ERROR, "objects_load_current: %d", rc);
    return rc;
  }
  return 0;
}

int links_load(const RepoDb& r, const std::function<void(const uint8_t tag[16], const uint8_t item[16])>& fn) {
  Stmt s;
  int rc = stmt_prepare(r.db, "SELECT * FROM t2", &s);
  if (rc != SQLITE_OK) return rc;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
    const uint8_t* tag = column_fixed(s.get(), 0, 16);
    const uint8_t* item = column_fixed(s.get(), 1, 16);
    if (tag && item) fn(tag, item);
  }
  return rc == SQLITE_DONE ? 0 : rc;
}

std::string object_read_current(const RepoDb& r, const uint8_t uuid[16]) {
  Stmt s;
  if (stmt_prepare(r.db, "SELECT * FROM t1 WHERE c1=? AND c3=0", &s) != SQLITE_OK) return std::string();
  bind_blob(s.get(), 1, uuid, 16);
  return read_body(r, s.get(), "object_read_current");
}

std::string object_read_version(const RepoDb& r, const uint8_t uuid[16], const uint8_t hash[20]) {
  Stmt s;
  if (stmt_prepare(r.db, "SELECT * FROM t1 WHERE c1=? AND c2=?", &s) != SQLITE_OK) return std::string();
  bind_blob(s.get(), 1, uuid, 16);
  bind_blob(s.get(), 2, hash, 20);
  return read_body(r, s.get(), "object_read_version");
}

Stmt object_history_query(const RepoDb& r, const uint8_t uuid[16]) {
  Stmt s;
  if (stmt_prepare(r.db, "SELECT c1, c2, c3, c4 FROM t1 WHERE c1=? AND c3=1", &s) != SQLITE_OK) return Stmt();
  if (bind_blob(s.get(), 1, uuid, 16) != SQLITE_OK) return Stmt();
  return s;
}

int row_read(sqlite3_stmt* stmt, const uint8_t key[32], ObjectRow* row, bool with_body) {
  if (!stmt || !row) return -1;
  int rc = sqlite3_step(stmt);
  if (rc == SQLITE_DONE) return 1;
  if (rc != SQLITE_ROW) return -1;
  const uint8_t* uuid = column_fixed(stmt, 0, 16);
  const uint8_t* hash = column_fixed(stmt, 1, 20);
  if (!uuid || !hash) return -1;
  std::memcpy(row->uuid, uuid, 16);
  std::memcpy(row->hash, hash, 20);
  row->c3 = sqlite3_column_int(stmt, 2);
  std::string c4 = column_bytes(stmt, 3);
  std::string c5;
  if (with_body && sqlite3_column_count(stmt) > 4) c5 = column_bytes(stmt, 4);
  if (row_decipher(key, row->uuid, row->hash, reinterpret_cast<uint8_t*>(c4.data()), c4.size(),
                   reinterpret_cast<uint8_t*>(c5.data()), c5.size()) != 0)
    return -1;
  row->header = text_of(c4);
  row->body = text_of(c5);
  wipe(c4.data(), c4.size());
  wipe(c5.data(), c5.size());
  return 0;
}

int objects_each_current_body(const RepoDb& r, const std::function<void(const ObjectRow& row)>& fn) {
  Stmt stmt;
  int prepared = stmt_prepare(r.db, "SELECT c1, c2, c3, c4, c5 FROM t1 WHERE c3=0 AND c5 IS NOT NULL", &stmt);
  if (prepared != SQLITE_OK) return prepared;
  for (;;) {
    ObjectRow row;
    int rc = row_read(stmt.get(), r.key, &row, true);
    if (rc == 1) return 0;
    if (rc != 0) return -1;
    fn(row);
    wipe(&row.header);
    wipe(&row.body);
  }
}

bool object_has_history(const RepoDb& r, const uint8_t uuid[16]) {
  Stmt s;
  if (stmt_prepare(r.db, "SELECT rowid FROM t1 WHERE c1=? AND c3=1", &s) != SQLITE_OK) return false;
  bind_blob(s.get(), 1, uuid, 16);
  return sqlite3_step(s.get()) == SQLITE_ROW;
}

int object_write(const RepoDb& r, const uint8_t uuid[16], const uint8_t hash[20], const uint8_t* header,
                 size_t header_len, const uint8_t* body, size_t body_len, bool keep_history) {
  if (!r.db || !r.key || !uuid || !hash || !header || !header_len || header_len % 16 || body_len % 16) return -1;
  if (!body) body_len = 0;
  sqlite3* db = r.db;
  Stmt s;
  int rc;
  if (keep_history) {
    // The same version saved again (same hash) is already the current row;
    // demoting it would leave a history and a current row with one hash,
    // and a later save would then fail on the key of t1.
    if ((rc = stmt_prepare(db, "SELECT 1 FROM t1 WHERE c1=? AND c2=? AND c3=0", &s)) != SQLITE_OK) return rc;
    bind_blob(s.get(), 1, uuid, 16);
    bind_blob(s.get(), 2, hash, 20);
    rc = sqlite3_step(s.get());
    s.reset();
    if (rc == SQLITE_ROW) return 0;
    if (rc != SQLITE_DONE) return rc;
    if ((rc = journal_append_demotion(db, uuid)) != 0) return rc;
    if ((rc = stmt_prepare(db, "UPDATE t1 SET c3=1 WHERE c1=? AND c3=0", &s)) != SQLITE_OK) return rc;
    if ((rc = bind_blob(s.get(), 1, uuid, 16)) != SQLITE_OK) return rc;
    if ((rc = step_done(s.get())) != 0) return rc;
  } else {
    if ((rc = stmt_prepare(db, "SELECT rowid, c2, c4, c5 FROM t1 WHERE c1=? AND c3=0", &s)) != SQLITE_OK) return rc;
    if ((rc = bind_blob(s.get(), 1, uuid, 16)) != SQLITE_OK) return rc;
    // Normally at most one current row; replace every one so that exactly
    // one remains afterwards.
    std::vector<StoredRow> old;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
      const uint8_t* h = column_fixed(s.get(), 1, 20);
      if (!h) return -1;
      StoredRow o;
      o.rowid = sqlite3_column_int64(s.get(), 0);
      std::memcpy(o.k2, h, 20);
      o.c4 = column_bytes(s.get(), 2);
      o.c5 = column_bytes(s.get(), 3);
      old.push_back(std::move(o));
    }
    if (rc != SQLITE_DONE) return rc;
    s.reset();
    for (const StoredRow& o : old) {
      rc = journal_append(db, JOURNAL_DELETE, 1, uuid, o.k2, 0, bytes_of(o.c4), o.c4.size(), bytes_of(o.c5), o.c5.size());
      if (rc != 0) return rc;
      if (r.sync && (rc = changelog_object(db, uuid, o.k2, 0)) != 0) return rc;
      if ((rc = stmt_prepare(db, "DELETE FROM t1 WHERE rowid=?", &s)) != SQLITE_OK) return rc;
      sqlite3_bind_int64(s.get(), 1, o.rowid);
      if ((rc = step_done(s.get())) != 0) return rc;
    }
  }

  // Encipher copies: the caller's plaintext stays as it was.
  WipedBytes c4, c5;
  c4.v.assign(header, header + header_len);
  if (body_len) c5.v.assign(body, body + body_len);
  if (row_encipher(r.key, uuid, hash, c4.v.data(), c4.v.size(), body_len ? c5.v.data() : nullptr, body_len) != 0)
    return -1;

  if ((rc = stmt_prepare(db, "INSERT INTO t1 VALUES (?,?,0,?,?)", &s)) != SQLITE_OK) return rc;
  if ((rc = bind_blob(s.get(), 1, uuid, 16)) != SQLITE_OK || (rc = bind_blob(s.get(), 2, hash, 20)) != SQLITE_OK ||
      (rc = bind_blob(s.get(), 3, c4.v.data(), c4.v.size())) != SQLITE_OK ||
      (rc = bind_blob(s.get(), 4, body_len ? c5.v.data() : nullptr, body_len)) != SQLITE_OK)
    return rc;
  if ((rc = step_done(s.get())) != 0) {
    log_message(LOG_ERROR, "object_write: %d", rc);
    return rc;
  }
  rc = journal_append(db, JOURNAL_INSERT, 1, uuid, hash, 0, c4.v.data(), c4.v.size(), body_len ? c5.v.data() : nullptr,
                      body_len);
  if (rc != 0) return rc;
  if (r.sync) return changelog_object(db, uuid, hash, 1);
  return 0;
}

int object_delete_version(const RepoDb& r, const uint8_t uuid[16], const uint8_t hash[20]) {
  sqlite3* db = r.db;
  JournalGroup group(db);
  int rc = group.status();
  if (rc != 0) return rc;
  auto body = [&]() -> int {
    Stmt s;
    int rc = stmt_prepare(db, "SELECT c4, c5 FROM t1 WHERE c1=? AND c2=? AND c3=1", &s);
    if (rc != SQLITE_OK) return rc;
    bind_blob(s.get(), 1, uuid, 16);
    bind_blob(s.get(), 2, hash, 20);
    rc = sqlite3_step(s.get());
    if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? -1 : rc;
    std::string c4 = column_bytes(s.get(), 0), c5 = column_bytes(s.get(), 1);
    s.reset();
    rc = journal_append(db, JOURNAL_DELETE, 1, uuid, hash, 1, bytes_of(c4), c4.size(), bytes_of(c5), c5.size());
    if (rc != 0) return rc;
    if (r.sync && (rc = changelog_object(db, uuid, hash, 0)) != 0) return rc;
    if ((rc = stmt_prepare(db, "DELETE FROM t1 WHERE c1=? AND c2=? AND c3=1", &s)) != SQLITE_OK) return rc;
    bind_blob(s.get(), 1, uuid, 16);
    bind_blob(s.get(), 2, hash, 20);
    return step_done(s.get());
  };
  rc = body();
  if (rc == 0) return group.commit();
  log_message(LOG_ERROR, "object_delete_version: %d", rc);
  return rc;
}

int object_delete_all(const RepoDb& r, const uint8_t uuid[16]) {
  sqlite3* db = r.db;
  Stmt s;
  int rc = stmt_prepare(db, "SELECT c2, c3, c4, c5 FROM t1 WHERE c1=?", &s);
  if (rc != SQLITE_OK) return rc;
  bind_blob(s.get(), 1, uuid, 16);
  std::vector<StoredRow> rows;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
    const uint8_t* h = column_fixed(s.get(), 0, 20);
    if (!h) return -1;
    StoredRow o;
    std::memcpy(o.k2, h, 20);
    o.c3 = sqlite3_column_int(s.get(), 1);
    o.c4 = column_bytes(s.get(), 2);
    o.c5 = column_bytes(s.get(), 3);
    rows.push_back(std::move(o));
  }
  if (rc != SQLITE_DONE) return rc;
  s.reset();
  for (const StoredRow& o : rows) {
    rc = journal_append(db, JOURNAL_DELETE, 1, uuid, o.k2, o.c3, bytes_of(o.c4), o.c4.size(), bytes_of(o.c5), o.c5.size());
    if (rc != 0) return rc;
    if (r.sync && (rc = changelog_object(db, uuid, o.k2, 0)) != 0) return rc;
  }
  if ((rc = stmt_prepare(db, "DELETE FROM t1 WHERE c1=?", &s)) != SQLITE_OK) return rc;
  bind_blob(s.get(), 1, uuid, 16);
  return step_done(s.get());
}

int links_delete_all(const RepoDb& r, const uint8_t uuid[16], bool is_tag) {
  sqlite3* db = r.db;
  Stmt s;
  int rc = stmt_prepare(db, is_tag ? "SELECT * FROM t2 WHERE c1=?" : "SELECT * FROM t2 WHERE c2=?", &s);
  if (rc != SQLITE_OK) return rc;
  bind_blob(s.get(), 1, uuid, 16);
  std::vector<std::pair<std::string, std::string>> links;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
    if (!column_fixed(s.get(), 0, 16) || !column_fixed(s.get(), 1, 16)) return -1;
    links.emplace_back(column_bytes(s.get(), 0), column_bytes(s.get(), 1));
  }
  if (rc != SQLITE_DONE) return rc;
  s.reset();
  for (const auto& [tag, item] : links) {
    rc = journal_append(db, JOURNAL_DELETE, 2, bytes_of(tag), bytes_of(item), 0, nullptr, 0, nullptr, 0);
    if (rc != 0) return rc;
    if (r.sync && (rc = changelog_link(db, bytes_of(tag), bytes_of(item), 0)) != 0) return rc;
  }
  if ((rc = stmt_prepare(db, is_tag ? "DELETE FROM t2 WHERE c1=?" : "DELETE FROM t2 WHERE c2=?", &s)) != SQLITE_OK)
    return rc;
  bind_blob(s.get(), 1, uuid, 16);
  return step_done(s.get());
}

int link_add(const RepoDb& r, const uint8_t tag[16], const uint8_t item[16]) {
  Stmt s;
  int rc = stmt_prepare(r.db, "INSERT INTO t2 VALUES (?,?)", &s);
  if (rc != SQLITE_OK) return rc;
  bind_blob(s.get(), 1, tag, 16);
  bind_blob(s.get(), 2, item, 16);
  if ((rc = step_done(s.get())) != 0) return rc;
  if ((rc = journal_append(r.db, JOURNAL_INSERT, 2, tag, item, 0, nullptr, 0, nullptr, 0)) != 0) return rc;
  return r.sync ? changelog_link(r.db, tag, item, 1) : 0;
}

int link_remove(const RepoDb& r, const uint8_t tag[16], const uint8_t item[16]) {
  Stmt s;
  int rc = stmt_prepare(r.db, "DELETE FROM t2 WHERE c2=? AND c1=?", &s);
  if (rc != SQLITE_OK) return rc;
  bind_blob(s.get(), 1, item, 16);
  bind_blob(s.get(), 2, tag, 16);
  if ((rc = step_done(s.get())) != 0) return rc;
  // Removing a link that is not there changes nothing; journaling it would
  // make undo invent the link.
  if (sqlite3_changes(r.db) == 0) return 0;
  if ((rc = journal_append(r.db, JOURNAL_DELETE, 2, tag, item, 0, nullptr, 0, nullptr, 0)) != 0) return rc;
  return r.sync ? changelog_link(r.db, tag, item, 0) : 0;
}

int changelog_object(sqlite3* db, const uint8_t uuid[16], const uint8_t hash[20], int state) {
  return changelog(db, 3, uuid, hash, 20, state);
}

int changelog_link(sqlite3* db, const uint8_t tag[16], const uint8_t item[16], int state) {
  return changelog(db, 4, tag, item, 16, state);
}

int repo_rekey(sqlite3* db, const uint8_t old_key[32], const uint8_t new_key[32]) {
  Stmt sel, upd;
  int rc = stmt_prepare(db, "SELECT *, rowid FROM t1;", &sel);
  if (rc == SQLITE_OK) rc = stmt_prepare(db, "UPDATE t1 SET c4=?, c5=? WHERE rowid=?;", &upd);
  if (rc != SQLITE_OK) {
    log_message(LOG_ERROR, "repo_rekey: %d", rc);
    return rc;
  }
  while ((rc = sqlite3_step(sel.get())) == SQLITE_ROW) {
    const uint8_t* uuid = column_fixed(sel.get(), 0, 16);
    const uint8_t* hash = column_fixed(sel.get(), 1, 20);
    WipedBytes c4, c5;
    std::string a = column_bytes(sel.get(), 3), b = column_bytes(sel.get(), 4);
    c4.v.assign(a.begin(), a.end());
    c5.v.assign(b.begin(), b.end());
    int64_t rowid = sqlite3_column_int64(sel.get(), 5);
    uint8_t* p5 = c5.v.empty() ? nullptr : c5.v.data();
    if (!uuid || !hash || row_decipher(old_key, uuid, hash, c4.v.data(), c4.v.size(), p5, c5.v.size()) != 0 ||
        row_encipher(new_key, uuid, hash, c4.v.data(), c4.v.size(), p5, c5.v.size()) != 0) {
      rc = -1;
      break;
    }
    if ((rc = bind_blob(upd.get(), 1, c4.v.data(), c4.v.size())) != SQLITE_OK ||
        (rc = bind_blob_or_null(upd.get(), 2, p5, c5.v.size())) != SQLITE_OK ||
        (rc = sqlite3_bind_int64(upd.get(), 3, rowid)) != SQLITE_OK)
      break;
    rc = step_done(upd.get());
    sqlite3_reset(upd.get());
    if (rc != 0) break;
  }
  if (rc != SQLITE_DONE) {
    log_message(LOG_ERROR, "repo_rekey: %d", rc);
    return rc ? rc : -1;
  }
  sel.reset();
  upd.reset();
  Secret<64> check;
  key_check_make(new_key, check.b);
  rc = db_exec(db, "DELETE FROM t0; DELETE FROM t3; DELETE FROM t4;");
  if (rc == SQLITE_OK) rc = journal_reset(db);
  if (rc == SQLITE_OK) rc = key_check_write(db, check.b);
  if (rc != 0) log_message(LOG_ERROR, "repo_rekey: %d", rc);
  return rc;
}

int db_query_state(sqlite3* db, const char* sql) {
  Stmt s;
  if (stmt_prepare(db, sql, &s) != SQLITE_OK) return -1;
  int rc = sqlite3_step(s.get());
  if (rc == SQLITE_ROW) return 0;
  return rc == SQLITE_DONE ? 1 : -1;
}

int db_exec_uuid_hash(sqlite3* db, const char* sql, const uint8_t uuid[16], const uint8_t* hash) {
  Stmt s;
  int rc = stmt_prepare(db, sql, &s);
  if (rc != SQLITE_OK) return rc;
  if ((rc = bind_blob(s.get(), 1, uuid, 16)) != SQLITE_OK) return rc;
  if (hash && (rc = bind_blob(s.get(), 2, hash, 20)) != SQLITE_OK) return rc;
  return step_done(s.get());
}

int db_exec_uuid_uuid(sqlite3* db, const char* sql, const uint8_t a[16], const uint8_t b[16]) {
  Stmt s;
  int rc = stmt_prepare(db, sql, &s);
  if (rc != SQLITE_OK) return rc;
  if ((rc = bind_blob(s.get(), 1, a, 16)) != SQLITE_OK || (rc = bind_blob(s.get(), 2, b, 16)) != SQLITE_OK) return rc;
  return step_done(s.get());
}

const char* db_repo_schema() { return schema::kRepo; }
const char* db_snapshot_schema() { return schema::kSnapshot; }
