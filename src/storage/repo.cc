// SPDX-License-Identifier: GPL-3.0-or-later
// The repository layer's process-wide state: the repository table, the
// signed-in account, the configuration database and the hooks, and the
// helpers its files share. The concerns live beside it, one a file:
// records (repo_record.cc), lifecycle (repo_lifecycle.cc), the password change
// with its crash recovery (repo_password_change.cc), the account record
// (repo_account.cc), the master password (repo_master.cc), the export file
// (repo_export.cc) and the enabled list (repo_enabled.cc).
#include "storage/repo.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "crypto/crypto.h"
#include "crypto/wipe.h"
#include "storage/db.h"
#include "storage/page_vfs.h"
#include "storage/repo_internal.h"
#include "support/files.h"

namespace repo_detail {

RepoState& repo_state() {
  static RepoState state;
  return state;
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
  DbHandle db(db_open(file.c_str()));
  if (!db) return -1;
  page_db_key(db.get(), key, 32);
  return key_check_read(db.get(), check) == 0 ? 0 : 1;
}

bool check_matches(const uint8_t check[64], const uint8_t key[32]) {
  uint8_t copy[64];
  std::memcpy(copy, check, 64);
  return key_check_verify(key, copy) == 0;
}

}  // namespace repo_detail

using namespace repo_detail;

std::vector<RepoEntry>& repo_table() { return repo_state().table; }
int last_error() { return repo_state().last_error; }
void set_last_error(int code) { repo_state().last_error = code; }

RepoEntry::~RepoEntry() {
  wipe(password, sizeof password);
  wipe(key, sizeof key);
  wipe(account_key, sizeof account_key);
}

RepoRecord::~RepoRecord() {
  wipe(&password);
  wipe(account_key, sizeof account_key);
}

sqlite3* config_db() { return repo_state().config; }
const std::string& config_dir() { return repo_state().config_dir; }
void config_set(sqlite3* db, const std::string& dir) {
  if (repo_state().config && repo_state().config != db) db_close(repo_state().config);
  repo_state().config = db;
  repo_state().config_dir = dir;
}
std::string config_file_path() { return path_join(repo_state().config_dir, "config"); }

void repo_set_hooks(const RepoHooks& hooks) { repo_state().hooks = hooks; }

void repo_state_reset() {
  repo_table_clear();
  config_set(nullptr, std::string());
  RepoState& s = repo_state();
  s.account = Account();
  s.last_error = 0;
  s.hooks = RepoHooks();
}
