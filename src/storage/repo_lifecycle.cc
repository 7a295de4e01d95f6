// SPDX-License-Identifier: GPL-3.0-or-later
// Repository lifecycle: making a repository directory and database,
// registering, loading the table from the configuration database, opening
// and closing, clearing the history, deleting.
#include "storage/repo.h"

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "crypto/crypto.h"
#include "crypto/wipe.h"
#include "storage/db.h"
#include "storage/journal.h"
#include "storage/page_vfs.h"
#include "storage/repo_internal.h"
#include "storage/source_store.h"
#include "support/files.h"
#include "support/log.h"
#include "support/strings.h"
#include "support/text.h"

using namespace repo_detail;

namespace {

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
  if (path.empty() || !dir_exists(path)) return;
  if (is_repo_dir_name(path)) {
    nftw(path.c_str(), remove_entry_cb, 16, FTW_DEPTH | FTW_PHYS);
    return;
  }
  static const char* const kFiles[] = {"data", "data-journal", "temp", "list", "list.hash", "sync.objs", "sync_1",
                                       "sync_2", "file.tmp", "sources", "sources-journal", "sources.tmp"};
  for (const char* f : kFiles) ::unlink(path_join(path, f).c_str());
  if (::rmdir(path.c_str()) != 0) log_message(LOG_WARNING, "repo_delete: %s left in place", path.c_str());
}

}  // namespace

int repo_create_dir(const char* root, std::string* path) {
  if (!root || !path) return -1;
  for (int attempt = 0; attempt < 10; attempt++) {
    uint8_t rnd[4];
    if (random_bytes(rnd, sizeof rnd) != 0) return -1;
    std::string candidate = path_join(root, hex_encode(rnd, 4).c_str());
    if (candidate.size() > 4080) return REPO_DIR_TOO_LONG;
    if (!dir_exists(root)) return REPO_DIR_NO_ROOT;
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
  std::string file = path_join(e->path, "data");
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
  if (!repo_state().config || rec.path.empty()) return -1;
  // Items carry their repository index in a signed byte.
  if (repo_table().size() >= 128) {
    log_message(LOG_ERROR, "repo_register: %zu repositories", repo_table().size());
    return -1;
  }
  RepoEntry e;
  e.account_id = rec.account_id;
  if (rec.account_id != 0 && rec.account_id != repo_state().account.id) {
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
  wipe(&pw);
  int64_t rowid = 0;
  if (rc == 0) rc = repo_list_add(repo_state().config, buf.data(), buf.size(), &rowid);
  if (rc != 0) {
    log_message(LOG_ERROR, "repo_register: %d", rc);
    return rc;
  }
  e.config_row = rowid;
  repo_table().push_back(e);
  int idx = static_cast<int>(repo_table().size()) - 1;
  if (e.server_id.empty()) {
    rc = repo_state().hooks.db_create ? repo_state().hooks.db_create(idx) : repo_db_create_file(&repo_table()[idx], nullptr);
    if (rc != 0) {
      log_message(LOG_ERROR, "repo_register: repo_db_create: %d", rc);
      repo_close(&repo_table()[idx]);
      repo_list_remove(repo_state().config, rowid);
      repo_table().pop_back();
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
  const char* name = ui_string(STR_DEFAULT_REPO_NAME);
  rec.name = name ? name : "Ordika";
  rec.path = path;
  char pw[21];
  password_generate(pw, 20, 15);
  rec.password = pw;
  wipe(pw, sizeof pw);
  rc = repo_register(rec, nullptr);
  if (rc != 0) ::rmdir(path.c_str());
  return rc;
}

void repo_table_clear() {
  for (auto& e : repo_table()) repo_close(&e);
  repo_table().clear();
}

int repo_table_load() {
  repo_table_clear();
  if (!repo_state().config) return -1;
  int n = repo_list_count(repo_state().config);
  if (n > 0) repo_table().reserve(static_cast<size_t>(n));
  int rc = repo_list_each(repo_state().config, [](int64_t rowid, const uint8_t* rec, size_t len) { parse_repo(rowid, rec, len); });
  if (rc != 0) log_message(LOG_ERROR, "repo_table_load: %d", rc);
  return rc;
}

int parse_repo(int64_t rowid, const uint8_t* rec, size_t len) {
  repo_table().emplace_back();
  RepoEntry* e = &repo_table().back();
  e->config_row = rowid;
  std::string password, pending;
  int rc = -1;
  if (rec && len > 0 && len <= kRecordMax && len % 16 == 0) {
    std::vector<uint8_t> buf(rec, rec + len);
    if (secret_decipher(buf.data(), buf.size()) == 0)
      rc = repo_record_parse(reinterpret_cast<const char*>(buf.data()), buf.size(), e, &password, &pending);
    wipe(buf.data(), buf.size());
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
  wipe(&password);
  wipe(&pending);
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
  std::string file = path_join(e->path, "data");
  if (!path_exists(file)) return -1;
  DbHandle db(db_open(file.c_str()));
  if (!db) return -1;
  page_db_key(db.get(), e->key, 32);
  uint8_t check[64];
  if (key_check_read(db.get(), check) != 0 || !check_matches(check, e->key)) return -1;
  e->db = db.release();
  return 0;
}

void repo_close(RepoEntry* e) {
  if (e) source_close(e);
  if (!e || !e->db) return;
  db_close(e->db);
  e->db = nullptr;
  e->mounted = false;
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
  for (size_t i = 0; i < repo_table().size(); i++) {
    RepoEntry& e = repo_table()[i];
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
  if (index < 0 || index >= static_cast<int>(repo_table().size())) return -1;
  RepoEntry& e = repo_table()[index];
  repo_close(&e);
  if (e.config_row > 0) {
    if (!repo_state().config) return -1;
    int rc = repo_list_remove(repo_state().config, e.config_row);
    if (rc != 0) {
      log_message(LOG_ERROR, "repo_delete: %d", rc);
      return rc;
    }
  }
  remove_repo_dir(e.path);
  repo_table().erase(repo_table().begin() + index);
  return 0;
}

bool repo_find_by_check(const uint8_t check[64]) {
  for (auto& e : repo_table()) {
    if (e.path.empty()) continue;
    uint8_t c[64];
    int rc = e.db ? key_check_read(e.db, c) : db_get_sign_path(path_join(e.path, "data").c_str(), c, e.key);
    if (rc == 0 && std::memcmp(c, check, 64) == 0) return true;
  }
  return false;
}
