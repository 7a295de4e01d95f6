// Repository table, records, lifecycle, account record, master password and
// export file.
#include "storage/repo.h"

#include <fcntl.h>
#include <ftw.h>
#include <openssl/crypto.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "crypto/crypto.h"
#include "crypto/page_vfs.h"
#include "storage/db.h"
#include "storage/journal.h"
#include "support/log.h"
#include "support/strings.h"
#include "support/text.h"

std::vector<RepoEntry> repo_table;
int last_error = 0;

namespace {

constexpr size_t kRecordMax = 2048;
constexpr size_t kAccountRecord = 1024;
constexpr uint32_t kPbkdf2Rounds = 20002;
constexpr size_t kPasswordMax = 63;

Account g_account;
sqlite3* g_config = nullptr;
std::string g_config_dir;
RepoHooks g_hooks;

struct DbCloseFn {
  void operator()(sqlite3* db) const { db_close(db); }
};
using OwnedDb = std::unique_ptr<sqlite3, DbCloseFn>;

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using OwnedFile = std::unique_ptr<FILE, FileCloser>;

void wipe_string(std::string* s) {
  if (!s->empty()) OPENSSL_cleanse(&(*s)[0], s->size());
  s->clear();
}

// Wipes a buffer when it goes out of scope.
struct Wipe {
  void* p;
  size_t n;
  ~Wipe() { OPENSSL_cleanse(p, n); }
};

std::string join(const std::string& dir, const char* name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

bool path_exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool is_dir(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void sync_dir(const std::string& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

std::string parent_dir(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string truncate_password(const char* password) {
  if (!password) return std::string();
  size_t n = strnlen(password, kPasswordMax);
  return std::string(password, n);
}

bool has_lf(const std::string& s) { return s.find('\n') != std::string::npos || s.find('\0') != std::string::npos; }

// Splits text at LF: `count` fields each ended by an LF, the rest after the
// last one in *rest (when given). False when an LF is missing.
bool split_lf(const char* text, size_t len, int count, std::vector<std::string>* fields, std::string* rest) {
  const char* p = text;
  const char* end = text + len;
  fields->clear();
  for (int i = 0; i < count; i++) {
    const char* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    if (!lf) return false;
    fields->emplace_back(p, lf);
    p = lf + 1;
  }
  if (rest) rest->assign(p, end);
  return true;
}

void wipe_fields(std::vector<std::string>* fields) {
  for (auto& f : *fields) wipe_string(&f);
}

// A decimal number that fills the whole field.
bool parse_int(const std::string& s, long* out) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(s.c_str(), &end, 10);
  if (errno || !end || *end) return false;
  *out = v;
  return true;
}

// 0: the key check was read; 1: the file opens but no key check can be read
// under `key`; -1: there is no such file or it cannot be opened.
int read_file_check(const std::string& file, const uint8_t key[32], uint8_t check[64]) {
  if (!path_exists(file)) return -1;
  OwnedDb db(db_open(file.c_str()));
  if (!db) return -1;
  page_db_key(db.get(), key, 32);
  return key_check_read(db.get(), check) == 0 ? 0 : 1;
}

bool check_matches(const uint8_t check[64], const uint8_t key[32]) {
  uint8_t copy[64];
  std::memcpy(copy, check, 64);
  return key_check_verify(key, copy) == 0;
}

// The entry becomes a local repository of the signed-in account: a changed
// key makes the server copy unusable.
void detach_from_server(RepoEntry* e) {
  e->account_id = g_account.id > 0 ? g_account.id : 0;
  e->server_id.clear();
  e->account_host.clear();
  e->account_user.clear();
  OPENSSL_cleanse(e->account_key, sizeof e->account_key);
}

int finish_change(RepoEntry* e, const std::string& new_password) {
  detach_from_server(e);
  repo_set_password(e, new_password.c_str());
  int rc = repo_store(e);
  std::string temp = join(e->path, "temp");
  if (path_exists(temp)) ::unlink(temp.c_str());
  return rc;
}

// Completes (or undoes) a password change interrupted after the pending
// password was stored. 0 when the entry is usable afterwards (with the old or
// the new password), -1 when it is not.
int recover_password_change(RepoEntry* e, const std::string& pending) {
  uint8_t new_key[32];
  Wipe wipe_key{new_key, sizeof new_key};
  derive_key(pending.c_str(), new_key);
  std::string data = join(e->path, "data");
  std::string temp = join(e->path, "temp");
  uint8_t check[64];

  if (!path_exists(data)) {
    // Only a complete file under the new key may take the place of "data".
    if (!path_exists(temp) || read_file_check(temp, new_key, check) != 0 || !check_matches(check, new_key)) {
      log_message(LOG_ERROR, "parse_repo: no data in %s", e->path.c_str());
      return -1;
    }
    if (::rename(temp.c_str(), data.c_str()) != 0) {
      log_message(LOG_ERROR, "parse_repo: temp -> data: %d", errno);
      return -1;
    }
    sync_dir(e->path);
    return finish_change(e, pending) == 0 ? 0 : -1;
  }

  int r = read_file_check(data, e->key, check);
  if (r < 0) {
    log_message(LOG_ERROR, "parse_repo: cannot open %s", data.c_str());
    return -1;
  }
  if (r == 1) {
    // Unreadable under the old key: re-encoded already, if the new key
    // proves it.
    if (read_file_check(data, new_key, check) != 0 || !check_matches(check, new_key)) {
      log_message(LOG_ERROR, "parse_repo: %s opens with neither key", data.c_str());
      return -1;
    }
    return finish_change(e, pending) == 0 ? 0 : -1;
  }
  if (check_matches(check, e->key)) {
    // The re-keying never committed: the old password stays.
    repo_store(e);
    return 0;
  }
  if (check_matches(check, new_key)) {
    int rc = reencode_dbfile(e->path.c_str(), e->key, new_key);
    if (rc != 0) return -1;
    return finish_change(e, pending) == 0 ? 0 : -1;
  }
  log_message(LOG_ERROR, "parse_repo: key check of %s matches neither key", data.c_str());
  repo_store(e);
  return -1;
}

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
  FILE* f = out.release();
  return std::fclose(f) == 0 ? 0 : -1;
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
  if (!buf.empty()) OPENSSL_cleanse(buf.data(), buf.size());
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
  old.swap(repo_table);
  int rc = repo_list_each(g_config, [](int64_t rowid, const uint8_t* rec, size_t len) { parse_repo(rowid, rec, len); });
  if (rc != 0) log_message(LOG_ERROR, "change_master_password: reading the table: %d", rc);
  for (size_t i = 0; i < old.size(); i++) {
    if (i < repo_table.size() && repo_table[i].path == old[i].path && !repo_table[i].path.empty()) {
      repo_table[i].db = old[i].db;
      repo_table[i].mounted = old[i].mounted;
      repo_table[i].enabled = old[i].enabled;
    } else if (old[i].db) {
      db_close(old[i].db);
    }
    old[i].db = nullptr;
  }
}

int remove_entry_cb(const char* path, const struct stat*, int flag, struct FTW*) {
  int rc = (flag == FTW_DP) ? ::rmdir(path) : ::unlink(path);
  if (rc != 0) log_message(LOG_WARNING, "repo_delete: remove %s: %d", path, errno);
  return 0;
}

bool is_repo_dir_name(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  if (base.size() != 8) return false;
  for (char c : base) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// Removes a repository directory. Only a directory named as repo_create_dir
// names them is removed with all its contents; any other (a record pointing
// somewhere unexpected) loses only the files a repository keeps.
void remove_repo_dir(const std::string& path) {
  if (path.empty() || !is_dir(path)) return;
  if (is_repo_dir_name(path)) {
    nftw(path.c_str(), remove_entry_cb, 16, FTW_DEPTH | FTW_PHYS);
    return;
  }
  static const char* const kFiles[] = {"data", "data-journal", "temp", "list", "list.hash", "sync.objs", "sync_1",
                                       "sync_2", "file.tmp"};
  for (const char* f : kFiles) ::unlink(join(path, f).c_str());
  if (::rmdir(path.c_str()) != 0) log_message(LOG_WARNING, "repo_delete: %s left in place", path.c_str());
}

}  // namespace

RepoEntry::~RepoEntry() {
  OPENSSL_cleanse(password, sizeof password);
  OPENSSL_cleanse(key, sizeof key);
  OPENSSL_cleanse(account_key, sizeof account_key);
}

RepoRecord::~RepoRecord() {
  wipe_string(&password);
  OPENSSL_cleanse(account_key, sizeof account_key);
}

Account::~Account() {
  wipe_string(&password);
  OPENSSL_cleanse(user_hash, sizeof user_hash);
}

Account& signed_in_account() { return g_account; }
bool has_signed_in_account() { return g_account.id > 0; }

sqlite3* config_db() { return g_config; }
const std::string& config_dir() { return g_config_dir; }
void config_set(sqlite3* db, const std::string& dir) {
  if (g_config && g_config != db) db_close(g_config);
  g_config = db;
  g_config_dir = dir;
}
std::string config_file_path() { return join(g_config_dir, "config"); }

void repo_set_hooks(const RepoHooks& hooks) { g_hooks = hooks; }

// ---------------------------------------------------------------------------
// Records

int repo_record_format(const RepoEntry& e, const char* password, const char* pending, std::vector<uint8_t>* out) {
  std::string pw = password ? password : "";
  std::string pend = pending ? pending : "";
  if (has_lf(e.account_host) || has_lf(e.account_user) || has_lf(e.server_id) || has_lf(e.name) || has_lf(e.path) ||
      has_lf(pw) || has_lf(pend)) {
    log_message(LOG_ERROR, "repo_record_format: line feed in a field");
    wipe_string(&pw);
    wipe_string(&pend);
    return -1;
  }
  std::string text;
  text.reserve(kRecordMax + 256);
  text += "1\n";
  text += std::to_string(e.account_id) + "\n";
  text += e.account_host + "\n";
  text += e.account_user + "\n";
  text += hex_encode(e.account_key, 32) + "\n";
  text += e.server_id + "\n";
  text += e.name + "\n";
  text += e.path + "\n";
  text += pw + "\n";
  text += std::to_string((e.hidden ? 2 : 0) + (e.enabled ? 1 : 0)) + "\n";
  text += pend;
  wipe_string(&pw);
  wipe_string(&pend);
  size_t padded = (text.size() + 16) & ~static_cast<size_t>(15);
  if (padded > kRecordMax) {
    log_message(LOG_ERROR, "repo_record_format: %zu bytes", text.size());
    wipe_string(&text);
    return -1;
  }
  out->assign(padded, 0);
  std::memcpy(out->data(), text.data(), text.size());
  wipe_string(&text);
  if (secret_encipher(out->data(), out->size()) != 0) {
    OPENSSL_cleanse(out->data(), out->size());
    out->clear();
    return -1;
  }
  return 0;
}

int repo_record_parse(const char* text, size_t len, RepoEntry* e, std::string* password, std::string* pending) {
  len = strnlen(text, len);
  std::vector<std::string> f;
  std::string rest;
  bool ok = split_lf(text, len, 10, &f, &rest);
  long account = 0, flags = 0;
  ok = ok && parse_int(f[1], &account) && parse_int(f[9], &flags) && f[4].size() == 64;
  uint8_t key[32];
  ok = ok && hex_decode(f[4].c_str(), key, 32) == 0;
  if (ok) {
    e->account_id = static_cast<int32_t>(account);
    e->account_host = f[2];
    e->account_user = f[3];
    std::memcpy(e->account_key, key, 32);
    e->server_id = f[5];
    e->name = f[6];
    e->path = f[7];
    *password = f[8].substr(0, kPasswordMax);
    e->hidden = (flags & 2) != 0;
    e->enabled = (flags & 1) != 0;
    *pending = rest.substr(0, kPasswordMax);
  }
  OPENSSL_cleanse(key, sizeof key);
  wipe_fields(&f);
  wipe_string(&rest);
  return ok ? 0 : -1;
}

static int store_record(const RepoEntry* e, const char* pending) {
  if (!e || !g_config || e->config_row <= 0 || e->path.empty()) return -1;
  std::string pw = repo_password(e);
  std::vector<uint8_t> rec;
  int rc = repo_record_format(*e, pw.c_str(), pending, &rec);
  wipe_string(&pw);
  if (rc == 0) rc = repo_list_update(g_config, e->config_row, rec.data(), rec.size());
  if (rc != 0) log_message(LOG_ERROR, "repo_store: %lld: %d", static_cast<long long>(e->config_row), rc);
  return rc;
}

int repo_store(const RepoEntry* e) { return store_record(e, ""); }
int repo_store_pending(const RepoEntry* e, const char* pending) { return store_record(e, pending); }

std::string repo_password(const RepoEntry* e) {
  if (!e) return std::string();
  uint8_t buf[64];
  std::memcpy(buf, e->password, sizeof buf);
  std::string out;
  if (secret_decipher(buf, sizeof buf) == 0) out.assign(reinterpret_cast<char*>(buf), strnlen(reinterpret_cast<char*>(buf), 63));
  OPENSSL_cleanse(buf, sizeof buf);
  return out;
}

void repo_set_password(RepoEntry* e, const char* password) {
  std::string pw = truncate_password(password);
  std::memset(e->password, 0, sizeof e->password);
  std::memcpy(e->password, pw.data(), pw.size());
  secret_encipher(e->password, sizeof e->password);
  derive_key(pw.c_str(), e->key);
  wipe_string(&pw);
}

// ---------------------------------------------------------------------------
// Lifecycle

int repo_create_dir(const char* root, std::string* path) {
  if (!root || !path) return -1;
  for (int attempt = 0; attempt < 10; attempt++) {
    uint8_t rnd[4];
    if (random_bytes(rnd, sizeof rnd) != 0) return -1;
    std::string candidate = join(root, hex_encode(rnd, 4).c_str());
    if (candidate.size() > 4080) return REPO_DIR_TOO_LONG;
    if (!is_dir(root)) return REPO_DIR_NO_ROOT;
    if (path_exists(candidate)) continue;
    int rc = ::mkdir(candidate.c_str(), 0700);
    log_message(LOG_NOTICE, "Creating repository: %s (%d)", candidate.c_str(), rc);
    if (rc != 0) {
      if (errno == EEXIST) continue;
      return errno == ENOENT || errno == ENOTDIR ? REPO_DIR_NO_ROOT : -1;
    }
    *path = candidate;
    return 0;
  }
  return REPO_DIR_EXISTS;
}

int repo_db_create_file(const RepoEntry* e, sqlite3** out_db) {
  if (out_db) *out_db = nullptr;
  std::string file = join(e->path, "data");
  if (path_exists(file)) {
    // Never key or overwrite a database that is already there.
    log_message(LOG_ERROR, "repo_db_create: %s exists", file.c_str());
    return -1;
  }
  sqlite3* db = db_create_repo(file.c_str(), e->key);
  if (!db) {
    ::unlink(file.c_str());
    return -1;
  }
  if (out_db) {
    *out_db = db;
  } else {
    db_close(db);
  }
  return 0;
}

int repo_register(const RepoRecord& rec, int* index) {
  if (!g_config || rec.path.empty()) return -1;
  // Items carry their repository index in a signed byte.
  if (repo_table.size() >= 128) {
    log_message(LOG_ERROR, "repo_register: %zu repositories", repo_table.size());
    return -1;
  }
  RepoEntry e;
  e.account_id = rec.account_id;
  if (rec.account_id != 0 && rec.account_id != g_account.id) {
    e.account_host = rec.account_host;
    e.account_user = rec.account_user;
    std::memcpy(e.account_key, rec.account_key, 32);
  }
  e.server_id = rec.server_id;
  e.name = rec.name.empty() ? rec.server_id : rec.name;
  e.path = rec.path;
  e.enabled = true;
  repo_set_password(&e, rec.password.c_str());
  std::string pw = truncate_password(rec.password.c_str());
  std::vector<uint8_t> buf;
  int rc = repo_record_format(e, pw.c_str(), "", &buf);
  wipe_string(&pw);
  int64_t rowid = 0;
  if (rc == 0) rc = repo_list_add(g_config, buf.data(), buf.size(), &rowid);
  if (rc != 0) {
    log_message(LOG_ERROR, "repo_register: %d", rc);
    return rc;
  }
  e.config_row = rowid;
  repo_table.push_back(e);
  int idx = static_cast<int>(repo_table.size()) - 1;
  if (e.server_id.empty()) {
    rc = g_hooks.db_create ? g_hooks.db_create(idx) : repo_db_create_file(&repo_table[idx], nullptr);
    if (rc != 0) {
      log_message(LOG_ERROR, "repo_register: repo_db_create: %d", rc);
      repo_close(&repo_table[idx]);
      repo_list_remove(g_config, rowid);
      repo_table.pop_back();
      return rc;
    }
  }
  if (index) *index = idx;
  return 0;
}

int repo_create_default(const char* root) {
  std::string path;
  int rc = repo_create_dir(root, &path);
  if (rc != 0) {
    log_message(LOG_ERROR, "repo_create_default: %d", rc);
    return rc;
  }
  RepoRecord rec;
  const char* name = ui_string(32);
  rec.name = name ? name : "Ordika";
  rec.path = path;
  char pw[21];
  password_generate(pw, 20, 15);
  rec.password = pw;
  OPENSSL_cleanse(pw, sizeof pw);
  rc = repo_register(rec, nullptr);
  if (rc != 0) ::rmdir(path.c_str());
  return rc;
}

void repo_table_clear() {
  for (auto& e : repo_table) repo_close(&e);
  repo_table.clear();
}

int repo_table_load() {
  repo_table_clear();
  if (!g_config) return -1;
  int n = repo_list_count(g_config);
  if (n > 0) repo_table.reserve(static_cast<size_t>(n));
  int rc = repo_list_each(g_config, [](int64_t rowid, const uint8_t* rec, size_t len) { parse_repo(rowid, rec, len); });
  if (rc != 0) log_message(LOG_ERROR, "repo_table_load: %d", rc);
  return rc;
}

int parse_repo(int64_t rowid, const uint8_t* rec, size_t len) {
  repo_table.emplace_back();
  RepoEntry* e = &repo_table.back();
  e->config_row = rowid;
  std::string password, pending;
  int rc = -1;
  if (rec && len > 0 && len <= kRecordMax && len % 16 == 0) {
    std::vector<uint8_t> buf(rec, rec + len);
    if (secret_decipher(buf.data(), buf.size()) == 0)
      rc = repo_record_parse(reinterpret_cast<const char*>(buf.data()), buf.size(), e, &password, &pending);
    OPENSSL_cleanse(buf.data(), buf.size());
  }
  if (rc == 0) {
    repo_set_password(e, password.c_str());
    if (!pending.empty()) {
      log_message(LOG_NOTICE, "parse_repo: unfinished change_repo_password()");
      rc = recover_password_change(e, pending);
    }
  } else {
    log_message(LOG_ERROR, "parse_repo");
  }
  wipe_string(&password);
  wipe_string(&pending);
  if (rc != 0) {
    // Unusable for this run; the stored record is left as it is.
    *e = RepoEntry();
    e->config_row = rowid;
  }
  return rc;
}

int repo_open(RepoEntry* e) {
  if (!e) return -1;
  if (e->db) return 0;
  if (e->path.empty()) return -1;
  std::string file = join(e->path, "data");
  if (!path_exists(file)) return -1;
  OwnedDb db(db_open(file.c_str()));
  if (!db) return -1;
  page_db_key(db.get(), e->key, 32);
  uint8_t check[64];
  if (key_check_read(db.get(), check) != 0 || !check_matches(check, e->key)) return -1;
  e->db = db.release();
  return 0;
}

void repo_close(RepoEntry* e) {
  if (!e || !e->db) return;
  db_close(e->db);
  e->db = nullptr;
  e->mounted = false;
}

int change_repo_password(RepoEntry* e, const char* new_password) {
  if (!e || !new_password || !*new_password || e->path.empty()) return -1;
  std::string pw = truncate_password(new_password);
  if (has_lf(pw)) {
    wipe_string(&pw);
    return -1;
  }
  if (repo_open(e) != 0) {
    log_message(LOG_ERROR, "change_repo_password: cannot open %s", e->path.c_str());
    wipe_string(&pw);
    return -1;
  }
  uint8_t old_key[32], new_key[32];
  Wipe w1{old_key, sizeof old_key}, w2{new_key, sizeof new_key};
  std::memcpy(old_key, e->key, 32);
  derive_key(pw.c_str(), new_key);

  bool pending_stored = false;
  int rc;
  {
    Transaction tx(e->db);
    rc = tx.status();
    if (rc == SQLITE_OK) rc = repo_rekey(e->db, old_key, new_key);
    // The record keeps its server link until the change is complete, so that
    // a crash before the commit leaves the repository exactly as it was.
    if (rc == 0) {
      rc = repo_store_pending(e, pw.c_str());
      pending_stored = rc == 0;
    }
    if (rc == 0) rc = tx.commit();
  }
  if (rc != 0 && pending_stored) repo_store(e);
  repo_close(e);
  if (rc != 0) {
    log_message(LOG_ERROR, "change_repo_password: %d", rc);
    wipe_string(&pw);
    return rc;
  }
  rc = reencode_dbfile(e->path.c_str(), old_key, new_key);
  if (rc != 0) {
    // The pending password stays in the record: the next start finishes.
    log_message(LOG_ERROR, "change_repo_password: reencode_dbfile: %d", rc);
    wipe_string(&pw);
    return rc;
  }
  rc = finish_change(e, pw);
  wipe_string(&pw);
  return rc;
}

int reencode_dbfile(const char* dir, const uint8_t old_key[32], const uint8_t new_key[32]) {
  std::string data = join(dir, "data");
  std::string temp = join(dir, "temp");
  struct stat st;
  if (::stat(join(dir, "data-journal").c_str(), &st) == 0 && st.st_size > 0) {
    // A hot journal belongs to the old key: roll it back first (open the
    // database under the old key), never re-encode around it.
    log_message(LOG_ERROR, "reencode_dbfile: journal present");
    return -1;
  }
  OwnedFile in(std::fopen(data.c_str(), "rb"));
  if (!in) return -1;
  OwnedFile out(std::fopen(temp.c_str(), "wb"));
  bool ok = out != nullptr;
  uint8_t block[1024];
  Wipe wipe_block{block, sizeof block};
  while (ok) {
    size_t n = std::fread(block, 1, sizeof block, in.get());
    if (n == 0) {
      ok = !std::ferror(in.get());
      break;
    }
    if (n != sizeof block) {
      ok = false;
      break;
    }
    page_transform(old_key, block, sizeof block, 0, CIPHER_DECRYPT);
    page_transform(new_key, block, sizeof block, 0, CIPHER_ENCRYPT);
    ok = std::fwrite(block, 1, sizeof block, out.get()) == sizeof block;
  }
  if (ok) ok = std::fflush(out.get()) == 0 && ::fsync(fileno(out.get())) == 0;
  if (out) ok = (std::fclose(out.release()) == 0) && ok;
  if (!ok) {
    log_message(LOG_ERROR, "reencode_dbfile: data -> temp");
    ::unlink(temp.c_str());
    return -1;
  }
  int rc = ::rename(temp.c_str(), data.c_str());
  if (rc != 0) {
    log_message(LOG_ERROR, "reencode_dbfile: temp -> data");
    return rc;
  }
  sync_dir(dir);
  return 0;
}

int repo_clear_history(RepoEntry* e) {
  if (!e) return -1;
  bool opened_here = e->db == nullptr;
  if (repo_open(e) != 0) return -1;
  int rc;
  {
    Transaction tx(e->db);
    rc = tx.status();
    if (rc == SQLITE_OK) rc = journal_reset(e->db);
    if (rc == SQLITE_OK) rc = db_exec(e->db, "DELETE FROM t3; DELETE FROM t4;");
    if (rc == SQLITE_OK) rc = tx.commit();
  }
  // The compaction copy stays in memory: no plain page in a temporary file.
  if (rc == SQLITE_OK) rc = db_exec(e->db, "PRAGMA temp_store=MEMORY;");
  if (rc == SQLITE_OK) rc = db_exec(e->db, "VACUUM;");
  if (rc != SQLITE_OK) log_message(LOG_ERROR, "repo_clear_history: %d", rc);
  if (opened_here) {
    db_close(e->db);
    e->db = nullptr;
  }
  return rc;
}

int repo_reset_journals() {
  int result = 0;
  for (size_t i = 0; i < repo_table.size(); i++) {
    RepoEntry& e = repo_table[i];
    if (!e.db || !e.mounted || !e.server_id.empty()) continue;
    Transaction tx(e.db);
    int rc = tx.status();
    if (rc == SQLITE_OK) rc = journal_reset(e.db);
    if (rc == SQLITE_OK) rc = tx.commit();
    if (rc != SQLITE_OK) {
      log_message(LOG_ERROR, "clean_data: %d", static_cast<int>(i));
      result = rc;
    }
  }
  return result;
}

int repo_delete(int index) {
  if (index < 0 || index >= static_cast<int>(repo_table.size())) return -1;
  RepoEntry& e = repo_table[index];
  repo_close(&e);
  if (e.config_row > 0) {
    if (!g_config) return -1;
    int rc = repo_list_remove(g_config, e.config_row);
    if (rc != 0) {
      log_message(LOG_ERROR, "repo_delete: %d", rc);
      return rc;
    }
  }
  remove_repo_dir(e.path);
  repo_table.erase(repo_table.begin() + index);
  return 0;
}

bool repo_find_by_check(const uint8_t check[64]) {
  for (auto& e : repo_table) {
    if (e.path.empty()) continue;
    uint8_t c[64];
    int rc = e.db ? key_check_read(e.db, c) : db_get_sign_path(join(e.path, "data").c_str(), c, e.key);
    if (rc == 0 && std::memcmp(c, check, 64) == 0) return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Account record

int account_store(int32_t number, const char* user, const char* password, const char* host) {
  if (number <= 0 || !user || !password || !host || !g_config) return -1;
  if (std::strchr(user, '\n') || std::strchr(password, '\n') || std::strchr(host, '\n')) return -1;
  uint8_t buf[kAccountRecord] = {};
  Wipe wipe{buf, sizeof buf};
  int n = std::snprintf(reinterpret_cast<char*>(buf), sizeof buf, "%d\n%s\n%s\n%s\n", number, user, password, host);
  if (n < 0 || static_cast<size_t>(n) >= sizeof buf) return -1;
  if (secret_encipher(buf, sizeof buf) != 0) return -1;
  int rc = config_record_put(g_config, 0, buf, sizeof buf);
  if (rc != 0) {
    log_message(LOG_ERROR, "account_store: %d", rc);
    return rc;
  }
  g_account.id = number;
  g_account.user = user;
  wipe_string(&g_account.password);
  g_account.password = password;
  g_account.host = host;
  sha256(g_account.user_hash, password, std::strlen(password));
  return 0;
}

int parse_cert() {
  g_account = Account();
  if (!g_config) return -1;
  uint8_t buf[kAccountRecord];
  Wipe wipe{buf, sizeof buf};
  if (config_record_get(g_config, 0, buf, sizeof buf) != 0) return -1;
  if (secret_decipher(buf, sizeof buf) != 0) return -1;
  std::vector<std::string> f;
  const char* text = reinterpret_cast<const char*>(buf);
  long number = 0;
  bool ok = split_lf(text, strnlen(text, sizeof buf), 4, &f, nullptr) && parse_int(f[0], &number) && number > 0 &&
            number <= INT32_MAX;
  if (ok) {
    g_account.id = static_cast<int32_t>(number);
    g_account.user = f[1];
    g_account.password = f[2];
    g_account.host = f[3];
    sha256(g_account.user_hash, f[2].data(), f[2].size());
  } else {
    log_message(LOG_ERROR, "parse_cert");
  }
  wipe_fields(&f);
  return ok ? 0 : -1;
}

// ---------------------------------------------------------------------------
// Master password

int config_unlock(const char* password) {
  if (!password) return -1;
  std::string file = config_file_path();
  int scheme = CONFIG_SCHEME_CURRENT;
  sqlite3* db = config_open(file.c_str(), password, &scheme);
  if (!db) return -1;
  config_set(db, g_config_dir);
  if (scheme == CONFIG_SCHEME_LEGACY) {
    log_message(LOG_NOTICE, "config_unlock: converting the configuration database");
    if (change_master_password(password) != 0) {
      config_set(nullptr, g_config_dir);
      OPENSSL_cleanse(master_key, sizeof master_key);
      return -1;
    }
  }
  return 0;
}

int master_password_check(const char* password) {
  if (!password) return -1;
  uint8_t key[32];
  pbkdf2_sha256(password, master_key + 32, 16, kPbkdf2Rounds, key);
  int rc = CRYPTO_memcmp(key, master_key, 32) == 0 ? 0 : -1;
  OPENSSL_cleanse(key, sizeof key);
  return rc;
}

int change_master_password(const char* new_password) {
  if (!g_config || !new_password) return -1;
  std::string file = config_file_path();
  std::string tmp = join(g_config_dir, "config.tmp");
  std::string bak = join(g_config_dir, "config.bak");
  ::unlink(tmp.c_str());
  ::unlink((tmp + "-journal").c_str());

  uint8_t old_master[48], new_key[32];
  Wipe w1{old_master, sizeof old_master}, w2{new_key, sizeof new_key};
  std::memcpy(old_master, master_key, sizeof old_master);
  auto restore_master = [&] { std::memcpy(master_key, old_master, sizeof old_master); };

  sqlite3* t = db_create_config_v2(tmp.c_str(), new_password, new_key);
  if (!t) {
    restore_master();
    log_message(LOG_ERROR, "change_master_password: create");
    return -1;
  }
  int rc = copy_config_tables(g_config, t, new_key);
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
  for (const char* sql : kCounts) ok = ok && count_rows(n, sql) == count_rows(g_config, sql);
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
  sync_dir(g_config_dir.empty() ? parent_dir(file) : g_config_dir);
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
  config_set(n, g_config_dir);
  ::unlink(bak.c_str());
  // At start (the old-scheme conversion) there is no table yet; it is read
  // later, once the account record is known.
  if (!repo_table.empty()) repo_table_reread();
  return 0;
}

// ---------------------------------------------------------------------------
// Export file

int repo_export(const RepoEntry* e, const char* export_password, const char* file) {
  if (!e || g_account.id <= 0 || !file || !*file || e->account_id == 0 || !export_password) return -1;
  bool own = e->account_id == g_account.id;
  const std::string& host = own ? g_account.host : e->account_host;
  const std::string& user = own ? g_account.user : e->account_user;
  const uint8_t* login = own ? g_account.user_hash : e->account_key;
  std::string pw = repo_password(e);
  std::string text;
  text.reserve(REPO_EXPORT_SIZE + 256);
  text += "1\n" + std::to_string(e->account_id) + "\n" + host + "\n" + user + "\n" + hex_encode(login, 32) + "\n" +
          e->server_id + "\n" + pw + "\n";
  wipe_string(&pw);
  uint8_t buf[REPO_EXPORT_SIZE] = {};
  uint8_t key[32];
  Wipe w1{buf, sizeof buf}, w2{key, sizeof key};
  if (text.size() >= REPO_EXPORT_SIZE - 16) {
    wipe_string(&text);
    return -1;
  }
  std::memcpy(buf + 16, text.data(), text.size());
  wipe_string(&text);
  if (random_bytes(buf, 16) != 0) return -1;
  pbkdf2_sha256(export_password, buf, 16, kPbkdf2Rounds, key);
  if (secret_encipher(buf + 16, REPO_EXPORT_SIZE - 16, key) != 0) return -1;
  OwnedFile f(std::fopen(file, "wb"));
  bool ok = f && std::fwrite(buf, 1, sizeof buf, f.get()) == sizeof buf;
  if (f) ok = (std::fclose(f.release()) == 0) && ok;
  if (!ok) {
    log_message(LOG_ERROR, "repo_export: %s", file);
    ::unlink(file);
    return -1;
  }
  return 0;
}

int parse_repo_import(const char* export_password, const char* file, RepoRecord* out) {
  if (g_account.id <= 0 || !export_password || !file || !out) return -1;
  uint8_t buf[REPO_EXPORT_SIZE + 1];
  uint8_t key[32];
  Wipe w1{buf, sizeof buf}, w2{key, sizeof key};
  size_t n = 0;
  {
    OwnedFile f(std::fopen(file, "rb"));
    if (!f) return -1;
    n = std::fread(buf, 1, sizeof buf, f.get());
  }
  if (n != REPO_EXPORT_SIZE) {
    log_message(LOG_ERROR, "parse_repo_import: %zu bytes", n);
    return -1;
  }
  pbkdf2_sha256(export_password, buf, 16, kPbkdf2Rounds, key);
  if (secret_decipher(buf + 16, REPO_EXPORT_SIZE - 16, key) != 0) return -1;
  const char* text = reinterpret_cast<const char*>(buf + 16);
  std::vector<std::string> f;
  long version = 0, number = 0;
  uint8_t login[32];
  Wipe w3{login, sizeof login};
  bool ok = split_lf(text, strnlen(text, REPO_EXPORT_SIZE - 16), 7, &f, nullptr) && parse_int(f[0], &version) &&
            version > 0 && parse_int(f[1], &number) && number > 0 && number <= INT32_MAX && f[4].size() == 64 &&
            hex_decode(f[4].c_str(), login, 32) == 0;
  if (!ok) {
    log_message(LOG_ERROR, "parse_repo_import");
    wipe_fields(&f);
    return -1;
  }
  *out = RepoRecord();
  out->account_id = static_cast<int32_t>(number);
  if (out->account_id != g_account.id) {
    out->account_host = f[2];
    out->account_user = f[3];
    std::memcpy(out->account_key, login, 32);
  }
  out->server_id = f[5];
  out->password = f[6].substr(0, kPasswordMax);
  wipe_fields(&f);
  return 0;
}

// ---------------------------------------------------------------------------
// Enabled list

std::vector<RepoEnabled> repo_enabled_list() {
  std::vector<RepoEnabled> list;
  for (size_t i = 0; i < repo_table.size(); i++) {
    if (!repo_table[i].enabled) continue;
    list.push_back(RepoEnabled{repo_table[i].db, repo_table[i].hidden, static_cast<int>(i)});
  }
  return list;
}

int repo_enabled_changed(const std::vector<RepoEnabled>& old, int selected_repo, bool show_hidden) {
  std::vector<RepoEnabled> now = repo_enabled_list();
  if (now.size() != old.size()) return 1;
  bool hidden_changed = false;
  for (size_t i = 0; i < now.size(); i++) {
    if (now[i].db != old[i].db || now[i].index != old[i].index) return 1;
    if (now[i].hidden != old[i].hidden && (selected_repo < 0 || selected_repo == now[i].index))
      hidden_changed = true;
  }
  return hidden_changed && !show_hidden ? 2 : 0;
}
