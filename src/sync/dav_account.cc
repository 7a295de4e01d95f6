// SPDX-License-Identifier: GPL-3.0-or-later
// Calendar and contacts accounts in configuration table t1.
#include "sync/dav_account.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "crypto/wipe.h"
#include "model/item.h"
#include "model/ops.h"
#include "storage/db.h"
#include "storage/repo.h"
#include "support/log.h"
#include "sync/dav_http.h"

namespace {

// Records are padded to a multiple of this, so that their size tells
// little about the password's length.
constexpr size_t kRecordBlock = 256;
constexpr size_t kRecordMax = 8192;
constexpr char kRecordMagic[] = "dav1";

struct Record {
  DavAccountRow row;
  std::string password;
  Record() = default;
  Record(const Record&) = delete;
  Record& operator=(const Record&) = delete;
  ~Record() { wipe(&password); }
};

// 0 when the statement ran to its end.
int run_done(sqlite3_stmt* s) { return sqlite3_step(s) == SQLITE_DONE ? 0 : -1; }

bool has_break(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos || s.find('\0') != std::string::npos; }

// "dav1\nURL\nUSER\nPASSWORD\nFINGERPRINT\nLAST_SYNC\nPATH\n", zero padded,
// enciphered under the master key.
int record_format(const Record& r, std::vector<uint8_t>* out) {
  const DavAccountRow& a = r.row;
  if (has_break(a.url) || has_break(a.user) || has_break(r.password) || has_break(a.fingerprint) ||
      has_break(a.repo_path))
    return -1;
  std::string text = std::string(kRecordMagic) + "\n" + a.url + "\n" + a.user + "\n" + r.password + "\n" +
                     a.fingerprint + "\n" + std::to_string(a.last_sync) + "\n" + a.repo_path + "\n";
  size_t len = (text.size() / kRecordBlock + 1) * kRecordBlock;
  if (len > kRecordMax) {
    wipe(&text);
    return -1;
  }
  wipe(out);
  out->assign(len, 0);
  std::memcpy(out->data(), text.data(), text.size());
  wipe(&text);
  return secret_encipher(out->data(), out->size());
}

int record_parse(const uint8_t* blob, size_t len, Record* r) {
  if (!blob || len == 0 || len % 16 || len > kRecordMax) return -1;
  WipedBytes buf;
  buf.v.assign(blob, blob + len);
  if (secret_decipher(buf.v.data(), buf.v.size()) != 0) return -1;
  const char* text = reinterpret_cast<const char*>(buf.v.data());
  size_t n = strnlen(text, len);
  std::vector<std::string> f;
  size_t start = 0;
  for (size_t i = 0; i < n && f.size() < 7; i++)
    if (text[i] == '\n') {
      f.emplace_back(text + start, i - start);
      start = i + 1;
    }
  int rc = -1;
  if (f.size() == 7 && f[0] == kRecordMagic) {
    char* end = nullptr;
    long long t = std::strtoll(f[5].c_str(), &end, 10);
    if (*end == 0 && t >= 0) {
      r->row.url = f[1];
      r->row.user = f[2];
      r->password = f[3];
      r->row.fingerprint = f[4];
      r->row.last_sync = t;
      r->row.repo_path = f[6];
      rc = 0;
    }
  }
  wipe(&f);
  return rc;
}

int repo_index_of(const std::string& path) {
  if (path.empty()) return -1;
  for (size_t i = 0; i < repo_table().size(); i++)
    if (repo_table()[i].path == path) return static_cast<int>(i);
  return -1;
}

int record_read(int64_t number, Record* r) {
  sqlite3* cfg = config_db();
  if (!cfg || number < kDavRecordFirst) return -1;
  Stmt s;
  if (stmt_prepare(cfg, "SELECT c2 FROM t1 WHERE c1=?", &s) != SQLITE_OK) return -1;
  sqlite3_bind_int64(s.get(), 1, number);
  if (sqlite3_step(s.get()) != SQLITE_ROW) return -1;
  size_t len = 0;
  const uint8_t* blob = column_blob(s.get(), 0, &len);
  if (record_parse(blob, len, r) != 0) {
    log_message(LOG_ERROR, "dav_account: record %lld unreadable", static_cast<long long>(number));
    return -1;
  }
  r->row.number = number;
  r->row.repo = repo_index_of(r->row.repo_path);
  return 0;
}

int record_write(const Record& r) {
  sqlite3* cfg = config_db();
  if (!cfg || r.row.number < kDavRecordFirst || r.row.number > INT32_MAX) return -1;
  WipedBytes buf;
  if (record_format(r, &buf.v) != 0) return -1;
  int rc = config_record_put(cfg, static_cast<int>(r.row.number), buf.v.data(), buf.v.size());
  if (rc != 0) log_message(LOG_ERROR, "dav_account_write: %d", rc);
  return rc == 0 ? 0 : -1;
}

// The account repositories' directories, read once per configuration
// database: the kind rule asks for every stored item.
struct PathCache {
  sqlite3* db = nullptr;
  bool valid = false;
  std::vector<std::string> paths;
};
PathCache& path_cache() {
  static PathCache c;
  return c;
}
void path_cache_drop() { path_cache().valid = false; }

bool is_account_repo(int repo) {
  if (repo < 0 || repo >= static_cast<int>(repo_table().size())) return false;
  PathCache& c = path_cache();
  if (!c.valid || c.db != config_db()) {
    std::vector<DavAccountRow> rows;
    dav_account_list(&rows);
    c.paths.clear();
    for (auto& r : rows) c.paths.push_back(r.repo_path);
    c.db = config_db();
    c.valid = true;
  }
  const std::string& p = repo_table()[repo].path;
  for (auto& q : c.paths)
    if (q == p) return true;
  return false;
}

}  // namespace

int dav_account_list(std::vector<DavAccountRow>* out) {
  out->clear();
  sqlite3* cfg = config_db();
  if (!cfg) return -1;
  std::vector<int64_t> numbers;
  {
    Stmt s;
    if (stmt_prepare(cfg, "SELECT c1 FROM t1 WHERE c1>=? ORDER BY c1", &s) != SQLITE_OK) return -1;
    sqlite3_bind_int64(s.get(), 1, kDavRecordFirst);
    while (sqlite3_step(s.get()) == SQLITE_ROW) numbers.push_back(sqlite3_column_int64(s.get(), 0));
  }
  int rc = 0;
  for (int64_t n : numbers) {
    Record r;
    if (record_read(n, &r) != 0) {
      rc = -1;
      continue;
    }
    out->push_back(r.row);
  }
  return rc;
}

int dav_account_find(int repo, DavAccountRow* out) {
  if (repo < 0 || repo >= static_cast<int>(repo_table().size())) return 1;
  std::vector<DavAccountRow> rows;
  int rc = dav_account_list(&rows);
  for (auto& r : rows)
    if (r.repo == repo) {
      *out = r;
      return 0;
    }
  return rc < 0 ? -1 : 1;
}

int dav_account_add(DavAccountRow* row, const char* password) {
  sqlite3* cfg = config_db();
  if (!cfg || !password || row->repo < 0 || row->repo >= static_cast<int>(repo_table().size())) return -1;
  DavAccountRow existing;
  if (dav_account_find(row->repo, &existing) == 0) return -1;
  int64_t next = kDavRecordFirst;
  {
    Stmt s;
    if (stmt_prepare(cfg, "SELECT max(c1) FROM t1", &s) != SQLITE_OK) return -1;
    if (sqlite3_step(s.get()) == SQLITE_ROW && sqlite3_column_type(s.get(), 0) != SQLITE_NULL)
      next = std::max<int64_t>(next, sqlite3_column_int64(s.get(), 0) + 1);
  }
  Record r;
  r.row = *row;
  r.row.number = next;
  r.row.repo_path = repo_table()[row->repo].path;
  r.password = password;
  if (record_write(r) != 0) return -1;
  *row = r.row;
  path_cache_drop();
  log_message(LOG_INFO, "dav_account_add: %lld", static_cast<long long>(next));
  return 0;
}

int dav_account_update(const DavAccountRow& row) {
  Record r;
  if (record_read(row.number, &r) != 0) return -1;
  r.row.url = row.url;
  r.row.user = row.user;
  r.row.fingerprint = row.fingerprint;
  r.row.last_sync = row.last_sync;
  return record_write(r);
}

int dav_account_set_password(int64_t number, const char* password) {
  if (!password) return -1;
  Record r;
  if (record_read(number, &r) != 0) return -1;
  wipe(&r.password);
  r.password = password;
  return record_write(r);
}

int dav_account_password(int64_t number, std::string* out) {
  Record r;
  if (record_read(number, &r) != 0) return -1;
  wipe(out);
  *out = r.password;
  return 0;
}

int dav_account_credentials(const DavAccountRow& row, DavAccount* out) {
  Record r;
  if (record_read(row.number, &r) != 0) return -1;
  out->url = r.row.url;
  out->user = r.row.user;
  out->trusted_fingerprint = r.row.fingerprint;
  wipe(&out->password);
  out->password = r.password;
  return 0;
}

int dav_account_remove(int64_t number) {
  sqlite3* cfg = config_db();
  if (!cfg || number < kDavRecordFirst) return -1;
  Stmt s;
  if (stmt_prepare(cfg, "DELETE FROM t1 WHERE c1=?", &s) != SQLITE_OK) return -1;
  sqlite3_bind_int64(s.get(), 1, number);
  int rc = run_done(s.get());
  path_cache_drop();
  if (rc != 0) {
    log_message(LOG_ERROR, "dav_account_remove: %d", rc);
    return -1;
  }
  log_message(LOG_INFO, "dav_account_remove: %lld", static_cast<long long>(number));
  return 0;
}

std::string dav_repository_name(const std::string& user, const std::string& url) {
  std::string host;
  std::string norm;
  if (dav_normalize_url(url, &norm) == 0) {
    size_t a = norm.find("://");
    size_t b = norm.find('/', a + 3);
    host = norm.substr(a + 3, b - a - 3);
  } else {
    host = url;
  }
  // The port says nothing to the reader unless two accounts differ by it.
  size_t colon = host.rfind(':');
  if (colon != std::string::npos && host.find(']') == std::string::npos) host.resize(colon);
  return ui_format(STR_DAV_REPOSITORY_NAME, user.c_str(), host.c_str());
}

bool dav_refuses_kind(int repo, int type) {
  return (type == ITEM_NOTE || type == ITEM_KEY) && is_account_repo(repo);
}

std::string dav_refusal_text(int repo) {
  std::string name = repo >= 0 && repo < static_cast<int>(repo_table().size()) ? repo_table()[repo].name : "";
  return ui_format(STR_DAV_REFUSES_NOTES_KEYS, name.c_str());
}

int dav_account_prune() {
  std::vector<DavAccountRow> rows;
  if (dav_account_list(&rows) != 0 || repo_table().empty()) return 0;
  int n = 0;
  for (const DavAccountRow& r : rows)
    if (r.repo < 0 && dav_account_remove(r.number) == 0) n++;
  return n;
}

void dav_account_init() {
  item_kind_rule_set(dav_refuses_kind);
  dav_account_prune();
}
